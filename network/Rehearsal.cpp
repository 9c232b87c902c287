#include "network/Rehearsal.h"

#include "network/StoreView.h"

#include <algorithm>
#include <array>
#include <cmath>

using namespace StoreView;

namespace {

// Sets the item's inputs on layer 0 and its targets on the last layer.
void Feed(TNeuralNetwork& network, const TRehearsalItem& item, bool targets)
{
    const uint16_t inputs = network.GetNeuronCount(0);
    for (uint16_t j = 0; j < inputs && j < item.Inputs.size(); ++j)
        network.SetInput(0, j, float(item.Inputs[j]));
    if (!targets)
        return;
    const uint16_t last = uint16_t(network.GetLayerCount() - 1);
    const uint16_t outputs = network.GetNeuronCount(last);
    for (uint16_t k = 0; k < outputs && k < item.Targets.size(); ++k)
        network.SetTarget(last, k, item.Targets[k]);
}

// Whether outputs answer an item: each in its target's interval, and one of the outputs with the highest
// target strictly above every other output.
template <class TOutputOf>
bool Answered(const TSlots& v, uint32_t layer, size_t outputs, const TRehearsalItem& item, TOutputOf outputOf)
{
    if (outputs == 0 || item.Targets.size() < outputs)
        return false;
    const float top = *std::max_element(item.Targets.begin(), item.Targets.begin() + long(outputs));
    float own = 0.0f, others = 0.0f;
    bool anyOther = false;
    for (size_t k = 0; k < outputs; ++k) {
        const TCurve curve(v, v.NeuronAt(layer, uint32_t(k)));
        const float out = outputOf(k);
        if (curve.Compare(out) != curve.Compare(item.Targets[k]))
            return false;
        if (item.Targets[k] == top) {
            own = std::max(own, out);
        } else {
            others = anyOther ? std::max(others, out) : out;
            anyOther = true;
        }
    }
    return !anyOther || own > others;
}

// The output of a neuron for a sum, as Activate computes it.
float OutputFor(const TCurve& curve, double k, double sum)
{
    return static_cast<float>(
        curve.a + curve.range / (1.0 + std::exp(-k * (sum - TNeuralNetwork::SigmoidCentre))));
}

} // namespace

bool AnswersAll(TNeuralNetwork& network, const std::vector<TRehearsalItem>& items)
{
    const uint16_t layers = network.GetLayerCount();
    if (layers < 2)
        return items.empty();
    const uint16_t last = uint16_t(layers - 1);
    const uint16_t outputs = network.GetNeuronCount(last);
    for (const TRehearsalItem& item : items) {
        Feed(network, item, false);
        network.Propagate();
        const TSlots v = SlotsOf(*network.Store);
        auto outputOf = [&](size_t k) { return v.R(v.NeuronAt(last, uint32_t(k)) + 4); };
        if (!Answered(v, last, outputs, item, outputOf))
            return false;
    }
    return true;
}

TRehearsalResult RehearseByTraining(
    TNeuralNetwork& network, const std::vector<TRehearsalItem>& items, int maxPasses)
{
    TRehearsalResult result;
    for (;;) {
        if (AnswersAll(network, items)) {
            result.Converged = true;
            break;
        }
        if (result.Passes >= maxPasses)
            break;
        ++result.Passes;
        for (const TRehearsalItem& item : items) {
            Feed(network, item, true);
            network.Train(false);
        }
    }
    return result;
}

// What the counted rehearsal keeps about a network and its items.
struct TRehearsal::TState
{
    // The network the figures belong to, and whether it can be rehearsed by counting at all: two layers,
    // every input feeding every output through a table of at most 256 intervals, the tables of one output
    // side by side in the order of its dendrites.
    uint64_t serial = 0;
    bool countable = false;
    uint32_t inputs = 0, outputs = 0;
    std::vector<uint32_t> outputSlots; // neuron record of each output
    std::vector<uint32_t> firstTable; // slot of each output's first interval record
    std::vector<uint32_t> tableOffset; // of each input's table from the output's first one
    std::vector<const std::array<uint8_t, 256>*> intervalOf; // each input's value -> interval
    std::vector<std::array<uint8_t, 256>> intervalMaps; // one per distinct range of the inputs

    // The items whose sums are kept, in the order of the last call.
    std::vector<std::vector<uint8_t>> inputsOf; // [item][input]
    std::vector<std::vector<uint8_t>> intervals; // [item][input]
    std::vector<std::vector<double>> sums; // [item][output]: the output neuron's input plus its weights
    std::vector<std::vector<uint32_t>> overlaps; // [item][item]: inputs that fall in the same interval

