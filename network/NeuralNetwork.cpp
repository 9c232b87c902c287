#include "network/NeuralNetwork.h"

#include "network/StoreView.h"

#include <algorithm>
#include <atomic>
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
{ }

TDendrit::TDendrit(TDendrites* collection)
    : Collection(collection)
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

TLayer::TLayer(TLayers* collection)
    : Collection(collection)
    , Neurons(std::make_unique<TNeurons>())
    , Network(collection ? collection->Network : nullptr)
{
    Neurons->SetNetwork(Network);
}

void TLayers::SetNetwork(TNeuralNetwork* network)
{
    Network = network;
    for (int i = 0; i < Count(); ++i) {
        TLayer* layer = Items(i);
        layer->Network = network;
        layer->Neurons->SetNetwork(network);
    }
}

// ---------------------------------------------------------------------------------------------
// Network

namespace {
uint64_t NewSerial()
{
    static std::atomic<uint64_t> last { 0 };
    return ++last;
}
} // namespace

TNeuralNetwork::TNeuralNetwork()
    : Layers(std::make_unique<TLayers>())
    , Store(std::make_unique<TMMFArray>())
    , random(static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()))
    , serial(NewSerial())
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
    serial = NewSerial();
    Store.reset();
    Store = std::make_unique<TMMFArray>();
    Store->SetDataType(TMMFArray::Float32);
    Layers->SetCount(0);
}

using namespace StoreView;

namespace {

// Number of source levels of a dendrite of the description: 0 when it names no neuron.
uint16_t SourceLevels(const TLayers& layers, const TDendrit& dendrit)
{
    const TConnect& connect = dendrit.Connect;
    if (connect.LayerIndex < 0 || connect.LayerIndex >= layers.Count() || connect.NeuronIndex < 0)
        return 0;
    const TNeurons& neurons = *layers.Items(connect.LayerIndex)->Neurons;
    if (connect.NeuronIndex >= neurons.Count())
        return 0;
    return neurons.Items(connect.NeuronIndex)->LevelCount;
}

} // namespace

void TNeuralNetwork::ConnectLayers()
{
    const int layerCount = Layers->Count();
    if (layerCount <= 1)
        return;
    // Connections hold 16-bit signed indexes; larger layers could not be named.
    for (int i = 0; i < layerCount; ++i)
        if (Layers->Items(i)->Neurons->Count() > MaxLayerNeurons)
            throw TEngineError("A layer holds at most " + std::to_string(MaxLayerNeurons) + " neurons");
    for (int i = 0; i + 1 < layerCount; ++i) {
        TNeurons& lower = *Layers->Items(i)->Neurons;
        TNeurons& upper = *Layers->Items(i + 1)->Neurons;
        const int p = lower.Count();
        const int q = upper.Count();
        if (p == 0 || q == 0)
            return;
        for (int j = 0; j < p; ++j) {
            TSynapses& synapses = *lower.Items(j)->Synapses;
            synapses.SetCount(q);
            for (int m = 0; m < q; ++m) {
                TConnect& connect = synapses.Items(m)->Connect;
                connect.SetLayerIndex(static_cast<int16_t>(i + 1));
                connect.SetNeuronIndex(static_cast<int16_t>(m));
                connect.SetDendriteIndex(static_cast<int16_t>(j));
            }
        }
        for (int k = 0; k < q; ++k) {
            TDendrites& dendrites = *upper.Items(k)->Dendrites;
            dendrites.SetCount(p);
            for (int m = 0; m < p; ++m) {
                TDendrit& dendrit = *dendrites.Items(m);
                dendrit.LevelCount = lower.Items(m)->LevelCount;
                dendrit.Connect.SetLayerIndex(static_cast<int16_t>(i));
                dendrit.Connect.SetNeuronIndex(static_cast<int16_t>(m));
                dendrit.Connect.SetDendriteIndex(-1);
            }
        }
    }
}

