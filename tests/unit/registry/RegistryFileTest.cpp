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
    RegistryFile::Problem problem;
    ASSERT_TRUE(RegistryFile::parse(text, root, problem)) << problem.line << ": " << toNarrow(problem.reason);

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
        RegistryFile::Problem problem;
        ASSERT_TRUE(RegistryFile::parse(bytes, root, problem)) << toNarrow(problem.reason);
        const RegistryNode* key = root.findChild(L"K");
        EXPECT_EQ(key == nullptr ? L"<none>" : stringOf(*key, L"N"), expected);
    }
}

TEST(RegistryFile, RejectsMalformedFilesNamingTheLine) {
    const std::string header = "Windows Registry Editor Version 5.00\n";
    const std::vector<std::pair<std::string, std::size_t>> cases{
        {"garbage\n", 1},
        {std::string("\x7F"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
         1},
        {"\n\n[HKEY_CURRENT_USER\\K]\n", 3},
        {header + "\"N\"=\"v\"\n", 2},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=\"unterminated\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N=\"v\"\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\" \"v\"\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=\"v\" trailing\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=dword:123456789\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=dword:xyz\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=hex:01,2g\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=hex:01,,02\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=hex(zz):01\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=hex:01,\\", 3},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=qword:1\n", 3},
        {header + "[HKEY_CURRENT_USER\\K]\nplain text\n", 3},
        {header + "[HKEY_LOCAL_MACHINE\\K]\n", 2},
        {header + "[HKEY_CURRENT_USER\\\\K]\n", 2},
        {header + "[HKEY_CURRENT_USER\\K\n", 2},
        {header + "[HKEY_CURRENT_USER\\K]\n\"N\"=\"caf\xE9\"\n", 0},
        {"\xFF\xFE\x41", 0},
    };
    for (const auto& [bytes, line] : cases) {
        SCOPED_TRACE(bytes);
        RegistryNode root(L"HKEY_CURRENT_USER");
        RegistryFile::Problem problem;
        EXPECT_FALSE(RegistryFile::parse(bytes, root, problem));
        EXPECT_EQ(problem.line, line);
        EXPECT_FALSE(problem.reason.empty());
    }
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
    RegistryFile::Problem problem;
    ASSERT_TRUE(RegistryFile::parse(text, back, problem))
        << problem.line << ": " << toNarrow(problem.reason) << "\n"
        << text;
    const RegistryNode* read = back.findChild(L"Software");
    read = read == nullptr ? nullptr : read->findChild(L"Name [with] brackets ]");
    ASSERT_NE(read, nullptr) << text;
    ASSERT_EQ(read->values().size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(read->values()[i], values[i]) << toNarrow(values[i].name());
    }
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        EXPECT_LE(end - start, 80U) << "lines stay short: " << text.substr(start, end - start);
    }
}
