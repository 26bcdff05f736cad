#include "device/OrvaneConfigKey.h"

#include <gtest/gtest.h>

using device::OrvaneConfigKey;

TEST(OrvaneConfigKey, EachKeyCarriesTheValuesValidationAccepts) {
    struct Case {
        const OrvaneConfigKey& key;
        std::wstring text;
        std::vector<std::int32_t> accepted;
        std::vector<std::int32_t> refused;
    };
    const std::vector<Case> cases{
        {OrvaneConfigKey::CommandAckTimeout, L"1 to 10", {1, 10}, {0, 11}},
        {OrvaneConfigKey::WatchDogTimeout, L"1 to 10", {1, 10}, {0, 11}},
        {OrvaneConfigKey::MaxMessageLen, L"50 to 256", {50, 256}, {49, 257}},
        {OrvaneConfigKey::SerialWaitTimeout, L"1 to 10000", {1, 10000}, {0, 10001}},
        {OrvaneConfigKey::SerialReadTimeout, L"1 to 2000", {1, 2000}, {0, 2001}},
        {OrvaneConfigKey::SerialParity, L"0, 1, 2, 3 or 4", {0, 4}, {-1, 5}},
        {OrvaneConfigKey::SerialStopBits, L"0, 1 or 2", {0, 2}, {3}},
        {OrvaneConfigKey::SerialDataBits, L"5, 6, 7 or 8", {5, 8}, {4, 9}},
        {OrvaneConfigKey::SerialFlowControl, L"1, 2 or 3", {1, 3}, {0, 4}},
        {OrvaneConfigKey::FrameRateLimits, L"any value", {-5, 8200}, {}},
        {OrvaneConfigKey::SerialPortNumber, L"any value", {-5, 0}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key.name().begin(), c.key.name().end()));
        EXPECT_EQ(c.key.validText(), c.text);
        EXPECT_EQ(c.key.validated(), !c.refused.empty());
        for (const auto v : c.accepted) {
            EXPECT_TRUE(c.key.accepts(v)) << v;
        }
        for (const auto v : c.refused) {
            EXPECT_FALSE(c.key.accepts(v)) << v;
        }
    }
    // The baud rates are the port's own list.
    EXPECT_TRUE(OrvaneConfigKey::SerialBaudRate.accepts(115200));
    EXPECT_FALSE(OrvaneConfigKey::SerialBaudRate.accepts(9601));
    EXPECT_NE(OrvaneConfigKey::SerialBaudRate.validText().find(L"9600, "), std::wstring::npos);
}