void TNeuralNetwork::BuildStore()
{
    const int layerCount = Layers->Count();
    if (layerCount <= 1)
        return;

    uint64_t length = HeaderSize + uint64_t(LayerRecordSize) * layerCount;
    bool fits = layerCount <= 0xFFFF;
    for (int i = 0; i < layerCount; ++i) {
        const TNeurons& neurons = *Layers->Items(i)->Neurons;
        fits = fits && neurons.Count() <= 0xFFFF;
        for (int j = 0; j < neurons.Count(); ++j) {
            const TNeurone& neurone = *neurons.Items(j);
            const int synapses = neurone.Synapses->Count();
            const int dendrites = neurone.Dendrites->Count();
            fits = fits && synapses <= 0xFFFF && dendrites <= 0xFFFF;
            length += NeuronRecordSize + uint64_t(SynapseRecordSize) * synapses
                + uint64_t(DendriteRecordSize) * dendrites;
            for (int d = 0; d < dendrites; ++d)
                length += uint64_t(IntervalRecordSize) * SourceLevels(*Layers, *neurone.Dendrites->Items(d));
        }
    }
    // Offsets are 32-bit signed slots.
    if (!fits || length > 0x7FFFFFFF)
        throw TEngineError("The network is too large for its store");

    serial = NewSerial();
    // A store laid out before is dropped, so that every slot starts at 0.
    if (Store->Count() != 0)
        Store->SetCount(0);
    Store->SetCount(static_cast<uint32_t>(length));
    const TSlots v = SlotsOf(*Store);

    v.PutW(0, layerCount);
    uint32_t cursor = HeaderSize + LayerRecordSize * uint32_t(layerCount);
    std::vector<uint32_t> neuronBase(static_cast<size_t>(layerCount), 0);
    for (int i = 0; i < layerCount; ++i) {
        const int n = Layers->Items(i)->Neurons->Count();
        if (n <= 0)
            continue;
        const uint32_t layerSlot = HeaderSize + LayerRecordSize * uint32_t(i);
        v.PutW(layerSlot, n);
        v.PutW(layerSlot + 1, static_cast<int32_t>(cursor));
        neuronBase[size_t(i)] = cursor;
        cursor += NeuronRecordSize * uint32_t(n);
    }
    for (int i = 0; i < layerCount; ++i) {
        const TNeurons& neurons = *Layers->Items(i)->Neurons;
        for (int j = 0; j < neurons.Count(); ++j) {
            const TNeurone& neurone = *neurons.Items(j);
            const uint32_t slot = neuronBase[size_t(i)] + NeuronRecordSize * uint32_t(j);
            v.PutR(slot + 1, static_cast<float>(neurone.UpperBound));
            v.PutR(slot + 2, static_cast<float>(neurone.LowerBound));
            v.PutW(slot, neurone.LevelCount);
            const int synapses = neurone.Synapses->Count();
            if (synapses > 0) {
                v.PutW(slot + 8, synapses);
                v.PutW(slot + 9, static_cast<int32_t>(cursor));
                cursor += SynapseRecordSize * uint32_t(synapses);
            }
        }
    }
    for (int i = 0; i < layerCount; ++i) {
        const TNeurons& neurons = *Layers->Items(i)->Neurons;
        for (int j = 0; j < neurons.Count(); ++j) {
            const int dendrites = neurons.Items(j)->Dendrites->Count();
            if (dendrites > 0) {
                const uint32_t slot = neuronBase[size_t(i)] + NeuronRecordSize * uint32_t(j);
                v.PutW(slot + 6, dendrites);
                v.PutW(slot + 7, static_cast<int32_t>(cursor));
                cursor += DendriteRecordSize * uint32_t(dendrites);
            }
        }
    }
    for (int i = 0; i < layerCount; ++i) {
        const TNeurons& neurons = *Layers->Items(i)->Neurons;
        for (int j = 0; j < neurons.Count(); ++j) {
            const TNeurone& neurone = *neurons.Items(j);
            const uint32_t slot = neuronBase[size_t(i)] + NeuronRecordSize * uint32_t(j);
            for (int d = 0; d < neurone.Dendrites->Count(); ++d) {
                const uint16_t c = SourceLevels(*Layers, *neurone.Dendrites->Items(d));
                if (c > 0) {
                    const uint32_t dendrite = v.DendriteAt(slot, uint32_t(d));
                    v.PutW(dendrite + 3, c);
                    v.PutW(dendrite + 4, static_cast<int32_t>(cursor));
                    cursor += IntervalRecordSize * uint32_t(c);
                }
            }
        }
    }
    for (int i = 0; i < layerCount; ++i) {
        const TNeurons& neurons = *Layers->Items(i)->Neurons;
        for (int j = 0; j < neurons.Count(); ++j) {
            const TNeurone& neurone = *neurons.Items(j);
            const uint32_t slot = neuronBase[size_t(i)] + NeuronRecordSize * uint32_t(j);
            uint32_t synapse = static_cast<uint32_t>(v.W(slot + 9));
            for (int s = 0; s < neurone.Synapses->Count(); ++s, synapse += SynapseRecordSize) {
                const TConnect& connect = neurone.Synapses->Items(s)->Connect;
                v.PutW(synapse, connect.LayerIndex);
                v.PutW(synapse + 1, connect.NeuronIndex);
                v.PutW(synapse + 2, connect.DendriteIndex);
            }
            for (int d = 0; d < neurone.Dendrites->Count(); ++d) {
                const TDendrit& dendrit = *neurone.Dendrites->Items(d);
                const uint32_t dendrite = v.DendriteAt(slot, uint32_t(d));
                v.PutW(dendrite, dendrit.Connect.LayerIndex);
                v.PutW(dendrite + 1, dendrit.Connect.NeuronIndex);
                const uint16_t c = SourceLevels(*Layers, dendrit);
                if (c == 0)
                    continue;
                const TNeurone& source
                    = *Layers->Items(dendrit.Connect.LayerIndex)->Neurons->Items(dendrit.Connect.NeuronIndex);
                const double w = (source.UpperBound - source.LowerBound) / c;
                uint32_t interval = static_cast<uint32_t>(v.W(dendrite + 4));
                for (uint32_t r = 0; r < c; ++r, interval += IntervalRecordSize)
                    v.PutR(interval, static_cast<float>(source.LowerBound + w / 2 + r * w));
            }
        }
    }
}

