#pragma once

// Rehearsal: a two-layer network is trained again over every pattern it has learnt, pass after pass, until
// each pattern gives its own output the largest value and every output lies in its target's interval. A
// network trained on one pattern at a time forgets: each training rewrites the records the new pattern
// selects, and the earlier patterns select many of the same ones. Rehearsing after each new pattern keeps
// what the earlier ones taught.

#include "network/NeuralNetwork.h"

#include <cstdint>
#include <memory>
#include <vector>

// A pattern the network has learnt: one value per neuron of layer 0, each a whole number 0..255, and one
// target per neuron of the last layer. The outputs with the highest target are its own: one of them must
// answer it most strongly.
struct TRehearsalItem
{
    std::vector<uint8_t> Inputs;
    std::vector<float> Targets;
};

struct TRehearsalResult
{
    int Passes = 0; // passes over all items
    // After the last pass every item gave its own output the largest value and every output lay in the
    // interval of its target.
    bool Converged = false;
    int Adjustments = 0; // output neurons whose weights a training moved, over all passes
    bool Counted = false; // the sums were counted (TRehearsal) rather than propagated
};

// The most passes of one rehearsal. Patterns that cannot all be answered right (the same picture under two
// names, say) stop here; real faces need a handful.
constexpr int MaxRehearsalPasses = 100;

// The items as the network answers them now: true when, for every item, every output lies in its target's
// interval and the largest output is one of the item's own. Propagates once per item.
bool AnswersAll(TNeuralNetwork& network, const std::vector<TRehearsalItem>& items);

// The plain rehearsal: before each pass, stop when AnswersAll holds or when maxPasses passes have run;
// a pass feeds each item in order (SetInput on layer 0, SetTarget on the last layer) and calls Train(false).
TRehearsalResult RehearseByTraining(
    TNeuralNetwork& network, const std::vector<TRehearsalItem>& items, int maxPasses = MaxRehearsalPasses);

// The same rehearsal at a fraction of its cost, giving the weights the plain one gives within float
// rounding. With every record free (as training without Commit leaves them), a training of pattern b moves
// each record that b selects by the same share of the neuron's miss; pattern a's sum on that neuron then
// moves by the share times the number of inputs where a and b fall in the same interval. So the passes run
// on the sums of the items, which are counted rather than propagated, and the weights are changed once at
// the end. The sums are kept between calls for the same network, so that a memorise counts only the new
// pattern's sums; whoever changes the network's weights otherwise calls Forget.
// A network or store that is not laid out as two fully connected layers, or a record that is not free, is
// rehearsed by RehearseByTraining instead.
class TRehearsal
{
public:
    TRehearsal();
    ~TRehearsal();
    TRehearsal(const TRehearsal&) = delete;
    TRehearsal& operator=(const TRehearsal&) = delete;

    // Trains items[newItem] once as memorise does (its inputs and targets set, Train(false)), then
    // rehearses all items.
    TRehearsalResult TrainAndRehearse(TNeuralNetwork& network, const std::vector<TRehearsalItem>& items,
        size_t newItem, int maxPasses = MaxRehearsalPasses);
    // Rehearses all items.
    TRehearsalResult Rehearse(TNeuralNetwork& network, const std::vector<TRehearsalItem>& items,
        int maxPasses = MaxRehearsalPasses);
    // Drops the kept sums: the next call counts them from the store.
    void Forget();

private:
    struct TState;
    // Makes the kept sums those of `items` on the network as it is now; false when the network cannot be
    // rehearsed by counting.
    bool Prepare(TNeuralNetwork& network, const std::vector<TRehearsalItem>& items);
    TRehearsalResult RunPasses(
        TNeuralNetwork& network, const std::vector<TRehearsalItem>& items, int maxPasses);
    std::unique_ptr<TState> state;
};
