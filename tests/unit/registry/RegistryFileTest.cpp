#include "wyr/windows/system/registry/RegistryFile.h"

#include "wyr/windows/system/TextConversion.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace wyr::windows::system;

namespace {

std::wstring stringOf(const RegistryNode& node, const std::wstring& name) {
    const RegValue* value = node.findValue(name);
    std::wstring text;
    if (value == nullptr || !value->asString(text)) {
        return L"<none>";
    }
    return text;
}

const RegistryNode* at(const RegistryNode& root, const std::vector<std::wstring>& path) {
    const RegistryNode* node = &root;
    for (const auto& part : path) {
        node = node == nullptr ? nullptr : node->findChild(part);
    }
    return node;
}

std::string describe(const RegistryFile::Outcome& outcome) {
    std::string text = outcome.settingsFile ? "" : "not a settings file; ";
    for (const auto& problem : outcome.problems) {
        text += std::to_string(problem.line) + ": " + toNarrow(problem.reason) + "\n";
    }
    return text;
}

} // namespace

TEST(RegistryFile, ReadsTheExportFormatWithItsVariants) {
    const std::string text = "\xEF\xBB\xBF"
                             "; written by hand\r\n"
                             "\r\n"
                             "Windows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Debug]\r\n"
                             "\"LogFilter\"=\"1|65535\"\r\n"
                             "  \"Quoted\" = \"a \\\"b\\\" c\\\\d\"  \r\n"
                             "\"Kept\"=\"C:\\temp\"\r\n"
                             "@=\"default\"\r\n"
                             "; a comment between values\r\n"
                             "\"Count\"=dword:0000002A\r\n"
                             "\"Blob\"=hex:01,02,\\\r\n"
                             "  ff\r\n"
                             "\"Expand\"=hex(2):25,00,54,00,00,00\r\n"
                             "\"Gone\"=\"x\"\r\n"
                             "\"Gone\"=-\r\n"
                             "\r\n"
                             "[hkey_current_user\\software\\TOLVEK\\orvane\\config\\debug]\r\n"
                             "\"logfilter\"=\"1|255\"\r\n"
                             "\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Dropped]\r\n"
                             "\"A\"=\"1\"\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\Dropped]\r\n"
                             "\"IgnoredUnderADeletedKey\"=\"1\"\r\n";
    RegistryNode root(L"HKEY_CURRENT_USER");
    const auto outcome = RegistryFile::parse(text, root);
    ASSERT_TRUE(outcome.complete()) << describe(outcome);

    const RegistryNode* debug = at(root, {L"Software", L"Tolvek", L"Orvane", L"Config", L"Debug"});
    ASSERT_NE(debug, nullptr);
    EXPECT_EQ(debug->name(), L"Debug") << "the first spelling stays";
    EXPECT_EQ(stringOf(*debug, L"LogFilter"), L"1|255") << "a later line for the same value wins";
    EXPECT_EQ(stringOf(*debug, L"Quoted"), L"a \"b\" c\\d");
    EXPECT_EQ(stringOf(*debug, L"Kept"), L"C:\\temp") << "a backslash that escapes nothing is kept";
    EXPECT_EQ(stringOf(*debug, L""), L"default");
    std::uint32_t count = 0;
    ASSERT_NE(debug->findValue(L"Count"), nullptr);
    EXPECT_TRUE(debug->findValue(L"Count")->asDword(count));
    EXPECT_EQ(count, 42U);
    ASSERT_NE(debug->findValue(L"Blob"), nullptr);
    EXPECT_EQ(debug->findValue(L"Blob")->type(), RegValueType::REG_BINARY.value());
    EXPECT_EQ(debug->findValue(L"Blob")->data(), (RegValue::Data{0x01, 0x02, 0xFF}));
    EXPECT_EQ(stringOf(*debug, L"Expand"), L"%T");
    EXPECT_EQ(debug->findValue(L"Gone"), nullptr);
    EXPECT_EQ(at(root, {L"Software", L"Dropped"}), nullptr);
}

TEST(RegistryFile, AcceptsUtf16AndTheOlderHeaderAndAnEmptyFile) {
    std::string utf16 = "\xFF\xFE";
    for (const wchar_t c : std::wstring(L"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\K]\r\n"
                                        L"\"N\"=\"\u00e9\U0001F600\"\r\n")) {
        const auto data = RegValue::encodeString(std::wstring(1, c));
        utf16.append(data.begin(), data.end() - 2);
    }
    const std::vector<std::pair<std::string, std::wstring>> cases{
        {utf16, L"\u00e9\U0001F600"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"N\"=\"v\"\n", L"v"},
        {"", L"<none>"},
        {"\n; only a comment\n", L"<none>"},
    };
    for (const auto& [bytes, expected] : cases) {
        RegistryNode root(L"HKEY_CURRENT_USER");
        const auto outcome = RegistryFile::parse(bytes, root);
        ASSERT_TRUE(outcome.complete()) << describe(outcome);
        const RegistryNode* key = root.findChild(L"K");
        EXPECT_EQ(key == nullptr ? L"<none>" : stringOf(*key, L"N"), expected);
    }
}

