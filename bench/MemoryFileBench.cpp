// Save and Open of a full memory (the window's network, about 90 MB, five persons memorised) against `cp` of
// the very same file, in one run, so that the three times come from the same machine in the same state.

#include "app/MemoProcessor.h"
#include "app/MemoryFile.h"
#include "app/TextFiles.h"
#include "network/NeuralNetwork.h"

#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

struct TFixture
{
    QTemporaryDir folder;
    TMemoProcessor processor;
    QString saved;

    TFixture()
    {
        processor.SaveSlotFilesOnMemorise = false;
        processor.SetUpNetwork();
        std::mt19937 random(1);
        std::uniform_int_distribution<int> grey(0, 255);
        for (int person = 0; person < 5; ++person) {
            TInputPattern pattern(size_t(SampleSize) * SampleSize);
            for (float& value : pattern)
                value = float(grey(random));
            processor.Memorise(QStringLiteral("person %1").arg(person), QStringLiteral("p.bmp"), pattern);
        }
        saved = folder.filePath(QStringLiteral("full.mmem"));
        SaveMemoryFile(saved, processor);
    }
};

TFixture& Fixture()
{
    static TFixture fixture;
    return fixture;
}

// Fastest run of each benchmark, in seconds.
double saveBest = 0, saveUnflushedBest = 0, openBest = 0, copyBest = 0, copySyncBest = 0;

// Runs a program with its arguments and waits for it; false unless it ran and exited with 0.
bool Run(std::initializer_list<const char*> command)
{
    std::vector<char*> arguments;
    for (const char* argument : command)
        arguments.push_back(const_cast<char*>(argument));
    arguments.push_back(nullptr);
    pid_t child = 0;
    int status = 0;
    return posix_spawnp(&child, arguments[0], nullptr, nullptr, arguments.data(), environ) == 0
        && waitpid(child, &status, 0) == child && status == 0;
}

void Keep(double& best, double seconds)
{
    best = best == 0 ? seconds : std::min(best, seconds);
}

template <typename TWork> void Timed(benchmark::State& state, double& best, TWork work)
{
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        Keep(best, seconds);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(TNetworkShape().StoreLength() * 4));
}

void BM_Save(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    const QString target = fixture.folder.filePath(QStringLiteral("again.mmem"));
    Timed(state, saveBest, [&] { SaveMemoryFile(target, fixture.processor); });
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// Writes that never wait for the disk: the file is only handed to the page cache, as cp leaves it.
class TUnflushedWrites : public TFileWriteSystem
{
public:
    TUnflushedWrites() { previous = SetDefault(this); }
    ~TUnflushedWrites() override { SetDefault(previous); }
    int StartWriteback(int, off_t, off_t) override { return 0; }
    int Sync(int) override { return 0; }
    int SyncFolder(const char*) override { return 0; }

private:
    TFileWriteSystem* previous = nullptr;
};

// For reference only, not something the program does: Save with its flushes to the disk left out, to show
// how much of Save's time is spent waiting for the disk.
void BM_SaveWithoutFlush(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    const QString target = fixture.folder.filePath(QStringLiteral("unflushed.mmem"));
    TUnflushedWrites unflushed;
    Timed(state, saveUnflushedBest, [&] { SaveMemoryFile(target, fixture.processor); });
}
BENCHMARK(BM_SaveWithoutFlush)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

void BM_Open(benchmark::State& state)
{
    TFixture& fixture = Fixture();
    Timed(state, openBest, [&] {
        TMemory memory = ReadMemoryFile(fixture.saved);
        benchmark::DoNotOptimize(memory.Network.get());
    });
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// Copies the saved file with cp, and flushes the copy to the disk when `flush` is set.
void Copy(benchmark::State& state, double& best, bool flush)
{
    TFixture& fixture = Fixture();
    const QByteArray from = fixture.saved.toLocal8Bit();
    const QByteArray to = fixture.folder.filePath(QStringLiteral("copy.mmem")).toLocal8Bit();
    Timed(state, best, [&] {
        if (!Run({ "cp", from.constData(), to.constData() }) || (flush && !Run({ "sync", to.constData() })))
            state.SkipWithError("cp or sync failed");
    });
}

void BM_CopyWithCp(benchmark::State& state)
{
    Copy(state, copyBest, false);
}
BENCHMARK(BM_CopyWithCp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// Save flushes the file to the disk before it renames it over the old one; cp does not. This is cp with the
// same flush, for a like-for-like figure.
void BM_CopyWithCpThenSync(benchmark::State& state)
{
    Copy(state, copySyncBest, true);
}
BENCHMARK(BM_CopyWithCpThenSync)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (saveBest > 0 && openBest > 0 && copyBest > 0)
        std::printf(
            "Fastest runs: Save %.0f ms, Open %.0f ms, cp %.0f ms, cp + sync %.0f ms; Save / cp %.2f, "
            "Open / cp %.2f, Save / (cp + sync) %.2f\n"
            "Save without its flushes (reference) %.0f ms, / cp %.2f\n",
            saveBest * 1e3, openBest * 1e3, copyBest * 1e3, copySyncBest * 1e3, saveBest / copyBest,
            openBest / copyBest, copySyncBest > 0 ? saveBest / copySyncBest : 0.0, saveUnflushedBest * 1e3,
            saveUnflushedBest / copyBest);
    return 0;
}
