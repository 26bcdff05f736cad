#include "cli/ConsoleSink.h"

#include "cli/Timestamp.h"
#include "wyr/windows/system/TextConversion.h"

namespace cli {

using wyr::windows::system::toNarrow;

void ConsoleSink::showNotification(const std::wstring& text) {
    if (text != _lastNotification) {
        _lastNotification = text;
        line(toNarrow(text));
    }
}

void ConsoleSink::showError(const std::wstring& text) {
    line("Error: " + toNarrow(text));
}

void ConsoleSink::showAlert(AlertIcon icon, const std::wstring& text) {
    line(Timestamp::now() + (icon == AlertIcon::Warning ? " Warning: " : " ") + toNarrow(text));
}

void ConsoleSink::connected(std::int32_t port) {
    line("Connected to COM" + std::to_string(port) + ".");
}

void ConsoleSink::streamingStarted() {
    line("Streaming.");
}

void ConsoleSink::line(const std::string& text) {
    _err << text << std::endl;
}

} // namespace cli
