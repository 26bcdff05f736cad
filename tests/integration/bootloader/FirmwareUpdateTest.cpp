#include "cli/FlashCommand.h"
#include "device/OrvaneInterface.h"
#include "device/OrvaneInterfaceId.h"
#include "device/OrvaneNotification.h"
#include "device/OrvaneScanPhase.h"
#include "device/SerialPortEnumerator.h"
#include "sim/InstrumentSimulator.h"
#include "tests/unit/bootloader/TestImage.h"
#include "tests/unit/support/TempConfigHome.h"
#include "wyr/windows/communication/PortMap.h"
#include "wyr/windows/system/MessageLoop.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using cli::FlashCommand;
using sim::FaultSettings;
using sim::InstrumentSettings;
using sim::InstrumentSimulator;
using test::TestImage;

namespace {

// The simulated device: an application area of eight 512-byte pages written in
// 64-byte blocks, so that a whole update takes well under a second.
constexpr std::uint32_t kAppStart = 0x001000;
constexpr std::uint32_t kAppEnd = 0x001FFF;
constexpr std::uint32_t kPageSize = 512;
constexpr std::uint8_t kProduct = 0x42;
// The flash file's header: 32 bytes, the signature cell at offset 24.
constexpr std::size_t kFlashHeader = 32;
constexpr std::size_t kSignatureCell = 24;

// The info block an image carries in its top twelve bytes.
struct ImageBlock {
    std::uint8_t productCode = kProduct;
    std::uint8_t pageSizeCode = 9;
    std::uint8_t packetSizeCode = 6;
    std::uint8_t bufferSizeCode = 6;
    std::uint8_t crcType = 0x40;
    std::uint16_t serial = 0x1234;
    std::uint32_t start = kAppStart; // the image's first byte
    std::uint32_t top = kAppEnd;     // the image's last byte, where its block ends
};

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

// Firmware updates through orvanectl's flash command against the simulated
// instrument on a pseudo-terminal. The test thread is the user-interface thread.
// Each test has its own port directory, settings and flash file.
class FirmwareUpdate : public test::TempConfigHome {
protected:
    void SetUp() override {
        TempConfigHome::SetUp();
        std::string pattern = (fs::temp_directory_path() / "orvane-update-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::create_directories(dir / "ports");
        // No kernel serial devices: a scan sees the simulator only.
        fs::create_directories(dir / "sys" / "class" / "tty");
        fs::create_directories(dir / "dev");
        ::setenv("ORVANE_PORT_DIR", (dir / "ports").c_str(), 1);
        flashFile = (dir / "flash.bin").string();
    }

    void TearDown() override {
        simulator.reset();
        ::unsetenv("ORVANE_PORT_DIR");
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        TempConfigHome::TearDown();
    }

    static InstrumentSettings deviceSettings(bool inBootloader) {
        InstrumentSettings settings;
        settings.heartbeatPeriodMs = 200;
        settings.bootloader.appStart = kAppStart;
        settings.bootloader.appEnd = kAppEnd;
        settings.bootloader.productCode = kProduct;
        settings.bootloader.startInBootloader = inBootloader;
        return settings;
    }

    // A device whose flash persists in this test's flash file. A device that has
    // application firmware but waits in its bootloader is one whose earlier update
    // stopped after writing the top page: the image is there, its signature is not.
    void startDevice(bool inBootloader, bool withApplication, FaultSettings faults = {}) {
        InstrumentSettings settings = deviceSettings(inBootloader && !withApplication);
        settings.bootloader.flashFile = flashFile;
        settings.bootloader.interruptedUpdate = inBootloader && withApplication;
        simulator = std::make_unique<InstrumentSimulator>(settings, faults);
        ASSERT_EQ(simulator->start(), 0U);
        port = "COM" + std::to_string(simulator->comNumber());
    }

    // An image with a little code at its start and its info block at its top.
    std::string writeImage(const ImageBlock& block, const std::string& name = "image.hex") {
        image = std::make_unique<TestImage>();
        image->add(block.start, TestImage::pattern(100, 0x31));
        image->add(
            block.top - 11,
            {static_cast<std::uint8_t>(block.serial >> 8), static_cast<std::uint8_t>(block.serial & 0xFF),
             0x30, 0x04, 0x00, 0x07, // version 3.4.0.7 (b3, b2, b1, b0)
             block.crcType, static_cast<std::uint8_t>((block.packetSizeCode << 4) | block.bufferSizeCode),
             block.pageSizeCode, 0x80, block.productCode, 0x0C});
        return image->write(32, name);
    }

    Outcome flash(const std::vector<std::string>& args, const std::string& answer = "") {
        std::ostringstream out;
        return flash(args, out, answer);
    }

    Outcome flash(const std::vector<std::string>& args, std::ostream& out, const std::string& answer = "") {
        std::ostringstream err;
        std::istringstream in(answer);
        FlashCommand command(
            out, err, in, false,
            device::SerialPortEnumerator(wyr::windows::communication::PortMap::fromEnvironment(),
                                         (dir / "sys").string(), (dir / "dev").string()));
        Outcome outcome;
        outcome.code = command.run(args);
        if (const auto* text = dynamic_cast<std::ostringstream*>(&out)) {
            outcome.out = text->str();
        }
        outcome.err = err.str();
        return outcome;
    }

    std::vector<std::uint8_t> flashBytes() const {
        std::ifstream in(flashFile, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    bool signed_() const {
        const auto bytes = flashBytes();
        return bytes.size() > kSignatureCell && bytes[kSignatureCell] == 1;
    }

    // The device's bytes of a page as the flash file holds them.
    std::vector<std::uint8_t> devicePage(std::uint32_t address) const {
        const auto bytes = flashBytes();
        const std::size_t offset = kFlashHeader + (address - kAppStart);
        return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(offset + kPageSize));
    }

    // `serial`: the number written into the image on the way, if any.
    void expectImageProgrammed(std::optional<std::uint16_t> serial = std::nullopt) const {
        constexpr std::uint32_t top = kAppEnd + 1 - kPageSize;
        auto topPage = image->page(top, kPageSize);
        if (serial) {
            topPage[kPageSize - 12] = static_cast<std::uint8_t>(*serial >> 8);
            topPage[kPageSize - 11] = static_cast<std::uint8_t>(*serial & 0xFF);
        }
        EXPECT_EQ(devicePage(kAppStart), image->page(kAppStart, kPageSize));
        EXPECT_EQ(devicePage(top), topPage);
        // Pages the image leaves out stay erased.
        EXPECT_EQ(devicePage(kAppStart + kPageSize), std::vector<std::uint8_t>(kPageSize, 0xFF));
        EXPECT_TRUE(signed_());
    }

    fs::path dir;
    std::string flashFile;
    std::string port;
    std::unique_ptr<InstrumentSimulator> simulator;
    std::unique_ptr<TestImage> image;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Standard output that presses Ctrl-C once it has shown `trigger`, so that the
// interruption comes at a known point of the update.
class InterruptingOutput : public std::stringbuf {
public:
    explicit InterruptingOutput(std::string trigger) : _trigger(std::move(trigger)) {}

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        const std::streamsize written = std::stringbuf::xsputn(text, count);
        if (!_raised && str().find(_trigger) != std::string::npos) {
            _raised = true;
            std::raise(SIGINT);
        }
        return written;
    }

private:
    std::string _trigger;
    bool _raised = false;
};

} // namespace

TEST_F(FirmwareUpdate, ADeviceWithoutApplicationIsProgrammedThroughItsBootloader) {
    startDevice(true, false);
    ImageBlock block;
    block.serial = 0; // a fresh image: the device's serial number is given
    const std::string path = writeImage(block);

    const Outcome r = flash({path, "--bootloader", "--port", port, "--serial", "4242"});
    ASSERT_EQ(r.code, FlashCommand::kUpdated) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "The device reports no application firmware.")) << r.out;
    EXPECT_TRUE(contains(r.out, "Serial number 4242 written into the image.")) << r.out;
    // Plain progress lines, in the steps' own words.
    EXPECT_TRUE(contains(r.out, "Reading file\nProcessing line 1 of 6\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Erasing Target\nErasing page 1 of 8\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Writing Target\nWriting flash block 1 of 16\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Writing flash block 16 of 16\nAll 2 pages written and verified.\n"))
        << r.out;

