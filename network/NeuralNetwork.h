#pragma once

// The network engine: a description of layers, neurons, dendrites and synapses, laid out
// by BuildStore in one flat memory-mapped store of 32-bit slots on which recall and
// training work.

#include "mmf/MMFArray.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

class TNeuralNetwork;
class TLayers;
class TLayer;
class TNeurons;
class TNeurone;
class TDendrites;
class TDendrit;
class TSynapses;
class TSynaps;

// Errors raised by the engine itself, e.g. "Invalid floating point operation" for a neuron
// with dendrites and an empty value range. Errors of the store are TMMFError.
class TEngineError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The neuron at the other end of a dendrite or synapse. Every field starts at -1; a setter
// stores any value below -1 as -1.
class TConnect
{
public:
    int16_t LayerIndex = -1;
    int16_t NeuronIndex = -1;
    int16_t DendriteIndex = -1;

    void SetLayerIndex(int16_t value) { LayerIndex = value < -1 ? int16_t(-1) : value; }
    void SetNeuronIndex(int16_t value) { NeuronIndex = value < -1 ? int16_t(-1) : value; }
    void SetDendriteIndex(int16_t value) { DendriteIndex = value < -1 ? int16_t(-1) : value; }
};

// An indexed collection that owns its items. Items are made in place, a block of them at a
// time rather than one by one (a connected network has a synapse and a dendrite object for
// every pair of neurons), and keep their addresses while the collection grows or shrinks at
// its end. Each item is made with the collection (of type TOwner) as its argument.
template <class TItem, class TOwner> class TCollection
{
public:
    virtual ~TCollection() = default;
    TCollection() = default;
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;

    int Count() const { return count; }
    // n <= 0 clears; a larger n adds items at the end; a smaller n frees the items from
    // index n on, so that the first n stay.
    void SetCount(int32_t n);
    // Throws TEngineError("List index out of bounds (i)") for an index outside the items.
    TItem* Items(int index) const;
    TItem* Add();
    void Clear() { SetCount(0); }

private:
    // Makes room for `more` items after the last: a new block holds at least as many items as
    // all blocks before it, so that adding one item at a time stays cheap and an index finds
    // its block in a few steps.
    void MakeRoom(size_t more);

    // Each block keeps the capacity it was made with: it never grows beyond it, so its items
    // never move. An empty collection holds no block.
    std::vector<std::vector<TItem>> blocks;
    int count = 0;
};

[[noreturn]] void ThrowListIndexError(int index);

template <class TItem, class TOwner> void TCollection<TItem, TOwner>::MakeRoom(size_t more)
{
    const size_t spare = blocks.empty() ? 0 : blocks.back().capacity() - blocks.back().size();
    if (spare >= more)
        return;
    blocks.emplace_back().reserve(std::max(more - spare, static_cast<size_t>(count)));
}

template <class TItem, class TOwner> void TCollection<TItem, TOwner>::SetCount(int32_t n)
{
    const int wanted = n < 0 ? 0 : n;
    if (wanted > count)
        MakeRoom(static_cast<size_t>(wanted - count));
    for (auto block = blocks.begin(); count < wanted; ++block) {
        while (block->size() < block->capacity() && count < wanted) {
            block->emplace_back(static_cast<TOwner*>(this));
            ++count;
        }
    }
    // The items from index n on go, the last first; the first n stay.
    while (count > wanted) {
        blocks.back().pop_back();
        --count;
        if (blocks.back().empty())
            blocks.pop_back();
    }
}

template <class TItem, class TOwner> TItem* TCollection<TItem, TOwner>::Items(int index) const
{
    if (index < 0 || index >= count)
        ThrowListIndexError(index);
    size_t at = static_cast<size_t>(index);
    for (const std::vector<TItem>& block : blocks) {
        // The items are the collection's, but a const collection hands them out for change
        // as well, as a collection of owned pointers would.
        if (at < block.size())
            return const_cast<TItem*>(&block[at]);
        at -= block.size();
    }
    ThrowListIndexError(index);
}

template <class TItem, class TOwner> TItem* TCollection<TItem, TOwner>::Add()
{
    SetCount(count + 1);
    return Items(count - 1);
}

class TSynaps
{
public:
    explicit TSynaps(TSynapses* collection);
    TSynapses* Collection;
    TConnect Connect;
};

class TSynapses : public TCollection<TSynaps, TSynapses>
{
};

class TDendrit
{
public:
    explicit TDendrit(TDendrites* collection);
    TDendrites* Collection;
    TConnect Connect;
    // Copy of the source neuron's level count, written by ConnectLayers.
    uint16_t LevelCount = 0;
};

class TDendrites : public TCollection<TDendrit, TDendrites>
{
public:
    explicit TDendrites(TNeurone* owner)
        : Owner(owner)
    { }
    TNeurone* Owner;
};

class TNeurone
{
public:
    explicit TNeurone(TNeurons* collection);
    TNeurons* Collection;
    TNeuralNetwork* Network = nullptr;
    std::unique_ptr<TDendrites> Dendrites;
    std::unique_ptr<TSynapses> Synapses;
    uint16_t LevelCount = 0;
    double UpperBound = 0.0;
    double LowerBound = 0.0;