uint16_t TNeuralNetwork::IntervalOf(uint16_t layer, uint16_t neuron, uint16_t dendrite, float x)
{
    const TSlots v = SlotsOf(*Store);
    const uint32_t slot = DendriteSlot(layer, neuron, dendrite);
    CheckSlots(slot, DendriteRecordSize);
    TWidthCache widths;
    uint32_t record;
    if (!SelectRecord(v, slot, x, record, widths))
        return 0;
    return static_cast<uint16_t>((record - static_cast<uint32_t>(v.W(slot + 4))) / IntervalRecordSize);
}

uint16_t TNeuralNetwork::CurrentInterval(uint16_t layer, uint16_t neuron, uint16_t dendrite)
{
    return IntervalOf(layer, neuron, dendrite, GetDendriteInput(layer, neuron, dendrite));
}

float TNeuralNetwork::WeightFor(uint16_t layer, uint16_t neuron, uint16_t dendrite, float x)
{
    const TSlots v = SlotsOf(*Store);
    const uint32_t slot = DendriteSlot(layer, neuron, dendrite);
    CheckSlots(slot, DendriteRecordSize);
    uint32_t record;
    TWidthCache widths;
    return SelectRecord(v, slot, x, record, widths) ? v.R(record + 1) : 0.0f;
}

float TNeuralNetwork::Activate(uint16_t layer, uint16_t neuron)
{
    return ActivateAt(SlotsOf(*Store), ExistingNeuronSlot(layer, neuron));
}

