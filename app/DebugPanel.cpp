#include "app/DebugPanel.h"

#include "device/OrvaneInterface.h"
#include "wyr/windows/system/TextConversion.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cwctype>

namespace app {

namespace {

// Locale-free: the window's numbers keep the full stop on every desktop.
template <typename... Format> std::wstring number(auto value, Format... format) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format...);
    return std::wstring(buffer.data(), result.ptr);
}

// A float as the window's default conversion writes it: six significant digits.
std::wstring decimal(float value) {
    return number(value, std::chars_format::general, 6);
}

} // namespace

DebugPanel::DebugPanel(device::OrvaneInterface& device) : _device(device) {}

DebugPanel::~DebugPanel() = default;

void DebugPanel::open() {
    if (!_connection.connected()) {
        _connection =
            _device.subscribe([this](const device::tagNMORVANEHDR* header) { onNotification(header); });
    }
    applyButtonRules();
    refresh();
    changed();
}

void DebugPanel::close() {
    _connection.disconnect();
}

bool DebugPanel::isOpen() const {
    return _connection.connected();
}

void DebugPanel::setChangedHandler(std::function<void()> handler) {
    _changedHandler = std::move(handler);
}

void DebugPanel::onNotification(const device::tagNMORVANEHDR* header) {
    using device::OrvaneNotification;
    using device::OrvaneNotificationType;
    if (header == nullptr || header->type == nullptr) {
        return;
    }
    if (const auto* record = OrvaneNotification::as<device::OrvaneStateNotification>(header)) {
        copyState(record->state);
    } else if (const auto* reading = OrvaneNotification::as<device::OrvaneReadingNotification>(header)) {
        _copy.adc1 = decimal(reading->reading1);
        _copy.adc2 = decimal(reading->reading2);
        _copy.adc3 = decimal(reading->reading3);
        _haveReading = true;
    } else if (*header->type == OrvaneNotificationType::NotifyDisconnect) {
        _copy.model.clear();
    }
    applyButtonRules();
    refresh();
    changed();
}

void DebugPanel::copyState(const device::OrvaneDeviceState& state) {
    _copy.model = wyr::windows::system::toWide(state.model);
    _copy.serialNumber = number(state.serialNumber);
    _copy.firmwareRevision = number(state.firmwareMajor()) + L"." + number(state.firmwareMinor()) + L"." +
                             number(state.firmwareReleaseType()) + L"." + number(state.firmwareBuild());
    _copy.inputVoltage = decimal(state.voltage);
    _copy.antennaState = state.antennaDisconnected() ? kAntennaDisconnected : kAntennaConnected;
    _copy.streamingState = state.streaming() ? kStreaming : kIdle;
    _copy.frameRate = number(static_cast<int>(state.frameRate)) + L" fps";
    // Nothing measured yet is shown as nothing rather than "nan fps".
    _copy.calculatedRate = std::isnan(state.measuredFrameRate)
                               ? std::wstring{}
                               : number(state.measuredFrameRate, std::chars_format::fixed, 1) + L" fps";
    _copy.gain = number(state.gain);
    _shownFrameRate = state.frameRate;
}

void DebugPanel::applyButtonRules() {
    const bool portOpen = _device.isOpen();
    const bool streaming = _copy.streamingState == kStreaming;
    _startEnabled = portOpen && !streaming;
    _stopEnabled = portOpen && streaming;
    _stepsEnabled = portOpen;
}

void DebugPanel::refresh() {
    _shown = _copy;
    // Readings are shown only while the device says it streams.
    if (_copy.streamingState != kStreaming || !_haveReading) {
        _shown.adc1.clear();
        _shown.adc2.clear();
        _shown.adc3.clear();
    }
}

void DebugPanel::changed() {
    if (_changedHandler) {
        _changedHandler();
    }
}

void DebugPanel::pressStart() {
    _device.start();
}

void DebugPanel::pressStop() {
    _device.stop();
}

bool DebugPanel::pressFrameRateDown() {
    std::int32_t rate = _shownFrameRate - 1;
    if (rate < kMinFrameRate) {
        return false;
    }
    return sendFrameRate(std::min(rate, kMaxFrameRate));
}

bool DebugPanel::pressFrameRateUp() {
    std::int32_t rate = _shownFrameRate + 1;
    if (rate > kMaxFrameRate) {
        return false;
    }
    return sendFrameRate(std::max(rate, kMinFrameRate));
}

bool DebugPanel::sendFrameRate(std::int32_t rate) {
    _device.setFrameRate(static_cast<std::uint32_t>(rate));
    return true;
}

void DebugPanel::gainEntryChanged(const std::wstring& text) {
    if (_sendingGain) {
        return;
    }
    _gainEntry = text;
    const auto gain = parseInteger(text);
    const bool enable = gain && *gain >= kMinGain && *gain <= kMaxGain;
    if (enable != _setEnabled) {
        _setEnabled = enable;
        changed();
    }
}

DebugPanel::GainResult DebugPanel::pressSet() {
    const auto gain = parseInteger(_gainEntry);
    if (!gain || *gain < kMinGain || *gain > kMaxGain) {
        return GainResult::OutOfRange;
    }
    _sendingGain = true;
    _device.setGain(static_cast<std::uint32_t>(*gain));
    _gainEntry.clear();
    _setEnabled = false;
    // The window empties its entry now; its change handler is ignored meanwhile.
    changed();
    _sendingGain = false;
    return GainResult::Sent;
}

std::optional<std::int32_t> DebugPanel::parseInteger(const std::wstring& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::iswspace(text[first])) {
        ++first;
    }
    while (last > first && std::iswspace(text[last - 1])) {
        --last;
    }
    std::string narrow;
    for (std::size_t i = first; i < last; ++i) {
        const wchar_t c = text[i];
        if (!((c >= L'0' && c <= L'9') || (i == first && (c == L'-' || c == L'+')))) {
            return std::nullopt;
        }
        narrow += static_cast<char>(c);
    }
    const char* begin = narrow.data() + (narrow.starts_with('+') ? 1 : 0);
    const char* end = narrow.data() + narrow.size();
    std::int32_t value = 0;
    const auto [ptr, error] = std::from_chars(begin, end, value);
    if (error != std::errc{} || ptr != end || begin == end) {
        return std::nullopt;
    }
    return value;
}

} // namespace app