    void Check(TNeuralNetwork& network);
    void Drop()
    {
        inputsOf.clear();
        intervals.clear();
        sums.clear();
        overlaps.clear();
    }
};

void TRehearsal::TState::Check(TNeuralNetwork& network)
{
    countable = false;
    serial = network.Serial();
    Drop();
    const TSlots v = SlotsOf(*network.Store);
    if (v.length < TNeuralNetwork::HeaderSize + 2 * TNeuralNetwork::LayerRecordSize || v.W16(0) != 2)
        return;
    inputs = v.W16(TNeuralNetwork::HeaderSize);
    outputs = v.W16(TNeuralNetwork::HeaderSize + TNeuralNetwork::LayerRecordSize);
    if (inputs == 0 || outputs == 0)
        return;
    auto inside = [&](uint64_t slot, uint64_t width) { return slot + width <= v.length; };
    if (!inside(v.NeuronAt(0, 0), uint64_t(TNeuralNetwork::NeuronRecordSize) * inputs)
        || !inside(v.NeuronAt(1, 0), uint64_t(TNeuralNetwork::NeuronRecordSize) * outputs))
        return;
    // Every input hands its value to dendrite j of every output, and to nothing else.
    for (uint32_t j = 0; j < inputs; ++j) {
        const uint32_t slot = v.NeuronAt(0, j);
        if (v.W16(slot + 6) != 0 || v.W16(slot + 8) != outputs)
            return;
        const uint32_t first = static_cast<uint32_t>(v.W(slot + 9));
        if (!inside(first, uint64_t(TNeuralNetwork::SynapseRecordSize) * outputs))
            return;
        for (uint32_t m = 0; m < outputs; ++m) {
            const uint32_t synapse = first + TNeuralNetwork::SynapseRecordSize * m;
            if (v.W(synapse) != 1 || v.W(synapse + 1) != int32_t(m) || v.W(synapse + 2) != int32_t(j))
                return;
        }
    }
    outputSlots.assign(outputs, 0);
    firstTable.assign(outputs, 0);
    tableOffset.assign(inputs, 0);
    intervalOf.assign(inputs, nullptr);
    intervalMaps.clear();
    intervalMaps.reserve(inputs);
    struct TRange
    {
        float lo, hi;
        uint16_t count;
    };
    std::vector<TRange> ranges;
    std::vector<uint16_t> counts(inputs, 0);
    for (uint32_t l = 0; l < outputs; ++l) {
        const uint32_t slot = v.NeuronAt(1, l);
        outputSlots[l] = slot;
        if (v.W16(slot + 6) != inputs || v.W16(slot + 8) != 0)
            return;
        const TCurve curve(v, slot);
        if (!(curve.range > 0.0) || curve.c == 0)
            return;
        const uint32_t dendrites = static_cast<uint32_t>(v.W(slot + 7));
        if (!inside(dendrites, uint64_t(TNeuralNetwork::DendriteRecordSize) * inputs))
            return;
        for (uint32_t d = 0; d < inputs; ++d) {
            const uint32_t dendrite = dendrites + TNeuralNetwork::DendriteRecordSize * d;
            const uint16_t count = v.W16(dendrite + 3);
            const uint32_t base = static_cast<uint32_t>(v.W(dendrite + 4));
            if (v.W(dendrite) != 0 || v.W(dendrite + 1) != int32_t(d) || count == 0 || count > 256
                || !inside(base, uint64_t(TNeuralNetwork::IntervalRecordSize) * count))
                return;
            if (d == 0)
                firstTable[l] = base;
            if (l == 0) {
                counts[d] = count;
                tableOffset[d] = base - firstTable[0];
            } else if (count != counts[d] || base != firstTable[l] + tableOffset[d]) {
                return;
            }
        }
    }
    // The interval of each value an input can take, as Propagate finds it, shared by inputs of one range.
    for (uint32_t d = 0; d < inputs; ++d) {
        const uint32_t source = v.NeuronAt(0, d);
        const TRange range { v.R(source + 2), v.R(source + 1), counts[d] };
        size_t map = 0;
        while (map < ranges.size()
            && !(
                ranges[map].lo == range.lo && ranges[map].hi == range.hi && ranges[map].count == range.count))
            ++map;
        if (map == ranges.size()) {
            ranges.push_back(range);
            std::array<uint8_t, 256>& values = intervalMaps.emplace_back();
            TWidthCache widths;
            for (int x = 0; x < 256; ++x)
                values[size_t(x)]
                    = uint8_t(IntervalIndex(double(float(x)), range.lo, range.hi, range.count, widths));
        }
        intervalOf[d] = &intervalMaps[map];
    }
    countable = true;
}

TRehearsal::TRehearsal()
    : state(std::make_unique<TState>())
{ }

