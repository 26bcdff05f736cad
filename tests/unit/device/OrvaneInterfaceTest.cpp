#include "device/OrvaneInterface.h"

#include "tests/unit/support/LogCapture.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/config/ConfigMgr.h"

#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

using namespace device;
using wyr::windows::config::ConfigMgr;
using namespace wyr::windows::system;

namespace {

// The device configuration as the application stores it: full name, default
// value, group.
const std::vector<std::tuple<std::wstring, std::int32_t, int>> kKeys{
    {L"Device.CommandAckTimeout", 2, 619},     {L"Device.WatchDogTimeout", 5, 619},
    {L"Device.MaxMessageLen", 256, 619},       {L"Device.FrameRateLimits", 8200, 619},
    {L"Device.Serial.PortNumber", 1, 545},     {L"Device.Serial.BaudRate", 9600, 545},
    {L"Device.Serial.DataBits", 8, 545},       {L"Device.Serial.Parity", 0, 545},
    {L"Device.Serial.StopBits", 0, 545},       {L"Device.Serial.FlowControl", 1, 545},
    {L"Device.Serial.WaitTimeout", 1000, 619}, {L"Device.Serial.ReadTimeout", 2000, 619},
};

OrvaneInterface& theDevice() {
    OrvaneInterface* instance = nullptr;
    EXPECT_EQ(getInterface(OrvaneInterfaceId::Orvane, &instance), ERROR_SUCCESS);
    return *instance;
}

class DeviceConfiguration : public test::TempConfigHome {
protected:
    void SetUp() override {
        TempConfigHome::SetUp();
        // Opening a path that holds nothing empties the store.
        ConfigMgr::instance().open(L"Software\\Tolvek\\Orvane\\Test\\Empty");
        ASSERT_TRUE(ConfigMgr::instance().entries().empty());
    }
};

} // namespace

TEST(GetInterface, HandsOutTheOneDeviceInterfaceAndRefusesEverythingElse) {
    EXPECT_EQ(getInterface(OrvaneInterfaceId::Orvane, nullptr), ERROR_BAD_ARGUMENTS);

    static const OrvaneInterfaceId other{2, L"Other"};
    OrvaneInterface* out = reinterpret_cast<OrvaneInterface*>(0x1);
    EXPECT_EQ(getInterface(other, &out), ERROR_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    OrvaneInterface* first = nullptr;
    OrvaneInterface* second = nullptr;
    ASSERT_EQ(getInterface(OrvaneInterfaceId::Orvane, &first), ERROR_SUCCESS);
    ASSERT_EQ(getInterface(OrvaneInterfaceId::Orvane, &second), ERROR_SUCCESS);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->name(), L"Device");
    EXPECT_EQ(first->portNumber(), 0);
    EXPECT_FALSE(first->isOpen());
    EXPECT_EQ(OrvaneInterfaceId::Orvane.value(), 1);
    EXPECT_EQ(OrvaneInterfaceId::Orvane.name(), L"Orvane");
}

TEST_F(DeviceConfiguration, DefaultsAreWrittenByGroupAndAreValid) {
    ConfigMgr& config = ConfigMgr::instance();
    theDevice().registerConfiguration(); // no key is transient
    EXPECT_TRUE(config.entries().empty());

    theDevice().setDefaultConfiguration(545);
    for (const auto& [name, value, group] : kKeys) {
        EXPECT_EQ(config.contains(name), group == 545) << std::string(name.begin(), name.end());
    }
    theDevice().setDefaultConfiguration(-1);
    for (const auto& [name, value, group] : kKeys) {
        std::int32_t stored = -1;
        EXPECT_TRUE(config.getInt(name, stored));
        EXPECT_EQ(stored, value) << std::string(name.begin(), name.end());
        EXPECT_FALSE(config.entries().at(name).transient);
    }
    EXPECT_EQ(config.entries().size(), kKeys.size());
    EXPECT_EQ(theDevice().validateConfiguration(), 0);
}