TEST(RegistryFile, BytesThatAreNotASettingsFileAreRefusedWhole) {
    const std::vector<std::pair<std::string, std::size_t>> cases{
        {"garbage\n", 1},
        {std::string("\x7F"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
         1},
        {"\n\n[HKEY_CURRENT_USER\\K]\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"N\"=\"caf\xE9\"\n", 0},
        {"\xFF\xFE\x41", 0},
    };
    for (const auto& [bytes, line] : cases) {
        SCOPED_TRACE(bytes);
        RegistryNode root(L"HKEY_CURRENT_USER");
        const auto outcome = RegistryFile::parse(bytes, root);
        EXPECT_FALSE(outcome.settingsFile);
        ASSERT_EQ(outcome.problems.size(), 1U);
        EXPECT_EQ(outcome.problems[0].line, line);
        EXPECT_FALSE(outcome.problems[0].reason.empty());
    }
}

TEST(RegistryFile, ALineThatCannotBeReadIsSkippedAndEveryOtherLineKept) {
    const std::string start =
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"Before\"=\"1\"\n";
    const std::string after = "\"After\"=\"2\"\n";
    for (const std::string bad :
         {"\"N\"=\"v\" trailing", "\"N\"=\"unterminated", "\"N=\"v\"", "\"N\" \"v\"", "\"N\"=dword:123456789",
          "\"N\"=dword:xyz", "\"N\"=hex:01,2g", "\"N\"=hex:01,,02", "\"N\"=hex(zz):01", "\"N\"=qword:1",
          "plain text", "\"N\"=hex:01,\\\n  zz"}) {
        SCOPED_TRACE(bad);
        RegistryNode root(L"HKEY_CURRENT_USER");
        const auto outcome = RegistryFile::parse(start + bad + "\n" + after, root);
        EXPECT_TRUE(outcome.settingsFile);
        EXPECT_EQ(outcome.skippedLines, 1U);
        ASSERT_EQ(outcome.problems.size(), 1U);
        EXPECT_EQ(outcome.problems[0].line, 4U);
        const RegistryNode* key = root.findChild(L"K");
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(stringOf(*key, L"Before"), L"1");
        EXPECT_EQ(stringOf(*key, L"After"), L"2");
        EXPECT_EQ(key->findValue(L"N"), nullptr);
    }

    // A key line that cannot be read takes its values with it, up to the next key.
    for (const std::string bad :
         {"[HKEY_LOCAL_MACHINE\\M]", "[HKEY_CURRENT_USER\\\\M]", "[HKEY_CURRENT_USER\\M"}) {
        SCOPED_TRACE(bad);
        RegistryNode root(L"HKEY_CURRENT_USER");
        const auto outcome =
            RegistryFile::parse(start + bad + "\n\"Under\"=\"x\"\n[HKEY_CURRENT_USER\\L]\n" + after, root);
        EXPECT_EQ(outcome.skippedLines, 2U);
        ASSERT_EQ(outcome.problems.size(), 1U);
        EXPECT_EQ(outcome.problems[0].line, 4U);
        EXPECT_EQ(stringOf(*root.findChild(L"K"), L"Before"), L"1");
        EXPECT_EQ(stringOf(*root.findChild(L"L"), L"After"), L"2");
        EXPECT_EQ(root.findChild(L"M"), nullptr);
    }

    // Values before the first key, and a continued value at the end of the file.
    RegistryNode root(L"HKEY_CURRENT_USER");
    const auto outcome =
        RegistryFile::parse("REGEDIT4\n\"Orphan\"=\"v\"\n[HKEY_CURRENT_USER\\K]\n\"Kept\"=\"1\"\n"
                            "\"Cut\"=hex:01,\\",
                            root);
    EXPECT_EQ(outcome.skippedLines, 2U);
    ASSERT_EQ(outcome.problems.size(), 2U);
    EXPECT_EQ(outcome.problems[0].line, 2U);
    EXPECT_EQ(outcome.problems[1].line, 5U);
    EXPECT_EQ(stringOf(*root.findChild(L"K"), L"Kept"), L"1");
}

TEST(RegistryFile, KeysNestedBeyondTheLimitAreSkippedAndManyProblemsAreCounted) {
    const auto keyAt = [](std::size_t depth) {
        std::string line = "[HKEY_CURRENT_USER";
        for (std::size_t i = 0; i < depth; ++i) {
            line += "\\a";
        }
        return line + "]\n\"V\"=\"" + std::to_string(depth) + "\"\n";
    };
    std::string text = "Windows Registry Editor Version 5.00\n" + keyAt(RegistryFile::kMaximumDepth) +
                       keyAt(RegistryFile::kMaximumDepth + 1) + keyAt(10000);
    for (int i = 0; i < 30; ++i) {
        text += "junk\n";
    }
    RegistryNode root(L"HKEY_CURRENT_USER");
    const auto outcome = RegistryFile::parse(text, root);
    EXPECT_TRUE(outcome.settingsFile);
    EXPECT_EQ(outcome.skippedLines, 4U + 30U) << "two deep keys with a value each, and the junk";
    ASSERT_EQ(outcome.problems.size(), RegistryFile::kListedProblems);
    EXPECT_EQ(outcome.problems[0].line, 4U);
    EXPECT_NE(outcome.problems[0].reason.find(L"65 levels"), std::wstring::npos)
        << toNarrow(outcome.problems[0].reason);
    EXPECT_EQ(outcome.problems[1].line, 6U);
    const RegistryNode* node = &root;
    for (std::size_t i = 0; i < RegistryFile::kMaximumDepth && node != nullptr; ++i) {
        node = node->findChild(L"a");
    }
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(stringOf(*node, L"V"), std::to_wstring(RegistryFile::kMaximumDepth));
    EXPECT_TRUE(node->children().empty());
}

TEST(RegistryFile, WritesReadableSectionsOnlyWhereKeysHoldSomething) {
    RegistryNode root(L"HKEY_CURRENT_USER");
    RegistryNode& config = root.ensureChild(L"Software", false)
                               .ensureChild(L"Tolvek", false)
                               .ensureChild(L"Orvane", false)
                               .ensureChild(L"Config", false);
    config.ensureChild(L"Debug", false).setValue(RegValue::fromString(L"LogFilter", L"1|65535"));
    config.ensureChild(L"Device.Serial", false).setValue(RegValue::fromString(L"BaudRate", L"1|9600"));
    config.ensureChild(L"Empty", false);
    config.ensureChild(L"Scratch", true).setValue(RegValue::fromString(L"Never", L"written"));

    EXPECT_EQ(RegistryFile::format(root),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Debug]\n"
              "\"LogFilter\"=\"1|65535\"\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Device.Serial]\n"
              "\"BaudRate\"=\"1|9600\"\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Empty]\n");
}