    // The reset started the new application, with the serial number given.
    expectImageProgrammed(4242);
    const auto status = simulator->status();
    EXPECT_FALSE(status.inBootloader);
    EXPECT_EQ(status.firmwareVersion, "3.4.0.7");
    EXPECT_EQ(status.serialNumber, 4242);
}

TEST_F(FirmwareUpdate, AConnectedDeviceHandsItsPortOverAndReportsTheNewVersion) {
    startDevice(false, true);
    const std::string path = writeImage(ImageBlock{});
    ASSERT_EQ(simulator->status().firmwareVersion, "1.2.3.45");

    // Found by a scan of the ports, and asked first.
    const Outcome r = flash({path}, "y\n");
    ASSERT_EQ(r.code, FlashCommand::kUpdated) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Found X1 on " + port + ": firmware 1.2.3.45, serial number 1001.\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Update the firmware of the device on " + port + "? [y/N] y\n")) << r.out;
    // The table shows the application that was there.
    EXPECT_TRUE(contains(r.out, "Version           1.0.3.2               1.2.3.45              3.4.0.7\n"))
        << r.out;
    expectImageProgrammed();

    // The application runs again and its heartbeats carry the new version.
    device::OrvaneInterface* link = nullptr;
    ASSERT_EQ(device::getInterface(device::OrvaneInterfaceId::Orvane, &link), 0U);
    ASSERT_EQ(link->initialize(), 0U);
    bool scanned = false;
    bool connected = false;
    auto subscription = link->subscribe([&](const device::tagNMORVANEHDR* h) {
        if (const auto* scan = device::OrvaneNotification::as<device::OrvaneInterrogateNotification>(h)) {
            scanned =
                scanned || (*scan->phase == device::OrvaneScanPhase::NotifyScanResult && scan->result == 0);
        } else if (const auto* connect =
                       device::OrvaneNotification::as<device::OrvaneConnectNotification>(h)) {
            connected = connect->result == 0;
        }
    });
    ASSERT_EQ(link->interrogatePort(simulator->comNumber(), 1), 0U);
    ASSERT_TRUE(wyr::windows::system::runUntil([&] { return scanned; }, 10000));
    ASSERT_EQ(link->connect(simulator->comNumber()), 0U);
    ASSERT_TRUE(wyr::windows::system::runUntil([&] { return connected; }, 10000));
    const auto state = link->deviceState();
    EXPECT_EQ(state.firmwareMajor(), 3U);
    EXPECT_EQ(state.firmwareMinor(), 4U);
    EXPECT_EQ(state.firmwareBuild(), 7U);
    EXPECT_EQ(state.serialNumber, 0x1234);
    const auto status = simulator->status();
    EXPECT_FALSE(status.inBootloader);
    EXPECT_EQ(status.firmwareVersion, "3.4.0.7");

    bool disconnected = false;
    auto closing = link->subscribe([&](const device::tagNMORVANEHDR* h) {
        disconnected = disconnected || *h->type == device::OrvaneNotificationType::NotifyDisconnect;
    });
    link->disconnect(device::DisconnectType::Normal, 0);
    wyr::windows::system::runUntil([&] { return disconnected; }, 5000);
    subscription.disconnect();
    closing.disconnect();
    link->finalize();
}

