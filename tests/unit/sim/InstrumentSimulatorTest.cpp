#include "sim/InstrumentSimulator.h"

#include "device/OrvaneMessage.h"
#include "sim/SimulatorCommandLine.h"
#include "tests/unit/sim/ParseCommandLine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using device::OrvaneMessage;
using sim::InstrumentSimulator;

namespace {

struct Sentence {
    std::string payload;
    bool checksumValid = false;
};

// The application's side of the line, kept minimal: raw reads and writes.
class Client {
public:
    explicit Client(const std::string& path) : _fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        ::tcgetattr(_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(_fd, TCSANOW, &tio);
        ::tcflush(_fd, TCIOFLUSH);
    }
    ~Client() { ::close(_fd); }

    void send(const OrvaneMessage& message, std::uint32_t value = 0) {
        std::vector<std::uint8_t> bytes;
        if (message == OrvaneMessage::SET_GAIN || message == OrvaneMessage::SET_FRAME_RATE) {
            OrvaneMessage::compose(bytes, message, value);
        } else {
            OrvaneMessage::compose(bytes, message);
        }
        ASSERT_EQ(::write(_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // The next sentence whose payload starts with `code`, skipping others; empty on time-out.
    std::optional<Sentence> next(const std::string& code, int timeoutMs = 3000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            while (auto s = take()) {
                if (s->payload.rfind(code, 0) == 0) {
                    return s;
                }
            }
            pollfd p{_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                if ((p.revents & (POLLHUP | POLLERR)) != 0 && (p.revents & POLLIN) == 0) {
                    hungUp = true;
                    return std::nullopt;
                }
                char buffer[4096];
                const ssize_t n = ::read(_fd, buffer, sizeof buffer);
                if (n == 0 || (n < 0 && errno == EIO)) {
                    hungUp = true;
                    return std::nullopt;
                }
                if (n > 0) {
                    _pending.append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
        return std::nullopt;
    }

    bool hungUp = false;

private:
    std::optional<Sentence> take() {
        const auto eot = _pending.find('\x04');
        if (eot == std::string::npos) {
            return std::nullopt;
        }
        const std::string frame = _pending.substr(0, eot + 1);
        _pending.erase(0, eot + 1);
        const auto stx = frame.rfind('\x02');
        const auto etx = frame.find('\x03', stx == std::string::npos ? 0 : stx);
        if (stx == std::string::npos || etx == std::string::npos || eot - etx != 3) {
            return Sentence{"<garbled>", false};
        }
        Sentence s;
        s.payload = frame.substr(stx + 1, etx - stx - 1);
        char expected[8];
        std::snprintf(expected, sizeof expected, "%02X", OrvaneMessage::checksum(s.payload) & 0xFF);
        s.checksumValid = frame.substr(etx + 1, 2) == expected;
        return s;
    }

    int _fd;
    std::string _pending;
};

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-sim-test-XXXXXX";
        _dir = ::mkdtemp(pattern);
        ::setenv("ORVANE_PORT_DIR", _dir.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(_dir); }

    std::unique_ptr<InstrumentSimulator> start(sim::InstrumentSettings settings = {},
                                               sim::FaultSettings faults = {}) {
        auto s = std::make_unique<InstrumentSimulator>(settings, faults);
        EXPECT_EQ(s->start(), 0U);
        return s;
    }

    std::string _dir;
};

} // namespace

TEST_F(SimulatorTest, PublishesItselfAndAnswersInterrogate) {
    auto simulator = start();
    EXPECT_EQ(simulator->comNumber(), 200);
    EXPECT_EQ(std::filesystem::read_symlink(_dir + "/COM200"), simulator->devicePath());

    Client client(_dir + "/COM200");
    client.send(OrvaneMessage::INTERROGATE);
    const auto ack = client.next("0001");
    ASSERT_TRUE(ack);
    EXPECT_TRUE(ack->checksumValid);
    EXPECT_EQ(ack->payload, "0001|X1|1001|1.2.3.45|30|0|12.000|1000");

    // A second simulator takes the next number; stopping withdraws the link.
    auto second = start();
    EXPECT_EQ(second->comNumber(), 201);
    second->stop();
    EXPECT_FALSE(std::filesystem::exists(_dir + "/COM201"));
}

TEST_F(SimulatorTest, CommandsChangeTheStateAndStreamingSendsReadings) {
    sim::InstrumentSettings settings;
    settings.heartbeatPeriodMs = 50;
    auto simulator = start(settings);
    Client client(simulator->linkPath());

    client.send(OrvaneMessage::SET_GAIN, 1023);
    auto ack = client.next("0001");
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->payload, "0001|X1|1001|1.2.3.45|30|0|12.000|1023");
    client.send(OrvaneMessage::SET_FRAME_RATE, 100);
    ASSERT_TRUE((ack = client.next("0001")));
    EXPECT_EQ(ack->payload, "0001|X1|1001|1.2.3.45|100|0|12.000|1023");
    client.send(OrvaneMessage::START_STREAMING);
    ASSERT_TRUE((ack = client.next("0001")));
    EXPECT_EQ(ack->payload, "0001|X1|1001|1.2.3.45|100|2|12.000|1023");
    for (int i = 0; i < 5; ++i) {
        const auto reading = client.next("0003");
        ASSERT_TRUE(reading);
        EXPECT_TRUE(reading->checksumValid);
        EXPECT_EQ(std::count(reading->payload.begin(), reading->payload.end(), '|'), 3);
    }
    const auto heartbeat = client.next("0002");
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ(heartbeat->payload, "0002|X1|1001|1.2.3.45|100|2|12.000|1023");
    client.send(OrvaneMessage::ACK);
    client.send(OrvaneMessage::RESET);
    ASSERT_TRUE(client.next("0002"));
    const auto status = simulator->status();
    EXPECT_EQ(status.acksReceived, 1U);
    EXPECT_FALSE(status.streaming);
    EXPECT_EQ(status.gain, 1000);
    EXPECT_EQ(status.frameRate, 30U);
}

TEST_F(SimulatorTest, InjectedFaults) {
    sim::InstrumentSettings settings;
    settings.heartbeatPeriodMs = 30;
    sim::FaultSettings faults;
    faults.ignoreCommand = "SET_GAIN";
    faults.heartbeatsStopAfter = 3;
    faults.corruptEvery = 2;
    auto simulator = start(settings, faults);
    Client client(simulator->linkPath());

    client.send(OrvaneMessage::SET_GAIN, 5);
    EXPECT_FALSE(client.next("0001", 300)) << "the first SET_GAIN goes unanswered";
    client.send(OrvaneMessage::SET_GAIN, 6);
    const auto ack = client.next("0001");
    ASSERT_TRUE(ack);
    EXPECT_EQ(simulator->status().heartbeatsSent, 3U);
    EXPECT_FALSE(client.next("0002", 200)) << "heartbeats stopped";

    // Every second sentence is corrupted: of two acknowledgements, one fails its checksum.
    client.send(OrvaneMessage::INTERROGATE);
    client.send(OrvaneMessage::INTERROGATE);
    const auto a = client.next("0001");
    const auto b = client.next("0001");
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->checksumValid, b->checksumValid);
}

TEST_F(SimulatorTest, ADroppedCommandHasNoEffectAndNoAcknowledgement) {
    sim::InstrumentSettings settings;
    settings.heartbeatPeriodMs = 30;
    sim::FaultSettings faults;
    faults.dropCommand = "START_STREAMING";
    faults.dropCount = 1;
    auto simulator = start(settings, faults);
    Client client(simulator->linkPath());

    client.send(OrvaneMessage::START_STREAMING);
    EXPECT_FALSE(client.next("0001", 300)) << "no acknowledgement";
    EXPECT_FALSE(simulator->status().streaming);
    EXPECT_FALSE(client.next("0003", 100)) << "no readings";
    client.send(OrvaneMessage::START_STREAMING);
    EXPECT_TRUE(client.next("0001"));
    EXPECT_TRUE(client.next("0003"));
}

TEST_F(SimulatorTest, UnplugHangsUpTheOpenPort) {
    sim::InstrumentSettings settings;
    settings.heartbeatPeriodMs = 20;
    auto simulator = start(settings);
    Client client(simulator->linkPath());
    ASSERT_TRUE(client.next("0002"));
    simulator->unplug();
    EXPECT_FALSE(client.next("0002", 1000));
    EXPECT_TRUE(client.hungUp);
    EXPECT_FALSE(std::filesystem::exists(simulator->linkPath()));
}

TEST(SimulatorCommandLine, ParsesOptionsAndRefusesBadOnes) {
    const auto parse = test::parseCommandLine;
    sim::SimulatorCommandLine good;
    EXPECT_EQ(parse({"--port", "7", "--frame-rate", "16", "--voltage-profile", "12,9.5,50",
                     "--ignore-command", "SET_GAIN:-1", "--antenna-disconnected"},
                    good),
              -1);
    EXPECT_EQ(good.port(), 7);
    EXPECT_EQ(good.settings().frameRate, 16U);
    EXPECT_EQ(good.settings().voltageProfile, (std::vector<float>{12.0F, 9.5F, 50.0F}));
    EXPECT_EQ(good.faults().ignoreCount, -1);
    EXPECT_TRUE(good.settings().antennaDisconnected);

    const std::vector<std::vector<std::string>> bad{
        {"--port", "0"},
        {"--port", "x"},
        {"--frame-rate", "256"},
        {"--voltage", "-3"},
        {"--voltage-profile", "12,,3"},
        {"--ignore-command", "RESET"},
        {"--model", "a|b"},
        {"--bogus"},
        {"stray"},
        {"--heartbeat-ms", "1"},
    };
    for (const auto& args : bad) {
        sim::SimulatorCommandLine cl;
        EXPECT_EQ(parse(args, cl), 2) << ::testing::PrintToString(args);
    }
    sim::SimulatorCommandLine help;
    EXPECT_EQ(parse({"--help"}, help), 0);
    EXPECT_EQ(parse({"-h"}, help), 0);
}

TEST(SimulatorCommandLine, TakesPortsAsOrvanectlDoesAndTellsItsVersion) {
    const std::vector<std::pair<std::vector<std::string>, int>> ports{
        {{"--port", "COM7"}, 7},  {{"--port", "7"}, 7},      {{"--port=COM7"}, 7},
        {{"--port=com256"}, 256}, {{"--port", "COM257"}, 0}, {{"--port", "COM0"}, 0},
    };
    for (const auto& [args, port] : ports) {
        sim::SimulatorCommandLine cl;
        EXPECT_EQ(test::parseCommandLine(args, cl), port == 0 ? 2 : -1) << ::testing::PrintToString(args);
        EXPECT_EQ(cl.port(), port) << ::testing::PrintToString(args);
    }
    sim::SimulatorCommandLine faults;
    EXPECT_EQ(test::parseCommandLine({"--drop-command", "START_STREAMING:-1"}, faults), -1);
    EXPECT_EQ(faults.faults().dropCommand, "START_STREAMING");
    EXPECT_EQ(faults.faults().dropCount, -1);
    EXPECT_EQ(test::parseCommandLine({"--drop-command", "RESET"}, faults), 2);

    for (const std::string option : {"--version", "-V"}) {
        std::vector<std::string> args{"orvane-sim", option};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        std::ostringstream out, err;
        sim::SimulatorCommandLine cl;
        EXPECT_EQ(cl.parse(static_cast<int>(argv.size()), argv.data(), out, err), 0);
        EXPECT_EQ(out.str().rfind("orvane-sim ", 0), 0U) << out.str();
    }
}
