#include "wyr/NamedEnum.h"
#include "wyr/windows/system/Environment.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/SystemTime.h"
#include "wyr/windows/system/TextConversion.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

using namespace wyr::windows::system;

namespace {

class Colour : public wyr::NamedEnum<Colour> {
public:
    static const Colour Blue;
    static const Colour Red;
    static const Colour Green;

private:
    Colour(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

// Declared out of value order on purpose: the registry orders by value.
const Colour Colour::Blue{4, L"Blue"};
const Colour Colour::Red{1, L"Red"};
const Colour Colour::Green{2, L"Green"};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : _name(name) {
        if (const char* old = std::getenv(name)) {
            _old = old;
            _had = true;
        }
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { _had ? ::setenv(_name, _old.c_str(), 1) : ::unsetenv(_name); }

private:
    const char* _name;
    std::string _old;
    bool _had = false;
};

} // namespace

TEST(NamedEnum, RegistryIsOrderedByValueAndResolvesValues) {
    std::vector<int> values;
    for (const auto& [value, enumerator] : Colour::registry()) {
        values.push_back(value);
        EXPECT_EQ(enumerator->value(), value);
    }
    EXPECT_EQ(values, (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(Colour::fromValue(2), &Colour::Green);
    EXPECT_EQ(Colour::fromValue(3), nullptr);
    EXPECT_EQ(Colour::fromValue(4)->name(), L"Blue");
    EXPECT_TRUE(Colour::Red == *Colour::fromValue(1));
    EXPECT_FALSE(Colour::Red == Colour::Blue);
}

TEST(SystemError, MessagesHaveTheirTextWithoutLineBreaks) {
    EXPECT_EQ(systemMessage(ERROR_FILE_NOT_FOUND), L"The system cannot find the file specified.");
    EXPECT_EQ(systemMessage(WAIT_TIMEOUT), L"The wait operation timed out.");
    EXPECT_EQ(systemMessage(ERROR_CANCELLED), L"The operation was canceled by the user.");
    EXPECT_TRUE(systemMessage(0xDEAD).empty());
    for (const ErrorCode code :
         {0U,   2U,    3U,    5U,    6U,    13U,   14U,   23U,   29U,   30U,   31U,   32U,   38U,  87U,
          110U, 111U,  120U,  123U,  160U,  164U,  170U,  232U,  234U,  258U,  315U,  323U,  329U, 487U,
          632U, 1004U, 1117U, 1167U, 1200U, 1208U, 1223U, 1225U, 1247U, 1460U, 2250U, 13813U}) {
        const auto& text = systemMessage(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << code;
    }
}

TEST(SystemError, ErrnoMapsToTheNearestCode) {
    const std::pair<int, ErrorCode> table[] = {
        {ENOENT, 2},    {EACCES, 5},   {EBADF, 6},        {EBUSY, 170},      {EINVAL, 87}, {EIO, 1117},
        {ENODEV, 1167}, {ENXIO, 1167}, {ETIMEDOUT, 1460}, {EWOULDBLOCK, 32}, {0, 0},
    };
    for (const auto& [err, code] : table) {
        EXPECT_EQ(errorFromErrno(err), code) << err;
    }
    errno = EACCES;
    EXPECT_EQ(setLastErrorFromErrno(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(getLastError(), ERROR_ACCESS_DENIED);
}

TEST(SystemError, LastErrorIsPerThread) {
    setLastError(87);
    std::thread other([] {
        EXPECT_EQ(getLastError(), 0U);
        setLastError(5);
    });
    other.join();
    EXPECT_EQ(getLastError(), 87U);
}

TEST(Environment, ExpandsKnownNamesAndKeepsUnknownOnes) {
    ScopedEnv home("ORVANE_TEST_DIR", "/data/logs");
    ScopedEnv unset("ORVANE_TEST_UNSET", nullptr);
    const std::pair<const wchar_t*, const wchar_t*> table[] = {
        {L"%ORVANE_TEST_DIR%", L"/data/logs"},
        {L"%ORVANE_TEST_DIR%/x/%ORVANE_TEST_DIR%", L"/data/logs/x//data/logs"},
        {L"%ORVANE_TEST_UNSET%/x", L"%ORVANE_TEST_UNSET%/x"},
        {L"50%", L"50%"},
        {L"%%", L"%%"},
        {L"a%ORVANE_TEST_UNSET%%ORVANE_TEST_DIR%", L"a%ORVANE_TEST_UNSET%/data/logs"},
        {L"plain", L"plain"},
    };
    for (const auto& [in, out] : table) {
        EXPECT_EQ(expandEnvironmentStrings(in), out) << toNarrow(in);
    }
}

TEST(Environment, TempFallsBackToTmpdirThenSlashTmp) {
    ScopedEnv temp("TEMP", nullptr);
    {
        ScopedEnv tmpdir("TMPDIR", "/var/tmp/x");
        EXPECT_EQ(expandEnvironmentStrings(L"%TEMP%/a"), L"/var/tmp/x/a");
    }
    ScopedEnv noTmpdir("TMPDIR", nullptr);
    EXPECT_EQ(expandEnvironmentStrings(L"%TEMP%"), L"/tmp");
    ScopedEnv set("TEMP", "/scratch");
    EXPECT_EQ(expandEnvironmentStrings(L"%TEMP%"), L"/scratch");
}

TEST(SystemTime, LocalTimeHasTheCalendarLayoutWithMilliseconds) {
    using namespace std::chrono;
    const auto when = system_clock::time_point(seconds(1706711103)) + milliseconds(127);
    ScopedEnv tz("TZ", "UTC0");
    ::tzset();
    const SYSTEMTIME st = toLocalTime(when);
    EXPECT_EQ(st, (SYSTEMTIME{2024, 1, 3, 31, 14, 25, 3, 127}));
    EXPECT_EQ(formatTime(st, "%Y%m%d_%H%M%S"), "20240131_142503");
    EXPECT_EQ(formatTime(st, "%m/%d/%Y|%H:%M:%S"), "01/31/2024|14:25:03");
    const SYSTEMTIME now = getLocalTime();
    EXPECT_GE(now.wYear, 2024);
    EXPECT_LT(now.wMilliseconds, 1000);
}

TEST(TextConversion, RoundTripsAndReplacesMalformedBytes) {
    EXPECT_EQ(toWide("abc \xC3\xA9\xE2\x82\xAC"), L"abc \u00e9\u20ac");
    EXPECT_EQ(toNarrow(L"abc \u00e9\u20ac"), "abc \xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(toWide(std::string("\x06", 1)), L"\x06");
    EXPECT_EQ(toWide("a\xFF"
                     "b"),
              L"a\uFFFD"
              L"b");
    EXPECT_EQ(toWide("\xE2\x82"), L"\uFFFD\uFFFD");
}
