#pragma once

#include "wyr/windows/communication/Serial.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace test {

using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal: the test plays the far end on the master, the Serial under
// test opens the slave. Waits are bounded generously; they guard against hangs,
// they do not measure speed.
class PtyPair {
public:
    PtyPair() {
        _master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128] = {};
        if (_master < 0 || ::grantpt(_master) != 0 || ::unlockpt(_master) != 0 ||
            ::ptsname_r(_master, name, sizeof name) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        _slavePath = name;
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return _slavePath; }
    std::wstring widePath() const { return std::wstring(_slavePath.begin(), _slavePath.end()); }
    int master() const { return _master; }

    // The far end sends.
    void send(const Bytes& bytes) const {
        std::size_t done = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::write(_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd entry{_master, POLLOUT, 0};
                ::poll(&entry, 1, 100);
            }
        }
        if (done < bytes.size()) {
            throw std::runtime_error("far end could not send");
        }
    }
    void send(const std::string& text) const { send(Bytes(text.begin(), text.end())); }

    // The far end receives until `count` bytes came or the time is up.
    Bytes receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::uint8_t chunk[4096];
        while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::read(_master, chunk, std::min(sizeof chunk, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), chunk, chunk + n);
            } else {
                pollfd entry{_master, POLLIN, 0};
                ::poll(&entry, 1, 100);
            }
        }
        return out;
    }

    // Everything the far end has received so far.
    Bytes drain() const {
        Bytes out;
        std::uint8_t chunk[4096];
        for (;;) {
            const ssize_t n = ::read(_master, chunk, sizeof chunk);
            if (n <= 0) {
                return out;
            }
            out.insert(out.end(), chunk, chunk + n);
        }
    }

    // The far end goes away: the slave hangs up.
    void closeMaster() {
        if (_master >= 0) {
            ::close(_master);
            _master = -1;
        }
    }

private:
    int _master = -1;
    std::string _slavePath;
};

// Waits until the port's input queue holds at least `count` bytes (the pty hands
// bytes over asynchronously).
inline bool waitForQueued(wyr::windows::communication::Serial& serial, std::uint32_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        wyr::windows::communication::COMSTAT status;
        if (serial.handle()->clearCommError(nullptr, &status) == 0 && status.cbInQue >= count) {
            return true;
        }
        ::usleep(1000);
    }
    return false;
}

inline Bytes pattern(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

// Sets an environment variable for the scope of a test.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : _name(name) {
        if (const char* old = std::getenv(name)) {
            _old = old;
            _had = true;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (_had) {
            ::setenv(_name.c_str(), _old.c_str(), 1);
        } else {
            ::unsetenv(_name.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string _name;
    std::string _old;
    bool _had = false;
};

} // namespace test