float TNeuralNetwork::InverseActivate(uint16_t layer, uint16_t neuron, float y)
{
    return InverseActivateAt(SlotsOf(*Store), ExistingNeuronSlot(layer, neuron), y);
}

void TNeuralNetwork::ComputeNeuron(uint16_t layer, uint16_t neuron)
{
    ComputeAt(SlotsOf(*Store), ExistingNeuronSlot(layer, neuron));
}

void TNeuralNetwork::CheckRecords()
{
    const TSlots v = SlotsOf(*Store);
    const uint16_t layerCount = GetLayerCount();
    if (layerCount == 0)
        return;
    CheckSlots(HeaderSize, LayerRecordSize * uint32_t(layerCount));
    for (uint32_t i = 0; i < layerCount; ++i) {
        const uint16_t count = v.W16(HeaderSize + LayerRecordSize * i);
        if (count == 0)
            continue;
        uint32_t slot = v.NeuronAt(i, 0);
        CheckSlots(slot, NeuronRecordSize * uint32_t(count));
        for (uint32_t j = 0; j < count; ++j, slot += NeuronRecordSize) {
            if (const uint16_t synapses = v.W16(slot + 8))
                CheckSlots(static_cast<uint32_t>(v.W(slot + 9)), SynapseRecordSize * uint32_t(synapses));
            if (const uint16_t dendrites = v.W16(slot + 6))
                CheckSlots(static_cast<uint32_t>(v.W(slot + 7)), DendriteRecordSize * uint32_t(dendrites));
        }
    }
}

void TNeuralNetwork::Propagate()
{
    CheckRecords();
    const uint16_t layerCount = GetLayerCount();
    const TSlots v = SlotsOf(*Store);
    for (uint32_t i = 0; i < layerCount; ++i) {
        const uint16_t count = v.W16(HeaderSize + LayerRecordSize * i);
        if (count == 0)
            continue;
        uint32_t slot = v.NeuronAt(i, 0);
        for (uint32_t j = 0; j < count; ++j, slot += NeuronRecordSize) {
            ComputeAt(v, slot);
            if (i + 1 < layerCount)
                v.PutR(slot + 5, v.R(slot + 4));
        }
    }
}

void TNeuralNetwork::RandomizeWeights()
{
    const uint16_t layerCount = GetLayerCount();
    if (layerCount <= 1)
        return;
    CheckRecords();
    const TSlots v = SlotsOf(*Store);
    for (uint32_t i = 1; i < layerCount; ++i) {
        const uint16_t count = v.W16(HeaderSize + LayerRecordSize * i);
        for (uint32_t j = 0; j < count; ++j) {
            const uint32_t slot = v.NeuronAt(i, j);
            const uint16_t dendrites = v.W16(slot + 6);
            if (dendrites == 0)
                continue;
            const float lo = InverseActivateAt(v, slot, v.R(slot + 2));
            const float hi = InverseActivateAt(v, slot, v.R(slot + 1));
            const double span = double(hi) - double(lo);
            for (uint32_t d = 0; d < dendrites; ++d) {
                const uint32_t dendrite = v.DendriteAt(slot, d);
                const uint16_t intervals = TableSize(v, dendrite);
                uint32_t record = static_cast<uint32_t>(v.W(dendrite + 4));
                for (uint32_t r = 0; r < intervals; ++r, record += IntervalRecordSize) {
                    if (!IsFree(v, record))
                        continue;
                    const double u = random() * (1.0 / 4294967296.0);
                    v.PutR(record + 1, static_cast<float>((lo + u * span) / dendrites));
                }
            }
        }
    }
}

