#include "mmf/TestSystem.h"
#include "network/NetworkBuilder.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Layers of 2 and 1 neurons, the inputs with 3 levels, the output with 4.
std::unique_ptr<TNeuralNetwork> SmallNetwork()
{
    auto net = std::make_unique<TNeuralNetwork>();
    net->Reset();
    net->Layers->SetCount(2);
    net->Layers->Items(0)->Neurons->SetCount(2);
    net->Layers->Items(1)->Neurons->SetCount(1);
    for (int j = 0; j < 2; ++j) {
        TNeurone* n = net->Layers->Items(0)->Neurons->Items(j);
        n->SetLowerBound(-1.5);
        n->SetUpperBound(1.5 + j);
        n->SetLevelCount(3);
    }
    TNeurone* out = net->Layers->Items(1)->Neurons->Items(0);
    out->SetLowerBound(0.0);
    out->SetUpperBound(100.0);
    out->SetLevelCount(4);
    net->ConnectLayers();
    net->BuildStore();
    return net;
}

TEST(NetworkStore, LayoutOffsetsOfSmallNetwork)
{
    auto net = SmallNetwork();
    ASSERT_EQ(net->Store->Count(), 88u);
    EXPECT_EQ(net->GetLayerCount(), 2);
    for (uint32_t slot = 1; slot <= 4; ++slot)
        EXPECT_EQ(net->GetWhole(slot), 0);
    EXPECT_EQ(net->GetNeuronCount(0), 2);
    EXPECT_EQ(net->GetNeuronBase(0), 15);
    EXPECT_EQ(net->GetNeuronCount(1), 1);
    EXPECT_EQ(net->GetNeuronBase(1), 37);
    for (uint32_t slot = 7; slot <= 9; ++slot)
        EXPECT_EQ(net->GetWhole(slot), 0);

    EXPECT_EQ(net->GetWhole(15), 3);
    EXPECT_EQ(net->GetReal(15 + 1), 1.5f);
    EXPECT_EQ(net->GetReal(15 + 2), -1.5f);
    EXPECT_EQ(net->GetUpper(0, 1), 2.5f);
    EXPECT_EQ(net->GetLevels(1, 0), 4);
    EXPECT_EQ(net->GetWhole(37), 4);

    EXPECT_EQ(net->GetSynapseCount(0, 0), 1);
    EXPECT_EQ(net->GetSynapseBase(0, 0), 48);
    EXPECT_EQ(net->GetSynapseBase(0, 1), 51);
    EXPECT_EQ(net->GetDendriteCount(0, 0), 0);
    EXPECT_EQ(net->GetSynapseCount(1, 0), 0);
    EXPECT_EQ(net->GetDendriteCount(1, 0), 2);
    EXPECT_EQ(net->GetDendriteBase(1, 0), 54);
    EXPECT_EQ(net->GetIntervalCount(1, 0, 0), 3);
    EXPECT_EQ(net->GetIntervalBase(1, 0, 0), 64);
    EXPECT_EQ(net->GetIntervalBase(1, 0, 1), 76);
    EXPECT_EQ(net->GetWhole(54 + 5 + 4), 76);

    // Synapse j of layer 0 feeds dendrite j of the output; dendrite j names neuron j.
    EXPECT_EQ(net->GetWhole(51), 1);
    EXPECT_EQ(net->GetWhole(52), 0);
    EXPECT_EQ(net->GetWhole(53), 1);
    EXPECT_EQ(net->GetSynapseDendrite(0, 0, 0), 0);
    EXPECT_EQ(net->GetSourceLayer(1, 0, 1), 0);
    EXPECT_EQ(net->GetSourceNeuron(1, 0, 1), 1);

    // Centres of the second dendrite: range -1.5 to 2.5 in 3 intervals.
    const double w = 4.0 / 3.0;
    for (uint16_t r = 0; r < 3; ++r) {
        EXPECT_EQ(net->GetCentre(1, 0, 1, r), static_cast<float>(-1.5 + w / 2 + r * w));
        EXPECT_EQ(net->GetReal(76 + 4 * r), net->GetCentre(1, 0, 1, r));
        EXPECT_EQ(net->GetWeight(1, 0, 1, r), 0.0f);
        EXPECT_EQ(net->GetHits(1, 0, 1, r), 0);
        EXPECT_EQ(net->GetWhole(76 + 4 * r + 3), 0);
    }
    EXPECT_EQ(net->GetReal(87), 0.0f);
    // Values not set by the layout start at 0.
    EXPECT_EQ(net->GetInput(1, 0), 0.0f);
    EXPECT_EQ(net->GetOutput(1, 0), 0.0f);
    EXPECT_EQ(net->GetTarget(0, 1), 0.0f);
    EXPECT_EQ(net->GetNet(1, 0), 0.0f);
    EXPECT_EQ(net->GetDendriteInput(1, 0, 0), 0.0f);
}