TEST_F(FirmwareUpdate, DecliningLeavesTheDeviceRunningItsApplication) {
    startDevice(false, true);
    const std::string path = writeImage(ImageBlock{});
    const auto before = flashBytes();

    const Outcome r = flash({path, "--port", port}, "n\n");
    EXPECT_EQ(r.code, FlashCommand::kDeclined) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Nothing was changed.")) << r.out;
    EXPECT_EQ(flashBytes(), before);
    EXPECT_FALSE(simulator->status().inBootloader);
}

struct Mismatch {
    const char* name;
    void (*change)(ImageBlock&);
    const char* reason;
};

class RefusedImage : public FirmwareUpdate, public ::testing::WithParamInterface<Mismatch> {};

// An image that does not fit is refused before anything is erased. The device was
// found in its bootloader with an image an earlier update never verified: it is not
// signed over that image and stays in its bootloader for another try.
TEST_P(RefusedImage, NothingIsErased) {
    startDevice(true, true);
    ASSERT_TRUE(simulator->status().inBootloader);
    ImageBlock block;
    GetParam().change(block);
    const std::string path = writeImage(block);
    const auto before = flashBytes();
    ASSERT_FALSE(signed_());

    const Outcome r = flash({path, "--bootloader", "--port", port});
    EXPECT_EQ(r.code, FlashCommand::kRefused) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "orvanectl flash: the image does not fit this device:\n  ")) << r.err;
    EXPECT_TRUE(contains(r.err, GetParam().reason)) << r.err;
    EXPECT_TRUE(contains(r.err, "Nothing was erased.")) << r.err;
    EXPECT_FALSE(contains(r.out, "Erasing")) << r.out;
    EXPECT_EQ(flashBytes(), before);
    EXPECT_FALSE(signed_());
    EXPECT_TRUE(simulator->status().inBootloader);
}

