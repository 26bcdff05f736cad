#pragma once

#include "device/OrvaneNotification.h"
#include "wyr/memory/NonCopyable.h"

#include <boost/signals2/connection.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace device {
class OrvaneInterface;
}

namespace app {

// The debug window's rules without its widgets: what each field shows, which
// buttons may be pressed, and what a press sends. It learns everything from the
// device notifications and talks to the device only through its interface.
// Everything runs on the user-interface thread.
class DebugPanel : private wyr::memory::NonCopyable {
public:
    static constexpr std::int32_t kMinFrameRate = 8;
    static constexpr std::int32_t kMaxFrameRate = 18;
    static constexpr std::int32_t kMinGain = 1;
    static constexpr std::int32_t kMaxGain = 1023;

    static constexpr const wchar_t* kStreaming = L"Streaming";
    static constexpr const wchar_t* kIdle = L"Idle";
    static constexpr const wchar_t* kAntennaConnected = L"Connected";
    static constexpr const wchar_t* kAntennaDisconnected = L"Disconnected";

    // The texts as shown, top to bottom; empty until the first device state.
    struct Fields {
        std::wstring model;
        std::wstring serialNumber;
        std::wstring firmwareRevision;
        std::wstring inputVoltage;
        std::wstring antennaState;
        std::wstring streamingState;
        std::wstring frameRate;
        std::wstring calculatedRate;
        std::wstring gain;
        std::wstring adc1;
        std::wstring adc2;
        std::wstring adc3;

        bool operator==(const Fields&) const = default;
    };

    enum class GainResult { Sent, OutOfRange };

    explicit DebugPanel(device::OrvaneInterface& device);
    ~DebugPanel();

    // Subscribes to the device notifications (once) and applies the button rules
    // to the port's present state; close() disconnects.
    void open();
    void close();
    bool isOpen() const;

    // Called after every change of what is shown or enabled.
    void setChangedHandler(std::function<void()> handler);

    void onNotification(const device::tagNMORVANEHDR* header);

    const Fields& fields() const noexcept { return _shown; }
    bool startEnabled() const noexcept { return _startEnabled; }
    bool stopEnabled() const noexcept { return _stopEnabled; }
    bool frameRateStepsEnabled() const noexcept { return _stepsEnabled; }
    bool setEnabled() const noexcept { return _setEnabled; }
    // While set, a change of the gain entry does not re-enable "Set".
    bool gainBeingSent() const noexcept { return _sendingGain; }
    const std::wstring& gainEntry() const noexcept { return _gainEntry; }

    void pressStart();
    void pressStop();
    // One step from the shown frame rate, kept within 8 to 18; false when nothing
    // was sent.
    bool pressFrameRateDown();
    bool pressFrameRateUp();

    // The gain entry's change handler.
    void gainEntryChanged(const std::wstring& text);
    // Sends the entered gain when it lies in 1 to 1023, then empties the entry;
    // otherwise sends nothing and keeps the entry.
    GainResult pressSet();

    // A whole decimal integer, blanks around it allowed; nullopt for anything else.
    static std::optional<std::int32_t> parseInteger(const std::wstring& text);

private:
    void copyState(const device::OrvaneDeviceState& state);
    void applyButtonRules();
    void refresh();
    void changed();
    bool sendFrameRate(std::int32_t rate);

    device::OrvaneInterface& _device;
    boost::signals2::scoped_connection _connection;
    std::function<void()> _changedHandler;

    Fields _copy;
    Fields _shown;
    std::int32_t _shownFrameRate = 0;
    bool _haveReading = false;

    bool _startEnabled = false;
    bool _stopEnabled = false;
    bool _stepsEnabled = false;
    bool _setEnabled = false;
    bool _sendingGain = false;
    std::wstring _gainEntry;
};

} // namespace app
