#include "network/Rehearsal.h"

#include "network/NetworkBuilder.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

constexpr int Inputs = 600;
constexpr int Outputs = 8;
constexpr TLayerShape InputLayer { Inputs, 0.0, 255.0, 26 };
constexpr TLayerShape OutputLayer { Outputs, 0.0, 100.0, 10 };

// Patterns alike as photographs of faces are: one shared face, each person's own features on top, so that
// most inputs of two persons fall in the same interval.
std::vector<TRehearsalItem> Persons(int count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> grey(40, 215);
    std::normal_distribution<double> own(0.0, 6.0);
    std::vector<uint8_t> face(Inputs);
    for (uint8_t& value : face)
        value = uint8_t(grey(random));
    std::vector<TRehearsalItem> items;
    for (int p = 0; p < count; ++p) {
        TRehearsalItem item;
        for (int i = 0; i < Inputs; ++i)
            item.Inputs.push_back(uint8_t(std::clamp(int(std::lround(face[i] + own(random))), 0, 255)));
        item.Targets.assign(Outputs, 1.0f);
        item.Targets[size_t(p)] = 99.0f;
        items.push_back(item);
    }
    return items;
}

void Train(TNeuralNetwork& net, const TRehearsalItem& item)
{
    for (uint16_t j = 0; j < Inputs; ++j)
        net.SetInput(0, j, item.Inputs[j]);
    for (uint16_t k = 0; k < Outputs; ++k)
        net.SetTarget(1, k, item.Targets[k]);
    net.Train(false);
}

float LargestDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    float largest = 0.0f;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

// Memorising one person after another: the plain loop of trainings and the counted rehearsal, which keeps its
// sums from one memorise to the next, give the same weights and need the same passes.
TEST(Rehearsal, CountedGivesTheWeightsOfThePlainLoopMemoriseAfterMemorise)
{
    const std::vector<TRehearsalItem> persons = Persons(Outputs, 7);
    auto plain = MakeNetwork({ InputLayer, OutputLayer }, 3);
    auto counted = MakeNetwork({ InputLayer, OutputLayer }, 3);
    TRehearsal rehearsal;
    int rehearsedPasses = 0;
    for (size_t n = 1; n <= persons.size(); ++n) {
        const std::vector<TRehearsalItem> items(persons.begin(), persons.begin() + long(n));
        Train(*plain, items.back());
        const TRehearsalResult byTraining = RehearseByTraining(*plain, items);
        const TRehearsalResult byCounting = rehearsal.TrainAndRehearse(*counted, items, n - 1);
        EXPECT_TRUE(byCounting.Counted);
        EXPECT_FALSE(byTraining.Counted);
        EXPECT_EQ(byCounting.Passes, byTraining.Passes) << n << " persons";
        EXPECT_EQ(byCounting.Converged, byTraining.Converged);
        EXPECT_LT(LargestDifference(AllWeights(*plain), AllWeights(*counted)), 2e-6f) << n << " persons";
        EXPECT_TRUE(AnswersAll(*counted, items));
        rehearsedPasses += byCounting.Passes;
    }
    // The persons are alike enough that memorising one makes the network forget another.
    EXPECT_GT(rehearsedPasses, 0);

    // Rehearsing sums counted afresh (as after opening a memory) changes nothing more.
    TRehearsal fresh;
    const TRehearsalResult again = fresh.Rehearse(*counted, persons);
    EXPECT_TRUE(again.Converged);
    EXPECT_EQ(again.Passes, 0);
}

TEST(Rehearsal, WithoutItTheNetworkForgetsWhatItLearntBefore)
{
    const std::vector<TRehearsalItem> persons = Persons(Outputs, 11);
    auto net = MakeNetwork({ InputLayer, OutputLayer }, 5);
    for (const TRehearsalItem& person : persons)
        Train(*net, person);
    EXPECT_FALSE(AnswersAll(*net, persons));
    EXPECT_TRUE(TRehearsal().Rehearse(*net, persons).Converged);
    EXPECT_TRUE(AnswersAll(*net, persons));
}

// The same picture memorised under two names cannot answer both: the rehearsal stops at its bound.
TEST(Rehearsal, PatternsThatCannotAllBeAnsweredStopAtTheBound)
{
    std::vector<TRehearsalItem> items = Persons(2, 13);
    items[1].Inputs = items[0].Inputs;
    auto plain = MakeNetwork({ InputLayer, OutputLayer }, 9);
    auto counted = MakeNetwork({ InputLayer, OutputLayer }, 9);
    const TRehearsalResult byTraining = RehearseByTraining(*plain, items, 6);
    const TRehearsalResult byCounting = TRehearsal().Rehearse(*counted, items, 6);
    EXPECT_FALSE(byCounting.Converged);
    EXPECT_EQ(byCounting.Passes, 6);
    EXPECT_EQ(byTraining.Passes, 6);
    EXPECT_LT(LargestDifference(AllWeights(*plain), AllWeights(*counted)), 2e-6f);
}

// Two pictures of one person, each with both of the person's outputs as targets: either output may answer.
TEST(Rehearsal, APatternMayBeAnsweredByAnyOfItsOwnOutputs)
{
    std::vector<TRehearsalItem> items = Persons(3, 19);
    items[1].Targets[0] = 99.0f;
    items[0].Targets[1] = 99.0f;
    auto net = MakeNetwork({ InputLayer, OutputLayer }, 4);
    const TRehearsalResult result = TRehearsal().Rehearse(*net, items);
    EXPECT_TRUE(result.Converged);
    EXPECT_TRUE(AnswersAll(*net, items));
    items[1].Targets[0] = 1.0f; // now slot 0 must be low for the second picture, which it is not
    EXPECT_FALSE(AnswersAll(*net, items));
}

// Records that a committed training used, or a network of another shape, are rehearsed by the plain loop.
TEST(Rehearsal, NetworksItCannotCountAreTrainedPlainly)
{
    const std::vector<TRehearsalItem> persons = Persons(3, 17);
    auto used = MakeNetwork({ InputLayer, OutputLayer }, 2);
    used->SetHits(1, 0, 0, used->IntervalOf(1, 0, 0, persons[1].Inputs[0]), 1);
    const TRehearsalResult onUsed = TRehearsal().Rehearse(*used, persons);
    EXPECT_FALSE(onUsed.Counted);

    auto deep = MakeNetwork({ { Inputs, 0.0, 255.0, 26 }, { 4, 0.0, 100.0, 10 }, OutputLayer }, 2);
    const TRehearsalResult onDeep = TRehearsal().Rehearse(*deep, persons, 2);
    EXPECT_FALSE(onDeep.Counted);
}

} // namespace
