#include "network/NetworkBuilder.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(Recall, IntervalEdgesOfAnInputRange)
{
    auto net = MakeNetwork({ { 1, 0.0, 255.0, 26 }, { 1, 0.0, 100.0, 10 } });
    const std::pair<float, int> cases[]
        = { { -3.0f, 0 }, { 0.0f, 0 }, { 9.8f, 0 }, { 9.81f, 1 }, { 254.9f, 25 }, { 255.0f, 25 },
              { 1000.0f, 25 }, { 130.0f, 13 }, { std::nanf(""), 0 }, { -INFINITY, 0 }, { INFINITY, 25 } };
    for (const auto& [x, interval] : cases)
        EXPECT_EQ(net->IntervalOf(1, 0, 0, x), interval) << x;
    net->SetDendriteInput(1, 0, 0, 9.81f);
    EXPECT_EQ(net->CurrentInterval(1, 0, 0), 1);
    net->SetWeight(1, 0, 0, 1, 0.25f);
    EXPECT_EQ(net->WeightFor(1, 0, 0, 9.81f), 0.25f);
    EXPECT_EQ(net->WeightFor(1, 0, 0, 9.8f), 0.0f);
}

TEST(Recall, InputNeuronPassesItsInputUnsquashed)
{
    auto net = MakeNetwork({ { 2, 0.0, 255.0, 26 }, { 1, 0.0, 100.0, 10 } });
    net->SetInput(0, 0, 300.0f);
    net->SetInput(0, 1, -7.25f);
    net->Propagate();
    EXPECT_EQ(net->GetOutput(0, 0), 300.0f);
    EXPECT_EQ(net->GetNet(0, 0), 300.0f);
    EXPECT_EQ(net->GetOutput(0, 1), -7.25f);
    // The outputs reach the dendrites they feed.
    EXPECT_EQ(net->GetDendriteInput(1, 0, 0), 300.0f);
    EXPECT_EQ(net->GetDendriteInput(1, 0, 1), -7.25f);
}

TEST(Recall, OutputCurveOverTheRange)
{
    auto net = MakeNetwork({ { 2, 0.0, 255.0, 26 }, { 1, 0.0, 100.0, 10 } });
    net->Propagate();
    EXPECT_FLOAT_EQ(net->GetOutput(1, 0), 50.0f);
    EXPECT_EQ(net->GetNet(1, 0), 0.0f);

    // The inputs 0 select interval 0 on both dendrites.
    net->SetWeight(1, 0, 0, 0, 60.0f);
    net->SetWeight(1, 0, 1, 0, 40.0f);
    net->SetWeight(1, 0, 1, 1, 1000.0f); // not selected
    net->Propagate();
    EXPECT_NEAR(net->GetOutput(1, 0), 95.0f, 1e-4);
    EXPECT_EQ(net->GetNet(1, 0), 100.0f);

    net->SetInput(1, 0, -200.0f); // the neuron's own input joins the sum
    EXPECT_NEAR(net->Activate(1, 0), 5.0f, 1e-4);
    EXPECT_EQ(net->GetNet(1, 0), -100.0f);
}

TEST(Recall, PropagateCopiesOutputsToTargetsBelowTheLastLayer)
{
    auto net = MakeNetwork({ { 3, 0.0, 255.0, 26 }, { 2, 0.0, 100.0, 10 }, { 2, 0.0, 100.0, 10 } }, 7);
    net->SetInput(0, 0, 10.0f);
    net->SetInput(0, 1, 100.0f);
    net->SetInput(0, 2, 250.0f);
    net->SetTarget(2, 0, 99.0f);
    net->SetTarget(2, 1, 1.0f);
    net->Propagate();
    for (uint16_t i = 0; i < 2; ++i)
        for (uint16_t j = 0; j < net->GetNeuronCount(i); ++j)
            EXPECT_EQ(net->GetTarget(i, j), net->GetOutput(i, j)) << i << "," << j;
    EXPECT_EQ(net->GetTarget(2, 0), 99.0f);
    EXPECT_EQ(net->GetTarget(2, 1), 1.0f);
    // Hidden outputs lie inside their range and feed the last layer.
    for (uint16_t j = 0; j < 2; ++j) {
        EXPECT_GT(net->GetOutput(1, j), 0.0f);
        EXPECT_LT(net->GetOutput(1, j), 100.0f);
        EXPECT_EQ(net->GetDendriteInput(2, 1, j), net->GetOutput(1, j));
    }
    // The accessor path and the forward pass agree.
    const float out = net->GetOutput(2, 1);
    EXPECT_EQ(net->Activate(2, 1), out);
}

TEST(Recall, InverseActivatePullsInsideAndInvertsTheCurve)
{
    auto net = MakeNetwork({ { 1, 0.0, 255.0, 26 }, { 1, 0.0, 100.0, 10 } });
    EXPECT_FLOAT_EQ(net->InverseActivate(0, 0, 300.0f), 255.0f - 255.0f / 104.0f);
    EXPECT_FLOAT_EQ(net->InverseActivate(0, 0, -1.0f), 255.0f / 104.0f);
    EXPECT_EQ(net->InverseActivate(0, 0, 100.0f), 100.0f);
    EXPECT_NEAR(net->InverseActivate(1, 0, 99.0f), 124.42308f, 1e-4);
    EXPECT_NEAR(net->InverseActivate(1, 0, 1.0f), -124.42308f, 1e-4);
    EXPECT_NEAR(net->InverseActivate(1, 0, 50.0f), 0.0f, 1e-5);
    // Exact inverse: the sum for 80 makes the neuron output 80.
    net->SetInput(1, 0, net->InverseActivate(1, 0, 80.0f));
    EXPECT_NEAR(net->Activate(1, 0), 80.0f, 1e-4);
}

