#pragma once

#include "device/IDeviceSupervisorSink.h"

#include <ostream>
#include <string>

namespace cli {

// What the supervision of the device shows, one line each on a stream (standard
// error): the progress dialog's texts (each once, as the dialog repeats them on
// every update), errors, and every alert with its local time, as the desktop
// alerts would pop up one by one.
class ConsoleSink final : public device::IDeviceSupervisorSink {
public:
    explicit ConsoleSink(std::ostream& err) : _err(err) {}

    void showNotification(const std::wstring& text) override;
    void showError(const std::wstring& text) override;
    void showAlert(AlertIcon icon, const std::wstring& text) override;
    void connected(std::int32_t port) override;
    void streamingStarted() override;

private:
    void line(const std::string& text);

    std::ostream& _err;
    std::wstring _lastNotification;
};

} // namespace cli
