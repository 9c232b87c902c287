#pragma once

// The engine's direct view of a laid-out store, shared by recall, training and rehearsal: raw slot access,
// interval look-ups and the curve of a neuron. Internal to network/.

#include "network/NeuralNetwork.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace StoreView {

[[noreturn]] inline void ThrowInvalidOperation()
{
    throw TEngineError("Invalid floating point operation");
}

// Direct view of the store's slots for the loops of recall and training. Every value still
// lives in the store; this only saves the per-access offset look-ups of the accessors.
struct TSlots
{
    float* s;
    uint32_t length;

    int32_t W(uint32_t i) const
    {
        int32_t value;
        std::memcpy(&value, s + i, sizeof value);
        return value;
    }
    uint16_t W16(uint32_t i) const { return static_cast<uint16_t>(W(i)); }
    void PutW(uint32_t i, int32_t value) const { std::memcpy(s + i, &value, sizeof value); }
    float R(uint32_t i) const { return s[i]; }
    void PutR(uint32_t i, float value) const { s[i] = value; }

    uint32_t NeuronAt(uint32_t layer, uint32_t neuron) const
    {
        return static_cast<uint32_t>(
                   W(TNeuralNetwork::HeaderSize + TNeuralNetwork::LayerRecordSize * layer + 1))
            + TNeuralNetwork::NeuronRecordSize * neuron;
    }
    uint32_t DendriteAt(uint32_t neuronSlot, uint32_t dendrite) const
    {
        return static_cast<uint32_t>(W(neuronSlot + 7)) + TNeuralNetwork::DendriteRecordSize * dendrite;
    }
};

// A store whose layout failed (a full disk) keeps its count but has no view: nothing may be
// read or written through it.
inline bool HasNoView(const TMMFArray& store)
{
    return store.Count() != 0 && !store.Mapped();
}

[[noreturn]] inline void ThrowNoStore()
{
    throw TEngineError("The network has no store");
}

// Checked once per operation, not per slot.
inline TSlots SlotsOf(TMMFArray& store)
{
    if (HasNoView(store))
        ThrowNoStore();
    return TSlots { static_cast<float*>(store.ItemPtr(0)), store.Count() };
}

// Interval of x in a range lo..hi cut into n intervals; values outside go to the end intervals.
// Width of the intervals of a range, kept for the next look-up: neighbouring dendrites
// usually listen to neurons of the same range, and this saves a division for each.
struct TWidthCache
{
    float lo = 0.0f;
    float hi = 0.0f;
    uint16_t n = 0;
    double width = 0.0;

    double Of(float lower, float upper, uint16_t count)
    {
        if (count != n || lower != lo || upper != hi) {
            lo = lower;
            hi = upper;
            n = count;
            width = (double(upper) - double(lower)) / count;
        }
        return width;
    }
};

[[gnu::always_inline]] inline uint16_t IntervalIndex(
    double x, float lo, float hi, uint16_t n, TWidthCache& widths)
{
    if (n == 0 || !(x >= lo))
        return 0;
    if (x >= hi)
        return static_cast<uint16_t>(n - 1);
    // lo <= x < hi here, so the quotient is not negative and truncation is the floor.
    const double r = (x - lo) / widths.Of(lo, hi, n);
    return r >= n - 1 ? static_cast<uint16_t>(n - 1) : static_cast<uint16_t>(static_cast<uint32_t>(r));
}

// The interval of the dendrite's table that holds x, or false when the dendrite has no table
// (no source or a source without levels), in which case it contributes nothing.
[[gnu::always_inline]] inline bool SelectRecord(
    const TSlots& v, uint32_t dendriteSlot, double x, uint32_t& record, TWidthCache& widths)
{
    const int32_t sourceLayer = v.W(dendriteSlot);
    const int32_t sourceNeuron = v.W(dendriteSlot + 1);
    const uint16_t count = v.W16(dendriteSlot + 3);
    const uint32_t base = static_cast<uint32_t>(v.W(dendriteSlot + 4));
    // Links and tables outside the store (only a hand-edited store has them) select nothing.
    if (count == 0 || sourceLayer < 0 || sourceNeuron < 0 || sourceLayer >= v.W16(0)
        || sourceNeuron
            >= v.W16(TNeuralNetwork::HeaderSize + TNeuralNetwork::LayerRecordSize * uint32_t(sourceLayer))
        || uint64_t(base) + uint64_t(TNeuralNetwork::IntervalRecordSize) * count > v.length)
        return false;
    const uint32_t source
        = v.NeuronAt(static_cast<uint32_t>(sourceLayer), static_cast<uint32_t>(sourceNeuron));
    const uint16_t r = IntervalIndex(x, v.R(source + 2), v.R(source + 1), count, widths);
    record = base + TNeuralNetwork::IntervalRecordSize * uint32_t(r);
    return true;
}

// Calls visit(d, dendriteSlot, record, hasRecord) for every dendrite of a neuron in order, with
// the record its current input selects. Records are looked up a fixed distance ahead and
// fetched into the cache early, so that the misses on the scattered interval tables overlap.
template <class TVisit>
inline void ForSelectedRecords(const TSlots& v, uint32_t neuronSlot, uint32_t dendrites, TVisit&& visit)
{
    constexpr uint32_t Ahead = 64; // a power of two
    constexpr uint32_t None = 0xFFFFFFFFu;
    uint32_t ring[Ahead];
    const uint32_t first = static_cast<uint32_t>(v.W(neuronSlot + 7));
    TWidthCache widths;
    auto lookUp = [&](uint32_t d) {
        const uint32_t dendrite = first + TNeuralNetwork::DendriteRecordSize * d;
        uint32_t record;
        if (!SelectRecord(v, dendrite, v.R(dendrite + 2), record, widths))
            return None;
        __builtin_prefetch(v.s + record + 1, 0, 1);
        return record;
    };
    const uint32_t primed = std::min(Ahead, dendrites);
    for (uint32_t d = 0; d < primed; ++d)
        ring[d] = lookUp(d);
    for (uint32_t d = 0; d < dendrites; ++d) {
        const uint32_t record = ring[d & (Ahead - 1)];
        if (d + Ahead < dendrites)
            ring[d & (Ahead - 1)] = lookUp(d + Ahead);
        visit(d, first + TNeuralNetwork::DendriteRecordSize * d, record, record != None);
    }
}

