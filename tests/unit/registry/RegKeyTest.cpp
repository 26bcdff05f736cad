#include "wyr/windows/system/registry/RegKey.h"

#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/system/registry/RegNotifyFilter.h"
#include "wyr/windows/system/registry/RegistryFile.h"
#include "wyr/windows/system/registry/RegistryHive.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace wyr::windows::system;

namespace {

const std::wstring kConfig = L"Software\\Tolvek\\Orvane\\Config";

class RegKeyTest : public test::TempConfigHome {};

std::wstring stringOf(RegKey& key, const std::wstring& name) {
    RegValue value;
    std::wstring text;
    if (key.readValue(name, value) != ERROR_SUCCESS || !value.asString(text)) {
        return L"<none>";
    }
    return text;
}

} // namespace

TEST(RegEnums, CarryThePlatformNamesAndNumbers) {
    EXPECT_EQ(RegRootKey::HKEY_CLASSES_ROOT.value(), 0x80000000U);
    EXPECT_EQ(RegRootKey::HKEY_CURRENT_USER.name(), L"HKEY_CURRENT_USER");
    EXPECT_EQ(RegRootKey::registry().rbegin()->second->name(), L"HKEY_PERFORMANCE_NLSTEXT");
    EXPECT_EQ(RegRootKey::registry().size(), 10U);
    EXPECT_EQ(RegAccess::KEY_ALL_ACCESS.value(), 0xF003FU);
    EXPECT_EQ(RegAccess::KEY_READ.value(), 0x20019U);
    EXPECT_EQ(RegAccess::KEY_WRITE.value(), 0x20006U);
    EXPECT_EQ(RegKeyOption::REG_OPTION_VOLATILE.value(), 1U);
    EXPECT_EQ(RegDisposition::fromValue(2)->name(), L"REG_OPENED_EXISTING_KEY");
    EXPECT_EQ(RegNotifyFilter::REG_NOTIFY_CHANGE_LAST_SET.value(), 4U);
    EXPECT_EQ(RegValueType::registry().size(), 9U);
    EXPECT_EQ(RegValueType::fromValue(8)->name(), L"REG_RESOURCE_LIST");
}

