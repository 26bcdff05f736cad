#include "cli/ProgressDisplay.h"

#include <algorithm>
#include <iomanip>

namespace cli {

void ProgressDisplay::begin(const std::string& title, std::uint32_t total) {
    finish();
    _total = total;
    _tenth = -1;
    if (_bar) {
        draw(title, 0);
    } else {
        _out << title << "\n" << std::flush;
    }
}

void ProgressDisplay::update(const std::string& text, std::uint32_t current) {
    if (_bar) {
        draw(text, current);
        return;
    }
    const int tenth =
        _total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(current, _total) * 10 / _total);
    if (tenth != _tenth) {
        _tenth = tenth;
        _out << text << "\n" << std::flush;
    }
}

void ProgressDisplay::draw(const std::string& text, std::uint32_t current) {
    const std::uint64_t done = _total == 0 ? 0 : std::min<std::uint64_t>(current, _total);
    const auto filled = _total == 0 ? 0 : static_cast<int>(done * kBarWidth / _total);
    const auto percent = _total == 0 ? 0 : static_cast<int>(done * 100 / _total);
    // Carriage return, the bar, and "erase to the end of the line" for a shorter text.
    _out << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << std::setw(3) << percent
         << "% " << text << "\x1b[K" << std::flush;
    _open = true;
}

void ProgressDisplay::finish() {
    if (_open) {
        _out << "\n" << std::flush;
        _open = false;
    }
}

void ProgressDisplay::line(const std::string& text) {
    finish();
    _out << text << "\n" << std::flush;
}

} // namespace cli
