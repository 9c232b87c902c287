#include "app/StoreLayout.h"

#include <algorithm>
#include <cstring>

namespace {

using TNetwork = TNeuralNetwork;

uint32_t Whole(uint64_t value)
{
    return uint32_t(int32_t(value));
}

// A real slot holds the double narrowed to a 32-bit float, as BuildStore stores it.
uint32_t Real(double value)
{
    const float narrowed = static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &narrowed, sizeof bits);
    return bits;
}

uint32_t SlotAt(const char* bytes, uint64_t index)
{
    uint32_t value;
    std::memcpy(&value, bytes + index * 4, sizeof value);
    return value;
}

constexpr uint32_t LargestRecord = TNetwork::HeaderSize + 2 * TNetwork::LayerRecordSize;

} // namespace

TStoreLayout::TStoreLayout(const TNetworkShape& shape)
    : inputs(uint64_t(shape.InputCount))
    , outputs(uint64_t(shape.OutputCount))
    , inputLevels(shape.InputLevels())
    , outputLevels(shape.OutputLevels())
    , inputUpper(Real(shape.InputUpper))
    , inputLower(Real(shape.InputLower))
    , outputUpper(Real(shape.OutputUpper))
    , outputLower(Real(shape.OutputLower))
{
    // BuildStore's order: header and layer records, every neuron record, the synapses of each neuron in
    // turn, then their dendrites, then the dendrites' interval tables.
    const uint64_t neuronsAt = header.size();
    outputNeuronsAt = neuronsAt + inputs * TNetwork::NeuronRecordSize;
    synapsesAt = neuronsAt + (inputs + outputs) * TNetwork::NeuronRecordSize;
    dendritesAt = synapsesAt + inputs * outputs * TNetwork::SynapseRecordSize;
    intervalsAt = dendritesAt + outputs * inputs * TNetwork::DendriteRecordSize;
    const uint64_t end = intervalsAt + outputs * inputs * inputLevels * TNetwork::IntervalRecordSize;

    // A count of 0 leaves its base at 0 too, here and in the neuron records.
    header[0] = 2;
    header[TNetwork::HeaderSize] = Whole(inputs);
    header[TNetwork::HeaderSize + 1] = inputs ? Whole(neuronsAt) : 0;
    header[TNetwork::HeaderSize + TNetwork::LayerRecordSize] = Whole(outputs);
    header[TNetwork::HeaderSize + TNetwork::LayerRecordSize + 1] = outputs ? Whole(outputNeuronsAt) : 0;

    // Every dendrite listens to an input neuron: all tables have the same centres.
    const double width = (shape.InputUpper - shape.InputLower) / inputLevels;
    for (uint32_t r = 0; r < inputLevels; ++r) {
        centres.push_back(Real(shape.InputLower + width / 2 + r * width));
        // A whole table: the centre and the reserved slot of each record are fixed.
        tableValues.insert(tableValues.end(), { centres.back(), 0, 0, 0 });
        tableMask.insert(tableMask.end(), { ~0u, 0, 0, ~0u });
    }

    regions = {
        { TKind::Header, 0, neuronsAt, uint32_t(neuronsAt), (1u << neuronsAt) - 1, 1 },
        // levels, upper, lower, dendrite count and base, synapse count and base
        { TKind::Neurons, neuronsAt, synapsesAt, TNetwork::NeuronRecordSize, 0b01111000111,
            inputs + outputs },
        // target layer, neuron and dendrite; grouped by input neuron
        { TKind::Synapses, synapsesAt, dendritesAt, TNetwork::SynapseRecordSize, 0b111,
            std::max<uint64_t>(outputs, 1) },
        // source layer and neuron, interval count and base; grouped by output neuron
        { TKind::Dendrites, dendritesAt, intervalsAt, TNetwork::DendriteRecordSize, 0b11011,
            std::max<uint64_t>(inputs, 1) },
        // centre and the reserved slot; grouped by table
        { TKind::Intervals, intervalsAt, end, TNetwork::IntervalRecordSize, 0b1001, inputLevels },
    };
}