TEST(Recall, EmptyRangeRaisesInvalidOperation)
{
    auto net = MakeNetwork({ { 1, 0.0, 255.0, 26 }, { 1, 50.0, 50.0, 10 } });
    try {
        net->Propagate();
        ADD_FAILURE() << "an empty range computed";
    } catch (const TEngineError& error) {
        EXPECT_STREQ(error.what(), "Invalid floating point operation");
    }
    EXPECT_THROW(net->InverseActivate(1, 0, 50.0f), TEngineError);
    EXPECT_THROW(net->RandomizeWeights(), TEngineError);
    // A neuron without dendrites has no curve to fail.
    EXPECT_NO_THROW(net->Activate(0, 0));
}

TEST(Recall, DendriteWithoutTableContributesNothing)
{
    // A source neuron whose level count was never set gives its dendrites no intervals.
    auto net = std::make_unique<TNeuralNetwork>();
    net->Reset();
    net->Layers->SetCount(2);
    net->Layers->Items(0)->Neurons->SetCount(2);
    net->Layers->Items(0)->Neurons->Items(1)->SetLevelCount(4);
    net->Layers->Items(0)->Neurons->Items(1)->SetUpperBound(1.0);
    TNeurone* out = net->Layers->Items(1)->Neurons->Add();
    out->SetUpperBound(100.0);
    out->SetLevelCount(10);
    net->ConnectLayers();
    net->BuildStore();
    EXPECT_EQ(net->GetIntervalCount(1, 0, 0), 0);
    EXPECT_EQ(net->GetIntervalCount(1, 0, 1), 4);
    net->SetWeight(1, 0, 1, 0, 3.0f);
    net->Propagate();
    EXPECT_EQ(net->GetNet(1, 0), 3.0f);
    EXPECT_EQ(net->WeightFor(1, 0, 0, 0.0f), 0.0f);
}

} // namespace

namespace {

// Slots that Propagate may change: outputs, targets and sums of neurons, inputs of dendrites.
std::vector<bool> WritableByRecall(TNeuralNetwork& net)
{
    std::vector<bool> writable(net.Store->Count(), false);
    for (uint16_t i = 0; i < net.GetLayerCount(); ++i)
        for (uint16_t j = 0; j < net.GetNeuronCount(i); ++j) {
            const uint32_t slot = uint32_t(net.GetNeuronBase(i)) + 11u * j;
            writable[slot + 4] = writable[slot + 5] = writable[slot + 10] = true;
            for (uint16_t d = 0; d < net.GetDendriteCount(i, j); ++d)
                writable[uint32_t(net.GetDendriteBase(i, j)) + 5u * d + 2] = true;
        }
    return writable;
}

TEST(Recall, LinksToMissingNeuronsAreSkipped)
{
    auto net = MakeNetwork({ { 2, 0.0, 255.0, 26 }, { 1, 0.0, 100.0, 10 } }, 3);
    const std::vector<bool> writable = WritableByRecall(*net);
    // Point the synapses at a neuron, a dendrite and a layer that do not exist.
    net->SetSynapseNeuron(0, 0, 0, 5);
    net->SetSynapseDendrite(0, 1, 0, 9);
    net->SetInput(0, 0, 42.0f);
    net->SetInput(0, 1, 43.0f);
    for (int round = 0; round < 2; ++round) {
        std::vector<int32_t> before(net->Store->Count());
        for (uint32_t slot = 0; slot < before.size(); ++slot)
            before[slot] = net->GetWhole(slot);
        net->Propagate();
        for (uint32_t slot = 0; slot < before.size(); ++slot) {
            if (!writable[slot]) {
                EXPECT_EQ(net->GetWhole(slot), before[slot]) << "slot " << slot;
            }
        }
        EXPECT_EQ(net->GetDendriteInput(1, 0, 0), 0.0f);
        EXPECT_EQ(net->GetDendriteInput(1, 0, 1), round == 0 ? 0.0f : 43.0f);
        net->SetSynapseNeuron(0, 0, 0, 0);
        net->SetSynapseLayer(0, 0, 0, 7);
        net->SetSynapseDendrite(0, 1, 0, 1);
    }
}

TEST(Recall, DendritesWithMissingSourcesOrTablesSelectNothing)
{
    auto net = MakeNetwork({ { 3, 0.0, 255.0, 26 }, { 1, 0.0, 100.0, 10 } });
    net->SetWeight(1, 0, 2, 0, 7.0f);
    net->SetSourceNeuron(1, 0, 0, 999);
    net->SetSourceLayer(1, 0, 1, 40);
    net->Propagate();
    EXPECT_EQ(net->GetNet(1, 0), 7.0f);
    EXPECT_EQ(net->IntervalOf(1, 0, 0, 100.0f), 0);
    net->SetIntervalBase(1, 0, 2, int32_t(net->Store->Count()) - 8);
    net->Propagate();
    EXPECT_EQ(net->GetNet(1, 0), 0.0f);
    EXPECT_EQ(net->WeightFor(1, 0, 2, 0.0f), 0.0f);
}

} // namespace