    // Stores n, or 2 when n is below 2.
    void SetLevelCount(uint16_t n) { LevelCount = n < 2 ? uint16_t(2) : n; }
    void SetUpperBound(double value) { UpperBound = value; }
    void SetLowerBound(double value) { LowerBound = value; }
};

// A new neuron takes the collection's network.
class TNeurons : public TCollection<TNeurone, TNeurons>
{
public:
    TNeuralNetwork* Network = nullptr;
    // Stores the network and passes it on to every neuron.
    void SetNetwork(TNeuralNetwork* network);
};

// A new layer takes the collection's network and passes it on to its neurons.
class TLayer
{
public:
    explicit TLayer(TLayers* collection);
    TLayers* Collection;
    std::unique_ptr<TNeurons> Neurons;
    TNeuralNetwork* Network = nullptr;
};

class TLayers : public TCollection<TLayer, TLayers>
{
public:
    TNeuralNetwork* Network = nullptr;
    // Stores the network and passes it on to every layer and neuron.
    void SetNetwork(TNeuralNetwork* network);
};

class TNeuralNetwork
{
public:
    // Sum at which a neuron's output is the middle of its range.
    static constexpr float SigmoidCentre = 0.0f;
    // Record sizes in slots.
    static constexpr int HeaderSize = 5;
    static constexpr int LayerRecordSize = 5;
    static constexpr int NeuronRecordSize = 11;
    static constexpr int SynapseRecordSize = 3;
    static constexpr int DendriteRecordSize = 5;
    static constexpr int IntervalRecordSize = 4;
    // Most training passes of one Train call.
    static constexpr int MaxTrainPasses = 12;
    // Largest layer that ConnectLayers accepts: connections name neurons with 16-bit signed indexes.
    static constexpr int MaxLayerNeurons = 32767;

    // Seeds the start-weight generator from the clock; creates an empty store.
    TNeuralNetwork();
    ~TNeuralNetwork();
    TNeuralNetwork(const TNeuralNetwork&) = delete;
    TNeuralNetwork& operator=(const TNeuralNetwork&) = delete;

    std::unique_ptr<TLayers> Layers;
    std::unique_ptr<TMMFArray> Store;

    // Seeds the generator of RandomizeWeights, for reproducible start weights.
    void SeedRandom(uint32_t seed);
    // A number that no other network of this process has had; a fresh store (Reset, BuildStore) takes a new
    // one. Lets a helper that keeps figures about a network tell when they belong to another.
    uint64_t Serial() const { return serial; }

    // Frees the store (and its file), makes a fresh empty one and removes every layer.
    void Reset();
    // Connects every neuron of each layer to every neuron of the next.
    void ConnectLayers();
    // Lays the description out in Store. Throws TMMFError when the store cannot be sized; the
    // network then has no store: every accessor and operation throws TEngineError("The network
    // has no store") until BuildStore succeeds or Reset runs.
    void BuildStore();

    // Recall. Activate, InverseActivate, ComputeNeuron, Propagate and RandomizeWeights throw
    // TEngineError("Invalid floating point operation") for a neuron with dendrites whose range
    // is empty (or whose level count is 0) instead of computing NaN.

    // Interval of the dendrite's table that holds x: values below the source's range go to the
    // first, values at or above its top to the last. 0 for a dendrite without intervals.
    uint16_t IntervalOf(uint16_t layer, uint16_t neuron, uint16_t dendrite, float x);
    uint16_t CurrentInterval(uint16_t layer, uint16_t neuron, uint16_t dendrite);
    // Weight of the interval that holds x; 0 for a dendrite without intervals.
    float WeightFor(uint16_t layer, uint16_t neuron, uint16_t dendrite, float x);
    // Output of the neuron from its input and its dendrites' weights; writes its Net.
    float Activate(uint16_t layer, uint16_t neuron);
    // The sum that makes the neuron output y, after y is pulled a quarter interval inside the range.
    float InverseActivate(uint16_t layer, uint16_t neuron, float y);
    // Activates the neuron, stores its output and hands it to the dendrites it feeds.
    void ComputeNeuron(uint16_t layer, uint16_t neuron);
    // Computes every neuron layer by layer; targets below the last layer take the outputs.
    void Propagate();

    // Training.
    // Draws a start weight for every free interval record of layers 1 and up.
    void RandomizeWeights();
    // Shares the sum the neuron misses for its target among its free selected records.
    void AdjustWeights(uint16_t layer, uint16_t neuron);
    // Trains towards the targets set on the last layer; true when every output then lies in its
    // target's interval. With Commit, the selected records become used for good.
    bool Train(bool Commit);
    // Number of passes the last Train call ran.
    int TrainPasses() const { return trainPasses; }

    // Raw slot access: whole slots hold 32-bit signed integers bit-exactly, real slots
    // 32-bit floats. A slot outside the store throws TEngineError; the accessors below check
    // no index against any count, only that the slot they reach lies inside the store.
    int32_t GetWhole(uint32_t slot);
    void SetWhole(uint32_t slot, int32_t value);
    float GetReal(uint32_t slot);
    void SetReal(uint32_t slot, float value);