TEST_F(RegKeyTest, WritesOneFileUnderTheConfigHomeAndReadsItBack) {
    RegKey config(RegRootKey::HKEY_CURRENT_USER, kConfig);
    config.child(L"Debug").setValue(RegValue::fromString(L"LogFilter", L"1|65535"));
    config.child(L"UI").setValue(RegValue::fromString(L"ScaleFactor", L"2|1.000000"));
    ASSERT_EQ(config.write(), ERROR_SUCCESS);

    ASSERT_TRUE(std::filesystem::exists(settingsFile()));
    const std::string text = readAll(settingsFile());
    EXPECT_NE(
        text.find(
            "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Debug]\n\"LogFilter\"=\"1|65535\"\n"),
        std::string::npos)
        << text;

    // Another object sees the same hive; names ignore case.
    RegKey reader(RegRootKey::HKEY_CURRENT_USER, L"\\software\\tolvek\\orvane\\config\\");
    ASSERT_EQ(reader.open(), ERROR_SUCCESS);
    ASSERT_EQ(reader.enumerate(), ERROR_SUCCESS);
    ASSERT_EQ(reader.children().size(), 2U);
    EXPECT_EQ(reader.children().front().name(), L"Debug");
    EXPECT_EQ(reader.children().front().path(), L"software\\tolvek\\orvane\\config\\Debug");
    RegKey debug = reader.children().front();
    ASSERT_EQ(debug.open(), ERROR_SUCCESS);
    EXPECT_EQ(stringOf(debug, L"logfilter"), L"1|65535");

    // A hand edit of the file is seen at the next access.
    writeSettings(
        text + "\n[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Debug]\n\"Added\"=\"3|by hand\"\n");
    EXPECT_EQ(stringOf(debug, L"Added"), L"3|by hand");

    // Writing again keeps values the writer does not name.
    RegKey update(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\Debug");
    update.setValue(RegValue::fromString(L"LogFilter", L"1|7"));
    ASSERT_EQ(update.write(), ERROR_SUCCESS);
    EXPECT_EQ(stringOf(debug, L"LogFilter"), L"1|7");
    EXPECT_EQ(stringOf(debug, L"Added"), L"3|by hand");
}

TEST_F(RegKeyTest, TheFileRuleFollowsXdgConfigHomeThenHomeThenTheOverride) {
    const auto homeDir = home / "user";
    std::filesystem::create_directories(homeDir);
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", homeDir.c_str(), 1);
    RegistryHive& hive = *RegistryHive::of(RegRootKey::HKEY_CURRENT_USER);
    std::string path;
    {
        const auto guard = hive.lock();
        ASSERT_EQ(hive.filePath(path), ERROR_SUCCESS);
        EXPECT_EQ(path, settingsFile().string());
        ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
        ASSERT_EQ(hive.filePath(path), ERROR_SUCCESS);
        EXPECT_EQ(path, (homeDir / ".config" / "Tolvek" / "Orvane.reg").string());
        ::unsetenv("XDG_CONFIG_HOME");
        ASSERT_EQ(hive.filePath(path), ERROR_SUCCESS);
        EXPECT_EQ(path, (homeDir / ".config" / "Tolvek" / "Orvane.reg").string());
    }
    const auto elsewhere = home / "elsewhere" / "settings.reg";
    RegistryHive::setFileOverride(elsewhere.string());
    RegKey key(RegRootKey::HKEY_CURRENT_USER, L"Software\\Test");
    key.setValue(RegValue::fromString(L"N", L"v"));
    const ErrorCode rc = key.write();
    RegistryHive::setFileOverride({});
    ::setenv("HOME", savedHome.c_str(), 1);
    EXPECT_EQ(rc, ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(elsewhere));
    EXPECT_FALSE(std::filesystem::exists(homeDir / ".config"));
}

TEST_F(RegKeyTest, OpenCreateAndTheResultsOfAKeyThatIsNotThere) {
    RegKey missing(RegRootKey::HKEY_CURRENT_USER, kConfig);
    EXPECT_EQ(missing.open(RegAccess::KEY_ALL_ACCESS.value()), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(missing.isOpen());
    RegValue value;
    EXPECT_EQ(missing.readValue(L"X", value), ERROR_INVALID_HANDLE);
    EXPECT_EQ(missing.enumerate(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(std::filesystem::exists(settingsFile())) << "reading creates nothing";

    const RegDisposition* disposition = nullptr;
    RegKey created(RegRootKey::HKEY_CURRENT_USER, kConfig);
    ASSERT_EQ(created.create(RegKeyOption::REG_OPTION_NON_VOLATILE, RegAccess::KEY_ALL_ACCESS.value(),
                             &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, &RegDisposition::REG_CREATED_NEW_KEY);
    EXPECT_NE(readAll(settingsFile()).find("[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config]"),
              std::string::npos)
        << "an empty key is kept in the file";
    ASSERT_EQ(created.create(RegKeyOption::REG_OPTION_NON_VOLATILE, RegAccess::KEY_ALL_ACCESS.value(),
                             &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, &RegDisposition::REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(created.readValue(L"X", value), ERROR_FILE_NOT_FOUND);

    RegKey readOnly(RegRootKey::HKEY_CURRENT_USER, kConfig);
    ASSERT_EQ(readOnly.open(RegAccess::KEY_QUERY_VALUE.value()), ERROR_SUCCESS);
    EXPECT_EQ(readOnly.enumerate(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readOnly.deleteValue(L"X"), ERROR_ACCESS_DENIED);

    RegKey other(RegRootKey::HKEY_LOCAL_MACHINE, L"Software");
    EXPECT_EQ(other.open(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(other.connect(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(created.connect(), ERROR_SUCCESS);
    EXPECT_EQ(created.connect(L"\\\\localhost"), ERROR_SUCCESS);
    EXPECT_EQ(created.connect(L"\\\\some-other-host.invalid"), ERROR_BAD_NETPATH);
}

TEST_F(RegKeyTest, ChildNamesRefuseTheSeparatorAndControlCharactersAreNotWritten) {
    RegKey key(RegRootKey::HKEY_CURRENT_USER, kConfig);
    try {
        key.child(L"Group\\Sub");
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Name cannot contain the seperator character.");
    }
    EXPECT_THROW(key.child(L""), std::invalid_argument);
    EXPECT_EQ(&key.child(L"Debug"), &key.child(L"DEBUG"));

    key.child(L"Debug").setValue(RegValue::fromString(L"Fine", L"1|1"));
    key.child(L"Debug").setValue(RegValue::fromString(L"Line\nBreak", L"1|1"));
    EXPECT_EQ(key.write(), ERROR_INVALID_NAME);
    EXPECT_FALSE(std::filesystem::exists(settingsFile())) << "nothing of a refused write is stored";
}

TEST_F(RegKeyTest, ACopyKeepsItsOwnChildrenAndATreeIsReadWhole) {
    RegKey original(RegRootKey::HKEY_CURRENT_USER, kConfig);
    original.child(L"A").child(L"B").setValue(RegValue::fromString(L"C", L"1"));
    RegKey copy = original;
    copy.child(L"a").setValue(RegValue::fromString(L"D", L"2"));
    ASSERT_EQ(copy.children().size(), 1U) << "the copy finds its own child, whatever the case";
    EXPECT_EQ(copy.children().front().values().size(), 1U);
    EXPECT_TRUE(original.children().front().values().empty()) << "the original is untouched";
    copy = original;
    EXPECT_TRUE(copy.child(L"A").values().empty());
    ASSERT_EQ(original.write(), ERROR_SUCCESS);

    RegKey reader(RegRootKey::HKEY_CURRENT_USER, kConfig);
    ASSERT_EQ(reader.open(), ERROR_SUCCESS);
    ASSERT_EQ(reader.enumerateTree(), ERROR_SUCCESS);
    ASSERT_EQ(reader.children().size(), 1U);
    const RegKey& a = reader.children().front();
    EXPECT_EQ(a.path(), kConfig + L"\\A");
    ASSERT_EQ(a.children().size(), 1U);
    const RegValue* c = a.children().front().findValue(L"c");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(RegValue::decodeString(c->data()), L"1");
}

TEST_F(RegKeyTest, KeysDeeperThanTheSettingsFileKeepsAreRefused) {
    std::wstring path;
    for (std::size_t i = 0; i < RegistryFile::kMaximumDepth; ++i) {
        path += L"\\L";
    }
    RegKey deepest(RegRootKey::HKEY_CURRENT_USER, path);
    deepest.setValue(RegValue::fromString(L"N", L"v"));
    EXPECT_EQ(deepest.write(), ERROR_SUCCESS);

    RegKey parent(RegRootKey::HKEY_CURRENT_USER, path.substr(2));
    parent.child(L"L").child(L"Deeper").setValue(RegValue::fromString(L"N", L"v"));
    EXPECT_EQ(parent.write(), ERROR_INVALID_NAME);
    RegKey tooDeep(RegRootKey::HKEY_CURRENT_USER, path + L"\\L");
    EXPECT_EQ(tooDeep.create(), ERROR_INVALID_NAME);
    EXPECT_EQ(readAll(settingsFile()).find("Deeper"), std::string::npos);

    RegKey reader(RegRootKey::HKEY_CURRENT_USER, path);
    EXPECT_EQ(reader.open(), ERROR_SUCCESS) << "what was written reads back";
}

TEST_F(RegKeyTest, DeleteQueryAndAKeyDeletedWhileOpen) {
    RegKey config(RegRootKey::HKEY_CURRENT_USER, kConfig);
    config.child(L"A").setValue(RegValue::fromString(L"One", L"1"));
    config.child(L"A").setValue(RegValue::fromString(L"LongerName", L"12345"));
    config.child(L"B").child(L"Deep").setValue(RegValue::fromString(L"X", L"x"));
    ASSERT_EQ(config.write(), ERROR_SUCCESS);

    RegKey a(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\A");
    ASSERT_EQ(a.open(RegAccess::KEY_ALL_ACCESS.value()), ERROR_SUCCESS);
    RegKeyInfo info;
    ASSERT_EQ(a.queryInfo(info), ERROR_SUCCESS);
    EXPECT_EQ(info.values, 2U);
    EXPECT_EQ(info.subKeys, 0U);
    EXPECT_EQ(info.maxValueNameLength, 10U);
    EXPECT_EQ(info.maxValueDataLength, 12U) << "five characters and the terminating zero, two bytes each";
    EXPECT_EQ(a.deleteValue(L"one"), ERROR_SUCCESS);
    EXPECT_EQ(a.deleteValue(L"one"), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(config.open(RegAccess::KEY_ALL_ACCESS.value()), ERROR_SUCCESS);
    EXPECT_EQ(config.deleteKey(L"B\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(config.deleteKey(L"A"), ERROR_SUCCESS);
    RegValue value;
    EXPECT_EQ(a.readValue(L"LongerName", value), ERROR_KEY_DELETED);
    EXPECT_EQ(a.enumerate(), ERROR_KEY_DELETED);
    const std::string text = readAll(settingsFile());
    EXPECT_EQ(text.find("Config\\A]"), std::string::npos) << text;
    EXPECT_NE(text.find("Config\\B\\Deep]"), std::string::npos) << text;
}

TEST_F(RegKeyTest, VolatileKeysStayInMemoryAcrossReloads) {
    RegKey scratch(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\Scratch");
    ASSERT_EQ(scratch.create(RegKeyOption::REG_OPTION_VOLATILE), ERROR_SUCCESS);
    RegKey inside(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\Scratch");
    inside.setValue(RegValue::fromString(L"Session", L"only"));
    ASSERT_EQ(inside.write(), ERROR_SUCCESS);
    RegKey kept(RegRootKey::HKEY_CURRENT_USER, kConfig + L"\\Kept");
    kept.setValue(RegValue::fromString(L"N", L"v"));
    ASSERT_EQ(kept.write(), ERROR_SUCCESS);

    EXPECT_EQ(readAll(settingsFile()).find("Scratch"), std::string::npos);
    EXPECT_NE(readAll(settingsFile()).find("Config\\Kept]"), std::string::npos)
        << "the parents are ordinary keys";
    writeSettings(readAll(settingsFile()) + "\n[HKEY_CURRENT_USER\\Other]\n\"N\"=\"v\"\n");
    ASSERT_EQ(scratch.open(), ERROR_SUCCESS) << "reloading the changed file keeps volatile keys";
    EXPECT_EQ(stringOf(scratch, L"Session"), L"only");
    RegKey other(RegRootKey::HKEY_CURRENT_USER, L"Other");
    EXPECT_EQ(other.open(), ERROR_SUCCESS);
}
