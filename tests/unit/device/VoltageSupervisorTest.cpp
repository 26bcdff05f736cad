#include "device/VoltageSupervisor.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using device::VoltageSupervisor;
using Look = VoltageSupervisor::Look;

namespace {

constexpr float kMin = 5.5F;
constexpr float kMax = 48.5F;

} // namespace

TEST(VoltageSupervisor, AJumpFromTheMeanRestartsTheAveraging) {
    VoltageSupervisor voltage(5, 1.0F);
    for (const float v : {24.0F, 24.1F, 24.0F}) {
        EXPECT_FALSE(voltage.add(v, kMin, kMax).fluctuation);
    }
    const auto jump = voltage.add(25.5F, kMin, kMax);
    EXPECT_TRUE(jump.fluctuation);
    EXPECT_EQ(voltage.size(), 1U);
    EXPECT_FLOAT_EQ(jump.shown, 25.5F);
    EXPECT_EQ(jump.text, L" 25.5");

    // Exactly the variation away counts; just under it does not.
    VoltageSupervisor edge(5, 0.5F);
    edge.add(10.0F, kMin, kMax);
    EXPECT_FALSE(edge.add(10.25F, kMin, kMax).fluctuation);
    EXPECT_TRUE(edge.add(10.625F, kMin, kMax).fluctuation);
}

TEST(VoltageSupervisor, ShowsTheMeanOfTheNewestSamples) {
    VoltageSupervisor voltage(2, 10.0F);
    voltage.add(10.0F, kMin, kMax);
    EXPECT_FLOAT_EQ(voltage.add(11.0F, kMin, kMax).shown, 10.5F);
    // The oldest sample drops out.
    const auto third = voltage.add(12.0F, kMin, kMax);
    EXPECT_FLOAT_EQ(third.shown, 11.5F);
    EXPECT_EQ(third.text, L" 11.5");
    EXPECT_EQ(voltage.size(), 2U);
}

TEST(VoltageSupervisor, AlarmsOncePerExcursion) {
    struct Step {
        float volts;
        Look look;
        bool changed;
        const wchar_t* alarm;
    };
    VoltageSupervisor voltage(1, 1000.0F);
    const std::vector<Step> steps{
        {24.0F, Look::InRange, true, nullptr},
        {24.0F, Look::InRange, false, nullptr},
        {5.0F, Look::Alarm, true, VoltageSupervisor::UnderVoltageAlert},
        {4.0F, Look::Alarm, false, nullptr},
        {60.0F, Look::Alarm, false, nullptr}, // still the same excursion
        {kMin, Look::InRange, true, nullptr}, // the limits are in range
        {kMax, Look::InRange, false, nullptr},
        {48.6F, Look::Alarm, true, VoltageSupervisor::OverVoltageAlert},
        {50.0F, Look::Alarm, false, nullptr},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto outcome = voltage.add(steps[i].volts, kMin, kMax);
        EXPECT_EQ(outcome.look, steps[i].look) << i;
        EXPECT_EQ(outcome.lookChanged, steps[i].changed) << i;
        EXPECT_EQ(outcome.alarm == nullptr ? std::wstring() : outcome.alarm,
                  steps[i].alarm == nullptr ? std::wstring() : steps[i].alarm)
            << i;
    }
    // Back to idle (a disconnection): the next excursion is announced again.
    voltage.reset();
    EXPECT_EQ(voltage.look(), Look::Idle);
    EXPECT_EQ(voltage.size(), 0U);
    EXPECT_EQ(std::wstring(voltage.add(50.0F, kMin, kMax).alarm), VoltageSupervisor::OverVoltageAlert);
}

TEST(VoltageSupervisor, ARingWithoutCapacityStillKeepsOneSample) {
    for (const std::ptrdiff_t samples : {0, -3}) {
        VoltageSupervisor voltage(samples, 1.0F);
        EXPECT_EQ(voltage.capacity(), 1U);
        EXPECT_EQ(voltage.add(12.0F, kMin, kMax).text, L" 12.0");
        EXPECT_EQ(voltage.add(12.5F, kMin, kMax).text, L" 12.5");
    }
}

TEST(VoltageSupervisor, FormatsRightAlignedInFiveCharacters) {
    EXPECT_EQ(VoltageSupervisor::format(5.5F), L"  5.5");
    EXPECT_EQ(VoltageSupervisor::format(0.04F), L"  0.0");
    EXPECT_EQ(VoltageSupervisor::format(48.5F), L" 48.5");
    EXPECT_EQ(VoltageSupervisor::format(123.0F), L"123.0");
    EXPECT_EQ(VoltageSupervisor::format(1234.0F), L"1234.0");
}