    // Header.
    uint16_t GetLayerCount();
    void SetLayerCount(uint16_t value);
    // Layer record.
    uint16_t GetNeuronCount(uint16_t layer);
    void SetNeuronCount(uint16_t layer, uint16_t value);
    int32_t GetNeuronBase(uint16_t layer);
    void SetNeuronBase(uint16_t layer, int32_t value);
    // Neuron record.
    uint16_t GetLevels(uint16_t layer, uint16_t neuron);
    void SetLevels(uint16_t layer, uint16_t neuron, uint16_t value);
    float GetUpper(uint16_t layer, uint16_t neuron);
    void SetUpper(uint16_t layer, uint16_t neuron, float value);
    float GetLower(uint16_t layer, uint16_t neuron);
    void SetLower(uint16_t layer, uint16_t neuron, float value);
    float GetInput(uint16_t layer, uint16_t neuron);
    void SetInput(uint16_t layer, uint16_t neuron, float value);
    float GetOutput(uint16_t layer, uint16_t neuron);
    void SetOutput(uint16_t layer, uint16_t neuron, float value);
    float GetTarget(uint16_t layer, uint16_t neuron);
    void SetTarget(uint16_t layer, uint16_t neuron, float value);
    uint16_t GetDendriteCount(uint16_t layer, uint16_t neuron);
    void SetDendriteCount(uint16_t layer, uint16_t neuron, uint16_t value);
    int32_t GetDendriteBase(uint16_t layer, uint16_t neuron);
    void SetDendriteBase(uint16_t layer, uint16_t neuron, int32_t value);
    uint16_t GetSynapseCount(uint16_t layer, uint16_t neuron);
    void SetSynapseCount(uint16_t layer, uint16_t neuron, uint16_t value);
    int32_t GetSynapseBase(uint16_t layer, uint16_t neuron);
    void SetSynapseBase(uint16_t layer, uint16_t neuron, int32_t value);
    float GetNet(uint16_t layer, uint16_t neuron);
    void SetNet(uint16_t layer, uint16_t neuron, float value);
    // Synapse record.
    int32_t GetSynapseLayer(uint16_t layer, uint16_t neuron, uint16_t synapse);
    void SetSynapseLayer(uint16_t layer, uint16_t neuron, uint16_t synapse, int32_t value);
    int32_t GetSynapseNeuron(uint16_t layer, uint16_t neuron, uint16_t synapse);
    void SetSynapseNeuron(uint16_t layer, uint16_t neuron, uint16_t synapse, int32_t value);
    int32_t GetSynapseDendrite(uint16_t layer, uint16_t neuron, uint16_t synapse);
    void SetSynapseDendrite(uint16_t layer, uint16_t neuron, uint16_t synapse, int32_t value);
    // Dendrite record.
    int32_t GetSourceLayer(uint16_t layer, uint16_t neuron, uint16_t dendrite);
    void SetSourceLayer(uint16_t layer, uint16_t neuron, uint16_t dendrite, int32_t value);
    int32_t GetSourceNeuron(uint16_t layer, uint16_t neuron, uint16_t dendrite);
    void SetSourceNeuron(uint16_t layer, uint16_t neuron, uint16_t dendrite, int32_t value);
    float GetDendriteInput(uint16_t layer, uint16_t neuron, uint16_t dendrite);
    void SetDendriteInput(uint16_t layer, uint16_t neuron, uint16_t dendrite, float value);
    uint16_t GetIntervalCount(uint16_t layer, uint16_t neuron, uint16_t dendrite);
    void SetIntervalCount(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t value);
    int32_t GetIntervalBase(uint16_t layer, uint16_t neuron, uint16_t dendrite);
    void SetIntervalBase(uint16_t layer, uint16_t neuron, uint16_t dendrite, int32_t value);
    // Interval record.
    float GetCentre(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval);
    void SetCentre(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval, float value);
    float GetWeight(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval);
    void SetWeight(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval, float value);
    uint16_t GetHits(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval);
    void SetHits(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval, uint16_t value);

private:
    // Throws TEngineError unless slots slot to slot + width - 1 lie inside the store.
    void CheckSlots(uint32_t slot, uint32_t width);
    // Throws TEngineError when a layer's neurons or a neuron's synapses or dendrites would lie
    // outside the store (possible only in a store edited through the accessors).
    void CheckRecords();
    // Record of a neuron that exists; throws TEngineError for any other address.
    uint32_t ExistingNeuronSlot(uint16_t layer, uint16_t neuron);
    uint32_t NeuronSlot(uint16_t layer, uint16_t neuron);
    uint32_t SynapseSlot(uint16_t layer, uint16_t neuron, uint16_t synapse);
    uint32_t DendriteSlot(uint16_t layer, uint16_t neuron, uint16_t dendrite);
    uint32_t IntervalSlot(uint16_t layer, uint16_t neuron, uint16_t dendrite, uint16_t interval);

    std::mt19937 random;
    int trainPasses = 0;
    uint64_t serial;
};