TEST(NetworkStore, CentresOfAnInputRange)
{
    auto net = MakeNetwork({ { 1, 0.0, 255.0, 26 }, { 1, 0.0, 100.0, 10 } });
    const double w = 255.0 / 26.0;
    EXPECT_NEAR(net->GetCentre(1, 0, 0, 0), 4.903846, 1e-5);
    EXPECT_NEAR(net->GetCentre(1, 0, 0, 1), 14.711538, 1e-5);
    EXPECT_NEAR(net->GetCentre(1, 0, 0, 25), 250.096153, 1e-4);
    for (uint16_t r = 0; r < 26; ++r)
        EXPECT_EQ(net->GetCentre(1, 0, 0, r), static_cast<float>(w / 2 + r * w));
}

TEST(NetworkStore, WholeSlotsReadBackBitExact)
{
    auto net = SmallNetwork();
    for (int32_t value :
        { -1, 0, 1, 20000001, 16777217, 22510235, 0x7FFFFFFF, int32_t(0x80000000), 0x7F800001 }) {
        net->SetWhole(3, value);
        EXPECT_EQ(net->GetWhole(3), value);
    }
    net->SetSynapseLayer(0, 1, 0, -1);
    EXPECT_EQ(net->GetSynapseLayer(0, 1, 0), -1);
    net->SetIntervalBase(1, 0, 1, 20000001);
    EXPECT_EQ(net->GetIntervalBase(1, 0, 1), 20000001);
    net->SetHits(1, 0, 0, 2, 65535);
    EXPECT_EQ(net->GetHits(1, 0, 0, 2), 65535);
    // Real slots keep every float, including a signalling-NaN pattern's neighbours.
    net->SetTarget(1, 0, -0.0f);
    EXPECT_TRUE(std::signbit(net->GetTarget(1, 0)));
}

TEST(NetworkStore, AddressesOutsideTheStoreThrowInsteadOfCrashing)
{
    TNeuralNetwork unbuilt;
    EXPECT_THROW(unbuilt.SetInput(0, 0, 1.0f), TEngineError);
    EXPECT_THROW(unbuilt.GetOutput(1, 0), TEngineError);
    EXPECT_THROW(unbuilt.Activate(0, 0), TEngineError);

    auto net = SmallNetwork();
    EXPECT_THROW(net->GetWeight(1, 0, 1, 500), TEngineError);
    EXPECT_THROW(net->SetWhole(88, 1), TEngineError);
    EXPECT_THROW(net->Activate(2, 0), TEngineError);
    EXPECT_THROW(net->ComputeNeuron(1, 1), TEngineError);
    EXPECT_THROW(net->AdjustWeights(0, 2), TEngineError);
    EXPECT_THROW(net->InverseActivate(1, 3, 1.0f), TEngineError);
    EXPECT_NO_THROW(net->SetWhole(87, 0));
    EXPECT_NO_THROW(net->ComputeNeuron(1, 0));

    // Records moved outside the store by hand stop the pass before anything is read there.
    net->SetDendriteBase(1, 0, 86);
    EXPECT_THROW(net->Propagate(), TEngineError);
    EXPECT_THROW(net->RandomizeWeights(), TEngineError);
    EXPECT_THROW(net->Activate(1, 0), TEngineError);
    net->SetDendriteBase(1, 0, 54);
    net->SetNeuronBase(1, 80);
    EXPECT_THROW(net->Propagate(), TEngineError);
    EXPECT_THROW(net->Train(false), TEngineError);
    net->SetNeuronBase(1, 37);
    EXPECT_NO_THROW(net->Propagate());
}

