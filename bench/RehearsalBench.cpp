// Memorise with its rehearsal on the window's full-size network: the first memorise of a run against the
// twentieth, which rehearses the nineteen persons memorised before it. The pictures are real faces
// (faces94 and yale of the shared test data, framed "face") when the test data lie beside the repository,
// else drawn alike patterns.
//   build/bench/mirava_rehearsal_bench

#include "app/MemoProcessor.h"
#include "input/Framing.h"
#include "network/Rehearsal.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <random>

namespace {

using TClock = std::chrono::steady_clock;

// The first picture of each person: nineteen of faces94, the twentieth from yale.
std::vector<TInputPattern> RealFaces()
{
    std::vector<TInputPattern> patterns;
    const TFramer framer;
    for (const char* set : { "faces94", "yale" }) {
        const QDir folder(QStringLiteral(MIRAVA_TESTDATA_DIR "/faces-real/") + QLatin1String(set));
        for (const QString& name : folder.entryList({ QStringLiteral("*_1.jpg") }, QDir::Files, QDir::Name)) {
            if (patterns.size() < size_t(SlotCount))
                patterns.push_back(framer.FrameFile(folder.filePath(name), TFraming::Face).Pattern);
        }
    }
    return patterns;
}

std::vector<TInputPattern> DrawnFaces()
{
    std::mt19937 random(1);
    std::uniform_int_distribution<int> grey(30, 225);
    std::normal_distribution<double> own(0.0, 20.0);
    TInputPattern face(size_t(SampleSize) * SampleSize);
    for (float& value : face)
        value = float(grey(random));
    std::vector<TInputPattern> patterns(SlotCount, face);
    for (TInputPattern& pattern : patterns) {
        for (float& value : pattern)
            value = std::clamp(std::round(float(value + own(random))), 0.0f, 255.0f);
    }
    return patterns;
}

bool realFaces = false;

const std::vector<TInputPattern>& Faces()
{
    static const std::vector<TInputPattern> faces = [] {
        std::vector<TInputPattern> real = RealFaces();
        realFaces = real.size() == size_t(SlotCount);
        return realFaces ? real : DrawnFaces();
    }();
    return faces;
}

// A fresh network that has memorised the first `count` faces.
void SetUpWithFaces(TMemoProcessor& memo, int count)
{
    memo.SetUpNetwork();
    for (int slot = 0; slot < SlotCount; ++slot)
        memo.TrainedList[slot] = QStringLiteral("0");
    for (int i = 0; i < count; ++i)
        memo.Memorise(QString::number(i), QString(), Faces()[size_t(i)]);
}

// Times memorise number `nth` (1 to 20) of a run on a fresh network, the ones before it untimed.
void MemoriseNth(benchmark::State& state, int nth, bool rehearse)
{
    const std::vector<TInputPattern>& faces = Faces();
    TMemoProcessor memo;
    memo.SaveSlotFilesOnMemorise = false;
    memo.RehearseOnMemorise = rehearse;
    int passes = 0;
    for (auto _ : state) {
        SetUpWithFaces(memo, nth - 1);
        const auto start = TClock::now();
        memo.Memorise(QString::number(nth), QString(), faces[size_t(nth - 1)]);
        state.SetIterationTime(std::chrono::duration<double>(TClock::now() - start).count());
        passes = memo.LastRehearsal.Passes;
    }
    state.counters["passes"] = passes;
    state.SetLabel(realFaces ? "real faces" : "drawn faces");
}

void BM_FirstMemorise(benchmark::State& state)
{
    MemoriseNth(state, 1, true);
}
BENCHMARK(BM_FirstMemorise)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

void BM_TwentiethMemorise(benchmark::State& state)
{
    MemoriseNth(state, SlotCount, true);
}
BENCHMARK(BM_TwentiethMemorise)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// For reference: a memorise that trains its picture once and rehearses nothing.
void BM_FirstMemoriseWithoutRehearsal(benchmark::State& state)
{
    MemoriseNth(state, 1, false);
}
BENCHMARK(BM_FirstMemoriseWithoutRehearsal)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// For reference: the twentieth rehearsal as a plain loop of trainings, a Propagate per pattern per pass.
void BM_TwentiethRehearsalByTraining(benchmark::State& state)
{
    const std::vector<TInputPattern>& faces = Faces();
    TMemoProcessor memo;
    memo.SaveSlotFilesOnMemorise = false;
    for (auto _ : state) {
        SetUpWithFaces(memo, SlotCount - 1);
        std::vector<TRehearsalItem> items;
        for (int i = 0; i < SlotCount; ++i)
            items.push_back({ PatternBytes(faces[size_t(i)]),
                TMemoProcessor::TargetsOf(i, SlotCount, memo.NameList, memo.TrainedList) });
        TNeuralNetwork& network = *memo.Networks.front();
        const auto start = TClock::now();
        for (int j = 0; j < SampleSize * SampleSize; ++j)
            network.SetInput(0, uint16_t(j), float(items.back().Inputs[size_t(j)]));
        for (int k = 0; k < SlotCount; ++k)
            network.SetTarget(1, uint16_t(k), items.back().Targets[size_t(k)]);
        network.Train(false);
        const TRehearsalResult result = RehearseByTraining(network, items);
        state.SetIterationTime(std::chrono::duration<double>(TClock::now() - start).count());
        state.counters["passes"] = result.Passes;
    }
}
BENCHMARK(BM_TwentiethRehearsalByTraining)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

} // namespace

BENCHMARK_MAIN();
