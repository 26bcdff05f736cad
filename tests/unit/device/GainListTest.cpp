#include "device/GainList.h"

#include "device/SupervisorSettings.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

using device::GainList;
using device::SupervisorSettings;

namespace {

const GainList& defaults() {
    static const GainList list(SupervisorSettings::DefaultGainSettings);
    return list;
}

} // namespace

TEST(GainList, KeepsValuesLargestFirstWithoutJunkOrRepeats) {
    const auto& values = defaults().values();
    ASSERT_EQ(values.size(), 32U);
    EXPECT_EQ(values.front(), 1023);
    EXPECT_EQ(values.back(), 1);
    EXPECT_TRUE(std::is_sorted(values.rbegin(), values.rend()));

    EXPECT_EQ(GainList(L"3|1|6").values(), (std::vector<std::int32_t>{6, 3, 1}));
    EXPECT_EQ(GainList(L"5||x|5|-2|99999999999|7 |12").values(), (std::vector<std::int32_t>{12, 5, -2}));
    EXPECT_TRUE(GainList(L"").empty());
    EXPECT_TRUE(GainList(L"|").empty());
}

TEST(GainList, AdjustsAGainOffTheListToANeighbour) {
    struct Case {
        std::int32_t gain;
        std::int32_t expected;
    };
    for (const auto& c : std::vector<Case>{{2000, 1023},
                                           {1024, 1023},
                                           {900, 793},
                                           {794, 793},
                                           {700, 793},
                                           {100, 106},
                                           {2, 3},
                                           {0, 1},
                                           {-5, 1}}) {
        EXPECT_EQ(defaults().adjusted(c.gain), c.expected) << c.gain;
    }
    // One value: every gain goes to it.
    EXPECT_EQ(GainList(L"50").adjusted(60), 50);
    EXPECT_EQ(GainList(L"50").adjusted(40), 50);
    EXPECT_EQ(GainList().adjusted(40), std::nullopt);
}

TEST(GainList, StepsFromTheShownGain) {
    struct Case {
        std::int32_t shown;
        std::optional<std::int32_t> down;
        std::optional<std::int32_t> up;
    };
    const std::vector<Case> cases{
        {1023, 1023, 793}, // down at the first value sends it again
        {793, 1023, 666},
        {3, 6, 1},
        {1, 3, std::nullopt},            // nothing above the last value
        {900, 1023, 666},                // off the list: from 793, the first value not greater
        {5000, 1023, 793},               // off the list above the first value: from 1023
        {0, std::nullopt, std::nullopt}, // no value is not greater than 0
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaults().stepDown(c.shown), c.down) << c.shown;
        EXPECT_EQ(defaults().stepUp(c.shown), c.up) << c.shown;
    }
    EXPECT_EQ(GainList().stepDown(5), std::nullopt);
    EXPECT_EQ(GainList().stepUp(5), std::nullopt);
}

TEST(GainList, OffersStepsByPositionOfTheDeviceGain) {
    using Steps = GainList::Steps;
    EXPECT_EQ(defaults().steps(1023), (Steps{false, true}));
    EXPECT_EQ(defaults().steps(1), (Steps{true, false}));
    EXPECT_EQ(defaults().steps(793), (Steps{true, true}));
    EXPECT_EQ(defaults().steps(512), (Steps{false, false}));
    EXPECT_EQ(GainList(L"7").steps(7), (Steps{false, false}));
    EXPECT_EQ(GainList().steps(7), (Steps{false, false}));
}

TEST(GainList, DecibelsOfARegisterValue) {
    EXPECT_EQ(GainList::decibelsText(512), L" 70.5");
    EXPECT_EQ(GainList::decibelsText(1023), L" 65.7");
    EXPECT_EQ(GainList::decibelsText(1), L"105.2");
    EXPECT_NEAR(GainList::decibels(512), 70.457F, 0.01F);
    // A larger register value is a smaller gain.
    for (std::size_t i = 1; i < defaults().values().size(); ++i) {
        EXPECT_GT(GainList::decibels(defaults().values()[i]), GainList::decibels(defaults().values()[i - 1]));
    }
}
