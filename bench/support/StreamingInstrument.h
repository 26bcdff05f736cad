#pragma once

#include "device/OrvaneMessage.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

// The instrument's side of a pseudo-terminal, published as a port: it answers every
// command with its acknowledgement and the new state, sends a heartbeat every
// second and, on request, writes ADC readings at a fixed pace whatever frame rate it
// reports, recording when each reading's last byte left. A reading carries its
// sequence number in its first two values (see sequenceOf), so whatever shows it can
// be traced back to that moment.
class StreamingInstrument {
public:
    using Clock = std::chrono::steady_clock;

    explicit StreamingInstrument(const std::filesystem::path& published) {
        char name[128] = {};
        if (::openpty(&_master, &_slave, name, nullptr, nullptr) != 0) {
            std::abort();
        }
        termios tio{};
        ::tcgetattr(_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(_slave, TCSANOW, &tio);
        std::filesystem::create_symlink(name, published);
        _thread = std::thread([this] { serve(); });
    }
    ~StreamingInstrument() {
        _stop = true;
        _thread.join();
        ::close(_slave);
        ::close(_master);
    }
    StreamingInstrument(const StreamingInstrument&) = delete;
    StreamingInstrument& operator=(const StreamingInstrument&) = delete;

    // Writes `count` readings, one every `intervalUs` (0: as fast as the line takes
    // them), numbered from 0.
    void stream(std::size_t count, unsigned intervalUs) {
        std::lock_guard guard(_lock);
        _toSend = count;
        _intervalUs = intervalUs;
        _sentAt.clear();
        _sentAt.reserve(intervalUs == 0 ? 0 : count);
        _keepTimes = intervalUs != 0;
        _sequence = 0;
    }
    std::size_t remaining() {
        std::lock_guard guard(_lock);
        return _toSend;
    }
    std::vector<Clock::time_point> sentAt() {
        std::lock_guard guard(_lock);
        return _sentAt;
    }
    // The writer thread's own processor time, to tell it apart from the program's.
    double cpuSeconds() {
        clockid_t clock{};
        timespec used{};
        if (::pthread_getcpuclockid(_thread.native_handle(), &clock) != 0 ||
            ::clock_gettime(clock, &used) != 0) {
            return 0.0;
        }
        return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
    }

    // Readings between 1 and 3 V that spell the sequence number in steps of 1 mV.
    static void valuesOf(std::size_t sequence, double& first, double& second) {
        first = 1.0 + static_cast<double>(sequence % 2000) * 0.001;
        second = 1.0 + static_cast<double>((sequence / 2000) % 2000) * 0.001;
    }
    static std::optional<std::size_t> sequenceOf(double first, double second) {
        const long low = std::lround((first - 1.0) * 1000.0);
        const long high = std::lround((second - 1.0) * 1000.0);
        if (low < 0 || low >= 2000 || high < 0 || high >= 2000) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(high) * 2000 + static_cast<std::size_t>(low);
    }

    static std::string frame(const std::string& payload) {
        char checksum[8];
        std::snprintf(checksum, sizeof checksum, "%02X", device::OrvaneMessage::checksum(payload) & 0xFF);
        return "\x02" + payload + "\x03" + checksum + "\x04";
    }

private:
    void write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !_stop) {
            const ssize_t n = ::write(_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{_master, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    }

    std::string state(const char* code) const {
        return std::string(code) + "|X1|1001|1.2.3.45|" + std::to_string(_frameRate) + "|" +
               (_streaming ? "2" : "0") + "|12.000|" + std::to_string(_gain);
    }

    // Acknowledges a command as the instrument does; the host's own
    // acknowledgements and unknown commands get no answer.
    void onSentence(const std::string& payload) {
        const std::string value = payload.size() > 2 ? payload.substr(2) : std::string();
        switch (payload.empty() ? '\0' : payload[0]) {
        case '1':
            break;
        case '2':
            _streaming = true;
            break;
        case '3':
            _streaming = false;
            break;
        case '4':
            _gain = std::atoi(value.c_str());
            break;
        case '5':
            _frameRate = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10)) & 0xFFU;
            break;
        default:
            return;
        }
        write(frame(state("0001")));
    }

    void onBytes(const char* data, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) {
            const char c = data[i];
            if (c == '\x02') {
                _incoming.clear();
                _inSentence = true;
            } else if (c == '\x03' && _inSentence) {
                onSentence(_incoming);
                _inSentence = false;
            } else if (_inSentence) {
                _incoming += c;
                if (_incoming.size() > 4096) {
                    _inSentence = false;
                }
            }
        }
    }

    void sendReading(std::size_t sequence) {
        double first = 0.0;
        double second = 0.0;
        valuesOf(sequence, first, second);
        char payload[64];
        std::snprintf(payload, sizeof payload, "0003|%.3f|%.3f|%.3f", first, second,
                      3.0 + 0.5 * std::sin(static_cast<double>(sequence) * 0.05));
        write(frame(payload));
    }

    void serve() {
        ::fcntl(_master, F_SETFL, ::fcntl(_master, F_GETFL) | O_NONBLOCK);
        auto nextHeartbeat = Clock::now();
        auto nextReading = Clock::now();
        while (!_stop) {
            const auto now = Clock::now();
            std::size_t toSend = 0;
            unsigned interval = 0;
            {
                std::lock_guard guard(_lock);
                toSend = _toSend;
                interval = _intervalUs;
            }
            if (now >= nextHeartbeat) {
                write(frame(state("0002")));
                nextHeartbeat = now + std::chrono::milliseconds(1000);
            }
            if (toSend > 0 && now >= nextReading) {
                sendReading(_sequence);
                std::lock_guard guard(_lock);
                if (_keepTimes) {
                    _sentAt.push_back(Clock::now());
                }
                ++_sequence;
                --_toSend;
                nextReading = interval == 0 ? now : nextReading + std::chrono::microseconds(interval);
                if (nextReading < now - std::chrono::milliseconds(5)) {
                    nextReading = now;
                }
                if (interval == 0) {
                    continue;
                }
            }
            // Sleeps in the descriptor's wait, so commands are answered at once;
            // idle, a new stream request is noticed within 20 ms.
            auto wake = nextHeartbeat;
            if (toSend > 0) {
                wake = std::min(wake, nextReading);
            } else {
                wake = std::min(wake, now + std::chrono::milliseconds(20));
                nextReading = now;
            }
            const auto wait = std::max(Clock::duration::zero(), wake - Clock::now());
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
            const timespec timeout{static_cast<time_t>(seconds.count()),
                                   static_cast<long>(std::chrono::nanoseconds(wait - seconds).count())};
            pollfd p{_master, POLLIN, 0};
            if (::ppoll(&p, 1, &timeout, nullptr) > 0 && (p.revents & POLLIN) != 0) {
                char buffer[256];
                const ssize_t n = ::read(_master, buffer, sizeof buffer);
                if (n > 0) {
                    onBytes(buffer, static_cast<std::size_t>(n));
                }
            }
        }
    }

    int _master = -1;
    int _slave = -1;
    std::thread _thread;
    std::atomic<bool> _stop{false};
    std::mutex _lock;
    std::size_t _toSend = 0;
    unsigned _intervalUs = 0;
    std::size_t _sequence = 0;
    bool _keepTimes = false;
    std::vector<Clock::time_point> _sentAt;

    // Used by the writer thread only.
    std::string _incoming;
    bool _inSentence = false;
    bool _streaming = false;
    unsigned _frameRate = 16;
    std::int32_t _gain = 793;
};

} // namespace bench
