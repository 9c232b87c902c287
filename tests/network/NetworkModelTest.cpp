#include "network/NeuralNetwork.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(NetworkModel, LevelCountIsNeverBelowTwo)
{
    TNeuralNetwork net;
    net.Layers->SetCount(1);
    TNeurone* n = net.Layers->Items(0)->Neurons->Add();
    EXPECT_EQ(n->LevelCount, 0);
    EXPECT_EQ(n->UpperBound, 0.0);
    EXPECT_EQ(n->LowerBound, 0.0);
    n->SetLevelCount(0);
    EXPECT_EQ(n->LevelCount, 2);
    n->SetLevelCount(1);
    EXPECT_EQ(n->LevelCount, 2);
    n->SetLevelCount(26);
    EXPECT_EQ(n->LevelCount, 26);
    n->SetLowerBound(10.0);
    n->SetUpperBound(-3.0); // not checked against each other
    EXPECT_EQ(n->LowerBound, 10.0);
    EXPECT_EQ(n->UpperBound, -3.0);
}

TEST(NetworkModel, SetCountClearsGrowsAndKeepsFirstItems)
{
    TNeuralNetwork net;
    for (int32_t n : { -5, 0 }) {
        net.Layers->SetCount(3);
        net.Layers->SetCount(n);
        EXPECT_EQ(net.Layers->Count(), 0);
    }
    net.Layers->SetCount(1);
    TNeurons& neurons = *net.Layers->Items(0)->Neurons;
    neurons.SetCount(5);
    TNeurone* first = neurons.Items(0);
    TNeurone* second = neurons.Items(1);
    neurons.SetCount(2);
    ASSERT_EQ(neurons.Count(), 2);
    EXPECT_EQ(neurons.Items(0), first);
    EXPECT_EQ(neurons.Items(1), second);
    neurons.SetCount(2);
    EXPECT_EQ(neurons.Items(1), second);
    neurons.SetCount(4);
    EXPECT_EQ(neurons.Count(), 4);
    EXPECT_EQ(neurons.Items(0), first);

    TDendrites& dendrites = *first->Dendrites;
    dendrites.SetCount(3);
    dendrites.SetCount(-1);
    EXPECT_EQ(dendrites.Count(), 0);
    first->Synapses->SetCount(7);
    first->Synapses->SetCount(3);
    EXPECT_EQ(first->Synapses->Count(), 3);

    EXPECT_THROW(neurons.Items(4), TEngineError);
    EXPECT_THROW(neurons.Items(-1), TEngineError);
}

TEST(NetworkModel, ItemsKeepTheirPlaceWhileTheCollectionGrowsAndShrinks)
{
    // Added one at a time, in blocks, and given up again from the end: every item stays where it was made.
    TNeurone owner(nullptr);
    TDendrites dendrites(&owner);
    std::vector<TDendrit*> made;
    for (int i = 0; i < 100; ++i) {
        made.push_back(dendrites.Add());
        made.back()->LevelCount = uint16_t(i);
    }
    dendrites.SetCount(1000);
    for (int i = 100; i < 1000; ++i)
        made.push_back(dendrites.Items(i));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(dendrites.Items(i), made[size_t(i)]) << i;
        EXPECT_EQ(made[size_t(i)]->Collection, &dendrites);
    }
    EXPECT_EQ(dendrites.Items(99)->LevelCount, 99);
    dendrites.SetCount(50);
    dendrites.SetCount(300);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(dendrites.Items(i), made[size_t(i)]) << i;
    EXPECT_EQ(dendrites.Items(49)->LevelCount, 49);
    EXPECT_EQ(dendrites.Items(50)->LevelCount, 0); // made anew
    EXPECT_EQ(dendrites.Count(), 300);
    EXPECT_THROW(dendrites.Items(300), TEngineError);
    EXPECT_THROW(dendrites.Items(-1), TEngineError);
}

TEST(NetworkModel, BackReferencesReachTheNetwork)
{
    TNeuralNetwork net;
    EXPECT_EQ(net.Layers->Network, &net);
    TLayer* layer = net.Layers->Add();
    EXPECT_EQ(layer->Network, &net);
    EXPECT_EQ(layer->Neurons->Network, &net);
    EXPECT_EQ(layer->Collection, net.Layers.get());
    TNeurone* neurone = layer->Neurons->Add();
    EXPECT_EQ(neurone->Network, &net);
    EXPECT_EQ(neurone->Dendrites->Owner, neurone);
    TDendrit* dendrit = neurone->Dendrites->Add();
    EXPECT_EQ(dendrit->Collection, neurone->Dendrites.get());
    EXPECT_EQ(dendrit->Connect.LayerIndex, -1);
    EXPECT_EQ(dendrit->Connect.NeuronIndex, -1);
    EXPECT_EQ(dendrit->Connect.DendriteIndex, -1);

    TNeuralNetwork other;
    net.Layers->SetNetwork(&other);
    EXPECT_EQ(layer->Network, &other);
    EXPECT_EQ(neurone->Network, &other);
}

