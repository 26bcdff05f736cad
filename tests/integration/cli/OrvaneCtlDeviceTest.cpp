// orvanectl's device commands against the instrument simulator on pseudo-terminals.
#include "cli/OrvaneCtl.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneInterfaceId.h"
#include "device/OrvaneNotificationType.h"
#include "sim/InstrumentSimulator.h"
#include "tests/unit/bootloader/TestImage.h"
#include "tests/unit/support/FakeSerialTree.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/communication/SerialDevice.h"
#include "wyr/windows/system/MessageLoop.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class OrvaneCtlDevice : public test::TempConfigHome {
protected:
    void SetUp() override {
        TempConfigHome::SetUp();
        ::setenv("ORVANE_PORT_DIR", tree.ports.c_str(), 1);
        // Short waits keep a probe of a silent port brief, and the monitor's bounds
        // (from these two) at 2 s for the first reading and 4 s for the validation.
        writeSettings(kShortWaits);
    }

    static constexpr const char* kShortWaits =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Device]\r\n"
        "\"CommandAckTimeout\"=\"1|1\"\r\n"
        "\"WatchDogTimeout\"=\"1|1\"\r\n";
    void TearDown() override {
        releasePort();
        for (const int fd : _ptys) {
            ::close(fd);
        }
        TempConfigHome::TearDown();
    }

    // The device link is one per process and outlives each command. A scan leaves
    // the port it found open for a connection, which a command-line run never makes
    // (its process ends there); the tests run their commands in one process.
    static void releasePort() {
        device::OrvaneInterface* link = nullptr;
        ASSERT_EQ(device::getInterface(device::OrvaneInterfaceId::Orvane, &link), 0U);
        if (!link->isOpen()) {
            return;
        }
        ASSERT_EQ(link->initialize(), 0U);
        bool gone = false;
        const boost::signals2::scoped_connection watch =
            link->subscribe([&](const device::tagNMORVANEHDR* h) {
                gone = gone || *h->type == device::OrvaneNotificationType::NotifyDisconnect;
            });
        link->disconnect(device::DisconnectType::Abnormal, 0);
        wyr::windows::system::runUntil([&] { return gone; }, 5000);
        link->finalize();
    }

    std::unique_ptr<sim::InstrumentSimulator> simulator(int com, sim::FaultSettings faults = {}) {
        sim::InstrumentSettings settings;
        settings.heartbeatPeriodMs = 200;
        auto s = std::make_unique<sim::InstrumentSimulator>(settings, faults);
        EXPECT_EQ(s->start(com), 0U);
        return s;
    }

    // A port whose far end never answers.
    void silentPort(int com) {
        int master = -1;
        int slave = -1;
        char name[128] = {};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        _ptys.push_back(master);
        _ptys.push_back(slave);
        tree.publish("COM" + std::to_string(com), name);
    }

    Outcome run(std::vector<std::string> args) {
        std::ostringstream out;
        return run(std::move(args), out);
    }

    Outcome run(std::vector<std::string> args, std::ostream& out) {
        std::ostringstream err;
        cli::OrvaneCtl ctl(out, err, tree.enumerator());
        const int code = ctl.run(args);
        const auto* text = dynamic_cast<std::ostringstream*>(&out);
        return {code, text != nullptr ? text->str() : std::string(), err.str()};
    }

    test::FakeSerialTree tree;

private:
    std::vector<int> _ptys;
};

bool received(const sim::InstrumentSimulator& s, const std::string& payload) {
    const auto commands = s.status().commands;
    return std::find(commands.begin(), commands.end(), payload) != commands.end();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// An image the default simulated device would take, serial number 0x1234.
std::string writeImage(test::TestImage& image) {
    image.add(0x001000, test::TestImage::pattern(64, 0x31));
    image.add(0x007FFF - 11, {0x12, 0x34, 0x30, 0x04, 0x00, 0x07, 0x40, 0x66, 0x09, 0x80, 0x42, 0x0C});
    return image.write(32, "image.hex");
}

} // namespace

TEST_F(OrvaneCtlDevice, ScanFindsTheAnsweringPortAndSendsOnlyInterrogate) {
    silentPort(203);
    auto device = simulator(205);
    const Outcome r = run({"scan"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "COM205\n");
    const auto commands = device->status().commands;
    ASSERT_FALSE(commands.empty());
    for (const auto& c : commands) {
        EXPECT_TRUE(c == "1" || c == "\x06") << "sent " << c;
    }
}

TEST_F(OrvaneCtlDevice, ScanResults) {
    silentPort(203);
    EXPECT_EQ(run({"scan"}).code, 1) << "nobody answers";
    EXPECT_EQ(run({"scan", "--port", "COM207"}).code, 2) << "no such port";
    EXPECT_EQ(run({"scan", "--port", "banana"}).code, 2);
    EXPECT_EQ(run({"scan", "extra"}).code, 2);
}

TEST_F(OrvaneCtlDevice, MonitorValidatesStreamsAndDisconnects) {
    auto device = simulator(204);
    const Outcome r = run({"monitor", "--port", "COM204", "--count", "5"});
    EXPECT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "time,reading1,reading2,reading3");
    int readings = 0;
    const std::regex csv(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,-?\d+\.\d{3},-?\d+\.\d{3},-?\d+\.\d{3})");
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, csv)) << line;
        ++readings;
    }
    EXPECT_EQ(readings, 5);
    // The simulator starts at 30 fps and gain 1000: both are corrected before streaming.
    EXPECT_TRUE(received(*device, "5|16"));
    EXPECT_TRUE(received(*device, "4|0793")); // 1000 is not a register value; the view picks 793
    EXPECT_TRUE(received(*device, "2"));
    EXPECT_TRUE(received(*device, "7")) << "a normal disconnection resets the device";
    EXPECT_NE(r.err.find("Connected to COM204."), std::string::npos) << r.err;
}