TRehearsal::~TRehearsal() = default;

void TRehearsal::Forget()
{
    state->serial = 0;
    state->countable = false;
    state->Drop();
}

bool TRehearsal::Prepare(TNeuralNetwork& network, const std::vector<TRehearsalItem>& items)
{
    TState& s = *state;
    if (s.serial != network.Serial())
        s.Check(network);
    if (!s.countable)
        return false;
    for (const TRehearsalItem& item : items) {
        if (item.Inputs.size() != s.inputs || item.Targets.size() != s.outputs)
            return false;
    }
    // Kept items are taken over by inputs (each at most once: the same picture may be memorised twice);
    // the others are counted now.
    const size_t n = items.size();
    std::vector<int> keptAs(n, -1);
    std::vector<uint8_t> taken(s.inputsOf.size(), 0);
    for (size_t a = 0; a < n; ++a) {
        for (size_t k = 0; k < s.inputsOf.size(); ++k) {
            if (!taken[k] && s.inputsOf[k] == items[a].Inputs) {
                taken[k] = 1;
                keptAs[a] = int(k);
                break;
            }
        }
    }
    std::vector<std::vector<uint8_t>> inputsOf(n), intervals(n);
    std::vector<std::vector<double>> sums(n);
    std::vector<size_t> fresh;
    for (size_t a = 0; a < n; ++a) {
        if (keptAs[a] >= 0) {
            inputsOf[a] = std::move(s.inputsOf[size_t(keptAs[a])]);
            intervals[a] = std::move(s.intervals[size_t(keptAs[a])]);
            sums[a] = std::move(s.sums[size_t(keptAs[a])]);
            continue;
        }
        fresh.push_back(a);
        inputsOf[a] = items[a].Inputs;
        intervals[a].resize(s.inputs);
        for (uint32_t d = 0; d < s.inputs; ++d)
            intervals[a][d] = (*s.intervalOf[d])[items[a].Inputs[d]];
        sums[a].assign(s.outputs, 0.0);
    }
    // The sums of the new items, added up in the order Propagate adds them, so that they are its sums to the
    // last bit; every record they select must be free.
    if (!fresh.empty()) {
        const TSlots v = SlotsOf(*network.Store);
        std::vector<double> sum(fresh.size());
        for (uint32_t l = 0; l < s.outputs; ++l) {
            std::fill(sum.begin(), sum.end(), double(v.R(s.outputSlots[l] + 3)));
            const float* tables = v.s + s.firstTable[l];
            for (uint32_t d = 0; d < s.inputs; ++d) {
                const float* table = tables + s.tableOffset[d];
                for (size_t f = 0; f < fresh.size(); ++f) {
                    const float* record = table + TNeuralNetwork::IntervalRecordSize * intervals[fresh[f]][d];
                    int32_t hits;
                    std::memcpy(&hits, record + 2, sizeof hits);
                    if (uint16_t(hits) != 0) {
                        s.countable = false; // for this network: a committed training used its records
                        return false;
                    }
                    sum[f] += record[1];
                }
            }
            for (size_t f = 0; f < fresh.size(); ++f)
                sums[fresh[f]][l] = sum[f];
        }
    }
    std::vector<std::vector<uint32_t>> overlaps(n, std::vector<uint32_t>(n, 0));
    for (size_t a = 0; a < n; ++a) {
        for (size_t b = a; b < n; ++b) {
            uint32_t same = 0;
            if (keptAs[a] >= 0 && keptAs[b] >= 0) {
                same = s.overlaps[size_t(keptAs[a])][size_t(keptAs[b])];
            } else {
                const uint8_t* x = intervals[a].data();
                const uint8_t* y = intervals[b].data();
                for (uint32_t d = 0; d < s.inputs; ++d)
                    same += x[d] == y[d];
            }
            overlaps[a][b] = overlaps[b][a] = same;
        }
    }
    s.inputsOf = std::move(inputsOf);
    s.intervals = std::move(intervals);
    s.sums = std::move(sums);
    s.overlaps = std::move(overlaps);
    return true;
}

