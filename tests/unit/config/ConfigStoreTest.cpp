#include "tests/unit/config/ConfigValuePrinter.h"
#include "tests/unit/support/CommaDecimalLocale.h"
#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/system/registry/RegKey.h"

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

using namespace wyr::windows::config;
using namespace wyr::windows::system;
using test::LogCapture;

namespace {

const std::wstring kPath = L"Software\\Tolvek\\Orvane\\Config";

class TestConfigMgr : public ConfigMgr {
public:
    TestConfigMgr() = default;
};

class ConfigStore : public test::TempConfigHome {
protected:
    std::string section(const std::string& group) const {
        return "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\" + group + "]\n";
    }
};

} // namespace

TEST_F(ConfigStore, SaveAndOpenRoundTripThroughTheSettingsFile) {
    TestConfigMgr config;
    ASSERT_EQ(config.define(L"Debug.LogFilter", L"1|65535", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"UI.ScaleFactor", L"2|1.0", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"Device.Serial.BaudRate", L"1|9600", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"UI.GainSettings", L"3|1|3|6|8", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"UI.VoltageVariation", L"1|1065353216", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"Debug.Logging", L"0|1", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"Debug.LogLocation", L"3|C:\\Logs \"quoted\"\nsecond line", false),
              ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"TopLevel", L"1|1", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"UI.Session", L"0|1", true), ERROR_SUCCESS);
    ASSERT_EQ(config.save(kPath), ERROR_SUCCESS);

    const std::string text = readAll(settingsFile());
    EXPECT_NE(text.find(section("Debug") + "\"LogFilter\"=\"1|65535\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Logging\"=\"0|1\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find(section("Device.Serial") + "\"BaudRate\"=\"1|9600\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find(section("UI") + "\"GainSettings\"=\"3|1|3|6|8\"\n\"ScaleFactor\"=\"2|1.000000\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config]\n\"TopLevel\"=\"1|1\"\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Session"), std::string::npos) << "transient entries are not saved";

    const auto saved = config.entries();
    TestConfigMgr loaded;
    ASSERT_EQ(loaded.define(L"Stale.Entry", L"1|1", false), ERROR_SUCCESS);
    ASSERT_EQ(loaded.open(kPath), ERROR_SUCCESS);
    EXPECT_FALSE(loaded.contains(L"Stale.Entry")) << "open starts from an empty store";
    EXPECT_FALSE(loaded.contains(L"UI.Session"));
    auto expected = saved;
    expected.erase(L"UI.Session");
    const auto entries = loaded.entries();
    ASSERT_EQ(entries.size(), expected.size());
    for (const auto& [name, entry] : expected) {
        ASSERT_TRUE(entries.count(name)) << toNarrow(name);
        EXPECT_EQ(entries.at(name).value, entry.value) << toNarrow(name);
        EXPECT_FALSE(entries.at(name).transient);
    }
    float variation = 0;
    ASSERT_TRUE(loaded.getFloat(L"UI.VoltageVariation", variation));
    EXPECT_EQ(variation, 1.0F);
}