TEST_F(OrvaneCtlDevice, MonitorReportsALostLink) {
    sim::FaultSettings faults;
    faults.unplugAfterMs = 4000;
    auto device = simulator(204, faults);
    const Outcome r = run({"monitor", "--port", "COM204"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.out.find("time,reading1"), std::string::npos);
}

TEST_F(OrvaneCtlDevice, MonitorWithoutADevice) {
    silentPort(203);
    const Outcome r = run({"monitor", "--seconds", "1"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(run({"monitor", "--count", "0"}).code, 2);
}

// Once a device answered, every way of not coming to stream ends with the code of
// a lost link and a sentence about what failed, instead of a wait for ever or "No
// Orvane device was found." after 50 s.
TEST_F(OrvaneCtlDevice, MonitorSaysWhyTheDeviceDidNotComeToStream) {
    struct Case {
        const char* name;
        sim::FaultSettings faults;
        std::vector<std::string> said; // one of them
    };
    sim::FaultSettings neverStreams;
    neverStreams.dropCommand = "START_STREAMING";
    neverStreams.dropCount = -1;
    sim::FaultSettings frameRateLost;
    frameRateLost.dropCommand = "SET_FRAME_RATE";
    frameRateLost.dropCount = -1;
    sim::FaultSettings unpluggedWhileChecked = frameRateLost;
    unpluggedWhileChecked.unplugAfterMs = 2500;
    const std::vector<Case> cases{
        {"START_STREAMING lost",
         neverStreams,
         {"no reading came within 2 s after streaming was requested: the device did not acknowledge "
          "START_STREAMING"}},
        {"SET_FRAME_RATE lost",
         frameRateLost,
         {"was not ready to stream within 4 s: it did not acknowledge SET_FRAME_RATE"}},
        {"unplugged during validation",
         unpluggedWhileChecked,
         {"was lost while its frame rate and gain were checked",
          "the link was lost before it was connected"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = simulator(204, c.faults);
        const Outcome r = run({"monitor", "--port", "COM204"});
        EXPECT_EQ(r.code, 3) << r.err;
        EXPECT_FALSE(contains(r.err, "No Orvane device was found.")) << r.err;
        EXPECT_TRUE(std::any_of(c.said.begin(), c.said.end(), [&](const std::string& s) {
            return contains(r.err, "orvanectl monitor: ") && contains(r.err, s);
        })) << r.err;
        EXPECT_EQ(r.out, "time,reading1,reading2,reading3\n");
        if (c.faults.unplugAfterMs < 0) {
            EXPECT_TRUE(received(*device, "7")) << "the device is reset on the way out";
        }
    }
}

TEST_F(OrvaneCtlDevice, MonitorSaysWhenHeartbeatsStopRightAfterTheConnection) {
    // Heartbeats every 400 ms from the simulator's start, the last at 1.6 s: the
    // connection (after the probe's 750 ms pause) takes one of them, or none.
    sim::InstrumentSettings settings;
    settings.heartbeatPeriodMs = 400;
    sim::FaultSettings faults;
    faults.heartbeatsStopAfter = 4;
    sim::InstrumentSimulator device(settings, faults);
    ASSERT_EQ(device.start(204), 0U);
    const Outcome r = run({"monitor", "--port", "COM204"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_FALSE(contains(r.err, "No Orvane device was found.")) << r.err;
    EXPECT_TRUE(contains(r.err, "it stopped sending heartbeats after the connection") ||
                contains(r.err, "did not confirm the connection (no heartbeat came)"))
        << r.err;
}

TEST_F(OrvaneCtlDevice, MonitorPrintsEveryAlertWithItsTime) {
    // One sample, no fluctuation alerts: every low heartbeat after a good one is an alarm.
    writeSettings(std::string(kShortWaits) +
                  "\r\n[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\UI]\r\n"
                  "\"VoltageSamples\"=\"1|1\"\r\n"
                  "\"VoltageVariation\"=\"1|1120403456\"\r\n"); // 100.0 V
    sim::InstrumentSettings settings;
    settings.heartbeatPeriodMs = 200;
    settings.voltageProfile = {12.0F, 3.0F};
    sim::InstrumentSimulator device(settings, {});
    ASSERT_EQ(device.start(204), 0U);
    const Outcome r = run({"monitor", "--port", "COM204", "--seconds", "2"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::regex alert(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d Warning: Under voltage!)");
    std::istringstream lines(r.err);
    int alerts = 0;
    for (std::string line; std::getline(lines, line);) {
        alerts += std::regex_match(line, alert) ? 1 : 0;
    }
    EXPECT_GE(alerts, 2) << r.err;
}

TEST_F(OrvaneCtlDevice, PortsThatCannotBeOpenedAreNamedWithWhatToDo) {
    test::TestImage image;
    const std::string hex = writeImage(image);
    auto device = simulator(204);
    // Another program holds the simulator's port.
    wyr::windows::communication::PortHandle held;
    ASSERT_EQ(wyr::windows::communication::SerialDevice::open(device->linkPath(), held), 0U);
    // A file nobody may write, not even root: opening it is refused as for a port
    // of a group one is not in.
    tree.publish("COM206", "/sys/kernel/notes");
    ASSERT_TRUE(std::filesystem::exists("/sys/kernel/notes"));

    const std::string busy = "is in use by another program";
    const std::string denied = "may not be opened by you: serial ports belong to the 'dialout' group. Add "
                               "yourself to it (sudo usermod -aG dialout $USER)";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"scan", "--port", "COM204"}, busy},
        {{"scan", "--port=206"}, denied},
        {{"scan"}, busy},
        {{"monitor", "--port", "COM204"}, busy},
        {{"monitor", "--port", "COM206"}, denied},
        {{"flash", hex, "--port", "COM204", "--yes"}, busy},
        {{"flash", hex, "--bootloader", "--port", "COM204"}, busy},
        {{"flash", hex, "--bootloader", "--port", "COM206"}, denied},
    };
    for (const auto& [args, said] : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args) << r.out << r.err;
        EXPECT_TRUE(contains(r.err, said)) << ::testing::PrintToString(args) << r.err;
        EXPECT_FALSE(contains(r.err, "--bootloader --port")) << "no advice that cannot help: " << r.err;
    }
    EXPECT_TRUE(contains(run({"scan"}).err, "orvanectl scan: COM204 (" + device->linkPath() + ") " + busy));
    held->close();
}

TEST_F(OrvaneCtlDevice, MonitorWritesEachLineAsItComesAndEndsCleanlyWhenTheReaderGoes) {
    auto device = simulator(204);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<int> linesRead{0};
    // Like `orvanectl monitor | head -3`: three lines, then the reader is gone.
    std::thread reader([&] {
        std::string text;
        char c = 0;
        while (linesRead < 3 && ::read(fds[0], &c, 1) == 1) {
            linesRead += c == '\n' ? 1 : 0;
        }
        ::close(fds[0]);
    });
    auto buffer = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fds[1], std::ios::out);
    std::ostream out(buffer.get());
    const Outcome r = run({"monitor", "--port", "COM204", "--seconds", "20"}, out);
    reader.join();
    // The buffer tries once more to write what the closed pipe refused; that is
    // this test's write, after the command.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    buffer.reset();
    std::signal(SIGPIPE, previous);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(linesRead, 3);
    EXPECT_TRUE(contains(r.err, "orvanectl monitor: the output was closed")) << r.err;
    EXPECT_TRUE(received(*device, "7")) << "a normal disconnection resets the device";
    EXPECT_LT(device->status().readingsSent, 16U * 20U / 2U) << "it stopped long before --seconds";
}

TEST_F(OrvaneCtlDevice, ASettingsFileSetAsideIsNamedWithWhereItWent) {
    auto device = simulator(204);
    writeSettings("this is no settings file\n");
    const Outcome r = run({"scan", "--port", "COM204"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string aside = settingsFile().string() + ".corrupt";
    EXPECT_TRUE(std::filesystem::exists(aside));
    EXPECT_TRUE(contains(r.err, "orvanectl scan: the settings file " + settingsFile().string() +
                                    " could not be read as it was and was set aside as " + aside))
        << r.err;
}

TEST_F(OrvaneCtlDevice, BadDeviceSettingsAreNamed) {
    auto device = simulator(204);
    writeSettings(std::string(kShortWaits) +
                  "\r\n[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Device.Serial]\r\n"
                  "\"BaudRate\"=\"1|9601\"\r\n");
    const Outcome port = run({"scan", "--port", "COM204"});
    EXPECT_EQ(port.code, 2);
    EXPECT_TRUE(contains(port.err,
                         "orvanectl scan: the setting Device.Serial.BaudRate holds 9601, which is no "
                         "baud rate ("))
        << port.err;

    // A timing setting takes its default for the run, and only that one.
    writeSettings("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Device]\r\n"
                  "\"CommandAckTimeout\"=\"1|50\"\r\n"
                  "\"WatchDogTimeout\"=\"1|1\"\r\n");
    const Outcome timing = run({"scan", "--port", "COM204"});
    EXPECT_EQ(timing.code, 0) << timing.err;
    EXPECT_TRUE(contains(timing.err,
                         "orvanectl scan: the setting Device.CommandAckTimeout holds 50, outside 1 to "
                         "10; its default 2 is used for this run\n"))
        << timing.err;
    EXPECT_FALSE(contains(timing.err, "WatchDogTimeout")) << timing.err;
}
