#pragma once

// Builds small laid-out networks for the engine tests.

#include "network/NeuralNetwork.h"

#include <initializer_list>
#include <memory>
#include <vector>

struct TLayerShape
{
    int Neurons;
    double Lower;
    double Upper;
    uint16_t Levels;
};

// Describes, connects and lays out a network; with seed != 0 also randomises its weights.
inline std::unique_ptr<TNeuralNetwork> MakeNetwork(
    std::initializer_list<TLayerShape> shapes, uint32_t seed = 0)
{
    auto net = std::make_unique<TNeuralNetwork>();
    net->Reset();
    net->Layers->SetCount(static_cast<int32_t>(shapes.size()));
    int i = 0;
    for (const TLayerShape& shape : shapes) {
        TNeurons& neurons = *net->Layers->Items(i++)->Neurons;
        neurons.SetCount(shape.Neurons);
        for (int j = 0; j < shape.Neurons; ++j) {
            TNeurone* n = neurons.Items(j);
            n->SetLowerBound(shape.Lower);
            n->SetUpperBound(shape.Upper);
            n->SetLevelCount(shape.Levels);
        }
    }
    net->ConnectLayers();
    net->BuildStore();
    if (seed != 0) {
        net->SeedRandom(seed);
        net->RandomizeWeights();
    }
    return net;
}

// Every weight of every dendrite of layers 1 and up, in store order.
inline std::vector<float> AllWeights(TNeuralNetwork& net)
{
    std::vector<float> weights;
    for (uint16_t i = 1; i < net.GetLayerCount(); ++i)
        for (uint16_t j = 0; j < net.GetNeuronCount(i); ++j)
            for (uint16_t d = 0; d < net.GetDendriteCount(i, j); ++d)
                for (uint16_t r = 0; r < net.GetIntervalCount(i, j, d); ++r)
                    weights.push_back(net.GetWeight(i, j, d, r));
    return weights;
}
