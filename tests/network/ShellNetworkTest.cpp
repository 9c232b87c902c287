#include "mmf/TestSystem.h"
#include "network/NetworkBuilder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace {

constexpr uint32_t ShellSlots = 22510235;

// The recogniser as the application builds it: 10000 grey values in, 20 memory slots out.
std::unique_ptr<TNeuralNetwork> ShellNetwork()
{
    return MakeNetwork({ { 10000, 0.0, 255.0, 26 }, { 20, 0.0, 100.0, 10 } }, 2026);
}

std::vector<float> Picture(uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> grey(0, 255);
    std::vector<float> values(10000);
    for (float& value : values)
        value = float(grey(random));
    return values;
}

int Recognise(TNeuralNetwork& net, const std::vector<float>& picture)
{
    for (uint16_t j = 0; j < 10000; ++j)
        net.SetInput(0, j, picture[j]);
    net.Propagate();
    int best = 0;
    for (uint16_t k = 1; k < 20; ++k)
        if (net.GetOutput(1, k) > net.GetOutput(1, uint16_t(best)))
            best = k;
    return best;
}

TEST(ShellNetwork, LayoutFillsNinetyMegabytesOfMappedFile)
{
    TTestSystem system;
    TMMFSystem* previous = TMMFSystem::SetDefault(&system);
    {
        auto net = ShellNetwork();
        EXPECT_EQ(net->Store->Count(), ShellSlots);
        EXPECT_EQ(FileSize(net->Store->FileName()), long(ShellSlots) * 4);
        EXPECT_EQ(net->GetNeuronCount(0), 10000);
        EXPECT_EQ(net->GetNeuronCount(1), 20);
        EXPECT_EQ(net->GetNeuronBase(1), 15 + 10000 * 11);
        EXPECT_EQ(net->GetSynapseBase(0, 0), 15 + 10020 * 11);
        EXPECT_EQ(net->GetDendriteBase(1, 0), 15 + 10020 * 11 + 200000 * 3);
        EXPECT_EQ(net->GetIntervalBase(1, 19, 9999) + 26 * 4, int32_t(ShellSlots));
        EXPECT_EQ(net->GetSynapseDendrite(0, 9999, 19), 9999);
        EXPECT_EQ(net->GetSourceNeuron(1, 19, 9999), 9999);

        // Start weights: any one record per dendrite sums to between -124.42308 and 124.42308.
        float low = 1.0f, high = -1.0f;
        for (uint16_t k = 0; k < 20; ++k)
            for (uint16_t d = 0; d < 10000; ++d)
                for (uint16_t r = 0; r < 26; ++r) {
                    const float w = net->GetWeight(1, k, d, r);
                    low = std::min(low, w);
                    high = std::max(high, w);
                }
        EXPECT_GE(low, -0.0124424f);
        EXPECT_LE(high, 0.0124424f);
        EXPECT_LT(low, -0.0124f);
        EXPECT_GT(high, 0.0124f);
        EXPECT_EQ(system.FileCount(), 1);
    }
    EXPECT_EQ(system.FileCount(), 0);
    TMMFSystem::SetDefault(previous);
}

TEST(ShellNetwork, MemorisedPicturesAreRecognised)
{
    auto net = ShellNetwork();
    const int slots[] = { 0, 7, 19 };
    for (int i = 0; i < 3; ++i) {
        const std::vector<float> picture = Picture(100 + i);
        for (uint16_t j = 0; j < 10000; ++j)
            net->SetInput(0, j, picture[j]);
        for (uint16_t k = 0; k < 20; ++k)
            net->SetTarget(1, k, k == slots[i] ? 99.0f : 1.0f);
        EXPECT_TRUE(net->Train(false)) << i;
        EXPECT_NEAR(net->GetOutput(1, uint16_t(slots[i])), 97.5f, 1e-2);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Recognise(*net, Picture(100 + i)), slots[i]) << i;
    for (uint16_t k = 0; k < 20; ++k)
        EXPECT_EQ(net->GetHits(1, k, 0, net->CurrentInterval(1, k, 0)), 0);
}

} // namespace
