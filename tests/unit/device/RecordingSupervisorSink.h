#pragma once

#include "device/IDeviceSupervisorSink.h"

#include <algorithm>
#include <string>
#include <vector>

namespace test {

// Keeps what the supervisor wants shown as readable lines, in order, such as
// "error:Failed to find a Orvane." or "gainButtons:1,0".
class RecordingSupervisorSink final : public device::IDeviceSupervisorSink {
public:
    void clearDisplays() override { add(L"clear"); }
    void showNotification(const std::wstring& text) override { add(L"notification:" + text); }
    void closeNotification() override { add(L"closeNotification"); }
    void showError(const std::wstring& text) override { add(L"error:" + text); }
    void showAlert(AlertIcon icon, const std::wstring& text) override {
        add((icon == AlertIcon::Warning ? L"warning:" : L"information:") + text);
    }
    void enableAutoConnect(bool enabled) override { add(L"autoConnect:" + flag(enabled)); }
    void enableDisconnect(bool enabled) override { add(L"disconnectButton:" + flag(enabled)); }
    void enableGainButtons(bool down, bool up) override {
        add(L"gainButtons:" + flag(down) + L"," + flag(up));
    }
    void rebuildPortMenu() override { add(L"portMenu"); }
    void connected(std::int32_t port) override { add(L"connected:" + std::to_wstring(port)); }
    void streamingStarted() override { add(L"streaming"); }
    void showDeviceLed(int state) override { add(L"deviceLed:" + std::to_wstring(state)); }
    void showAntennaLed(int state) override { add(L"antennaLed:" + std::to_wstring(state)); }
    void showVoltage(const std::wstring& text) override { add(L"voltage:" + text); }
    void showVoltageLook(device::VoltageSupervisor::Look look) override {
        add(std::wstring(L"look:") + (look == device::VoltageSupervisor::Look::Idle      ? L"idle"
                                      : look == device::VoltageSupervisor::Look::InRange ? L"inRange"
                                                                                         : L"alarm"));
    }
    void showGain(std::int32_t gain) override { add(L"gain:" + std::to_wstring(gain)); }
    void showDecibels(const std::wstring& text) override { add(L"dB:" + text); }
    void refresh() override { add(L"refresh"); }

    // What was recorded since the last take().
    std::vector<std::wstring> take() {
        std::vector<std::wstring> taken;
        taken.swap(events);
        return taken;
    }

    bool has(const std::wstring& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    // The recorded lines that begin with `prefix`, in order.
    std::vector<std::wstring> starting(const std::wstring& prefix) const {
        std::vector<std::wstring> found;
        for (const auto& e : events) {
            if (e.rfind(prefix, 0) == 0) {
                found.push_back(e);
            }
        }
        return found;
    }

    std::vector<std::wstring> events;

private:
    static std::wstring flag(bool value) { return value ? L"1" : L"0"; }
    void add(std::wstring event) { events.push_back(std::move(event)); }
};

} // namespace test
