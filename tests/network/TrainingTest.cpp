#include "network/NetworkBuilder.h"

#include <gtest/gtest.h>

namespace {

constexpr TLayerShape Inputs3 { 3, 0.0, 255.0, 26 };
constexpr TLayerShape Percent1 { 1, 0.0, 100.0, 10 };
constexpr TLayerShape Percent2 { 2, 0.0, 100.0, 10 };

void SetInputs(TNeuralNetwork& net, std::initializer_list<float> values)
{
    uint16_t j = 0;
    for (float value : values)
        net.SetInput(0, j++, value);
}

int UsedRecords(TNeuralNetwork& net, uint16_t layer, uint16_t neuron, uint16_t dendrite)
{
    int used = 0;
    for (uint16_t r = 0; r < net.GetIntervalCount(layer, neuron, dendrite); ++r)
        used += net.GetHits(layer, neuron, dendrite, r) != 0;
    return used;
}

TEST(Training, StartWeightsSpanTheOutputRangeAndAreReproducible)
{
    auto net = MakeNetwork({ Inputs3, Percent2 }, 42);
    const std::vector<float> weights = AllWeights(*net);
    ASSERT_EQ(weights.size(), 2u * 3 * 26);
    float low = 1e9f, high = -1e9f;
    for (float w : weights) {
        low = std::min(low, w);
        high = std::max(high, w);
    }
    // Any one record per dendrite sums to between the sums for 2.5 and 97.5.
    EXPECT_GE(low, -124.42308f / 3 - 1e-3f);
    EXPECT_LE(high, 124.42308f / 3 + 1e-3f);
    EXPECT_LT(low, -20.0f);
    EXPECT_GT(high, 20.0f);
    EXPECT_EQ(AllWeights(*MakeNetwork({ Inputs3, Percent2 }, 42)), weights);
    EXPECT_NE(AllWeights(*MakeNetwork({ Inputs3, Percent2 }, 43)), weights);

    // Used records keep their weight when the weights are drawn again.
    net->SetHits(1, 0, 2, 5, 1);
    net->SeedRandom(99);
    net->RandomizeWeights();
    EXPECT_EQ(net->GetWeight(1, 0, 2, 5), weights[2 * 26 + 5]);
    EXPECT_NE(net->GetWeight(1, 0, 2, 6), weights[2 * 26 + 6]);
}

TEST(Training, OneLayerNetworkDoesNothing)
{
    auto net = MakeNetwork({ Inputs3 }, 5);
    EXPECT_FALSE(net->Train(false));
    EXPECT_FALSE(net->Train(true));
    EXPECT_NO_THROW(net->RandomizeWeights());
}

TEST(Training, TwoLayersReachTheTargetWithoutUsingRecords)
{
    auto net = MakeNetwork({ Inputs3, Percent1 }, 11);
    SetInputs(*net, { 12.0f, 130.0f, 240.0f });
    net->SetTarget(1, 0, 99.0f);
    EXPECT_TRUE(net->Train(false));
    EXPECT_EQ(net->TrainPasses(), 1);
    EXPECT_NEAR(net->GetOutput(1, 0), 97.5f, 1e-3);
    for (uint16_t d = 0; d < 3; ++d)
        EXPECT_EQ(UsedRecords(*net, 1, 0, d), 0);

    // The adjustment is shared equally among the three selected records.
    const std::vector<float> trained = AllWeights(*net);
    EXPECT_TRUE(net->Train(false));
    EXPECT_EQ(AllWeights(*net), trained);

    net->SetTarget(1, 0, 1.0f);
    EXPECT_TRUE(net->Train(false));
    EXPECT_NEAR(net->GetOutput(1, 0), 2.5f, 1e-3);
}

TEST(Training, TargetAtTheUpperBoundIsNeverReached)
{
    auto net = MakeNetwork({ Inputs3, Percent1 }, 12);
    SetInputs(*net, { 1.0f, 2.0f, 3.0f });
    net->SetTarget(1, 0, 100.0f);
    EXPECT_FALSE(net->Train(false));
    EXPECT_NEAR(net->GetOutput(1, 0), 97.5f, 1e-3);
}

TEST(Training, NeuronInItsTargetIntervalKeepsItsWeights)
{
    auto net = MakeNetwork({ Inputs3, Percent2 }, 13);
    SetInputs(*net, { 50.0f, 60.0f, 70.0f });
    net->Propagate();
    // Neuron 0 gets a target in its present interval; neuron 1 one elsewhere.
    const float present = net->GetOutput(1, 0);
    net->SetTarget(1, 0, present);
    net->SetTarget(1, 1, net->GetOutput(1, 1) < 50.0f ? 99.0f : 1.0f);
    std::vector<float> before;
    for (uint16_t d = 0; d < 3; ++d)
        for (uint16_t r = 0; r < 26; ++r)
            before.push_back(net->GetWeight(1, 0, d, r));
    EXPECT_TRUE(net->Train(false));
    size_t k = 0;
    for (uint16_t d = 0; d < 3; ++d)
        for (uint16_t r = 0; r < 26; ++r)
            EXPECT_EQ(net->GetWeight(1, 0, d, r), before[k++]);
    EXPECT_EQ(net->GetOutput(1, 0), present);
}

TEST(Training, CommitUsesOneRecordPerDendriteOnce)
{
    auto net = MakeNetwork({ Inputs3, Percent2 }, 14);
    SetInputs(*net, { 5.0f, 100.0f, 200.0f });
    net->SetTarget(1, 0, 99.0f);
    net->SetTarget(1, 1, 1.0f);
    ASSERT_TRUE(net->Train(true));
    for (uint16_t j = 0; j < 2; ++j)
        for (uint16_t d = 0; d < 3; ++d) {
            EXPECT_EQ(UsedRecords(*net, 1, j, d), 1);
            EXPECT_EQ(net->GetHits(1, j, d, net->CurrentInterval(1, j, d)), 1);
        }
    // No neuron has a free selected record any more: the first pass gives up.
    const std::vector<float> weights = AllWeights(*net);
    EXPECT_FALSE(net->Train(true));
    EXPECT_EQ(net->TrainPasses(), 1);
    EXPECT_EQ(AllWeights(*net), weights);
    EXPECT_EQ(net->GetHits(1, 0, 0, net->CurrentInterval(1, 0, 0)), 1);

    // Other inputs select free records and train again.
    SetInputs(*net, { 250.0f, 10.0f, 20.0f });
    net->SetTarget(1, 0, 1.0f);
    net->SetTarget(1, 1, 99.0f);
    EXPECT_TRUE(net->Train(true));
    EXPECT_EQ(UsedRecords(*net, 1, 1, 2), 2);
    // What the first pattern learnt is still answered.
    SetInputs(*net, { 5.0f, 100.0f, 200.0f });
    net->Propagate();
    EXPECT_NEAR(net->GetOutput(1, 0), 97.5f, 1e-3);
    EXPECT_NEAR(net->GetOutput(1, 1), 2.5f, 1e-3);
}

TEST(Training, TwoLayersCannotMeetARequestAndRunOutOfPasses)
{
    auto net = MakeNetwork({ Inputs3, Percent2 }, 15);
    SetInputs(*net, { 30.0f, 90.0f, 180.0f });
    net->SetTarget(1, 0, 99.0f);
    net->SetTarget(1, 1, 99.0f);
    ASSERT_TRUE(net->Train(true));
    // Neuron 0 gets its selected records back; neuron 1 stays without a free one.
    for (uint16_t d = 0; d < 3; ++d)
        net->SetHits(1, 0, d, net->CurrentInterval(1, 0, d), 0);
    net->SetTarget(1, 0, 1.0f);
    net->SetTarget(1, 1, 1.0f);
    const std::vector<float> before = AllWeights(*net);
    EXPECT_FALSE(net->Train(false));
    EXPECT_EQ(net->TrainPasses(), TNeuralNetwork::MaxTrainPasses);
    EXPECT_NEAR(net->GetOutput(1, 0), 2.5f, 1e-3);
    EXPECT_NEAR(net->GetOutput(1, 1), 97.5f, 1e-3);
    // Only neuron 0's selected records changed.
    const std::vector<float> after = AllWeights(*net);
    for (size_t k = 3 * 26; k < after.size(); ++k)
        EXPECT_EQ(after[k], before[k]) << k;
    // The inputs were never changed, whatever was asked of them.
    EXPECT_EQ(net->GetOutput(0, 0), 30.0f);
    EXPECT_EQ(net->GetTarget(0, 0), 30.0f);
}

TEST(Training, ThreeLayersSteerAHiddenNeuronIntoAFreeInterval)
{
    auto net = MakeNetwork({ Inputs3, Percent2, Percent1 }, 16);
    SetInputs(*net, { 40.0f, 140.0f, 220.0f });
    net->Propagate();
    // The output's selected records are used; the hidden neurons' are free.
    uint16_t usedInterval[2];
    for (uint16_t d = 0; d < 2; ++d) {
        usedInterval[d] = net->CurrentInterval(2, 0, d);
        net->SetHits(2, 0, d, usedInterval[d], 1);
    }
    const float hiddenBefore = net->GetOutput(1, 0);
    net->SetTarget(2, 0, net->GetOutput(2, 0) < 50.0f ? 99.0f : 1.0f);
    const float target = net->GetTarget(2, 0);

    EXPECT_TRUE(net->Train(false));
    EXPECT_EQ(net->TrainPasses(), 2);
    // Hidden neuron 0 was sent to the first free interval of the output's first dendrite.
    const uint16_t wanted = usedInterval[0] == 0 ? 1 : 0;
    EXPECT_EQ(net->CurrentInterval(2, 0, 0), wanted);
    EXPECT_NE(net->GetOutput(1, 0), hiddenBefore);
    EXPECT_NEAR(net->GetOutput(1, 0), net->GetCentre(2, 0, 0, wanted), 1e-3);
    // Hidden neuron 1 was asked nothing and stayed.
    EXPECT_EQ(net->CurrentInterval(2, 0, 1), usedInterval[1]);
    EXPECT_NEAR(net->GetOutput(2, 0), target > 50.0f ? 97.5f : 2.5f, 1e-3);
    // Used records keep their weights.
    EXPECT_EQ(net->GetHits(2, 0, 0, usedInterval[0]), 1);
}

TEST(Training, ThreeLayersWithEveryRecordUsedGiveUp)
{
    auto net = MakeNetwork({ Inputs3, Percent2, Percent1 }, 17);
    SetInputs(*net, { 40.0f, 140.0f, 220.0f });
    net->SetTarget(2, 0, 99.0f);
    ASSERT_TRUE(net->Train(true));
    for (uint16_t j = 0; j < 2; ++j)
        for (uint16_t d = 0; d < 3; ++d)
            EXPECT_EQ(UsedRecords(*net, 1, j, d), 1);
    net->SetTarget(2, 0, 1.0f);
    EXPECT_FALSE(net->Train(false));
    EXPECT_EQ(net->TrainPasses(), 1);
}

TEST(Training, RequestWithoutAnyFreeRecordEndsTheTraining)
{
    auto net = MakeNetwork({ Inputs3, Percent2, Percent1 }, 18);
    SetInputs(*net, { 40.0f, 140.0f, 220.0f });
    net->Propagate();
    // Every record of the output is used, so it has nothing to ask of the hidden layer.
    for (uint16_t d = 0; d < 2; ++d)
        for (uint16_t r = 0; r < 10; ++r)
            net->SetHits(2, 0, d, r, 1);
    net->SetTarget(2, 0, net->GetOutput(2, 0) < 50.0f ? 99.0f : 1.0f);
    EXPECT_FALSE(net->Train(false));
    EXPECT_EQ(net->TrainPasses(), 1);
}

} // namespace