INSTANTIATE_TEST_SUITE_P(
    EachCheck, RefusedImage,
    ::testing::Values(Mismatch{"ProductCode", [](ImageBlock& b) { b.productCode = 0x2A; },
                               "Product Code: image 42, device 66"},
                      Mismatch{"PageSize", [](ImageBlock& b) { b.pageSizeCode = 8; },
                               "Flash Page Size: image 256 bytes, device 512 bytes"},
                      Mismatch{"PacketSize", [](ImageBlock& b) { b.packetSizeCode = 5; },
                               "Packet Size: image 32 bytes, device 64 bytes"},
                      Mismatch{"BufferSize", [](ImageBlock& b) { b.bufferSizeCode = 5; },
                               "Buffer Size: image 32 bytes, device 64 bytes"},
                      Mismatch{"CrcType", [](ImageBlock& b) { b.crcType = 0xC0; },
                               "CRC Type: image CRC-32-IEEE 802.3, device CRC-16-CCITT"},
                      Mismatch{"StartAddress", [](ImageBlock& b) { b.start = kAppStart + kPageSize; },
                               "Start Address: the image starts at 0x001200"},
                      Mismatch{"EndAddress", [](ImageBlock& b) { b.top = kAppEnd + kPageSize; },
                               "End Address: the image holds 0x001000 - 0x0021ff"}),
    [](const ::testing::TestParamInfo<Mismatch>& p) { return std::string(p.param.name); });

TEST_F(FirmwareUpdate, ARefusalRestoresTheSignatureOfAConnectedDevice) {
    // BOOTLOAD withdraws the application's signature; refusing the image gives it back.
    startDevice(false, true);
    ImageBlock block;
    block.crcType = 0xC0;
    const std::string path = writeImage(block);
    const auto before = flashBytes();

    const Outcome r = flash({path, "--port", port, "--yes"});
    EXPECT_EQ(r.code, FlashCommand::kRefused) << r.out << r.err;
    EXPECT_EQ(flashBytes(), before);
    EXPECT_FALSE(simulator->status().inBootloader);
}

