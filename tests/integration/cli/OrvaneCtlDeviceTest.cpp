// orvanectl's device commands against the instrument simulator on pseudo-terminals.
#include "cli/OrvaneCtl.h"
#include "sim/InstrumentSimulator.h"
#include "tests/unit/support/FakeSerialTree.h"
#include "tests/unit/support/TempConfigHome.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <regex>
#include <sstream>
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
        // Short waits keep a probe of a silent port brief.
        writeSettings("Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Device]\r\n"
                      "\"CommandAckTimeout\"=\"1|1\"\r\n"
                      "\"WatchDogTimeout\"=\"1|1\"\r\n");
    }
    void TearDown() override {
        for (const int fd : _ptys) {
            ::close(fd);
        }
        TempConfigHome::TearDown();
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
        std::ostringstream out, err;
        cli::OrvaneCtl ctl(out, err, tree.enumerator());
        const int code = ctl.run(args);
        return {code, out.str(), err.str()};
    }

    test::FakeSerialTree tree;

private:
    std::vector<int> _ptys;
};

bool received(const sim::InstrumentSimulator& s, const std::string& payload) {
    const auto commands = s.status().commands;
    return std::find(commands.begin(), commands.end(), payload) != commands.end();
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
    const std::regex csv(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},-?\d+\.\d{3},-?\d+\.\d{3},-?\d+\.\d{3})");
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
