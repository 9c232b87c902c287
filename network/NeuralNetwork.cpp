#include "network/NeuralNetwork.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

void ThrowListIndexError(int index)
{
    throw TEngineError("List index out of bounds (" + std::to_string(index) + ")");
}

// ---------------------------------------------------------------------------------------------
// Description

TSynaps::TSynaps(TSynapses* collection)
    : Collection(collection)
    , Connect(std::make_unique<TConnect>())
{ }

TDendrit::TDendrit(TDendrites* collection)
    : Collection(collection)
    , Connect(std::make_unique<TConnect>())
{ }

TNeurone::TNeurone(TNeurons* collection)
    : Collection(collection)
    , Network(collection ? collection->Network : nullptr)
    , Dendrites(std::make_unique<TDendrites>(this))
    , Synapses(std::make_unique<TSynapses>())
{ }

void TNeurons::SetNetwork(TNeuralNetwork* network)
{
    Network = network;
    for (int i = 0; i < Count(); ++i)
        Items(i)->Network = network;
}

std::unique_ptr<TNeurone> TNeurons::NewItem()
{
    return std::make_unique<TNeurone>(this);
}

TLayer::TLayer(TLayers* collection)
    : Collection(collection)
    , Neurons(std::make_unique<TNeurons>())
{ }

void TLayers::SetNetwork(TNeuralNetwork* network)
{
    Network = network;
    for (int i = 0; i < Count(); ++i) {
        TLayer* layer = Items(i);
        layer->Network = network;
        layer->Neurons->SetNetwork(network);
    }
}

std::unique_ptr<TLayer> TLayers::NewItem()
{
    auto layer = std::make_unique<TLayer>(this);
    layer->Network = Network;
    layer->Neurons->SetNetwork(Network);
    return layer;
}

// ---------------------------------------------------------------------------------------------
// Network

TNeuralNetwork::TNeuralNetwork()
    : Layers(std::make_unique<TLayers>())
    , Store(std::make_unique<TMMFArray>())
    , random(static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()))
{
    Store->SetDataType(TMMFArray::Float32);
    Layers->SetNetwork(this);
}

TNeuralNetwork::~TNeuralNetwork()
{
    Store.reset();
    Layers.reset();
}

void TNeuralNetwork::SeedRandom(uint32_t seed)
{
    random.seed(seed);
}

void TNeuralNetwork::Reset()
{
    Store.reset();
    Store = std::make_unique<TMMFArray>();
    Store->SetDataType(TMMFArray::Float32);
    Layers->SetCount(0);
}

void TNeuralNetwork::ConnectLayers()
{
    throw TEngineError("ConnectLayers is not built yet");
}
void TNeuralNetwork::BuildStore()
{
    throw TEngineError("BuildStore is not built yet");
}
uint16_t TNeuralNetwork::IntervalOf(uint16_t, uint16_t, uint16_t, float)
{
    return 0;
}
uint16_t TNeuralNetwork::CurrentInterval(uint16_t, uint16_t, uint16_t)
{
    return 0;
}
float TNeuralNetwork::WeightFor(uint16_t, uint16_t, uint16_t, float)
{
    return 0;
}
float TNeuralNetwork::Activate(uint16_t, uint16_t)
{
    return 0;
}
float TNeuralNetwork::InverseActivate(uint16_t, uint16_t, float)
{
    return 0;
}
void TNeuralNetwork::ComputeNeuron(uint16_t, uint16_t) { }
void TNeuralNetwork::Propagate() { }
void TNeuralNetwork::RandomizeWeights() { }
void TNeuralNetwork::AdjustWeights(uint16_t, uint16_t) { }
bool TNeuralNetwork::Train(bool)
{
    return false;
}

// ---------------------------------------------------------------------------------------------
// Slots and accessors

int32_t TNeuralNetwork::GetWhole(uint32_t slot)
{
    int32_t value;
    std::memcpy(&value, Store->ItemPtr(slot), sizeof value);
    return value;
}

void TNeuralNetwork::SetWhole(uint32_t slot, int32_t value)
{
    std::memcpy(Store->ItemPtr(slot), &value, sizeof value);
}

