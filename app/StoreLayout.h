#pragma once

// What the layout of a store fixes: the slots that BuildStore writes from the network's description (counts,
// offsets, links, ranges, interval centres) and the reserved slots it leaves at 0, with their values, for a
// network of a TNetworkShape. The other slots are what the network learnt and last computed. A store read
// from a file must hold exactly these values; they are worked out from the shape, record by record, so that
// a whole store can be checked piece by piece as it streams past, without laying out a second one.

#include "app/MemoProcessor.h"

#include <array>
#include <cstdint>
#include <vector>

class TStoreLayout
{
public:
    static constexpr uint64_t NoSlot = ~uint64_t(0);

    explicit TStoreLayout(const TNetworkShape& shape);

    // The first of the `count` slots from `first` on whose value differs from the one the layout fixes, or
    // NoSlot. `bytes` holds those slots (4 bytes each, in the store's byte order).
    uint64_t FirstStrangeSlot(const char* bytes, uint64_t first, uint64_t count) const;

private:
    enum class TKind { Header, Neurons, Synapses, Dendrites, Intervals };
    // Records of one kind, one after the other. A record's number is Group x GroupSize + Member (the
    // input neuron and the synapse's target, say), so that its values follow without a division each.
    struct TRegion
    {
        TKind Kind;
        uint64_t Begin, End; // slots
        uint32_t RecordSize;
        uint32_t FixedMask; // bit k: slot k of every record is fixed
        uint64_t GroupSize;
    };
    // The fixed values of a record (only the slots of the region's mask are set).
    void RecordValues(const TRegion& region, uint64_t group, uint64_t member, uint32_t* values) const;
    // Whether the slots of one whole interval table hold what the layout fixes.
    bool TableMatches(const char* bytes) const;
    uint64_t StrangeSlotIn(
        const TRegion& region, const char* bytes, uint64_t first, uint64_t begin, uint64_t end) const;

    uint64_t inputs, outputs;
    uint32_t inputLevels, outputLevels;
    uint32_t inputUpper, inputLower, outputUpper, outputLower; // as stored: 32-bit floats
    uint64_t outputNeuronsAt, synapsesAt, dendritesAt, intervalsAt;
    std::vector<uint32_t> centres; // of one dendrite's table: every input has the same range and levels
    std::vector<uint32_t> tableValues, tableMask; // of all slots of such a table
    std::array<uint32_t, TNeuralNetwork::HeaderSize + 2 * TNeuralNetwork::LayerRecordSize> header {};
    std::vector<TRegion> regions;
};