TEST(NetworkStore, OneLayerOrNoneLeavesStoreEmpty)
{
    auto net = MakeNetwork({ { 5, 0.0, 1.0, 4 } });
    EXPECT_EQ(net->Store->Count(), 0u);
    EXPECT_EQ(net->GetLayerCount(), 0);
    EXPECT_NO_THROW(net->Propagate());
    EXPECT_FALSE(net->Train(false));
    TNeuralNetwork empty;
    empty.BuildStore();
    EXPECT_EQ(empty.Store->Count(), 0u);
}

TEST(NetworkStore, LayerWithoutNeuronsKeepsZeroes)
{
    auto net = MakeNetwork({ { 2, 0.0, 1.0, 2 }, { 0, 0.0, 1.0, 2 }, { 3, 0.0, 1.0, 2 } });
    // 5 + 15 + 5 x 11: nothing is connected past the empty layer.
    EXPECT_EQ(net->Store->Count(), 75u);
    EXPECT_EQ(net->GetLayerCount(), 3);
    EXPECT_EQ(net->GetNeuronCount(1), 0);
    EXPECT_EQ(net->GetNeuronBase(1), 0);
    EXPECT_EQ(net->GetNeuronBase(2), 20 + 22);
    EXPECT_EQ(net->GetSynapseCount(0, 1), 0);
    EXPECT_EQ(net->GetSynapseBase(0, 1), 0);
    EXPECT_EQ(net->GetDendriteCount(2, 2), 0);
}

TEST(NetworkStore, LengthCountsSourceLevelsOfEveryDendrite)
{
    // 3 inputs of 5, 6 and 7 levels, 2 hidden of 4 levels, 1 output.
    auto net = std::make_unique<TNeuralNetwork>();
    net->Reset();
    net->Layers->SetCount(3);
    const int sizes[] = { 3, 2, 1 };
    for (int i = 0; i < 3; ++i) {
        net->Layers->Items(i)->Neurons->SetCount(sizes[i]);
        for (int j = 0; j < sizes[i]; ++j) {
            TNeurone* n = net->Layers->Items(i)->Neurons->Items(j);
            n->SetUpperBound(1.0);
            n->SetLevelCount(uint16_t(i == 0 ? 5 + j : 4));
        }
    }
    net->ConnectLayers();
    net->BuildStore();
    const uint32_t expected
        = 5 + 15 + 6 * 11 + 3 * (3 * 2 + 2 * 1) + 5 * (2 * 3 + 1 * 2) + 4 * (2 * (5 + 6 + 7) + 1 * (4 + 4));
    EXPECT_EQ(net->Store->Count(), expected);
    EXPECT_EQ(net->GetIntervalCount(1, 1, 2), 7);
    EXPECT_EQ(net->GetIntervalCount(2, 0, 1), 4);
    // The last interval table ends exactly at the end of the store.
    EXPECT_EQ(uint32_t(net->GetIntervalBase(2, 0, 1)) + 4 * 4, expected);
}

TEST(NetworkStore, TemporaryFileLivesFromLayoutToReset)
{
    TTestSystem system;
    TMMFSystem* previous = TMMFSystem::SetDefault(&system);
    {
        auto net = std::make_unique<TNeuralNetwork>();
        net->Reset();
        EXPECT_EQ(system.FileCount(), 0);
        net = SmallNetwork();
        EXPECT_EQ(system.FileCount(), 1);
        const std::string name = net->Store->FileName();
        EXPECT_EQ(FileSize(name), 88 * 4);
        // Laying out again starts from a zeroed store.
        net->SetInput(1, 0, 5.0f);
        net->BuildStore();
        EXPECT_EQ(net->GetInput(1, 0), 0.0f);
        EXPECT_EQ(system.FileCount(), 1);
        net->Reset();
        EXPECT_EQ(system.FileCount(), 0);
        EXPECT_EQ(net->Layers->Count(), 0);
        EXPECT_EQ(net->Store->Count(), 0u);
        net = SmallNetwork();
        EXPECT_EQ(system.FileCount(), 1);
    }
    EXPECT_EQ(system.FileCount(), 0);
    TMMFSystem::SetDefault(previous);
}