float TNeuralNetwork::GetReal(uint32_t slot)
{
    float value;
    std::memcpy(&value, Store->ItemPtr(slot), sizeof value);
    return value;
}

void TNeuralNetwork::SetReal(uint32_t slot, float value)
{
    std::memcpy(Store->ItemPtr(slot), &value, sizeof value);
}

uint32_t TNeuralNetwork::NeuronSlot(uint16_t layer, uint16_t neuron)
{
    return static_cast<uint32_t>(GetNeuronBase(layer)) + NeuronRecordSize * uint32_t(neuron);
}

uint32_t TNeuralNetwork::SynapseSlot(uint16_t layer, uint16_t neuron, uint16_t synapse)
{
    return static_cast<uint32_t>(GetSynapseBase(layer, neuron)) + SynapseRecordSize * uint32_t(synapse);
}

uint32_t TNeuralNetwork::DendriteSlot(uint16_t layer, uint16_t neuron, uint16_t dendrite)
{
    return static_cast<uint32_t>(GetDendriteBase(layer, neuron)) + DendriteRecordSize * uint32_t(dendrite);
}

uint32_t TNeuralNetwork::IntervalSlot(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval)
{
    return static_cast<uint32_t>(GetIntervalBase(layer, neuron, dendrite))
        + IntervalRecordSize * uint32_t(interval);
}

uint16_t TNeuralNetwork::GetLayerCount()
{
    // An empty store (nothing laid out yet) has no layers.
    return Store->Count() == 0 ? 0 : static_cast<uint16_t>(GetWhole(0));
}

void TNeuralNetwork::SetLayerCount(uint16_t value)
{
    SetWhole(0, value);
}

#define MIRAVA_LAYER_SLOT(layer, offset) (HeaderSize + LayerRecordSize * uint32_t(layer) + (offset))

uint16_t TNeuralNetwork::GetNeuronCount(uint16_t layer)
{
    return static_cast<uint16_t>(GetWhole(MIRAVA_LAYER_SLOT(layer, 0)));
}
void TNeuralNetwork::SetNeuronCount(uint16_t layer, uint16_t value)
{
    SetWhole(MIRAVA_LAYER_SLOT(layer, 0), value);
}
int32_t TNeuralNetwork::GetNeuronBase(uint16_t layer)
{
    return GetWhole(MIRAVA_LAYER_SLOT(layer, 1));
}
void TNeuralNetwork::SetNeuronBase(uint16_t layer, int32_t value)
{
    SetWhole(MIRAVA_LAYER_SLOT(layer, 1), value);
}

#undef MIRAVA_LAYER_SLOT

#define MIRAVA_NEURON_WHOLE16(Name, offset)                                                                  \
    uint16_t TNeuralNetwork::Get##Name(uint16_t layer, uint16_t neuron)                                      \
    {                                                                                                        \
        return static_cast<uint16_t>(GetWhole(NeuronSlot(layer, neuron) + (offset)));                        \
    }                                                                                                        \
    void TNeuralNetwork::Set##Name(uint16_t layer, uint16_t neuron, uint16_t value)                          \
    {                                                                                                        \
        SetWhole(NeuronSlot(layer, neuron) + (offset), value);                                               \
    }
#define MIRAVA_NEURON_WHOLE32(Name, offset)                                                                  \
    int32_t TNeuralNetwork::Get##Name(uint16_t layer, uint16_t neuron)                                       \
    {                                                                                                        \
        return GetWhole(NeuronSlot(layer, neuron) + (offset));                                               \
    }                                                                                                        \
    void TNeuralNetwork::Set##Name(uint16_t layer, uint16_t neuron, int32_t value)                           \
    {                                                                                                        \
        SetWhole(NeuronSlot(layer, neuron) + (offset), value);                                               \
    }
