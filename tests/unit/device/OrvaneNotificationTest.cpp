#include "device/OrvaneNotification.h"

#include "device/DisconnectType.h"
#include "device/FirmwareReleaseType.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneMessageType.h"
#include "device/OrvaneScanPhase.h"
#include "device/ReceiveState.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace device;

namespace {

template <typename Enum> std::vector<std::pair<typename Enum::value_type, std::wstring>> entries() {
    std::vector<std::pair<typename Enum::value_type, std::wstring>> out;
    for (const auto& [value, e] : Enum::registry()) {
        out.emplace_back(value, e->name());
    }
    return out;
}

} // namespace

TEST(OrvaneNotification, EnumerationsHoldTheirValuesAndNames) {
    // Touch one constant of each so that its table is linked in.
    EXPECT_EQ(OrvaneNotificationType::NotifyWatchDog.value(), 8);
    EXPECT_EQ(OrvaneScanPhase::NotifyScanResult.value(), 3);
    EXPECT_EQ(DisconnectType::Abnormal.value(), 2);
    EXPECT_EQ(FirmwareReleaseType::Final.value(), 3);
    EXPECT_EQ(ReceiveState::EndOfTransmission.value(), 3);

    using Entries = std::vector<std::pair<int, std::wstring>>;
    EXPECT_EQ(entries<OrvaneNotificationType>(), (Entries{{1, L"NotifyAcknowledge"},
                                                          {2, L"NotifyHeartbeat"},
                                                          {3, L"NotifySentenceReceived"},
                                                          {4, L"NotifyInterrogate"},
                                                          {5, L"NotifyConnect"},
                                                          {6, L"NotifyDisconnect"},
                                                          {7, L"NotifyCommandFailure"},
                                                          {8, L"NotifyWatchDog"}}));
    EXPECT_EQ(entries<OrvaneScanPhase>(),
              (Entries{{1, L"NotifyScanBegin"}, {2, L"NotifyScanPort"}, {3, L"NotifyScanResult"}}));
    EXPECT_EQ(entries<DisconnectType>(), (Entries{{1, L"Normal"}, {2, L"Abnormal"}}));
    EXPECT_EQ(entries<ReceiveState>(),
              (Entries{{1, L"StartOfText"}, {2, L"EndOfText"}, {3, L"EndOfTransmission"}}));
    EXPECT_EQ(entries<FirmwareReleaseType>(),
              (std::vector<std::pair<std::uint16_t, std::wstring>>{
                  {0, L"Alpha"}, {1, L"Beta"}, {2, L"ReleaseCandidate"}, {3, L"Final"}}));
}

TEST(OrvaneNotification, MessageTypesAreFoundByTheirExactCode) {
    struct Row {
        const char* code;
        const OrvaneMessageType* type;
        const wchar_t* name;
        std::size_t fields;
        const OrvaneNotificationType* notification;
    };
    const std::vector<Row> rows{
        {"0001", &OrvaneMessageType::Acknowledge, L"Acknowledge", 8,
         &OrvaneNotificationType::NotifyAcknowledge},
        {"0002", &OrvaneMessageType::Heartbeat, L"Heartbeat", 8, &OrvaneNotificationType::NotifyHeartbeat},
        {"0003", &OrvaneMessageType::ADCRead, L"ADCRead", 4, &OrvaneNotificationType::NotifySentenceReceived},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(OrvaneMessageType::fromCode(row.code), row.type);
        EXPECT_EQ(row.type->name(), row.name);
        EXPECT_EQ(row.type->fieldCount(), row.fields);
        EXPECT_EQ(&row.type->notificationType(), row.notification);
    }
    EXPECT_EQ(OrvaneMessageType::registry().size(), 3U);
    for (const char* code : {"3", "00003", "0003 ", "", "0004"}) {
        EXPECT_EQ(OrvaneMessageType::fromCode(code), nullptr) << code;
    }
}

TEST(OrvaneNotification, RecordsAreReachedFromTheHeaderOnlyAsTheirOwnType) {
    const std::unique_ptr<OrvaneNotification, OrvaneNotificationRelease> heartbeat(
        new OrvaneStateNotification(OrvaneNotificationType::NotifyHeartbeat));
    const tagNMORVANEHDR* header = heartbeat.get();
    EXPECT_NE(OrvaneNotification::as<OrvaneStateNotification>(header), nullptr);
    EXPECT_EQ(OrvaneNotification::as<OrvaneReadingNotification>(header), nullptr);
    EXPECT_EQ(OrvaneNotification::as<OrvaneStateNotification>(static_cast<const tagNMORVANEHDR*>(nullptr)),
              nullptr);

    // Every type that producers set 0 or the failure code in by default.
    const OrvaneStateNotification state(OrvaneNotificationType::NotifyAcknowledge);
    EXPECT_EQ(state.code, 13);
    EXPECT_EQ(state.port, 0);
    EXPECT_EQ(state.id, 0U);
    EXPECT_TRUE(state.state.model.empty());
    EXPECT_EQ(state.state.flags, 0);
    const OrvaneWatchDogNotification watchdog;
    EXPECT_EQ(watchdog.error, 1460U);
    const OrvaneCommandFailureNotification failure(3, OrvaneMessage::SET_GAIN, nullptr);
    EXPECT_EQ(failure.error, 1460U);
    EXPECT_EQ(failure.port, 3);
    EXPECT_EQ(*failure.type, OrvaneNotificationType::NotifyCommandFailure);
    const OrvaneInterrogateNotification scan(OrvaneScanPhase::NotifyScanPort, 4, 9);
    EXPECT_EQ(scan.result, 0U);
    EXPECT_EQ(scan.scanArg, 9);
    EXPECT_EQ(scan.phase, &OrvaneScanPhase::NotifyScanPort);
}