void TStoreLayout::RecordValues(
    const TRegion& region, uint64_t group, uint64_t member, uint32_t* values) const
{
    switch (region.Kind) {
    case TKind::Header:
        std::copy(header.begin(), header.end(), values);
        break;
    case TKind::Neurons:
        if (member < inputs) {
            values[0] = inputLevels;
            values[1] = inputUpper;
            values[2] = inputLower;
            values[6] = 0;
            values[7] = 0;
            values[8] = Whole(outputs);
            values[9] = outputs ? Whole(synapsesAt + member * outputs * TNetwork::SynapseRecordSize) : 0;
        } else {
            values[0] = outputLevels;
            values[1] = outputUpper;
            values[2] = outputLower;
            values[6] = Whole(inputs);
            values[7]
                = inputs ? Whole(dendritesAt + (member - inputs) * inputs * TNetwork::DendriteRecordSize) : 0;
            values[8] = 0;
            values[9] = 0;
        }
        break;
    case TKind::Synapses:
        values[0] = 1;
        values[1] = Whole(member);
        values[2] = Whole(group);
        break;
    case TKind::Dendrites:
        values[0] = 0;
        values[1] = Whole(member);
        values[3] = inputLevels;
        values[4]
            = Whole(intervalsAt + (group * inputs + member) * inputLevels * TNetwork::IntervalRecordSize);
        break;
    case TKind::Intervals:
        values[0] = centres[member];
        values[3] = 0;
        break;
    }
}

bool TStoreLayout::TableMatches(const char* bytes) const
{
    // No early exit: a loop the compiler turns into vector instructions.
    uint32_t differences = 0;
    for (size_t i = 0; i < tableValues.size(); ++i)
        differences |= (SlotAt(bytes, i) ^ tableValues[i]) & tableMask[i];
    return differences == 0;
}

uint64_t TStoreLayout::StrangeSlotIn(
    const TRegion& region, const char* bytes, uint64_t first, uint64_t begin, uint64_t end) const
{
    const uint64_t offset = begin - region.Begin;
    uint32_t k = uint32_t(offset % region.RecordSize);
    const uint64_t record = offset / region.RecordSize;
    uint64_t group = record / region.GroupSize;
    uint64_t member = record % region.GroupSize;
    uint32_t values[LargestRecord] = {};
    RecordValues(region, group, member, values);
    for (uint64_t slot = begin; slot < end;) {
        if (region.Kind == TKind::Intervals && k == 0) {
            // The bulk of the store: whole tables at once where they start here, else record by record
            // (and so also to find the slot of a table that does not match).
            for (;;) {
                if (member == 0) {
                    while (slot + tableValues.size() <= end && TableMatches(bytes + (slot - first) * 4))
                        slot += tableValues.size();
                }
                if (slot + TNetwork::IntervalRecordSize > end)
                    break;
                if (SlotAt(bytes, slot - first) != centres[member])
                    return slot;
                if (SlotAt(bytes, slot - first + 3) != 0)
                    return slot + 3;
                slot += TNetwork::IntervalRecordSize;
                if (++member == region.GroupSize)
                    member = 0;
            }
            RecordValues(region, group, member, values);
            if (slot == end)
                break;
        }
        if ((region.FixedMask >> k & 1u) && SlotAt(bytes, slot - first) != values[k])
            return slot;
        ++slot;
        if (++k == region.RecordSize) {
            k = 0;
            if (++member == region.GroupSize) {
                member = 0;
                ++group;
            }
            RecordValues(region, group, member, values);
        }
    }
    return NoSlot;
}

uint64_t TStoreLayout::FirstStrangeSlot(const char* bytes, uint64_t first, uint64_t count) const
{
    for (const TRegion& region : regions) {
        const uint64_t begin = std::max(region.Begin, first);
        const uint64_t end = std::min(region.End, first + count);
        if (begin >= end)
            continue;
        const uint64_t strange = StrangeSlotIn(region, bytes, first, begin, end);
        if (strange != NoSlot)
            return strange;
    }
    return NoSlot;
}