#define MIRAVA_NEURON_REAL(Name, offset)                                                                     \
    float TNeuralNetwork::Get##Name(uint16_t layer, uint16_t neuron)                                         \
    {                                                                                                        \
        return GetReal(NeuronSlot(layer, neuron) + (offset));                                                \
    }                                                                                                        \
    void TNeuralNetwork::Set##Name(uint16_t layer, uint16_t neuron, float value)                             \
    {                                                                                                        \
        SetReal(NeuronSlot(layer, neuron) + (offset), value);                                                \
    }

MIRAVA_NEURON_WHOLE16(Levels, 0)
MIRAVA_NEURON_REAL(Upper, 1)
MIRAVA_NEURON_REAL(Lower, 2)
MIRAVA_NEURON_REAL(Input, 3)
MIRAVA_NEURON_REAL(Output, 4)
MIRAVA_NEURON_REAL(Target, 5)
MIRAVA_NEURON_WHOLE16(DendriteCount, 6)
MIRAVA_NEURON_WHOLE32(DendriteBase, 7)
MIRAVA_NEURON_WHOLE16(SynapseCount, 8)
MIRAVA_NEURON_WHOLE32(SynapseBase, 9)
MIRAVA_NEURON_REAL(Net, 10)

#undef MIRAVA_NEURON_WHOLE16
#undef MIRAVA_NEURON_WHOLE32
#undef MIRAVA_NEURON_REAL

#define MIRAVA_RECORD_WHOLE(Type, Name, Slot, item, offset)                                                  \
    Type TNeuralNetwork::Get##Name(uint16_t layer, uint16_t neuron, uint16_t item)                           \
    {                                                                                                        \
        return static_cast<Type>(GetWhole(Slot(layer, neuron, item) + (offset)));                            \
    }                                                                                                        \
    void TNeuralNetwork::Set##Name(uint16_t layer, uint16_t neuron, uint16_t item, Type value)               \
    {                                                                                                        \
        SetWhole(Slot(layer, neuron, item) + (offset), value);                                               \
    }

MIRAVA_RECORD_WHOLE(int32_t, SynapseLayer, SynapseSlot, synapse, 0)
MIRAVA_RECORD_WHOLE(int32_t, SynapseNeuron, SynapseSlot, synapse, 1)
MIRAVA_RECORD_WHOLE(int32_t, SynapseDendrite, SynapseSlot, synapse, 2)
MIRAVA_RECORD_WHOLE(int32_t, SourceLayer, DendriteSlot, dendrite, 0)
MIRAVA_RECORD_WHOLE(int32_t, SourceNeuron, DendriteSlot, dendrite, 1)
MIRAVA_RECORD_WHOLE(uint16_t, IntervalCount, DendriteSlot, dendrite, 3)
MIRAVA_RECORD_WHOLE(int32_t, IntervalBase, DendriteSlot, dendrite, 4)

#undef MIRAVA_RECORD_WHOLE

float TNeuralNetwork::GetDendriteInput(uint16_t layer, uint16_t neuron, uint16_t dendrite)
{
    return GetReal(DendriteSlot(layer, neuron, dendrite) + 2);
}

void TNeuralNetwork::SetDendriteInput(uint16_t layer, uint16_t neuron, uint16_t dendrite, float value)
{
    SetReal(DendriteSlot(layer, neuron, dendrite) + 2, value);
}

float TNeuralNetwork::GetCentre(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval)
{
    return GetReal(IntervalSlot(layer, neuron, dendrite, interval));
}

void TNeuralNetwork::SetCentre(
    uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval, float value)
{
    SetReal(IntervalSlot(layer, neuron, dendrite, interval), value);
}

float TNeuralNetwork::GetWeight(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval)
{
    return GetReal(IntervalSlot(layer, neuron, dendrite, interval) + 1);
}

void TNeuralNetwork::SetWeight(
    uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval, float value)
{
    SetReal(IntervalSlot(layer, neuron, dendrite, interval) + 1, value);
}

uint16_t TNeuralNetwork::GetHits(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval)
{
    return static_cast<uint16_t>(GetWhole(IntervalSlot(layer, neuron, dendrite, interval) + 2));
}

void TNeuralNetwork::SetHits(
    uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval, uint16_t value)
{
    SetWhole(IntervalSlot(layer, neuron, dendrite, interval) + 2, value);
}
