#include "device/SupervisorSettings.h"

#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <gtest/gtest.h>

using device::SupervisorSettings;

namespace {

class OwnConfigMgr : public wyr::windows::config::ConfigMgr {
public:
    OwnConfigMgr() = default;
};

class SupervisorSettingsTest : public test::TempConfigHome {
protected:
    OwnConfigMgr config;
    SupervisorSettings settings{config, L"Device"};
};

} // namespace

TEST_F(SupervisorSettingsTest, MissingSettingsReadAsTheirDefaults) {
    EXPECT_EQ(settings.voltageSamples(), 5);
    EXPECT_FLOAT_EQ(settings.voltageVariation(), 1.0F);
    EXPECT_FLOAT_EQ(settings.inputVoltageMin(), 5.5F);
    EXPECT_FLOAT_EQ(settings.inputVoltageMax(), 48.5F);
    EXPECT_EQ(settings.frameRate(), 16);
    EXPECT_EQ(settings.frameRateLimits(), 8200U);
    EXPECT_EQ(settings.gainSettings(), SupervisorSettings::DefaultGainSettings);
}

TEST_F(SupervisorSettingsTest, ReadsStoredValuesAndFloatBitPatterns) {
    ASSERT_EQ(config.define(L"UI.VoltageSamples", L"1|9", false), 0U);
    ASSERT_EQ(config.define(L"UI.VoltageVariation", L"1|1065353216", false), 0U); // 1.0
    ASSERT_EQ(config.define(L"UI.InputVoltageMin", L"1|1085276160", false), 0U);  // 5.5
    ASSERT_EQ(config.define(L"UI.InputVoltageMax", L"1|1111621632", false), 0U);  // 48.5
    ASSERT_EQ(config.define(L"UI.FrameRate", L"1|30", false), 0U);
    ASSERT_EQ(config.define(L"UI.GainSettings", L"3|1|3|6", false), 0U);
    ASSERT_EQ(config.define(L"Device.FrameRateLimits", L"1|655380", false), 0U);
    EXPECT_EQ(settings.voltageSamples(), 9);
    EXPECT_FLOAT_EQ(settings.voltageVariation(), 1.0F);
    EXPECT_FLOAT_EQ(settings.inputVoltageMin(), 5.5F);
    EXPECT_FLOAT_EQ(settings.inputVoltageMax(), 48.5F);
    EXPECT_EQ(settings.frameRate(), 30);
    EXPECT_EQ(settings.gainSettings(), L"1|3|6");
    EXPECT_EQ(settings.frameRateLimits(), 655380U);

    // The limits follow the device interface's name.
    const SupervisorSettings other(config, L"Other");
    EXPECT_EQ(other.frameRateLimits(), 8200U);

    // Read as stored each time.
    config.setFloat(L"UI.InputVoltageMin", 7.25F);
    EXPECT_FLOAT_EQ(settings.inputVoltageMin(), 7.25F);
}

TEST_F(SupervisorSettingsTest, FloatsAreReducedToFiveDecimals) {
    EXPECT_FLOAT_EQ(SupervisorSettings::reduce(0.1234567F), 0.12346F);
    EXPECT_FLOAT_EQ(SupervisorSettings::reduce(0.000004F), 0.0F);
    EXPECT_FLOAT_EQ(SupervisorSettings::reduce(0.0000051F), 0.00001F);
    EXPECT_FLOAT_EQ(SupervisorSettings::reduce(-1.5F), -1.5F);
    config.setFloat(L"UI.VoltageVariation", 0.3333333F);
    EXPECT_FLOAT_EQ(settings.voltageVariation(), 0.33333F);
}

TEST_F(SupervisorSettingsTest, ASettingOfAnotherTypeIsReportedAndReadAsItsDefault) {
    test::LogCapture capture;
    ASSERT_EQ(config.define(L"UI.FrameRate", L"2|30.0", false), 0U);
    ASSERT_EQ(config.define(L"UI.InputVoltageMax", L"3|high", false), 0U);
    ASSERT_EQ(config.define(L"UI.GainSettings", L"1|5", false), 0U);
    EXPECT_EQ(settings.frameRate(), 16);
    EXPECT_FLOAT_EQ(settings.inputVoltageMax(), 48.5F);
    EXPECT_EQ(settings.gainSettings(), SupervisorSettings::DefaultGainSettings);
    const auto reported = capture.matching(L"using its default");
    ASSERT_EQ(reported.size(), 3U);
    EXPECT_EQ(reported[0].message, L"Setting [UI.FrameRate] is of type double, not int; using its default.");
}