TEST_F(DeviceConfiguration, ValidationReportsTheFirstBadKeyWithItsGroup) {
    struct Case {
        std::wstring key;
        std::int32_t value;
        int group;
        std::wstring message; // empty: accepted
    };
    const std::vector<Case> cases{
        {L"Serial.WaitTimeout", 0, 619, L"Invalid configuration detected <Serial.WaitTimeout>-<0>."},
        {L"Serial.BaudRate", 9601, 545, L"Invalid configuration detected <Serial.BaudRate>-<9601>."},
        {L"CommandAckTimeout", 11, 619, L"Invalid configuration detected <CommandAckTimeout>-<11>."},
        {L"CommandAckTimeout", 10, 0, L""},
        {L"WatchDogTimeout", 0, 619, L"Invalid configuration detected <WatchDogTimeout>-<0>."},
        {L"MaxMessageLen", 49, 619, L"Invalid configuration detected <MaxMessageLen>-<49>."},
        {L"MaxMessageLen", 50, 0, L""},
        {L"MaxMessageLen", 257, 619, L"Invalid configuration detected <MaxMessageLen>-<257>."},
        {L"Serial.DataBits", 9, 545, L"Invalid configuration detected <Serial.DataBits>-<9>."},
        {L"Serial.Parity", 5, 545, L"Invalid configuration detected <Serial.Parity>-<5>."},
        {L"Serial.StopBits", 3, 545, L"Invalid configuration detected <Serial.StopBits>-<3>."},
        {L"Serial.FlowControl", 0, 545, L"Invalid configuration detected <Serial.FlowControl>-<0>."},
        {L"Serial.FlowControl", 3, 0, L""},
        {L"Serial.WaitTimeout", 10000, 0, L""},
        {L"Serial.ReadTimeout", 2001, 619, L"Invalid configuration detected <Serial.ReadTimeout>-<2001>."},
        {L"Serial.BaudRate", 115200, 0, L""},
        {L"FrameRateLimits", -5, 0, L""},
        {L"Serial.PortNumber", -5, 0, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key.begin(), c.key.end()) + " = " + std::to_string(c.value));
        test::LogCapture log(0x0040);
        theDevice().setDefaultConfiguration(-1);
        ConfigMgr::instance().setInt(L"Device." + c.key, c.value);
        EXPECT_EQ(theDevice().validateConfiguration(), c.group);
        const auto reported = log.matching(L"Invalid configuration");
        if (c.message.empty()) {
            EXPECT_TRUE(reported.empty());
        } else {
            ASSERT_EQ(reported.size(), 1U);
            EXPECT_EQ(reported[0].message, c.message);
            EXPECT_EQ(reported[0].context, L"OrvaneImpl::validateConfiguration");
        }
    }
}

TEST_F(DeviceConfiguration, AKeyThatCannotBeReadIsReportedBeforeAnyValue) {
    ConfigMgr& config = ConfigMgr::instance();
    test::LogCapture log(0x0040);
    theDevice().setDefaultConfiguration(619);
    config.setInt(L"Device.CommandAckTimeout", 0); // out of range, but checked after reading
    theDevice().setDefaultConfiguration(545);
    ASSERT_EQ(config.define(L"Device.Serial.Parity", L"3|none", false), ERROR_SUCCESS); // not an integer
    EXPECT_EQ(theDevice().validateConfiguration(), 545);

    config.setInt(L"Device.Serial.Parity", 0);
    EXPECT_EQ(theDevice().validateConfiguration(), 619);

    ConfigMgr::instance().open(L"Software\\Tolvek\\Orvane\\Test\\Empty");
    EXPECT_EQ(theDevice().validateConfiguration(), 619);

    const auto reported = log.matching(L"Invalid configuration");
    std::vector<std::wstring> messages;
    for (const auto& r : reported) {
        messages.push_back(r.message);
    }
    EXPECT_EQ(messages, (std::vector<std::wstring>{
                            L"Invalid configuration detected <Serial.Parity>-<NOT SET>.",
                            L"Invalid configuration detected <CommandAckTimeout>-<0>.",
                            L"Invalid configuration detected <CommandAckTimeout>-<NOT SET>.",
                        }));
}