inline bool IsFree(const TSlots& v, uint32_t record)
{
    return v.W16(record + 2) == 0;
}

// Number of interval records of a dendrite, 0 when its table would reach past the store.
inline uint16_t TableSize(const TSlots& v, uint32_t dendriteSlot)
{
    const uint16_t count = v.W16(dendriteSlot + 3);
    const uint64_t end = uint64_t(static_cast<uint32_t>(v.W(dendriteSlot + 4)))
        + uint64_t(TNeuralNetwork::IntervalRecordSize) * count;
    return end > v.length ? 0 : count;
}

// Range and curve of one neuron.
struct TCurve
{
    double a; // lower bound
    double b; // upper bound
    double range;
    uint16_t c;

    TCurve(const TSlots& v, uint32_t neuronSlot)
        : a(v.R(neuronSlot + 2))
        , b(v.R(neuronSlot + 1))
        , range(b - a)
        , c(v.W16(neuronSlot))
    { }

    // Steepness that puts the sums -R and +R on the centres of the end intervals. An empty
    // range (or no levels) has no curve.
    double Steepness() const
    {
        if (!(range != 0.0) || c == 0)
            ThrowInvalidOperation();
        const double h = range / (2.0 * c);
        const double k = std::log(h / (range - h)) / (-range - TNeuralNetwork::SigmoidCentre);
        if (!std::isfinite(k))
            ThrowInvalidOperation();
        return k;
    }

    // y moved a quarter interval inside the range.
    double PullIn(double y) const
    {
        if (c == 0)
            ThrowInvalidOperation();
        const double q = range / (4.0 * c);
        if (b - y < q)
            return b - q;
        if (y - a < q)
            return a + q;
        return y;
    }

    // Interval number of v used to compare outputs with targets, taken as 16 bits.
    uint16_t Compare(double value) const
    {
        const double r = std::floor((value - a) / (range / c));
        if (!std::isfinite(r))
            ThrowInvalidOperation();
        const double limited = std::clamp(r, -4.0e18, 4.0e18);
        return static_cast<uint16_t>(static_cast<int64_t>(limited));
    }
};

inline float ActivateAt(const TSlots& v, uint32_t neuronSlot)
{
    double sum = v.R(neuronSlot + 3);
    const uint16_t dendrites = v.W16(neuronSlot + 6);
    if (dendrites == 0) {
        v.PutR(neuronSlot + 10, static_cast<float>(sum));
        return static_cast<float>(sum);
    }
    const TCurve curve(v, neuronSlot);
    const double k = curve.Steepness();
    ForSelectedRecords(v, neuronSlot, dendrites, [&](uint32_t, uint32_t, uint32_t record, bool hasRecord) {
        if (hasRecord)
            sum += v.R(record + 1);
    });
    const double out = curve.a + curve.range / (1.0 + std::exp(-k * (sum - TNeuralNetwork::SigmoidCentre)));
    if (std::isnan(out))
        ThrowInvalidOperation();
    v.PutR(neuronSlot + 10, static_cast<float>(sum));
    return static_cast<float>(out);
}

inline float InverseActivateAt(const TSlots& v, uint32_t neuronSlot, double y)
{
    const TCurve curve(v, neuronSlot);
    y = curve.PullIn(y);
    if (v.W16(neuronSlot + 6) == 0)
        return static_cast<float>(y);
    const double k = curve.Steepness();
    const double sum = TNeuralNetwork::SigmoidCentre - std::log(curve.range / (y - curve.a) - 1.0) / k;
    if (!std::isfinite(sum))
        ThrowInvalidOperation();
    return static_cast<float>(sum);
}

inline void ComputeAt(const TSlots& v, uint32_t neuronSlot)
{
    const float out = ActivateAt(v, neuronSlot);
    v.PutR(neuronSlot + 4, out);
    const uint16_t synapses = v.W16(neuronSlot + 8);
    uint32_t synapse = static_cast<uint32_t>(v.W(neuronSlot + 9));
    for (uint32_t s = 0; s < synapses; ++s, synapse += TNeuralNetwork::SynapseRecordSize) {
        const int32_t layer = v.W(synapse);
        const int32_t neuron = v.W(synapse + 1);
        const int32_t dendrite = v.W(synapse + 2);
        if (layer < 0 || neuron < 0 || dendrite < 0)
            continue;
        // A link to a neuron or dendrite that does not exist (a hand-edited store) is skipped
        // rather than written outside the records.
        if (layer >= v.W16(0)
            || neuron
                >= v.W16(TNeuralNetwork::HeaderSize + TNeuralNetwork::LayerRecordSize * uint32_t(layer)))
            continue;
        const uint32_t fed = v.NeuronAt(uint32_t(layer), uint32_t(neuron));
        if (dendrite >= v.W16(fed + 6))
            continue;
        v.PutR(v.DendriteAt(fed, uint32_t(dendrite)) + 2, out);
    }
}

} // namespace StoreView
