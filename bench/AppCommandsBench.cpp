// Times the commands as the skin gives them, on the real window offscreen, with a 100 x 100 bitmap made here,
// and how long the window takes to show a large photograph-sized JPEG framed each way. Message boxes are left
// out through the message seam.
//   build/bench/mirava_app_bench

#include "app/FramingWorker.h"
#include "app/MainForm.h"
#include "app/Messages.h"
#include "app/MiravaApplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
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
        // Large pictures: shaded scenes with the small picture scaled up in their middle.
        for (const QSize size : { QSize(1600, 1200), QSize(4000, 3000) }) {
            QImage scene(size, QImage::Format_RGB888);
            for (int y = 0; y < size.height(); ++y) {
                uchar* line = scene.scanLine(y);
                for (int x = 0; x < size.width(); ++x) {
                    line[3 * x] = uchar(80 + (x * 97 / size.width()));
                    line[3 * x + 1] = uchar(90 + (y * 71 / size.height()));
                    line[3 * x + 2] = uchar(110 + ((x / 40 + y / 40) % 2) * 30);
                }
            }
            QPainter(&scene).drawImage(
                QRect(size.width() / 3, size.height() / 4, size.width() / 3, size.height() / 2), picture);
            scene.save(appFolder.filePath(QStringLiteral("scene%1.jpg").arg(size.width())), "JPEG", 90);
        }
        form = std::make_unique<TMainForm>(appFolder.path());
        form->show();
        while (form->FolderListingPending())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        Show(appFolder.filePath("face.bmp"));
        form->Edit2->setText("Anna");
    }

    // Shows the listed picture and waits until it is in and framed.
    void Show(const QString& path)
    {
        for (int i = 0; i < form->PicturList->Count(); ++i) {
            if (form->PicturList->Items(i)->FileName() == path)
                form->ShowPicture(i);
        }
        while (form->Image1->IsLoading() || form->FramingPending())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
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

// From the click on a picture until it is shown and its pattern is framed: the large view's decoding and the
// framing run on their workers side by side. Arguments: the picture's width (1600 or 4000) and the framing
// (0 corner, 1 fit, 2 face). The first "face" framing of the process also makes the detector; it is done
// before the timing.
void BM_ShowFramedPicture(benchmark::State& state)
{
    TBenchWindow& window = Window();
    const QString scene = window.appFolder.filePath(QStringLiteral("scene%1.jpg").arg(state.range(0)));
    const TFraming framing = TFraming(state.range(1));
    window.form->FramingWorker->Framer().FrameFile(scene, framing);
    // With nobody memorised the framing button changes the framing without a question.
    FreeAllSlots(window.form->Memo);
    while (window.form->Memo.Framing != framing)
        window.Command("4");
    window.Show(window.appFolder.filePath("face.bmp"));
    for (auto _ : state) {
        window.Show(scene);
        state.PauseTiming();
        window.Show(window.appFolder.filePath("face.bmp"));
        state.ResumeTiming();
    }
    while (window.form->Memo.Framing != TFraming::Corner)
        window.Command("4");
    window.Show(window.appFolder.filePath("face.bmp"));
}
BENCHMARK(BM_ShowFramedPicture)
    ->ArgsProduct({ { 1600, 4000 }, { 0, 1, 2 } })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TMiravaApplication application(argc, argv);
    SetMessageHandler([](const QString&) {});
    // A set-up after memorising asks whether to save first: the answer is "Don't save".
    SetDialogRunner([](QDialog&) { return int(QMessageBox::Discard); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Window().form.reset();
    return 0;
}
