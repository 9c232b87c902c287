// Set-up, recall and training of the application's network (10000 grey values in 0..255 with
// 26 levels, 20 slots in 0..100 with 10 levels), compared with a plain sequential read of a
// buffer of the store's size. Run: build/bench/mirava_network_bench

#include "network/NeuralNetwork.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int InputCount = 10000;
constexpr int SlotCount = 20;

std::unique_ptr<TNeuralNetwork> BuildNetwork()
{
    auto net = std::make_unique<TNeuralNetwork>();
    net->Reset();
    net->Layers->SetCount(2);
    const int counts[] = { InputCount, SlotCount };
    const double upper[] = { 255.0, 100.0 };
    const uint16_t levels[] = { 26, 10 };
    for (int i = 0; i < 2; ++i) {
        TNeurons& neurons = *net->Layers->Items(i)->Neurons;
        neurons.SetCount(counts[i]);
        for (int j = 0; j < counts[i]; ++j) {
            TNeurone* n = neurons.Items(j);
            n->SetLowerBound(0.0);
            n->SetUpperBound(upper[i]);
            n->SetLevelCount(levels[i]);
        }
    }
    net->ConnectLayers();
    net->BuildStore();
    net->RandomizeWeights();
    return net;
}

std::vector<std::vector<float>> Pictures(int count)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> grey(0, 255);
    std::vector<std::vector<float>> pictures(static_cast<size_t>(count), std::vector<float>(InputCount));
    for (auto& picture : pictures)
        for (float& value : picture)
            value = float(grey(random));
    return pictures;
}

void SetPicture(TNeuralNetwork& net, const std::vector<float>& picture)
{
    for (uint16_t j = 0; j < InputCount; ++j)
        net.SetInput(0, j, picture[j]);
}

TNeuralNetwork& SharedNetwork()
{
    static std::unique_ptr<TNeuralNetwork> net = BuildNetwork();
    return *net;
}

// Mean and fastest single run of the timed loops; the fastest shows what the machine can do
// when other processes leave it alone.
double propagateSeconds = 0.0;
double propagateBest = 0.0;
double trainBest = 0.0;
double sequentialBytesPerSecond = 0.0;
double sequentialBest = 0.0;

// Bytes of the store that one Propagate reads or writes: every neuron record, every synapse
// and dendrite record, and one 64-byte cache line per interval looked up.
double PropagateBytes(TNeuralNetwork& net)
{
    const double records = (InputCount + SlotCount) * TNeuralNetwork::NeuronRecordSize
        + double(InputCount) * SlotCount
            * (TNeuralNetwork::SynapseRecordSize + TNeuralNetwork::DendriteRecordSize);
    const double lookups = double(InputCount) * SlotCount;
    (void)net;
    return records * 4 + lookups * 64;
}

void BM_SetUp(benchmark::State& state)
{
    for (auto _ : state) {
        auto net = BuildNetwork();
        benchmark::DoNotOptimize(net.get());
        state.PauseTiming();
        net.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SetUp)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Propagate(benchmark::State& state)
{
    TNeuralNetwork& net = SharedNetwork();
    const auto pictures = Pictures(4);
    size_t next = 0;
    double seconds = 0.0;
    double best = 1e9;
    for (auto _ : state) {
        state.PauseTiming();
        SetPicture(net, pictures[next++ % pictures.size()]);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        net.Propagate();
        const double once = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        seconds += once;
        best = std::min(best, once);
    }
    propagateSeconds = seconds / double(state.iterations());
    propagateBest = best;
    state.counters["best_ms"] = best * 1e3;
    state.SetBytesProcessed(int64_t(PropagateBytes(net) * double(state.iterations())));
}
BENCHMARK(BM_Propagate)->Unit(benchmark::kMillisecond);

void BM_TrainMemorise(benchmark::State& state)
{
    TNeuralNetwork& net = SharedNetwork();
    const auto pictures = Pictures(SlotCount);
    int slot = 0;
    int trained = 0;
    double best = 1e9;
    for (auto _ : state) {
        state.PauseTiming();
        SetPicture(net, pictures[size_t(slot)]);
        for (uint16_t k = 0; k < SlotCount; ++k)
            net.SetTarget(1, k, k == slot ? 99.0f : 1.0f);
        slot = (slot + 1) % SlotCount;
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        trained += net.Train(false);
        best
            = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    trainBest = best;
    state.counters["trained"] = double(trained) / double(state.iterations());
    state.counters["best_ms"] = best * 1e3;
}
BENCHMARK(BM_TrainMemorise)->Unit(benchmark::kMillisecond);

void BM_SequentialRead(benchmark::State& state)
{
    // As many 32-bit values as the store has slots, read front to back.
    const size_t count = 22510235;
    std::vector<uint32_t> buffer(count);
    std::iota(buffer.begin(), buffer.end(), 0u);
    double seconds = 0.0;
    double best = 1e9;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        uint64_t sum = 0;
        for (uint32_t value : buffer)
            sum += value;
        benchmark::DoNotOptimize(sum);
        const double once = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        seconds += once;
        best = std::min(best, once);
    }
    sequentialBytesPerSecond = double(count * 4) * double(state.iterations()) / seconds;
    sequentialBest = best;
    state.counters["best_ms"] = best * 1e3;
    state.SetBytesProcessed(int64_t(count * 4) * int64_t(state.iterations()));
}
BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond);

size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

long StatusKilobytes(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::strlen(key)));
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    // Private memory of one laid-out network, measured before anything else is allocated.
    const size_t heapBefore = HeapInUse();
    const long anonBefore = StatusKilobytes("RssAnon:");
    {
        auto net = BuildNetwork();
        std::printf("Private heap of the laid-out network: %.1f MB (malloc in use), RssAnon grew by %.1f MB; "
                    "store file: %.1f MB mapped\n",
            double(HeapInUse() - heapBefore) / 1048576.0,
            double(StatusKilobytes("RssAnon:") - anonBefore) / 1024.0,
            double(net->Store->Size()) / 1048576.0);
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (propagateSeconds > 0.0 && sequentialBytesPerSecond > 0.0) {
        const double touched = PropagateBytes(SharedNetwork()) / propagateSeconds;
        std::printf("Propagate touches %.2f GB/s; sequential read %.2f GB/s; fraction %.2f (means)\n",
            touched / 1e9, sequentialBytesPerSecond / 1e9, touched / sequentialBytesPerSecond);
        const double bestTouched = PropagateBytes(SharedNetwork()) / propagateBest;
        const double bestSequential = 22510235.0 * 4 / sequentialBest;
        std::printf("Fastest runs: Propagate %.3f ms, Train %.3f ms; fraction %.2f\n", propagateBest * 1e3,
            trainBest * 1e3, bestTouched / bestSequential);
    }
    return 0;
}
