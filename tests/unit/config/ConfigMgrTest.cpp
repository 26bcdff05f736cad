#include "wyr/windows/config/ConfigMgr.h"

#include "tests/unit/config/ConfigValuePrinter.h"
#include "wyr/windows/config/ConfigStorage.h"
#include "wyr/windows/config/ConfigTypeMismatch.h"

#include <boost/lexical_cast.hpp>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace wyr::windows::config;
using namespace wyr::windows::system;

namespace {

// A manager of its own per test; the process-wide one is reached through instance().
class TestConfigMgr : public ConfigMgr {
public:
    TestConfigMgr() = default;
};

} // namespace

TEST(ConfigEnums, TypesAndStoragesWithTheirNames) {
    ASSERT_EQ(ConfigType::registry().size(), 4U);
    EXPECT_EQ(ConfigType::fromValue(0)->name(), L"bool");
    EXPECT_EQ(ConfigType::fromValue(1)->name(), L"int");
    EXPECT_EQ(ConfigType::fromValue(2)->name(), L"double");
    EXPECT_EQ(ConfigType::fromValue(3)->name(), L"string");
    EXPECT_EQ(ConfigStorage::Registry.value(), 1);
    EXPECT_EQ(ConfigStorage::IniFile.name(), L"INI File");
    // The variant's tag is the type code.
    EXPECT_EQ(ConfigValue(true).which(), ConfigType::Bool.value());
    EXPECT_EQ(ConfigValue(std::int32_t{1}).which(), ConfigType::Int.value());
    EXPECT_EQ(ConfigValue(1.0).which(), ConfigType::Double.value());
    EXPECT_EQ(ConfigValue(std::wstring()).which(), ConfigType::String.value());
}

TEST(ConfigMgr, DefineParsesTheTextFormOrRejectsItWith13) {
    TestConfigMgr config;
    for (const wchar_t* text : {L"", L"5", L"|1", L"7|1", L"-1|1", L"x|1", L" 1|1", L"99999999999|1"}) {
        EXPECT_EQ(config.define(L"G.Bad", text, false), ERROR_INVALID_DATA) << text;
    }
    EXPECT_FALSE(config.contains(L"G.Bad"));

    struct Case {
        const wchar_t* text;
        ConfigValue expected;
    };
    const std::vector<Case> cases{
        {L"3|", std::wstring()},
        {L"0|2", true},
        {L"0|0", false},
        {L"0|-1", true},
        {L"1|38400", std::int32_t{38400}},
        {L"1|-2147483648", std::numeric_limits<std::int32_t>::min()},
        {L"1|1065353216", std::int32_t{1065353216}},
        {L"1|3212836864", std::int32_t{-1082130432}}, // -1.0f written unsigned
        {L"2|1.0", 1.0},
        {L"2|-2.5e3", -2500.0},
        {L"3|%TEMP%", std::wstring(L"%TEMP%")},
        {L"3|1|3|6", std::wstring(L"1|3|6")},
        {L"03|leading zero", std::wstring(L"leading zero")},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(config.define(L"G.Name", c.text, true), ERROR_SUCCESS) << c.text;
        EXPECT_EQ(config.entries().at(L"G.Name").value, c.expected) << c.text;
        EXPECT_TRUE(config.entries().at(L"G.Name").transient);
    }
    // A malformed text leaves the earlier entry as it was.
    EXPECT_EQ(config.define(L"G.Name", L"7|1", false), ERROR_INVALID_DATA);
    std::wstring text;
    EXPECT_TRUE(config.getString(L"G.Name", text));
    EXPECT_EQ(text, L"leading zero");
}

TEST(ConfigMgr, ValueTextsThatDoNotConvertThrowAndChangeNothing) {
    TestConfigMgr config;
    ASSERT_EQ(config.define(L"UI.Gain", L"1|5", false), ERROR_SUCCESS);
    for (const wchar_t* text : {L"1|abc", L"1|", L"1| 5", L"1|5 ", L"1|4294967296", L"1|-2147483649",
                                L"1|1.5", L"0|", L"0|true", L"2|", L"2|one", L"2|1,5"}) {
        try {
            config.define(L"UI.Gain", text, false);
            ADD_FAILURE() << "no exception for " << toNarrow(text);
        } catch (const boost::bad_lexical_cast& e) {
            EXPECT_STREQ(e.what(), "bad lexical cast: source type value could not be interpreted as target");
        }
        std::int32_t gain = 0;
        ASSERT_TRUE(config.getInt(L"UI.Gain", gain));
        EXPECT_EQ(gain, 5);
    }
}