void TNeuralNetwork::AdjustWeights(uint16_t layer, uint16_t neuron)
{
    const TSlots v = SlotsOf(*Store);
    const uint32_t slot = ExistingNeuronSlot(layer, neuron);
    const TCurve curve(v, slot);
    const double target = curve.PullIn(v.R(slot + 5));
    const uint16_t dendrites = v.W16(slot + 6);
    if (dendrites == 0 || curve.Compare(v.R(slot + 4)) == curve.Compare(target))
        return;
    const double want = InverseActivateAt(v, slot, static_cast<float>(target));
    const double delta = want - double(v.R(slot + 10));
    // The free selected records, found once: the weights are shared among them.
    std::vector<uint32_t> free;
    free.reserve(dendrites);
    ForSelectedRecords(v, slot, dendrites, [&](uint32_t, uint32_t, uint32_t record, bool hasRecord) {
        if (hasRecord && IsFree(v, record))
            free.push_back(record);
    });
    if (free.empty())
        return;
    const double share = delta / double(free.size());
    for (const uint32_t record : free)
        v.PutR(record + 1, static_cast<float>(double(v.R(record + 1)) + share));
}

bool TNeuralNetwork::Train(bool Commit)
{
    trainPasses = 0;
    const uint16_t layerCount = GetLayerCount();
    if (layerCount <= 1)
        return false;

    // One flag per neuron of layers 1 and up: a dendrite has a free record at its current interval.
    std::vector<std::vector<uint8_t>> freeTable(layerCount);
    std::vector<std::pair<uint16_t, double>> requests;
    std::vector<uint8_t> requested;

    for (int pass = 0;; ++pass) {
        bool changed = false;
        Propagate();
        ++trainPasses;
        const TSlots v = SlotsOf(*Store);

        bool anyFree = false;
        TWidthCache widths;
        for (uint32_t i = 1; i < layerCount; ++i) {
            const uint16_t count = v.W16(HeaderSize + LayerRecordSize * i);
            freeTable[i].assign(count, 0);
            for (uint32_t j = 0; j < count; ++j) {
                const uint32_t slot = v.NeuronAt(i, j);
                const uint16_t dendrites = v.W16(slot + 6);
                for (uint32_t d = 0; d < dendrites; ++d) {
                    const uint32_t dendrite = v.DendriteAt(slot, d);
                    uint32_t record;
                    if (SelectRecord(v, dendrite, v.R(dendrite + 2), record, widths) && IsFree(v, record)) {
                        freeTable[i][j] = 1;
                        anyFree = true;
                        break;
                    }
                }
            }
        }
        if (!anyFree)
            return false;

        for (uint32_t i = layerCount - 1u; i >= 1; --i) {
            const uint16_t count = v.W16(HeaderSize + LayerRecordSize * i);
            const uint16_t below = v.W16(HeaderSize + LayerRecordSize * (i - 1));
            requests.clear();
            requested.assign(below, 0);
            for (uint32_t j = 0; j < count; ++j) {
                const uint32_t slot = v.NeuronAt(i, j);
                const TCurve curve(v, slot);
                if (curve.Compare(v.R(slot + 4)) == curve.Compare(curve.PullIn(v.R(slot + 5))))
                    continue;
                if (freeTable[i][j]) {
                    try {
                        AdjustWeights(uint16_t(i), uint16_t(j));
                    } catch (const TEngineError&) {
                        // An arithmetic fault of one neuron does not stop the training of the others.
                    }
                    continue;
                }
                const uint16_t dendrites = v.W16(slot + 6);
                if (dendrites == 0)
                    continue;
                bool served = false;
                for (uint32_t d = 0; d < dendrites && !served && !requests.empty(); ++d) {
                    const uint32_t dendrite = v.DendriteAt(slot, d);
                    const int32_t sourceNeuron = v.W(dendrite + 1);
                    served = v.W(dendrite) == int32_t(i - 1) && sourceNeuron >= 0 && sourceNeuron < below
                        && requested[size_t(sourceNeuron)];
                }
                for (uint32_t d = 0; d < dendrites && !served; ++d) {
                    const uint32_t dendrite = v.DendriteAt(slot, d);
                    const uint16_t intervals = TableSize(v, dendrite);
                    uint32_t record = static_cast<uint32_t>(v.W(dendrite + 4));
                    for (uint32_t r = 0; r < intervals; ++r, record += IntervalRecordSize) {
                        if (IsFree(v, record)) {
                            const uint16_t source = static_cast<uint16_t>(v.W(dendrite + 1));
                            requests.emplace_back(source, v.R(record));
                            if (source < below)
                                requested[source] = 1;
                            served = true;
                            break;
                        }
                    }
                }
                if (!served)
                    return false;
                changed = true;
            }
            // A request can only name a neuron of the layer below; any other index would write
            // outside that layer's records.
            for (const auto& [n, value] : requests)
                if (n < below)
                    SetTarget(uint16_t(i - 1), n, static_cast<float>(value));
        }
        if (!changed || pass > 10)
            break;
    }

    const uint16_t last = layerCount - 1u;
    const uint16_t outputs = GetNeuronCount(last);
    if (outputs == 0)
        return false;
    Propagate();
    const TSlots v = SlotsOf(*Store);
    for (uint32_t k = 0; k < outputs; ++k) {
        const uint32_t slot = v.NeuronAt(last, k);
        const TCurve curve(v, slot);
        if (curve.Compare(v.R(slot + 4)) != curve.Compare(v.R(slot + 5)))
            return false;
    }
    if (Commit) {
        for (uint32_t i = 1; i < layerCount; ++i) {
            const uint16_t count = v.W16(HeaderSize + LayerRecordSize * i);
            for (uint32_t j = 0; j < count; ++j) {
                const uint32_t slot = v.NeuronAt(i, j);
                ForSelectedRecords(
                    v, slot, v.W16(slot + 6), [&](uint32_t, uint32_t, uint32_t record, bool hasRecord) {
                        if (hasRecord)
                            v.PutW(record + 2, static_cast<uint16_t>(v.W16(record + 2) + 1));
                    });
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Slots and accessors

void TNeuralNetwork::CheckSlots(uint32_t slot, uint32_t width)
{
    if (HasNoView(*Store))
        ThrowNoStore();
    if (uint64_t(slot) + width > Store->Count())
        throw TEngineError("Slot " + std::to_string(slot) + " lies outside the network store");
}

uint32_t TNeuralNetwork::ExistingNeuronSlot(uint16_t layer, uint16_t neuron)
{
    if (layer >= GetLayerCount() || neuron >= GetNeuronCount(layer))
        throw TEngineError(
            "The network has no neuron " + std::to_string(neuron) + " in layer " + std::to_string(layer));
    const uint32_t slot = NeuronSlot(layer, neuron);
    CheckSlots(slot, NeuronRecordSize);
    if (const uint16_t synapses = GetWhole(slot + 8) & 0xFFFF)
        CheckSlots(static_cast<uint32_t>(GetWhole(slot + 9)), SynapseRecordSize * uint32_t(synapses));
    if (const uint16_t dendrites = GetWhole(slot + 6) & 0xFFFF)
        CheckSlots(static_cast<uint32_t>(GetWhole(slot + 7)), DendriteRecordSize * uint32_t(dendrites));
    return slot;
}

int32_t TNeuralNetwork::GetWhole(uint32_t slot)
{
    CheckSlots(slot, 1);
    int32_t value;
    std::memcpy(&value, Store->ItemPtr(slot), sizeof value);
    return value;
}

void TNeuralNetwork::SetWhole(uint32_t slot, int32_t value)
{
    CheckSlots(slot, 1);
    std::memcpy(Store->ItemPtr(slot), &value, sizeof value);
}

float TNeuralNetwork::GetReal(uint32_t slot)
{
    CheckSlots(slot, 1);
    float value;
    std::memcpy(&value, Store->ItemPtr(slot), sizeof value);
    return value;
}

void TNeuralNetwork::SetReal(uint32_t slot, float value)
{
    CheckSlots(slot, 1);
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
