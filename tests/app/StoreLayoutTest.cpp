#include "app/StoreLayout.h"

#include "app/MemoProcessor.h"
#include "network/NeuralNetwork.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <vector>

namespace {

std::vector<char> StoreOf(TNeuralNetwork& network)
{
    const char* bytes = static_cast<const char*>(network.Store->ItemPtr(0));
    return std::vector<char>(bytes, bytes + network.Store->Size());
}

// The first strange slot of a whole store, checked in runs of the given sizes in turn (as a file streams
// past in pieces that cut records anywhere).
uint64_t StrangeSlot(const TStoreLayout& layout, const std::vector<char>& store, std::vector<uint64_t> runs)
{
    const uint64_t total = store.size() / 4;
    size_t next = 0;
    for (uint64_t first = 0; first < total;) {
        const uint64_t count = std::min(runs[next++ % runs.size()], total - first);
        const uint64_t strange = layout.FirstStrangeSlot(store.data() + first * 4, first, count);
        if (strange != TStoreLayout::NoSlot)
            return strange;
        first += count;
    }
    return TStoreLayout::NoSlot;
}

// The slots that the network learns and computes: every slot that changes when one of the free fields is
// set through the engine's accessors.
std::set<uint64_t> FreeSlots(const TNetworkShape& shape)
{
    auto network = TMemoProcessor::BuildNetwork(shape);
    const std::vector<char> fresh = StoreOf(*network);
    TNeuralNetwork& n = *network;
    float value = 1.0f;
    for (uint16_t layer = 0; layer < 2; ++layer) {
        for (uint16_t j = 0; j < n.GetNeuronCount(layer); ++j) {
            n.SetInput(layer, j, value += 1);
            n.SetOutput(layer, j, value += 1);
            n.SetTarget(layer, j, value += 1);
            n.SetNet(layer, j, value += 1);
            for (uint16_t d = 0; d < n.GetDendriteCount(layer, j); ++d) {
                n.SetDendriteInput(layer, j, d, value += 1);
                for (uint16_t r = 0; r < n.GetIntervalCount(layer, j, d); ++r) {
                    n.SetWeight(layer, j, d, r, value += 1);
                    n.SetHits(layer, j, d, r, uint16_t(r + 1));
                }
            }
        }
    }
    const std::vector<char> changed = StoreOf(n);
    std::set<uint64_t> free;
    for (uint64_t slot = 0; slot < fresh.size() / 4; ++slot)
        if (std::memcmp(fresh.data() + slot * 4, changed.data() + slot * 4, 4) != 0)
            free.insert(slot);
    return free;
}

TNetworkShape Shape(int inputs, int outputs, double levelWidth = 10.0)
{
    TNetworkShape shape;
    shape.InputCount = inputs;
    shape.OutputCount = outputs;
    shape.InputLevelWidth = levelWidth;
    return shape;
}

} // namespace

TEST(StoreLayout, AFreshlyLaidOutStoreHoldsWhatTheLayoutFixes)
{
    TNetworkShape odd = Shape(7, 3, 33.0);
    odd.InputLower = -1.5;
    odd.InputUpper = 300.25;
    odd.OutputLower = 5;
    odd.OutputUpper = 6;
    for (const TNetworkShape& shape :
        { TNetworkShape(), Shape(30, 20), Shape(3, 20, 127.5), Shape(1, 1), odd, Shape(0, 4), Shape(5, 0) }) {
        auto network = TMemoProcessor::BuildNetwork(shape);
        ASSERT_EQ(network->Store->Count(), shape.StoreLength());
        const std::vector<char> store = StoreOf(*network);
        const TStoreLayout layout(shape);
        EXPECT_EQ(StrangeSlot(layout, store, { store.size() / 4 }), TStoreLayout::NoSlot) << shape.InputCount;
        EXPECT_EQ(StrangeSlot(layout, store, { 1, 7, 65536, 3, 104, 13 }), TStoreLayout::NoSlot)
            << shape.InputCount;
    }
}

TEST(StoreLayout, EverySlotButTheLearntOnesIsFixed)
{
    // Small enough to change every slot in turn.
    for (const TNetworkShape& shape : { Shape(3, 20, 127.5), Shape(4, 3, 51.0) }) {
        const std::set<uint64_t> free = FreeSlots(shape);
        auto network = TMemoProcessor::BuildNetwork(shape);
        const std::vector<char> fresh = StoreOf(*network);
        const TStoreLayout layout(shape);
        ASSERT_FALSE(free.empty());
        for (uint64_t slot = 0; slot < fresh.size() / 4; ++slot) {
            std::vector<char> store = fresh;
            store[slot * 4 + 1] = char(store[slot * 4 + 1] ^ 0x40);
            const uint64_t expected = free.count(slot) ? TStoreLayout::NoSlot : slot;
            ASSERT_EQ(StrangeSlot(layout, store, { 5, 11, 2 }), expected) << "slot " << slot;
            ASSERT_EQ(StrangeSlot(layout, store, { store.size() / 4 }), expected) << "slot " << slot;
        }
    }
}

TEST(StoreLayout, AMemorisingNetworkKeepsItsLayout)
{
    TMemoProcessor processor;
    processor.SaveSlotFilesOnMemorise = false;
    processor.SetUpNetwork();
    std::mt19937 random(3);
    std::uniform_int_distribution<int> grey(0, 255);
    for (int person = 0; person < 3; ++person) {
        TInputPattern pattern(size_t(SampleSize) * SampleSize);
        for (float& value : pattern)
            value = float(grey(random));
        processor.Memorise(QStringLiteral("p"), QStringLiteral("p.bmp"), pattern);
        processor.Recognise(pattern);
    }
    std::vector<char> store = StoreOf(*processor.Networks[0]);
    const TStoreLayout layout { TNetworkShape() };
    EXPECT_EQ(StrangeSlot(layout, store, { 65536 }), TStoreLayout::NoSlot);
    // The centre of the last interval of all, in the middle of a run.
    const uint64_t last = store.size() / 4 - 4;
    store[last * 4] = char(store[last * 4] ^ 1);
    EXPECT_EQ(StrangeSlot(layout, store, { 65536 }), last);
}