TEST(ConfigMgr, GettersReturnFalseForMissingEntriesAndThrowOnAnotherType) {
    TestConfigMgr config;
    std::int32_t number = 42;
    EXPECT_FALSE(config.getInt(L"Missing.Key", number));
    EXPECT_EQ(number, 42);

    ASSERT_EQ(config.define(L"UI.FrameRate", L"1|16", false), ERROR_SUCCESS);
    std::wstring text = L"unchanged";
    try {
        config.getString(L"UI.FrameRate", text);
        ADD_FAILURE() << "no exception";
    } catch (const ConfigTypeMismatch& e) {
        EXPECT_EQ(e.name(), L"UI.FrameRate");
        EXPECT_EQ(e.held(), ConfigType::Int);
        EXPECT_EQ(e.asked(), ConfigType::String);
        EXPECT_STREQ(e.what(), "Configuration entry UI.FrameRate holds a int value, not a string value.");
    }
    EXPECT_EQ(text, L"unchanged");
    bool flag = false;
    double real = 0;
    EXPECT_THROW(config.getBool(L"UI.FrameRate", flag), boost::bad_get);
    EXPECT_THROW(config.getDouble(L"UI.FrameRate", real), ConfigTypeMismatch);
    ASSERT_EQ(config.define(L"UI.Filtering", L"0|1", false), ERROR_SUCCESS);
    EXPECT_THROW(config.getInt(L"UI.Filtering", number), ConfigTypeMismatch) << "a bool is not an int";
}

TEST(ConfigMgr, IntegersCarryFloatBitPatterns) {
    TestConfigMgr config;
    struct Case {
        const wchar_t* text;
        float expected;
    };
    for (const auto& c :
         {Case{L"1|1065353216", 1.0F}, Case{L"1|1085276160", 5.5F}, Case{L"1|1111621632", 48.5F},
          Case{L"1|1056964608", 0.5F}, Case{L"1|3212836864", -1.0F}, Case{L"1|-1082130432", -1.0F}}) {
        ASSERT_EQ(config.define(L"UI.Float", c.text, false), ERROR_SUCCESS);
        float value = 0;
        ASSERT_TRUE(config.getFloat(L"UI.Float", value));
        EXPECT_EQ(value, c.expected) << c.text;
    }
    config.setFloat(L"UI.Float", -0.25F);
    std::int32_t bits = 0;
    ASSERT_TRUE(config.getInt(L"UI.Float", bits));
    EXPECT_EQ(floatFromBits(bits), -0.25F);
    // Its text form reads back to the same pattern.
    ConfigValue back;
    ASSERT_EQ(ConfigMgr::parse(ConfigMgr::format(bits), back), ERROR_SUCCESS);
    EXPECT_EQ(back, ConfigValue(bits));
}

TEST(ConfigMgr, TextFormOfEachType) {
    const std::vector<std::pair<ConfigValue, std::wstring>> cases{
        {true, L"0|1"},
        {false, L"0|0"},
        {std::int32_t{65535}, L"1|65535"},
        {std::int32_t{-7}, L"1|-7"},
        {1.0, L"2|1.000000"},
        {-0.5, L"2|-0.500000"},
        {std::wstring(L"1|3|6|8"), L"3|1|3|6|8"},
        {std::wstring(), L"3|"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(ConfigMgr::format(value), text);
        ConfigValue back;
        ASSERT_EQ(ConfigMgr::parse(text, back), ERROR_SUCCESS);
        EXPECT_EQ(back, value) << ConfigMgr::format(back);
    }
    // Six decimals cannot hold every double: those keep all their digits instead.
    for (const double value :
         {0.1234567, 1e-9, 123456789.123456789, -3.0e300, 0.1, std::numeric_limits<double>::infinity()}) {
        ConfigValue back;
        ASSERT_EQ(ConfigMgr::parse(ConfigMgr::format(value), back), ERROR_SUCCESS);
        EXPECT_EQ(boost::get<double>(back), value) << ConfigMgr::format(value).c_str();
    }
    EXPECT_EQ(ConfigMgr::format(0.1), L"2|0.100000");
    ConfigValue nan;
    ASSERT_EQ(ConfigMgr::parse(ConfigMgr::format(std::nan("")), nan), ERROR_SUCCESS);
    EXPECT_TRUE(std::isnan(boost::get<double>(nan)));
}
