#include "device/SupervisorSettings.h"

#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

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

TEST_F(SupervisorSettingsTest, ValuesOutsideTheirRangeReadAsTheirDefaultsWithOneErrorEach) {
    struct Case {
        const wchar_t* key;
        const wchar_t* text;
        std::function<double(const SupervisorSettings&)> read;
        double expected;
    };
    const auto samples = [](const SupervisorSettings& s) { return s.voltageSamples(); };
    const auto variation = [](const SupervisorSettings& s) { return s.voltageVariation(); };
    const auto minimum = [](const SupervisorSettings& s) { return s.inputVoltageMin(); };
    const auto maximum = [](const SupervisorSettings& s) { return s.inputVoltageMax(); };
    const auto rate = [](const SupervisorSettings& s) { return s.frameRate(); };
    const auto pixels = [](const SupervisorSettings& s) { return s.pixelRate(); };
    const auto floor = [](const SupervisorSettings& s) { return s.noiseFloor(); };
    const std::vector<Case> cases{
        {L"UI.VoltageSamples", L"1|0", samples, 5},
        {L"UI.VoltageSamples", L"1|-3", samples, 5},
        {L"UI.VoltageSamples", L"1|1000000000", samples, 5},
        {L"UI.VoltageVariation", L"1|0", variation, 1.0},          // 0.0
        {L"UI.VoltageVariation", L"1|3212836864", variation, 1.0}, // -1.0
        {L"UI.VoltageVariation", L"1|2143289344", variation, 1.0}, // NaN
        {L"UI.InputVoltageMin", L"1|3212836864", minimum, 5.5},    // -1.0
        {L"UI.InputVoltageMax", L"1|1232348160", maximum, 48.5},   // 1e6
        {L"UI.FrameRate", L"1|0", rate, 16},
        {L"UI.FrameRate", L"1|256", rate, 16},
        {L"UI.FrameRate", L"1|-4", rate, 16},
        {L"UI.PixelRate", L"1|0", pixels, 2},
        {L"UI.PixelRate", L"1|-1", pixels, 2},
        {L"UI.NoiseFloor", L"1|3204448256", floor, 0.5}, // -0.5
        {L"UI.NoiseFloor", L"1|1084227584", floor, 0.5}, // 5.0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::wstring(c.key) + L" " + c.text);
        test::LogCapture capture(0x0040);
        OwnConfigMgr own;
        const SupervisorSettings read(own, L"Device");
        ASSERT_EQ(own.define(c.key, c.text, false), 0U);
        EXPECT_DOUBLE_EQ(c.read(read), c.expected);
        EXPECT_DOUBLE_EQ(c.read(read), c.expected);
        const auto reported = capture.matching(c.key);
        ASSERT_EQ(reported.size(), 1U) << "once for a value, however often it is read";
        EXPECT_NE(reported[0].message.find(L"using its default"), std::wstring::npos);
    }
}

TEST_F(SupervisorSettingsTest, BoundsThatLeaveNoVoltageAcceptableReadAsTheDefaults) {
    test::LogCapture capture(0x0040);
    ASSERT_EQ(config.define(L"UI.InputVoltageMin", L"1|1106247680", false), 0U); // 30.0
    ASSERT_EQ(config.define(L"UI.InputVoltageMax", L"1|1101004800", false), 0U); // 20.0
    EXPECT_FLOAT_EQ(settings.inputVoltageMin(), 5.5F);
    EXPECT_FLOAT_EQ(settings.inputVoltageMax(), 48.5F);
    EXPECT_EQ(capture.matching(L"leave no voltage acceptable").size(), 1U);
    config.setFloat(L"UI.InputVoltageMax", 30.0F);
    EXPECT_FLOAT_EQ(settings.inputVoltageMin(), 30.0F) << "a single acceptable voltage is a range";
    EXPECT_FLOAT_EQ(settings.inputVoltageMax(), 30.0F);
}

TEST_F(SupervisorSettingsTest, TheOutputWindowsSettingsAndTheHeldFrameRate) {
    EXPECT_EQ(settings.pixelRate(), 2);
    EXPECT_FLOAT_EQ(settings.noiseFloor(), 0.5F);
    EXPECT_TRUE(settings.filtering());
    ASSERT_EQ(config.define(L"UI.PixelRate", L"1|3", false), 0U);
    ASSERT_EQ(config.define(L"UI.NoiseFloor", L"1|1050253722", false), 0U); // 0.3F, used as is
    ASSERT_EQ(config.define(L"UI.Filtering", L"0|0", false), 0U);
    EXPECT_EQ(settings.pixelRate(), 3);
    EXPECT_EQ(settings.noiseFloor(), 0.3F);
    EXPECT_FALSE(settings.filtering());

    test::LogCapture capture(0x0040);
    EXPECT_EQ(settings.targetFrameRate(), 16U);
    ASSERT_EQ(config.define(L"Device.FrameRateLimits", L"1|655380", false), 0U); // 10 to 20
    ASSERT_EQ(config.define(L"UI.FrameRate", L"1|30", false), 0U);
    EXPECT_EQ(settings.targetFrameRate(), 20U);
    ASSERT_EQ(config.define(L"Device.FrameRateLimits", L"1|19661200", false), 0U); // 300 to 400
    EXPECT_EQ(settings.targetFrameRate(), 16U);
    EXPECT_EQ(settings.targetFrameRate(), 16U);
    const auto reported = capture.matching(L"cannot hold");
    ASSERT_EQ(reported.size(), 1U);
    EXPECT_EQ(reported[0].message,
              L"Setting [Device.FrameRateLimits] (300 to 400) brings the frame rate to 300, "
              L"which the device cannot hold; using the default 16.");
}