TEST_F(ConfigStore, OpenOfAPathThatDoesNotExistLeavesTheStoreEmpty) {
    TestConfigMgr config;
    ASSERT_EQ(config.define(L"UI.Gain", L"1|5", false), ERROR_SUCCESS);
    EXPECT_EQ(config.open(kPath), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(config.entries().empty());
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(ConfigStore, BadStoredValuesCostOnlyThemselves) {
    const std::string original = "Windows Registry Editor Version 5.00\n\n" + section("Debug") +
                                 "\"LogFilter\"=\"1|65535\"\n"
                                 "\"NotANumber\"=\"1|abc\"\n"
                                 "\"NoBar\"=\"65535\"\n"
                                 "\"Dword\"=dword:00000010\n"
                                 "\"UnknownType\"=\"9|1\"\n"
                                 "\n" +
                                 section("UI") + "\"Gain\"=\"1|7\"\n";
    writeSettings(original);
    LogCapture log(0x0040);
    TestConfigMgr config;

    EXPECT_EQ(config.open(kPath), ERROR_INVALID_DATA);
    std::int32_t value = 0;
    EXPECT_TRUE(config.getInt(L"Debug.LogFilter", value));
    EXPECT_EQ(value, 65535);
    EXPECT_TRUE(config.getInt(L"UI.Gain", value)) << "keys after a bad value still load";
    EXPECT_EQ(value, 7);
    for (const wchar_t* bad : {L"Debug.NotANumber", L"Debug.NoBar", L"Debug.Dword", L"Debug.UnknownType"}) {
        EXPECT_FALSE(config.contains(bad)) << toNarrow(bad);
        EXPECT_FALSE(log.matching(bad).empty()) << toNarrow(bad);
    }
    EXPECT_EQ(readAll(settingsFile()), original) << "loading never writes";

    // Saving keeps the stored texts no entry replaces.
    config.setInt(L"UI.Gain", 8);
    ASSERT_EQ(config.save(kPath), ERROR_SUCCESS);
    const std::string text = readAll(settingsFile());
    EXPECT_NE(text.find("\"NotANumber\"=\"1|abc\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Dword\"=dword:00000010"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Gain\"=\"1|8\""), std::string::npos) << text;
}

TEST_F(ConfigStore, ACorruptFileIsSetAsideAndTheProgramRunsOnDefaults) {
    const std::string garbage = "\x89PNG\r\n\x1A\n not settings at all";
    writeSettings(garbage);
    LogCapture log(0x0040);
    TestConfigMgr config;

    EXPECT_EQ(config.open(kPath), ERROR_BADDB);
    EXPECT_TRUE(config.entries().empty());
    EXPECT_EQ(readAll(settingsFile().string() + ".corrupt"), garbage);
    EXPECT_FALSE(log.matching(L"cannot be parsed").empty());

    ASSERT_EQ(config.define(L"UI.Gain", L"1|5", false), ERROR_SUCCESS);
    ASSERT_EQ(config.save(kPath), ERROR_SUCCESS);
    TestConfigMgr again;
    ASSERT_EQ(again.open(kPath), ERROR_SUCCESS);
    EXPECT_TRUE(again.contains(L"UI.Gain"));
    EXPECT_EQ(readAll(settingsFile().string() + ".corrupt"), garbage);
}

TEST_F(ConfigStore, OneBadLineCostsOnlyItselfAndTheFileIsKeptAsACopy) {
    const std::string original = "Windows Registry Editor Version 5.00\n\n" + section("Debug") +
                                 "\"LogFilter\"=\"1|65535\"\n"
                                 "\"Broken\"=\"1|5\" and then some\n"
                                 "\"Logging\"=\"0|1\"\n\n" +
                                 section("UI") + "\"Gain\"=\"1|7\"\n";
    writeSettings(original);
    LogCapture log(0x0040);
    TestConfigMgr config;

    EXPECT_EQ(config.open(kPath), ERROR_REGISTRY_RECOVERED);
    std::int32_t value = 0;
    EXPECT_TRUE(config.getInt(L"Debug.LogFilter", value));
    EXPECT_TRUE(config.getInt(L"UI.Gain", value));
    EXPECT_EQ(value, 7);
    bool logging = false;
    EXPECT_TRUE(config.getBool(L"Debug.Logging", logging));
    EXPECT_FALSE(config.contains(L"Debug.Broken"));
    EXPECT_FALSE(log.matching(L"Line 5 of the settings file").empty());
    EXPECT_EQ(readAll(settingsFile().string() + ".corrupt"), original);

    ASSERT_EQ(config.save(kPath), ERROR_SUCCESS);
    TestConfigMgr again;
    EXPECT_EQ(again.open(kPath), ERROR_SUCCESS);
    EXPECT_EQ(again.entries().size(), 3U);
}

TEST_F(ConfigStore, SaveFailuresAreResultsAndTheEntriesStay) {
    TestConfigMgr config;
    ASSERT_EQ(config.define(L"UI.Gain", L"1|5", false), ERROR_SUCCESS);
    ASSERT_EQ(config.save(kPath), ERROR_SUCCESS);
    const std::string before = readAll(settingsFile());
    LogCapture log(0x0040);

    config.setInt(L"UI.Gain", 6);
    std::filesystem::permissions(settingsFile(), std::filesystem::perms::owner_read);
    EXPECT_EQ(config.save(kPath), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readAll(settingsFile()), before);
    EXPECT_FALSE(log.matching(L"Failed to save the configuration").empty());

    const auto blocker = home / "blocker";
    std::ofstream(blocker) << "x";
    ::setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
    EXPECT_EQ(config.save(kPath), ERROR_PATH_NOT_FOUND);
    std::int32_t gain = 0;
    ASSERT_TRUE(config.getInt(L"UI.Gain", gain));
    EXPECT_EQ(gain, 6);
}

TEST_F(ConfigStore, NamesTheStoreCannotHoldAreSkippedAndReported) {
    TestConfigMgr config;
    LogCapture log(0x0040);
    ASSERT_EQ(config.define(L".NoGroup", L"1|1", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"Group\\Sub.Name", L"1|2", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"UI.Line\nBreak", L"1|3", false), ERROR_SUCCESS);
    ASSERT_EQ(config.define(L"UI.Good", L"1|4", false), ERROR_SUCCESS);

    EXPECT_EQ(config.save(kPath), ERROR_INVALID_NAME);
    EXPECT_FALSE(log.matching(L"Name cannot contain the seperator character.").empty());
    TestConfigMgr loaded;
    ASSERT_EQ(loaded.open(kPath), ERROR_SUCCESS);
    EXPECT_EQ(loaded.entries().size(), 1U);
    EXPECT_TRUE(loaded.contains(L"UI.Good"));
}

TEST_F(ConfigStore, NestedKeysLoadDepthFirstWithDottedNames) {
    RegKey root(RegRootKey::HKEY_CURRENT_USER, kPath);
    root.child(L"A").child(L"B").setValue(RegValue::fromString(L"C", L"1|1"));
    root.child(L"A").setValue(RegValue::fromString(L"D", L"3|x"));
    root.setValue(RegValue::fromString(L"", L"0|1"));
    ASSERT_EQ(root.write(), ERROR_SUCCESS);

    TestConfigMgr config;
    ASSERT_EQ(config.open(kPath), ERROR_SUCCESS);
    EXPECT_TRUE(config.contains(L"A.B.C"));
    EXPECT_TRUE(config.contains(L"A.D"));
    EXPECT_TRUE(config.contains(L"")) << "the default value under the path is named by its empty name";
}

TEST_F(ConfigStore, NumbersAreStoredAndReadTheSameInAUserLocale) {
    const test::CommaDecimalLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << locale.why();
    }
    TestConfigMgr config;
    config.setDouble(L"UI.ScaleFactor", 1.0);
    config.setDouble(L"UI.Ratio", 0.1234567);
    config.setInt(L"UI.Count", 1234567);
    ASSERT_EQ(config.save(kPath), ERROR_SUCCESS);
    const std::string text = readAll(settingsFile());
    EXPECT_NE(text.find("\"ScaleFactor\"=\"2|1.000000\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Ratio\"=\"2|0.1234567\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Count\"=\"1|1234567\""), std::string::npos) << text;

    TestConfigMgr loaded;
    ASSERT_EQ(loaded.open(kPath), ERROR_SUCCESS);
    double value = 0;
    ASSERT_TRUE(loaded.getDouble(L"UI.ScaleFactor", value));
    EXPECT_EQ(value, 1.0);
    ASSERT_TRUE(loaded.getDouble(L"UI.Ratio", value));
    EXPECT_EQ(value, 0.1234567);

    // Texts keep one meaning: the locale's comma and digit grouping are not numbers.
    ConfigValue parsed;
    ASSERT_EQ(ConfigMgr::parse(L"2|2.5", parsed), ERROR_SUCCESS);
    EXPECT_EQ(parsed, ConfigValue(2.5));
    EXPECT_THROW(ConfigMgr::parse(L"2|2,5", parsed), boost::bad_lexical_cast);
    EXPECT_THROW(ConfigMgr::parse(L"1|1.000", parsed), boost::bad_lexical_cast);
}
