#include "wyr/windows/system/TextFormat.h"

#include "tests/unit/support/CommaDecimalLocale.h"

#include <gtest/gtest.h>
#include <thread>

using wyr::windows::system::formatText;
using wyr::windows::system::kMaximumTextLength;

TEST(TextFormat, NumbersAndUtf8ArgumentsReadTheSameInAUserLocale) {
    const test::CommaDecimalLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << locale.why();
    }
    wchar_t platform[32];
    std::swprintf(platform, 32, L"%.1f", 1.5);
    ASSERT_EQ(std::wstring(platform), L"1,5") << "the user's locale is in force";

    EXPECT_EQ(formatText(L"%.1f fps|%5.1f|%f|%g", 25.0, 70.46, 1.0, 1e-9), L"25.0 fps| 70.5|1.000000|1e-09");
    EXPECT_EQ(formatText(L"%d %u", 1234567, 4000000000U), L"1234567 4000000000");
    EXPECT_EQ(formatText(L"[%s] [%ls]", "Caf\xC3\xA9 \xE2\x82\xAC", L"\u00e9"),
              L"[Caf\u00e9 \u20ac] [\u00e9]");

    // Another thread formats the same; the process's locale stays the user's.
    std::wstring fromThread;
    std::thread([&] { fromThread = formatText(L"%.2f", 0.25); }).join();
    EXPECT_EQ(fromThread, L"0.25");
    std::swprintf(platform, 32, L"%.1f", 1.5);
    EXPECT_EQ(std::wstring(platform), L"1,5");
}

TEST(TextFormat, Utf8ArgumentsAreKeptWholeInTheDefaultLocale) {
    // A program that never sets a locale runs in "C", where the platform's wide
    // printf cannot take a byte above 0x7F.
    EXPECT_EQ(formatText(L"Folder [%s] opened.", "/home/u/Caf\xC3\xA9"),
              L"Folder [/home/u/Caf\u00e9] opened.");
}

TEST(TextFormat, LongTextsAreCutAtTheLimitAndBadArgumentsDoNotLoseTheText) {
    const std::wstring big(kMaximumTextLength * 2, L'x');
    EXPECT_EQ(formatText(L"%ls", big.c_str()).size(), kMaximumTextLength - 1);
    const std::string medium(5000, 'y');
    EXPECT_EQ(formatText(L"<%s>", medium.c_str()), L"<" + std::wstring(5000, L'y') + L">");

    // Bytes that are not UTF-8 end the text where they stand.
    EXPECT_EQ(formatText(L"before %s after", "caf\xE9"), L"before ");
    EXPECT_EQ(formatText(nullptr), L"");
}
