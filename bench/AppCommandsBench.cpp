// Times the commands as the skin gives them, on the real window offscreen, with a 100 x 100 bitmap made here.
// Message boxes are left out through the message seam.
//   build/bench/mirava_app_bench

#include "app/MainForm.h"
#include "app/Messages.h"
#include "app/MiravaApplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>

namespace {
struct TBenchWindow
{
    QTemporaryDir appFolder;
    QTemporaryDir workFolder;
    std::unique_ptr<TMainForm> form;

    TBenchWindow()
    {
        QDir::setCurrent(workFolder.path());
        QImage picture(100, 100, QImage::Format_RGB888);
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x)
                picture.setPixelColor(x, y, QColor((x * 7) % 256, (y * 5) % 256, (x * y) % 256));
        }
        picture.save(appFolder.filePath("face.bmp"));
        form = std::make_unique<TMainForm>(appFolder.path());
        form->show();
        while (form->FolderListingPending())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        form->PicturList->SetSelectedIndex(0);
        form->PicturList->SelectionChanged();
        form->Edit2->setText("Anna");
    }

    void Command(const char* code) { form->TransparentMoviePlayerControl1MovieCommand("buttoncomand", code); }
};

TBenchWindow& Window()
{
    static TBenchWindow window;
    return window;
}

void FreeAllSlots(TMemoProcessor& memo)
{
    for (int slot = 0; slot < SlotCount; ++slot)
        memo.TrainedList[slot] = QStringLiteral("0");
}

void BM_SetUpNetwork(benchmark::State& state)
{
    TBenchWindow& window = Window();
    for (auto _ : state)
        window.Command("3");
    benchmark::DoNotOptimize(window.form->Memo.Networks.size());
}
BENCHMARK(BM_SetUpNetwork)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Memorise(benchmark::State& state)
{
    TBenchWindow& window = Window();
    window.Command("3");
    TMemoProcessor& memo = window.form->Memo;
    for (auto _ : state) {
        if (memo.FirstFreeSlot() >= SlotCount) {
            state.PauseTiming();
            FreeAllSlots(memo);
            state.ResumeTiming();
        }
        window.Command("8");
    }
    if (memo.UsedSlotCount() == 0)
        state.SkipWithError("nothing was memorised");
}
BENCHMARK(BM_Memorise)->Unit(benchmark::kMillisecond);

void BM_Recognise(benchmark::State& state)
{
    TBenchWindow& window = Window();
    window.Command("3");
    window.Command("8");
    for (auto _ : state)
        window.Command("6");
    if (window.form->Label1->text() != QStringLiteral("Anna"))
        state.SkipWithError("the memorised name was not recognised");
}
BENCHMARK(BM_Recognise)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TMiravaApplication application(argc, argv);
    SetMessageHandler([](const QString&) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Window().form.reset();
    return 0;
}
