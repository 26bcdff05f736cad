// The device link end to end: ADC sentences written on the instrument's side of a
// pseudo-terminal, read by the serial thread, parsed, and delivered to a
// subscriber on the user-interface thread, with the usual log listener (the
// history pane's mask) connected.
//
//   BM_NotificationLatency: from the moment the last byte of a sentence was written
//     to the subscriber running, at 1000 sentences per second with the instrument's
//     heartbeat once a second: p50, p99 and the maximum.
//   BM_NotificationMemory: one million readings through the link as fast as it
//     takes them; resident size before and after (after a first million, so that
//     the allocator and the queues have reached their working size).
#include "bench/support/CountingListener.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneInterfaceId.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneScanPhase.h"
#include "wyr/windows/config/ConfigMgr.h"
#include "wyr/windows/logging/LogBeacon.h"
#include "wyr/windows/system/MessageLoop.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <boost/signals2/connection.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace wyr::windows::system;
using Clock = std::chrono::steady_clock;

std::string frame(const std::string& payload) {
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%02X", device::OrvaneMessage::checksum(payload) & 0xFF);
    return "\x02" + payload + "\x03" + checksum + "\x04";
}

// The instrument's side: answers INTERROGATE, sends heartbeats, and streams readings
// on request, recording when each reading's last byte left.
class Instrument {
public:
    Instrument() {
        char name[128] = {};
        if (::openpty(&_master, &_slave, name, nullptr, nullptr) != 0) {
            std::abort();
        }
        termios tio{};
        ::tcgetattr(_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(_slave, TCSANOW, &tio);
        path = name;
        _thread = std::thread([this] { serve(); });
    }
    ~Instrument() {
        _stop = true;
        _thread.join();
        ::close(_slave);
        ::close(_master);
    }

    // Writes `count` readings, one every `intervalUs` (0: as fast as the line takes them).
    void stream(std::size_t count, unsigned intervalUs) {
        std::lock_guard guard(_lock);
        _toSend = count;
        _intervalUs = intervalUs;
        _sentAt.clear();
        _sentAt.reserve(count);
    }
    std::vector<Clock::time_point> sentAt() {
        std::lock_guard guard(_lock);
        return _sentAt;
    }

    std::string path;

private:
    void write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{_master, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    }

    void serve() {
        ::fcntl(_master, F_SETFL, ::fcntl(_master, F_GETFL) | O_NONBLOCK);
        const std::string state = "X1|1001|1.2.3.45|16|2|12.000|1023";
        auto nextHeartbeat = Clock::now();
        auto nextReading = Clock::now();
        std::string incoming;
        while (!_stop) {
            char buffer[256];
            const ssize_t n = ::read(_master, buffer, sizeof buffer);
            if (n > 0) {
                incoming.append(buffer, static_cast<std::size_t>(n));
                if (incoming.find("\x02"
                                  "1\x03") != std::string::npos) {
                    write(frame("0001|" + state));
                    incoming.clear();
                }
                if (incoming.size() > 4096) {
                    incoming.clear();
                }
            }
            const auto now = Clock::now();
            std::size_t toSend = 0;
            unsigned interval = 0;
            {
                std::lock_guard guard(_lock);
                toSend = _toSend;
                interval = _intervalUs;
            }
            if (now >= nextHeartbeat) {
                write(frame("0002|" + state));
                nextHeartbeat = now + std::chrono::milliseconds(1000);
            }
            if (toSend > 0 && now >= nextReading) {
                write(frame("0003|1.500|2.500|3.500"));
                std::lock_guard guard(_lock);
                _sentAt.push_back(Clock::now());
                --_toSend;
                nextReading = interval == 0 ? now : nextReading + std::chrono::microseconds(interval);
                if (nextReading < now - std::chrono::milliseconds(5)) {
                    nextReading = now;
                }
                continue;
            }
            if (toSend == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            } else {
                std::this_thread::sleep_until(std::min(nextReading, nextHeartbeat));
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
    std::vector<Clock::time_point> _sentAt;
};

// A connected device link on a private port directory and settings home.
class Link {
public:
    Link() {
        _root = std::filesystem::temp_directory_path() / ("orvane-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(_root / "ports");
        ::setenv("ORVANE_PORT_DIR", (_root / "ports").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", _root.c_str(), 1);
        std::filesystem::create_symlink(instrument.path, _root / "ports" / "COM210");

        wyr::windows::logging::LogBeacon::instance();
        device::getInterface(device::OrvaneInterfaceId::Orvane, &_device);
        _device->registerConfiguration();
        _device->setDefaultConfiguration(-1);
        _device->initialize();
        _subscription =
            _device->subscribe([this](const device::tagNMORVANEHDR* header) { onNotify(header); });
        _device->interrogatePort(210, -1);
        runUntil([&] { return _scanResult == 0; }, 10000);
        _device->connect(210);
        runUntil([&] { return _connected; }, 10000);
    }
    ~Link() {
        _subscription.disconnect();
        _device->finalize();
        std::error_code ignored;
        std::filesystem::remove_all(_root, ignored);
    }
    bool connected() const { return _connected; }

    Instrument instrument;
    std::vector<Clock::time_point> receivedAt;
    std::size_t readings = 0;

private:
    void onNotify(const device::tagNMORVANEHDR* header) {
        if (device::OrvaneNotification::as<device::OrvaneReadingNotification>(header) != nullptr) {
            if (receivedAt.size() < receivedAt.capacity()) {
                receivedAt.push_back(Clock::now());
            }
            ++readings;
        } else if (const auto* scan =
                       device::OrvaneNotification::as<device::OrvaneInterrogateNotification>(header);
                   scan != nullptr && *scan->phase == device::OrvaneScanPhase::NotifyScanResult) {
            _scanResult = static_cast<int>(scan->result);
        } else if (const auto* c =
                       device::OrvaneNotification::as<device::OrvaneConnectNotification>(header)) {
            _connected = c->result == 0;
        }
    }

    std::filesystem::path _root;
    device::OrvaneInterface* _device = nullptr;
    boost::signals2::connection _subscription;
    int _scanResult = -1;
    bool _connected = false;
};

Link& link() {
    static Link instance; // one connection for every benchmark of the run
    return instance;
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void BM_NotificationLatency(benchmark::State& state) {
    bench::CountingListener historyPane(0x0F60);
    Link& l = link();
    if (!l.connected()) {
        state.SkipWithError("the link did not connect");
        return;
    }
    constexpr std::size_t kSentences = 5000;
    for (auto _ : state) {
        l.receivedAt.clear();
        l.receivedAt.reserve(kSentences);
        l.readings = 0;
        l.instrument.stream(kSentences, 1000);
        runUntil([&] { return l.readings >= kSentences; }, 30000);
    }
    const auto sent = l.instrument.sentAt();
    const std::size_t n = std::min(sent.size(), l.receivedAt.size());
    std::vector<double> latencyUs;
    for (std::size_t i = 0; i < n; ++i) {
        latencyUs.push_back(std::chrono::duration<double, std::micro>(l.receivedAt[i] - sent[i]).count());
    }
    std::sort(latencyUs.begin(), latencyUs.end());
    if (latencyUs.empty()) {
        state.SkipWithError("no reading arrived");
        return;
    }
    state.counters["p50_us"] = latencyUs[latencyUs.size() / 2];
    state.counters["p99_us"] = latencyUs[latencyUs.size() * 99 / 100];
    state.counters["max_us"] = latencyUs.back();
    state.counters["delivered"] = static_cast<double>(n);
}
BENCHMARK(BM_NotificationLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_NotificationMemory(benchmark::State& state) {
    bench::CountingListener historyPane(0x0F60);
    Link& l = link();
    if (!l.connected()) {
        state.SkipWithError("the link did not connect");
        return;
    }
    l.receivedAt.clear();
    l.receivedAt.shrink_to_fit();
    auto pushThrough = [&](std::size_t count) {
        l.readings = 0;
        l.instrument.stream(count, 0);
        runUntil([&] { return l.readings >= count; }, 600000);
    };
    // A first million lets the allocator and the queues reach their working size;
    // the second must not add to it.
    pushThrough(static_cast<std::size_t>(state.range(0)));
    const long before = residentKiB();
    for (auto _ : state) {
        pushThrough(static_cast<std::size_t>(state.range(0)));
    }
    const long after = residentKiB();
    state.counters["rss_before_KiB"] = static_cast<double>(before);
    state.counters["rss_after_KiB"] = static_cast<double>(after);
    state.counters["readings"] = static_cast<double>(l.readings);
}
BENCHMARK(BM_NotificationMemory)->Arg(1000000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