TEST_F(FirmwareUpdate, ImagesThatCannotBeUsedNeverReachTheDevice) {
    startDevice(false, true);
    const auto before = flashBytes();

    const Outcome missing = flash({(dir / "missing.hex").string(), "--port", port, "--yes"});
    EXPECT_EQ(missing.code, FlashCommand::kUnreadable);
    EXPECT_TRUE(contains(missing.err, "missing.hex cannot be used: The system cannot open the device or file "
                                      "specified. [110]\n"))
        << missing.err;

    const std::string broken = (dir / "broken.hex").string();
    std::ofstream(broken) << ":0410000001020304F1\n:00000001FF\n";
    const Outcome checksum = flash({broken, "--port", port, "--yes"});
    EXPECT_EQ(checksum.code, FlashCommand::kUnreadable);
    EXPECT_TRUE(contains(checksum.err, "  Line 1 fails its checksum")) << checksum.err;

    // An image without a serial number needs the device's.
    ImageBlock block;
    block.serial = 0;
    const Outcome unnumbered = flash({writeImage(block), "--port", port, "--yes"});
    EXPECT_EQ(unnumbered.code, FlashCommand::kRefused);
    EXPECT_TRUE(contains(unnumbered.err, "--serial N")) << unnumbered.err;

    EXPECT_EQ(flashBytes(), before);
    EXPECT_TRUE(simulator->status().commands.empty());
    EXPECT_FALSE(simulator->status().inBootloader);
}

TEST_F(FirmwareUpdate, NothingAnsweringEndsWithExitCodeOne) {
    // The application does not speak the bootloader's protocol (although its
    // sentences begin with the byte that a bootloader answers on entry).
    startDevice(false, true);
    const std::string path = writeImage(ImageBlock{});
    const auto before = flashBytes();
    const Outcome r = flash({path, "--bootloader", "--port", port});
    EXPECT_EQ(r.code, FlashCommand::kNoDevice) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "orvanectl flash: the bootloader on " + port + " did not")) << r.err;
    EXPECT_TRUE(contains(r.err, "If the device runs its application firmware, leave out --bootloader."))
        << r.err;
    EXPECT_EQ(flashBytes(), before);

    FaultSettings silent;
    silent.silentBootloader = true;
    simulator.reset();
    startDevice(true, true, silent);
    const Outcome quiet = flash({path, "--bootloader", "--port", port});
    EXPECT_EQ(quiet.code, FlashCommand::kNoDevice) << quiet.out << quiet.err;
    EXPECT_TRUE(contains(quiet.err, "the bootloader on " + port +
                                        " did not answer: This operation returned "
                                        "because the timeout period expired. [1460]"))
        << quiet.err;

    // A port that does not exist is a usage error, as for every device command.
    const Outcome absent = flash({path, "--port", "COM250", "--yes"});
    EXPECT_EQ(absent.code, FlashCommand::kUsage) << absent.out << absent.err;
    EXPECT_TRUE(contains(absent.err, "orvanectl flash: COM250 does not exist")) << absent.err;
}

TEST_F(FirmwareUpdate, AChecksumFailureIsRecoveredByWritingThePageAgain) {
    FaultSettings faults;
    faults.badPageCrcAt = 1;
    startDevice(true, false, faults);
    const std::string path = writeImage(ImageBlock{});

    const Outcome r = flash({path, "--bootloader", "--port", port});
    ASSERT_EQ(r.code, FlashCommand::kUpdated) << r.out << r.err;
    // The first page was written twice.
    EXPECT_TRUE(contains(r.out, "Writing flash block 8 of 16\nWriting flash block 1 of 16\n")) << r.out;
    expectImageProgrammed();
}

TEST_F(FirmwareUpdate, ARefusedBlockIsRecoveredByWritingItAgain) {
    FaultSettings faults;
    faults.failBlockAt = 3;
    startDevice(true, false, faults);
    const std::string path = writeImage(ImageBlock{});

    const Outcome r = flash({path, "--bootloader", "--port", port});
    ASSERT_EQ(r.code, FlashCommand::kUpdated) << r.out << r.err;
    expectImageProgrammed();
}