TEST(NetworkModel, ConnectSettersStoreMinusOneForLowerValues)
{
    TConnect connect;
    connect.SetLayerIndex(-7);
    connect.SetNeuronIndex(3);
    connect.SetDendriteIndex(-32768);
    EXPECT_EQ(connect.LayerIndex, -1);
    EXPECT_EQ(connect.NeuronIndex, 3);
    EXPECT_EQ(connect.DendriteIndex, -1);
    connect.SetLayerIndex(-1);
    EXPECT_EQ(connect.LayerIndex, -1);
}

void Describe(TNeuralNetwork& net, std::initializer_list<int> sizes)
{
    net.Reset();
    net.Layers->SetCount(int32_t(sizes.size()));
    int i = 0;
    for (int size : sizes) {
        TNeurons& neurons = *net.Layers->Items(i++)->Neurons;
        neurons.SetCount(size);
        for (int j = 0; j < size; ++j)
            neurons.Items(j)->SetLevelCount(uint16_t(3 + j));
    }
}

TEST(NetworkModel, ConnectLayersConnectsConsecutiveLayersFully)
{
    TNeuralNetwork net;
    Describe(net, { 3, 2 });
    for (int round = 0; round < 2; ++round) {
        // A second call gives the same description as the first.
        net.ConnectLayers();
        TNeurons& lower = *net.Layers->Items(0)->Neurons;
        TNeurons& upper = *net.Layers->Items(1)->Neurons;
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(lower.Items(j)->Synapses->Count(), 2);
            EXPECT_EQ(lower.Items(j)->Dendrites->Count(), 0);
            for (int m = 0; m < 2; ++m) {
                const TConnect& c = lower.Items(j)->Synapses->Items(m)->Connect;
                EXPECT_EQ(c.LayerIndex, 1);
                EXPECT_EQ(c.NeuronIndex, m);
                EXPECT_EQ(c.DendriteIndex, j);
            }
        }
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(upper.Items(k)->Dendrites->Count(), 3);
            EXPECT_EQ(upper.Items(k)->Synapses->Count(), 0);
            for (int m = 0; m < 3; ++m) {
                const TDendrit& d = *upper.Items(k)->Dendrites->Items(m);
                EXPECT_EQ(d.Connect.LayerIndex, 0);
                EXPECT_EQ(d.Connect.NeuronIndex, m);
                EXPECT_EQ(d.Connect.DendriteIndex, -1);
                EXPECT_EQ(d.LevelCount, 3 + m);
            }
        }
        const TConnect& s = lower.Items(2)->Synapses->Items(1)->Connect;
        EXPECT_EQ(s.LayerIndex, 1);
        EXPECT_EQ(s.NeuronIndex, 1);
        EXPECT_EQ(s.DendriteIndex, 2);
    }
}

TEST(NetworkModel, EmptyLayerStopsConnecting)
{
    TNeuralNetwork net;
    Describe(net, { 4, 0, 5 });
    net.ConnectLayers();
    for (int j = 0; j < 4; ++j)
        EXPECT_EQ(net.Layers->Items(0)->Neurons->Items(j)->Synapses->Count(), 0);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(net.Layers->Items(2)->Neurons->Items(k)->Dendrites->Count(), 0);

    Describe(net, { 2, 3, 0 });
    net.ConnectLayers();
    EXPECT_EQ(net.Layers->Items(1)->Neurons->Items(0)->Dendrites->Count(), 2);
    EXPECT_EQ(net.Layers->Items(1)->Neurons->Items(0)->Synapses->Count(), 0);
}

TEST(NetworkModel, LayerTooLargeForConnectionIndexesIsRefused)
{
    TNeuralNetwork net;
    Describe(net, { TNeuralNetwork::MaxLayerNeurons + 1, 1 });
    EXPECT_THROW(net.ConnectLayers(), TEngineError);
    Describe(net, { 1 });
    EXPECT_NO_THROW(net.ConnectLayers());
}

} // namespace