TEST(NetworkStore, FullDiskStopsTheLayout)
{
    TTestSystem system;
    TMMFSystem* previous = TMMFSystem::SetDefault(&system);
    system.FailReserve = true;
    try {
        SmallNetwork();
        ADD_FAILURE() << "layout on a full disk succeeded";
    } catch (const TMMFError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind("Failed to create file mapping! " + system.StoreFolder() + "/", 0), 0u)
            << message;
        EXPECT_NE(message.find(std::strerror(ENOSPC)), std::string::npos) << message;
    }
    EXPECT_EQ(system.FileCount(), 0);
    TMMFSystem::SetDefault(previous);
}

TEST(NetworkStore, AfterAFailedLayoutEveryAccessAndOperationRaises)
{
    TTestSystem system;
    TMMFSystem* previous = TMMFSystem::SetDefault(&system);
    std::unique_ptr<TNeuralNetwork> net = SmallNetwork();
    net->SeedRandom(3);
    net->RandomizeWeights();
    system.FailReserve = true;
    EXPECT_THROW(net->BuildStore(), TMMFError);
    EXPECT_EQ(system.FileCount(), 0);

    const std::vector<std::function<void()>> uses = {
        [&] { net->GetLayerCount(); },
        [&] { net->SetLayerCount(2); },
        [&] { net->GetWhole(0); },
        [&] { net->SetWhole(0, 1); },
        [&] { net->GetReal(20); },
        [&] { net->SetReal(20, 1.0f); },
        [&] { net->GetNeuronCount(1); },
        [&] { net->GetNeuronBase(0); },
        [&] { net->GetLevels(1, 0); },
        [&] { net->SetInput(0, 1, 0.5f); },
        [&] { net->GetOutput(1, 0); },
        [&] { net->SetTarget(1, 0, 50.0f); },
        [&] { net->GetNet(1, 0); },
        [&] { net->GetSynapseLayer(0, 0, 0); },
        [&] { net->GetSourceNeuron(1, 0, 1); },
        [&] { net->GetDendriteInput(1, 0, 0); },
        [&] { net->GetIntervalCount(1, 0, 0); },
        [&] { net->GetWeight(1, 0, 0, 1); },
        [&] { net->SetWeight(1, 0, 0, 1, 0.25f); },
        [&] { net->GetHits(1, 0, 0, 1); },
        [&] { net->IntervalOf(1, 0, 0, 0.5f); },
        [&] { net->CurrentInterval(1, 0, 0); },
        [&] { net->WeightFor(1, 0, 0, 0.5f); },
        [&] { net->Activate(1, 0); },
        [&] { net->InverseActivate(1, 0, 50.0f); },
        [&] { net->ComputeNeuron(0, 0); },
        [&] { net->Propagate(); },
        [&] { net->RandomizeWeights(); },
        [&] { net->AdjustWeights(1, 0); },
        [&] { net->Train(true); },
    };
    for (size_t i = 0; i < uses.size(); ++i) {
        try {
            uses[i]();
            ADD_FAILURE() << "use " << i << " of a network without store did not raise";
        } catch (const TEngineError& error) {
            EXPECT_STREQ(error.what(), "The network has no store") << "use " << i;
        }
    }

    // Once the disk has room again, laying out works as on a fresh network.
    system.FailReserve = false;
    net->BuildStore();
    EXPECT_EQ(net->GetLayerCount(), 2);
    EXPECT_EQ(net->GetIntervalCount(1, 0, 1), 3);
    EXPECT_EQ(system.FileCount(), 1);
    net->Propagate();
    net.reset();
    EXPECT_EQ(system.FileCount(), 0);
    TMMFSystem::SetDefault(previous);
}

} // namespace