TEST_F(FirmwareUpdate, APageThatFailsTwiceStopsTheUpdateWithoutASignature) {
    FaultSettings faults;
    faults.failEveryBlock = true;
    startDevice(true, false, faults);
    const std::string path = writeImage(ImageBlock{});

    const Outcome r = flash({path, "--bootloader", "--port", port});
    EXPECT_EQ(r.code, FlashCommand::kFailed) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "the update failed while writing page 0x001000 (page 1 of 2")) << r.err;
    EXPECT_TRUE(contains(r.err, "The bootloader still answers on " + port +
                                    ", so the update can be run again:\n"
                                    "  orvanectl flash " +
                                    path + " --bootloader --port " + port + "\n"))
        << r.err;
    EXPECT_FALSE(contains(r.out, "All 2 pages written")) << r.out;
    EXPECT_FALSE(signed_());
    EXPECT_TRUE(simulator->status().inBootloader);
}

TEST_F(FirmwareUpdate, TheBootloaderPortTakesTheConfiguredLineSettings) {
    startDevice(true, false);
    const std::string path = writeImage(ImageBlock{});
    const std::string section = "[HKEY_CURRENT_USER\\Software\\Tolvek\\Orvane\\Config\\Device.Serial]\n";

    writeSettings("Windows Registry Editor Version 5.00\n\n" + section + "\"BaudRate\"=\"1|115200\"\n");
    const Outcome r = flash({path, "--bootloader", "--port", port});
    ASSERT_EQ(r.code, FlashCommand::kUpdated) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Opening " + port + " at 115200 baud for the bootloader...\n")) << r.out;

    // A setting no port can take stops before the port is opened.
    writeSettings("Windows Registry Editor Version 5.00\n\n" + section + "\"Parity\"=\"1|7\"\n");
    const Outcome bad = flash({path, "--bootloader", "--port", port});
    EXPECT_EQ(bad.code, FlashCommand::kUsage);
    EXPECT_TRUE(contains(bad.err,
                         "orvanectl flash: the setting Device.Serial.Parity holds 7, which is no parity "
                         "(0, 1, 2, 3 or 4); correct or remove it\n"))
        << bad.err;
    EXPECT_FALSE(contains(bad.out, "Opening")) << bad.out;
}

TEST_F(FirmwareUpdate, CtrlCWhileWritingStopsWithoutASignatureAndSaysHowToFinish) {
    startDevice(true, false);
    const std::string path = writeImage(ImageBlock{});
    InterruptingOutput buffer("Writing flash block 2 of 16\n");
    std::ostream out(&buffer);
    const Outcome r = flash({path, "--bootloader", "--port", port}, out);
    EXPECT_EQ(r.code, FlashCommand::kFailed) << buffer.str() << r.err;
    EXPECT_TRUE(contains(r.err, "orvanectl flash: interrupted while writing the image (after block "))
        << r.err;
    EXPECT_TRUE(contains(r.err, "The device waits in its bootloader on " + port +
                                    ". To finish the update, run:\n  orvanectl flash " + path +
                                    " --bootloader --port " + port + "\n"))
        << r.err;
    EXPECT_FALSE(contains(buffer.str(), "Writing flash block 16 of 16")) << buffer.str();
    EXPECT_FALSE(signed_());
    // The image's top page, written last, never came.
    EXPECT_EQ(devicePage(kAppEnd + 1 - kPageSize), std::vector<std::uint8_t>(kPageSize, 0xFF));
    EXPECT_TRUE(simulator->status().inBootloader);
}

TEST_F(FirmwareUpdate, CtrlCBeforeTheEraseGivesTheDeviceBackAsItWas) {
    startDevice(false, true);
    const std::string path = writeImage(ImageBlock{});
    const auto before = flashBytes();
    InterruptingOutput buffer("Reading file\n");
    std::ostream out(&buffer);
    const Outcome r = flash({path, "--port", port, "--yes"}, out);
    EXPECT_EQ(r.code, FlashCommand::kDeclined) << buffer.str() << r.err;
    EXPECT_TRUE(contains(r.err, "orvanectl flash: interrupted before anything was erased.")) << r.err;
    EXPECT_FALSE(contains(buffer.str(), "Erasing")) << buffer.str();
    EXPECT_EQ(flashBytes(), before);
    EXPECT_FALSE(simulator->status().inBootloader);
}
