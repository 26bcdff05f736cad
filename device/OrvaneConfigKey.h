#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>
#include <string>
#include <vector>

namespace device {

// A configuration key of the device link: its id (the enumerator's value), its
// name below the interface's name, its default in the configuration store's text
// form ("<type>|<value>"), its repair group, whether it is transient (given its
// default at every start and never saved) and the values validation accepts. The
// keys are stored as "<interface name>.<key name>", for example
// "Device.CommandAckTimeout".
class OrvaneConfigKey : public wyr::NamedEnum<OrvaneConfigKey> {
public:
    // Keys the application repairs without asking.
    static constexpr int GroupLink = 619;
    // The port settings, whose repair the application asks the user about.
    static constexpr int GroupPort = 545;

    // The values a key may hold: any value, a closed interval, or the values of
    // one of the serial line-setting enumerations.
    struct ValidValues {
        enum class Kind { Any, Interval, Members };
        Kind kind = Kind::Any;
        std::int32_t low = 0;
        std::int32_t high = 0;
        // Members: what one of them is called ("baud rate") and the enumeration's
        // values in ascending order (asked for when used: the enumerations fill
        // their registries at static initialisation, in no fixed order with ours).
        const wchar_t* what = nullptr;
        std::vector<std::int32_t> (*members)() = nullptr;
    };

    static const OrvaneConfigKey CommandAckTimeout; // 1: seconds, 1..10
    static const OrvaneConfigKey WatchDogTimeout;   // 3: seconds, 1..10
    static const OrvaneConfigKey MaxMessageLen;     // 4: 50..256
    static const OrvaneConfigKey FrameRateLimits;   // 5: not validated
    static const OrvaneConfigKey SerialPortNumber;  // 6: not validated
    static const OrvaneConfigKey SerialBaudRate;    // 7: a BaudRate
    static const OrvaneConfigKey SerialDataBits;    // 8: a DataBits
    static const OrvaneConfigKey SerialParity;      // 9: a Parity
    static const OrvaneConfigKey SerialStopBits;    // 10: a StopBits
    static const OrvaneConfigKey SerialFlowControl; // 11: a FlowControl
    static const OrvaneConfigKey SerialWaitTimeout; // 12: ms, 1..10000
    static const OrvaneConfigKey SerialReadTimeout; // 13: ms, 1..2000

    OrvaneConfigKey(const OrvaneConfigKey&) = delete;
    OrvaneConfigKey& operator=(const OrvaneConfigKey&) = delete;
    ~OrvaneConfigKey() = default;

    int id() const noexcept { return value(); }
    const std::wstring& defaultValue() const noexcept { return _defaultValue; }
    int group() const noexcept { return _group; }
    bool transient() const noexcept { return _transient; }

    // "<interfaceName>.<key name>".
    std::wstring fullName(const std::wstring& interfaceName) const { return interfaceName + L"." + name(); }

    const ValidValues& validValues() const noexcept { return _valid; }
    // Whether validation looks at this key at all.
    bool validated() const noexcept { return _valid.kind != ValidValues::Kind::Any; }
    bool accepts(std::int32_t value) const;
    // "1 to 10"; "0, 1, 2, 3 or 4"; "any value".
    std::wstring validText() const;

    // Every key by id; defined beside the keys, so that users also link them in.
    static const Registry& registry();
    static const OrvaneConfigKey* fromValue(int id);

private:
    OrvaneConfigKey(int id, std::wstring name, std::wstring defaultValue, int group, bool transient,
                    ValidValues valid)
        : NamedEnum(id, std::move(name)), _defaultValue(std::move(defaultValue)), _group(group),
          _transient(transient), _valid(valid) {}

    std::wstring _defaultValue;
    int _group;
    bool _transient;
    ValidValues _valid;
};

} // namespace device
