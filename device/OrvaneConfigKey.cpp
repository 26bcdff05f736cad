#include "device/OrvaneConfigKey.h"

#include "wyr/windows/communication/BaudRate.h"
#include "wyr/windows/communication/DataBits.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/StopBits.h"

#include <algorithm>

namespace device {

namespace comm = wyr::windows::communication;

namespace {

using Valid = OrvaneConfigKey::ValidValues;

template <typename Enumeration> std::vector<std::int32_t> valuesOf() {
    std::vector<std::int32_t> values;
    for (const auto& [value, member] : Enumeration::registry()) {
        values.push_back(static_cast<std::int32_t>(value));
    }
    return values;
}

constexpr Valid any() {
    return Valid{};
}

constexpr Valid between(std::int32_t low, std::int32_t high) {
    return Valid{Valid::Kind::Interval, low, high, nullptr, nullptr};
}

template <typename Enumeration> constexpr Valid membersOf(const wchar_t* what) {
    return Valid{Valid::Kind::Members, 0, 0, what, &valuesOf<Enumeration>};
}

} // namespace

const OrvaneConfigKey OrvaneConfigKey::CommandAckTimeout{1,     L"CommandAckTimeout", L"1|2", GroupLink,
                                                         false, between(1, 10)};
const OrvaneConfigKey OrvaneConfigKey::WatchDogTimeout{3,     L"WatchDogTimeout", L"1|5", GroupLink,
                                                       false, between(1, 10)};
const OrvaneConfigKey OrvaneConfigKey::MaxMessageLen{4,     L"MaxMessageLen", L"1|256", GroupLink,
                                                     false, between(50, 256)};
const OrvaneConfigKey OrvaneConfigKey::FrameRateLimits{5,    L"FrameRateLimits", L"1|8200", GroupLink, false,
                                                       any()};
const OrvaneConfigKey OrvaneConfigKey::SerialPortNumber{6,    L"Serial.PortNumber", L"1|1", GroupPort, false,
                                                        any()};
const OrvaneConfigKey OrvaneConfigKey::SerialBaudRate{
    7, L"Serial.BaudRate", L"1|9600", GroupPort, false, membersOf<comm::BaudRate>(L"baud rate")};
const OrvaneConfigKey OrvaneConfigKey::SerialDataBits{
    8, L"Serial.DataBits", L"1|8", GroupPort, false, membersOf<comm::DataBits>(L"number of data bits")};
const OrvaneConfigKey OrvaneConfigKey::SerialParity{
    9, L"Serial.Parity", L"1|0", GroupPort, false, membersOf<comm::Parity>(L"parity")};
const OrvaneConfigKey OrvaneConfigKey::SerialStopBits{
    10, L"Serial.StopBits", L"1|0", GroupPort, false, membersOf<comm::StopBits>(L"number of stop bits")};
const OrvaneConfigKey OrvaneConfigKey::SerialFlowControl{
    11, L"Serial.FlowControl", L"1|1", GroupPort, false, membersOf<comm::FlowControl>(L"flow control")};
const OrvaneConfigKey OrvaneConfigKey::SerialWaitTimeout{12,    L"Serial.WaitTimeout", L"1|1000", GroupLink,
                                                         false, between(1, 10000)};
const OrvaneConfigKey OrvaneConfigKey::SerialReadTimeout{13,    L"Serial.ReadTimeout", L"1|2000", GroupLink,
                                                         false, between(1, 2000)};

bool OrvaneConfigKey::accepts(std::int32_t value) const {
    switch (_valid.kind) {
    case ValidValues::Kind::Interval:
        return value >= _valid.low && value <= _valid.high;
    case ValidValues::Kind::Members: {
        const auto members = _valid.members();
        return std::binary_search(members.begin(), members.end(), value);
    }
    case ValidValues::Kind::Any:
        break;
    }
    return true;
}

std::wstring OrvaneConfigKey::validText() const {
    switch (_valid.kind) {
    case ValidValues::Kind::Interval:
        return std::to_wstring(_valid.low) + L" to " + std::to_wstring(_valid.high);
    case ValidValues::Kind::Members: {
        const auto members = _valid.members();
        std::wstring text;
        for (std::size_t i = 0; i < members.size(); ++i) {
            text += i == 0 ? L"" : (i + 1 == members.size() ? L" or " : L", ");
            text += std::to_wstring(members[i]);
        }
        return text;
    }
    case ValidValues::Kind::Any:
        break;
    }
    return L"any value";
}

const OrvaneConfigKey::Registry& OrvaneConfigKey::registry() {
    return NamedEnum::registry();
}

const OrvaneConfigKey* OrvaneConfigKey::fromValue(int id) {
    return NamedEnum::fromValue(id);
}

} // namespace device