TRehearsalResult TRehearsal::TrainAndRehearse(
    TNeuralNetwork& network, const std::vector<TRehearsalItem>& items, size_t newItem, int maxPasses)
{
    if (newItem >= items.size() || !Prepare(network, items)) {
        state->Drop(); // the plain training below changes the weights the kept sums were counted from
        if (newItem < items.size()) {
            Feed(network, items[newItem], true);
            network.Train(false);
        }
        return RehearseByTraining(network, items, maxPasses);
    }
    TState& s = *state;
    const TRehearsalItem& item = items[newItem];
    Feed(network, item, true);
    network.Train(false);
    // What that training did, worked out from the sums it started from: each output that missed its
    // target's interval moved all of the item's records by one share of its miss.
    const TSlots v = SlotsOf(*network.Store);
    const double selected = double(s.inputs);
    bool asCounted = true;
    for (uint32_t l = 0; l < s.outputs; ++l) {
        const uint32_t slot = s.outputSlots[l];
        const TCurve curve(v, slot);
        const double before = s.sums[newItem][l];
        const float out = OutputFor(curve, curve.Steepness(), before);
        const double target = curve.PullIn(item.Targets[l]);
        if (curve.Compare(out) == curve.Compare(target))
            continue;
        const double want = InverseActivateAt(v, slot, static_cast<float>(target));
        const double share = (want - double(static_cast<float>(before))) / selected;
        for (size_t a = 0; a < items.size(); ++a)
            s.sums[a][l] += share * s.overlaps[a][newItem];
    }
    // The training's own last recall left the item's new sums in the store: the counted ones must agree.
    for (uint32_t l = 0; l < s.outputs; ++l)
        asCounted = asCounted && std::abs(double(v.R(s.outputSlots[l] + 10)) - s.sums[newItem][l]) <= 1e-3;
    if (!asCounted) {
        s.Drop();
        return RehearseByTraining(network, items, maxPasses);
    }
    return RunPasses(network, items, maxPasses);
}

TRehearsalResult TRehearsal::Rehearse(
    TNeuralNetwork& network, const std::vector<TRehearsalItem>& items, int maxPasses)
{
    if (!Prepare(network, items)) {
        state->Drop();
        return RehearseByTraining(network, items, maxPasses);
    }
    return RunPasses(network, items, maxPasses);
}

TRehearsalResult TRehearsal::RunPasses(
    TNeuralNetwork& network, const std::vector<TRehearsalItem>& items, int maxPasses)
{
    TState& s = *state;
    const TSlots v = SlotsOf(*network.Store);
    const size_t n = items.size();
    const uint32_t outputs = s.outputs;
    std::vector<TCurve> curves;
    std::vector<double> steepness, wantOf;
    curves.reserve(outputs);
    for (uint32_t l = 0; l < outputs; ++l) {
        curves.emplace_back(v, s.outputSlots[l]);
        steepness.push_back(curves.back().Steepness());
    }
    auto answered = [&](size_t a) {
        return Answered(v, 1, outputs, items[a],
            [&](size_t k) { return OutputFor(curves[k], steepness[k], s.sums[a][k]); });
    };
    auto allAnswered = [&] {
        for (size_t a = 0; a < n; ++a) {
            if (!answered(a))
                return false;
        }
        return true;
    };

    TRehearsalResult result;
    result.Counted = true;
    // The share each training moved the item's records by, added up per output.
    std::vector<std::vector<double>> moved(n, std::vector<double>(outputs, 0.0));
    const double selected = double(s.inputs);
    for (;;) {
        if (allAnswered()) {
            result.Converged = true;
            break;
        }
        if (result.Passes >= maxPasses)
            break;
        ++result.Passes;
        for (size_t b = 0; b < n; ++b) {
            for (uint32_t l = 0; l < outputs; ++l) {
                const TCurve& curve = curves[l];
                const double sum = s.sums[b][l];
                const double target = curve.PullIn(items[b].Targets[l]);
                if (curve.Compare(OutputFor(curve, steepness[l], sum)) == curve.Compare(target))
                    continue;
                const double want = InverseActivateAt(v, s.outputSlots[l], static_cast<float>(target));
                const double share = (want - double(static_cast<float>(sum))) / selected;
                for (size_t a = 0; a < n; ++a)
                    s.sums[a][l] += share * s.overlaps[a][b];
                moved[b][l] += share;
                ++result.Adjustments;
            }
        }
    }

    // The weights, changed once: each output's records that an item selects move by what the passes moved
    // them, neuron by neuron over its tables in store order.
    std::vector<std::pair<const uint8_t*, double>> moves;
    for (uint32_t l = 0; l < outputs; ++l) {
        moves.clear();
        for (size_t b = 0; b < n; ++b) {
            if (moved[b][l] != 0.0)
                moves.emplace_back(s.intervals[b].data(), moved[b][l]);
        }
        if (moves.empty())
            continue;
        float* tables = v.s + s.firstTable[l];
        for (uint32_t d = 0; d < s.inputs; ++d) {
            float* table = tables + s.tableOffset[d] + 1;
            for (const auto& [intervals, share] : moves) {
                float& weight = table[TNeuralNetwork::IntervalRecordSize * intervals[d]];
                weight = static_cast<float>(double(weight) + share);
            }
        }
    }
    return result;
}