TEST(RegistryFile, EveryValueSurvivesWritingAndReadingBack) {
    const std::vector<RegValue> values{
        RegValue::fromString(L"Plain", L"3|%TEMP%"),
        RegValue::fromString(L"Quotes \"and\" \\back\\slashes", L"say \"hi\" C:\\dir\\"),
        RegValue::fromString(L"", L"the default value"),
        RegValue::fromString(L"Empty", L""),
        RegValue::fromString(L"Lines", L"first\nsecond\r\n\tthird"),
        RegValue::fromString(L"Unicode", L"\u00e9\u4e2d\U0001F600"),
        RegValue::fromString(L"Pipes", L"3|1|3|6|8"),
        RegValue(L"EmbeddedZero", RegValueType::REG_SZ.value(),
                 {0x41, 0x00, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00}),
        RegValue(L"OddLength", RegValueType::REG_SZ.value(), {0x41, 0x00, 0x42}),
        RegValue::fromString(L"Expand", L"%HOME%", RegValueType::REG_EXPAND_SZ),
        RegValue::fromDword(L"Dword", 0xDEADBEEF),
        RegValue(L"Binary", RegValueType::REG_BINARY.value(), RegValue::Data(100, 0xA5)),
        RegValue(L"Odd type", 0x0B, {1, 2, 3, 4, 5, 6, 7, 8}),
        RegValue(L"No data", RegValueType::REG_NONE.value(), {}),
    };
    RegistryNode root(L"HKEY_CURRENT_USER");
    RegistryNode& key = root.ensureChild(L"Software", false).ensureChild(L"Name [with] brackets ]", false);
    for (const auto& v : values) {
        key.setValue(v);
    }
    const std::string text = RegistryFile::format(root);

    RegistryNode back(L"HKEY_CURRENT_USER");
    const auto outcome = RegistryFile::parse(text, back);
    ASSERT_TRUE(outcome.complete()) << describe(outcome) << "\n" << text;
    const RegistryNode* read = back.findChild(L"Software");
    read = read == nullptr ? nullptr : read->findChild(L"Name [with] brackets ]");
    ASSERT_NE(read, nullptr) << text;
    const std::vector<RegValue> readBack(read->values().begin(), read->values().end());
    ASSERT_EQ(readBack.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(readBack[i], values[i]) << toNarrow(values[i].name());
    }
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        EXPECT_LE(end - start, 80U) << "lines stay short: " << text.substr(start, end - start);
    }
}
