#include "cli/OrvaneCtl.h"
#include "tests/unit/support/FakeSerialTree.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome ports(const test::FakeSerialTree& tree, std::vector<std::string> args = {"ports"}) {
    std::ostringstream out, err;
    cli::OrvaneCtl ctl(out, err, tree.enumerator());
    const int code = ctl.run(args);
    return {code, out.str(), err.str()};
}

} // namespace

TEST(OrvaneCtlPorts, ListsOnePortPerLineInPortOrder) {
    test::FakeSerialTree tree;
    tree.usbDevice("usb1/1-1", "Orvane\tX1", "Tolvek");
    tree.device("usb1/1-1/1-1:1.0", "cdc_acm");
    tree.tty("ttyACM0", "usb1/1-1/1-1:1.0");
    tree.device("pnp0/00:05", "serial", "pnp");
    tree.tty("ttyS0", "pnp0/00:05");
    tree.attribute("pnp0/00:05/tty/ttyS0/type", "4");
    tree.tty("ttyS1", "pnp0/00:05"); // no UART fitted: its type cannot be learnt
    std::ofstream(tree.root / "pts-4") << "";
    tree.publish("COM12", tree.root / "pts-4");
    tree.publish("COM2", tree.root / "pts-4");
    tree.publish("COM3", tree.root / "gone");
    // Neither strings nor a driver: listed all the same, with no description.
    tree.device("usb1/1-2/1-2:1.0", "");
    tree.tty("ttyACM1", "usb1/1-2/1-2:1.0");

    const Outcome r = ports(tree);
    const std::string pts = (tree.root / "pts-4").string();
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "COM1\t" + (tree.dev / "ttyS0").string() + "\tserial\n" + "COM2\t" +
                         (tree.ports / "COM2").string() + "\tLinked port (" + pts + ")\n" + "COM12\t" +
                         (tree.ports / "COM12").string() + "\tLinked port (" + pts + ")\n" + "COM65\t" +
                         (tree.dev / "ttyACM0").string() + "\tOrvane X1 (Tolvek)\n" + "COM66\t" +
                         (tree.dev / "ttyACM1").string() + "\t\n");
}

TEST(OrvaneCtlPorts, OutcomesWithoutPorts) {
    test::FakeSerialTree tree;
    const Outcome none = ports(tree);
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.out, "");

    const Outcome extra = ports(tree, {"ports", "COM1"});
    EXPECT_EQ(extra.code, 2);
    EXPECT_NE(extra.err, "");

    fs::remove_all(tree.sys);
    const Outcome failed = ports(tree);
    EXPECT_EQ(failed.code, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_NE(failed.err.find("[120]"), std::string::npos) << failed.err;

    std::ostringstream out, err;
    EXPECT_EQ(cli::OrvaneCtl(out, err).run({"help"}), 0);
    EXPECT_NE(out.str().find("\nports\n"), std::string::npos);
}
