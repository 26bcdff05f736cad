#include "sim/SimulatedBootloader.h"

#include "bootloader/BootloaderFrame.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/PageChecksum.h"
#include "bootloader/ResponseCode.h"
#include "bootloader/TargetCommand.h"
#include "bootloader/TargetInfoReply.h"
#include "device/OrvaneMessage.h"
#include "sim/EmulatedFlash.h"
#include "sim/InstrumentSimulator.h"
#include "sim/SimulatorCommandLine.h"
#include "tests/unit/sim/ParseCommandLine.h"
#include "wyr/windows/system/SystemError.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

using bootloader::BootloaderFrame;
using bootloader::PageChecksum;
using bootloader::ResponseCode;
using bootloader::TargetCommand;
using bootloader::TargetInfoReply;
using sim::InstrumentSimulator;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kAppStart = 0x1000;
constexpr std::uint32_t kAppEnd = 0x7FFF;
constexpr std::uint32_t kPage = 512;
constexpr std::uint32_t kBlock = 64;
constexpr std::uint32_t kSignaturePage = kAppEnd + 1 - kPage;

std::uint8_t code(const ResponseCode& response) {
    return static_cast<std::uint8_t>(response.value());
}

// The host's end of the line: raw bytes for the bootloader, sentences for the application.
class Line {
public:
    explicit Line(const std::string& path) : _fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        ::tcgetattr(_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(_fd, TCSANOW, &tio);
        ::tcflush(_fd, TCIOFLUSH);
    }
    ~Line() { ::close(_fd); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    bool valid() const { return _fd >= 0; }

    void send(const Bytes& bytes) {
        if (::write(_fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            hungUp = true;
        }
    }

    void send(const device::OrvaneMessage& message) {
        std::vector<std::uint8_t> bytes;
        device::OrvaneMessage::compose(bytes, message);
        send(bytes);
    }

    // Up to `count` bytes; fewer when the time runs out or the line hangs up.
    Bytes receive(std::size_t count, int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (_pending.size() < count && !hungUp && std::chrono::steady_clock::now() < deadline) {
            fill(20);
        }
        const std::size_t n = std::min(count, _pending.size());
        Bytes out(_pending.begin(), _pending.begin() + static_cast<std::ptrdiff_t>(n));
        _pending.erase(_pending.begin(), _pending.begin() + static_cast<std::ptrdiff_t>(n));
        return out;
    }

    Bytes exchange(const Bytes& frame, std::size_t replyLength) {
        send(frame);
        return receive(replyLength);
    }

    // The single response code a frame is answered with; nullopt when none came.
    std::optional<std::uint8_t> answer(const Bytes& frame) {
        const Bytes reply = exchange(frame, 1);
        return reply.empty() ? std::nullopt : std::optional<std::uint8_t>(reply[0]);
    }

    // Reads what the instrument already sent and throws it away.
    void drain() {
        while (fill(50)) {
        }
        _pending.clear();
    }

    // The fields of the next sentence whose payload starts with `code`.
    std::optional<std::vector<std::string>> sentence(const std::string& code, int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            while (true) {
                const auto stx = std::find(_pending.begin(), _pending.end(), 0x02);
                const auto eot = std::find(stx, _pending.end(), 0x04);
                if (stx == _pending.end() || eot == _pending.end()) {
                    break;
                }
                const auto etx = std::find(stx, eot, 0x03);
                const std::string payload(stx + 1, etx);
                _pending.erase(_pending.begin(), eot + 1);
                if (payload.rfind(code, 0) == 0) {
                    std::vector<std::string> fields;
                    std::stringstream in(payload);
                    for (std::string field; std::getline(in, field, '|');) {
                        fields.push_back(field);
                    }
                    return fields;
                }
            }
            if (hungUp || std::chrono::steady_clock::now() >= deadline) {
                return std::nullopt;
            }
            fill(20);
        }
    }

    bool hungUp = false;

private:
    // Waits up to timeoutMs for bytes; false when none came or the line hung up.
    bool fill(int timeoutMs) {
        pollfd p{_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        if ((p.revents & POLLIN) == 0) {
            hungUp = (p.revents & (POLLHUP | POLLERR)) != 0;
            return false;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(_fd, buffer, sizeof buffer);
        if (n <= 0) {
            hungUp = n == 0 || errno == EIO;
            return false;
        }
        _pending.insert(_pending.end(), buffer, buffer + n);
        return true;
    }

    int _fd;
    Bytes _pending;
};

Bytes erasedPage() {
    return Bytes(kPage, 0xFF);
}

// The application's info block in the order the bootloader reports it (top of
// the area first): length, product, loader type, page, packet/buffer, CRC type,
// version b0..b3 and the serial number.
Bytes applicationInfo(std::array<std::uint8_t, 4> version, std::uint16_t serial) {
    return {12,
            0x42,
            0x80,
            9,
            0x66,
            0x40,
            version[0],
            version[1],
            version[2],
            version[3],
            static_cast<std::uint8_t>(serial & 0xFF),
            static_cast<std::uint8_t>(serial >> 8)};
}

class SimulatedBootloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-boot-test-XXXXXX";
        _dir = ::mkdtemp(pattern);
        ::setenv("ORVANE_PORT_DIR", _dir.c_str(), 1);
    }
    void TearDown() override {
        _line.reset();
        _simulator.reset();
        std::filesystem::remove_all(_dir);
    }

    // Starts a simulator and opens the line to it.
    void start(sim::InstrumentSettings settings = {}, sim::FaultSettings faults = {}) {
        _line.reset();
        _simulator.reset();
        _simulator = std::make_unique<InstrumentSimulator>(settings, faults);
        ASSERT_EQ(_simulator->start(), 0U);
        _line = std::make_unique<Line>(_simulator->linkPath());
        ASSERT_TRUE(_line->valid());
    }

    static sim::InstrumentSettings blankDevice() {
        sim::InstrumentSettings settings;
        settings.bootloader.startInBootloader = true;
        return settings;
    }

    // BOOTLOAD from the application side; returns once the instrument listens as a bootloader.
    void bootload() {
        _line->send(device::OrvaneMessage::BOOTLOAD);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!_simulator->status().inBootloader && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(_simulator->status().inBootloader);
        _line->drain();
    }

    Bytes info() {
        _line->send(BootloaderFrame::command(TargetCommand::GetInfo));
        Bytes reply = _line->receive(3);
        while (reply.size() < TargetInfoReply::requiredInfoLength(reply)) {
            const Bytes more = _line->receive(TargetInfoReply::requiredInfoLength(reply) - reply.size());
            if (more.empty()) {
                break;
            }
            reply.insert(reply.end(), more.begin(), more.end());
        }
        return reply;
    }

    std::optional<std::uint8_t> erase(std::uint32_t address) {
        return _line->answer(BootloaderFrame::eraseFlashPage(address));
    }

    // The code the header is refused with, or the code the data is answered with.
    std::optional<std::uint8_t> writeBlock(std::uint32_t address, const Bytes& data) {
        const auto header =
            _line->answer(BootloaderFrame::writeFlashBytes(address, static_cast<std::uint16_t>(data.size())));
        if (header != code(ResponseCode::Ok)) {
            return header;
        }
        return _line->answer(data);
    }

    // Writes a whole page in blocks; true when every block was accepted.
    bool writePage(std::uint32_t address, const Bytes& page) {
        for (std::uint32_t offset = 0; offset < page.size(); offset += kBlock) {
            const Bytes block(page.begin() + offset, page.begin() + offset + kBlock);
            if (writeBlock(address + offset, block) != code(ResponseCode::Ok)) {
                return false;
            }
        }
        return true;
    }

    // The device's checksum of a page, or nullopt when the reply is not OK.
    std::optional<std::uint32_t> pageCrc(std::uint32_t address, std::size_t width = 2) {
        const Bytes reply = _line->exchange(BootloaderFrame::getPageCrc(address), 1 + width);
        if (reply.size() != 1 + width || reply[0] != code(ResponseCode::Ok)) {
            return std::nullopt;
        }
        std::uint32_t crc = 0;
        for (std::size_t i = 0; i < width; ++i) {
            crc |= std::uint32_t{reply[1 + i]} << (8 * i);
        }
        return crc;
    }

    std::string _dir;
    std::unique_ptr<InstrumentSimulator> _simulator;
    std::unique_ptr<Line> _line;
};

} // namespace

TEST_F(SimulatedBootloaderTest, BootloadHandsOverAndGetInfoDescribesBootloaderAndApplication) {
    start();
    ASSERT_NO_FATAL_FAILURE(bootload());
    EXPECT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::EnterBootloadMode)),
              code(ResponseCode::BootloadMode));

    const Bytes reply = info();
    bootloader::InfoBlock own;
    bootloader::InfoBlock application;
    ASSERT_EQ(TargetInfoReply::decode(reply, own, application), 0U);
    EXPECT_EQ(reply.size(), 1U + 16U + 12U);
    EXPECT_EQ(own.length, 16);
    EXPECT_EQ(own.version.text(), L"1.0.3.2");
    EXPECT_EQ(own.productCode, 0x42);
    EXPECT_EQ(own.bootloaderType, 0x80);
    EXPECT_EQ(own.pageSizeCode, 9);
    EXPECT_EQ(own.packetSizeCode, 6);
    EXPECT_EQ(own.bufferSizeCode, 6);
    EXPECT_EQ(own.crcType, 0x40);
    EXPECT_EQ(own.appStart, kAppStart);
    EXPECT_EQ(own.appEnd, kAppEnd);
    // The factory application's block, as it lies at the top of the area.
    EXPECT_EQ(application.length, 12);
    EXPECT_EQ(application.version.text(), L"1.2.3.45");
    EXPECT_EQ(application.serialNo, 1001);
    EXPECT_EQ(application.productCode, 0x42);
    EXPECT_EQ(application.pageSizeCode, 9);
    EXPECT_EQ(application.crcType, 0x40);

    // The application withdrew its signature when it handed over: a reset alone
    // keeps the bootloader; writing the signature back starts the application.
    EXPECT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::ResetMcu)), code(ResponseCode::Ok));
    EXPECT_TRUE(_simulator->status().inBootloader);
    EXPECT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::EnterBootloadMode)),
              code(ResponseCode::BootloadMode));
    EXPECT_EQ(_line->answer(BootloaderFrame::writeSignature()), code(ResponseCode::Ok));
    EXPECT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::ResetMcu)), code(ResponseCode::Ok));
    const auto heartbeat = _line->sentence("0002");
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ((*heartbeat)[3], "1.2.3.45");
    EXPECT_FALSE(_simulator->status().inBootloader);
}

TEST_F(SimulatedBootloaderTest, BlankDeviceReportsNoApplicationAndStaysInTheBootloader) {
    start(blankDevice());
    EXPECT_TRUE(_simulator->status().inBootloader);
    const Bytes reply = info();
    bootloader::InfoBlock own;
    bootloader::InfoBlock application;
    ASSERT_EQ(TargetInfoReply::decode(reply, own, application), 0U);
    EXPECT_EQ(reply.size(), 1U + 16U + 1U);
    EXPECT_EQ(reply.back(), 0);
    EXPECT_EQ(application.length, 0);
    EXPECT_EQ(pageCrc(kAppStart), PageChecksum::ccitt16(erasedPage()));

    // A signature over an erased area starts nothing: the application has no info block.
    EXPECT_EQ(_line->answer(BootloaderFrame::writeSignature()), code(ResponseCode::Ok));
    EXPECT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::ResetMcu)), code(ResponseCode::Ok));
    EXPECT_TRUE(_simulator->status().inBootloader);
    EXPECT_FALSE(_line->sentence("0002", 300));
}

class PageChecksumTypes : public SimulatedBootloaderTest, public ::testing::WithParamInterface<int> {};

TEST_P(PageChecksumTypes, WritesBehaveLikeNorFlashAndChecksumsMatchTheHost) {
    sim::InstrumentSettings settings = blankDevice();
    settings.bootloader.crcType = static_cast<std::uint8_t>(GetParam());
    start(settings);
    const bool wide = GetParam() == 0xC0;
    const auto checksum = [wide](const Bytes& page) {
        return wide ? PageChecksum::ieee32(page) : std::uint32_t{PageChecksum::ccitt16(page)};
    };
    const std::size_t width = wide ? 4 : 2;
    const std::uint32_t address = kAppStart + kPage;

    EXPECT_EQ(pageCrc(address, width), checksum(erasedPage()));

    Bytes expected = erasedPage();
    const Bytes first(kBlock, 0x3C);
    const Bytes second(kBlock, 0xA5);
    ASSERT_EQ(writeBlock(address + kBlock, first), code(ResponseCode::Ok));
    std::fill_n(expected.begin() + kBlock, kBlock, 0x3C);
    EXPECT_EQ(pageCrc(address, width), checksum(expected));

    // A second write without an erase can only clear bits.
    ASSERT_EQ(writeBlock(address + kBlock, second), code(ResponseCode::Ok));
    std::fill_n(expected.begin() + kBlock, kBlock, 0x3C & 0xA5);
    EXPECT_EQ(pageCrc(address, width), checksum(expected));
    EXPECT_NE(checksum(expected), checksum([&] {
                  Bytes overwritten = erasedPage();
                  std::fill_n(overwritten.begin() + kBlock, kBlock, 0xA5);
                  return overwritten;
              }()));

    ASSERT_EQ(erase(address), code(ResponseCode::Ok));
    EXPECT_EQ(pageCrc(address, width), checksum(erasedPage()));
    // The neighbouring pages were never touched.
    EXPECT_EQ(pageCrc(kAppStart, width), checksum(erasedPage()));
}

INSTANTIATE_TEST_SUITE_P(Crc, PageChecksumTypes, ::testing::Values(0x40, 0xC0),
                         [](const auto& param) { return param.param == 0x40 ? "Ccitt16" : "Ieee32"; });

TEST_F(SimulatedBootloaderTest, UnsupportedChecksumTypeIsReportedAndRefused) {
    sim::InstrumentSettings settings = blankDevice();
    settings.bootloader.crcType = 0x01;
    start(settings);
    bootloader::InfoBlock own;
    bootloader::InfoBlock application;
    ASSERT_EQ(TargetInfoReply::decode(info(), own, application), 0U);
    EXPECT_EQ(own.crcType, 0x01);
    EXPECT_EQ(_line->answer(BootloaderFrame::getPageCrc(kAppStart)), code(ResponseCode::UnsupportedCommand));
}

TEST_F(SimulatedBootloaderTest, RefusesBadKeysAddressesLengthsAndWritesUnderASignature) {
    start();
    ASSERT_NO_FATAL_FAILURE(bootload());
    // Signed again, as after a cancelled update: the application must be protected.
    ASSERT_EQ(_line->answer(BootloaderFrame::writeSignature()), code(ResponseCode::Ok));

    const auto withByte = [](Bytes frame, std::size_t index, std::uint8_t value) {
        frame[index] = value;
        return frame;
    };
    struct Case {
        const char* what;
        Bytes frame;
        const ResponseCode& expected;
    };
    const std::vector<Case> cases{
        {"erase without the key", withByte(BootloaderFrame::eraseFlashPage(kSignaturePage), 1, 0x00),
         ResponseCode::InvalidParameter},
        {"erase with the key reversed",
         withByte(withByte(BootloaderFrame::eraseFlashPage(kSignaturePage), 1, 0xF1), 2, 0xA5),
         ResponseCode::InvalidParameter},
        {"block header without the key", withByte(BootloaderFrame::writeFlashBytes(kAppStart, 64), 2, 0x00),
         ResponseCode::InvalidParameter},
        {"signature with wrong code bytes", withByte(BootloaderFrame::writeSignature(), 4, 0x00),
         ResponseCode::InvalidParameter},
        {"enter with a wrong second byte", Bytes{0x10, 0x53}, ResponseCode::InvalidParameter},
        {"unknown command", Bytes{0x99}, ResponseCode::UnsupportedCommand},
        {"erase in the bootloader's own area", BootloaderFrame::eraseFlashPage(kAppStart - kPage),
         ResponseCode::AddressInvalid},
        {"erase past the area", BootloaderFrame::eraseFlashPage(kAppEnd + 1), ResponseCode::AddressInvalid},
        {"erase inside a page", BootloaderFrame::eraseFlashPage(kAppStart + 1), ResponseCode::AddressInvalid},
        {"checksum past the area", BootloaderFrame::getPageCrc(kAppEnd + 1), ResponseCode::AddressInvalid},
        {"block across the end", BootloaderFrame::writeFlashBytes(kAppEnd - 31, 64),
         ResponseCode::AddressInvalid},
        {"block below the area", BootloaderFrame::writeFlashBytes(kAppStart - 64, 64),
         ResponseCode::AddressInvalid},
        {"empty block", BootloaderFrame::writeFlashBytes(kAppStart, 0), ResponseCode::InvalidParameter},
        {"block beyond the buffer", BootloaderFrame::writeFlashBytes(kAppStart, 128),
         ResponseCode::InvalidParameter},
        {"erase of code while signed", BootloaderFrame::eraseFlashPage(kAppStart),
         ResponseCode::SignatureNotErased},
        {"write while signed", BootloaderFrame::writeFlashBytes(kSignaturePage, 64),
         ResponseCode::SignatureNotErased},
    };
    const auto factoryCode = pageCrc(kAppStart);
    ASSERT_TRUE(factoryCode);
    for (const Case& c : cases) {
        EXPECT_EQ(_line->answer(c.frame), code(c.expected)) << c.what;
    }
    EXPECT_EQ(pageCrc(kAppStart), factoryCode) << "nothing refused changed the flash";

    // Erasing the signature page withdraws the signature; the rest of the area opens up.
    ASSERT_EQ(erase(kSignaturePage), code(ResponseCode::Ok));
    EXPECT_EQ(erase(kAppStart), code(ResponseCode::Ok));
    EXPECT_EQ(writeBlock(kAppStart, Bytes(kBlock, 0x11)), code(ResponseCode::Ok));
}

TEST_F(SimulatedBootloaderTest, UpdateChangesTheReportedVersionAndSurvivesARestart) {
    sim::InstrumentSettings settings;
    settings.heartbeatPeriodMs = 50;
    settings.bootloader.flashFile = _dir + "/x1.flash";
    start(settings);
    auto heartbeat = _line->sentence("0002");
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ((*heartbeat)[2], "1001");
    EXPECT_EQ((*heartbeat)[3], "1.2.3.45");

    ASSERT_NO_FATAL_FAILURE(bootload());
    ASSERT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::EnterBootloadMode)),
              code(ResponseCode::BootloadMode));
    ASSERT_EQ(erase(kSignaturePage), code(ResponseCode::Ok));
    for (std::uint32_t page = kAppStart; page < kAppEnd; page += kPage) {
        ASSERT_EQ(erase(page), code(ResponseCode::Ok)) << page;
    }
    Bytes codePage(kPage);
    for (std::size_t i = 0; i < codePage.size(); ++i) {
        codePage[i] = static_cast<std::uint8_t>(i * 31 + 1);
    }
    Bytes topPage = erasedPage();
    const Bytes block = applicationInfo({7, 0x40, 5, 0x20}, 0x1234); // version 2.5.1.7
    for (std::size_t i = 0; i < block.size(); ++i) {
        topPage[kPage - 1 - i] = block[i];
    }
    ASSERT_TRUE(writePage(kAppStart, codePage));
    ASSERT_TRUE(writePage(kSignaturePage, topPage));
    EXPECT_EQ(pageCrc(kAppStart), PageChecksum::ccitt16(codePage));
    EXPECT_EQ(pageCrc(kSignaturePage), PageChecksum::ccitt16(topPage));
    ASSERT_EQ(_line->answer(BootloaderFrame::writeSignature()), code(ResponseCode::Ok));
    ASSERT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::ResetMcu)), code(ResponseCode::Ok));

    heartbeat = _line->sentence("0002");
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ((*heartbeat)[2], "4660");
    EXPECT_EQ((*heartbeat)[3], "2.5.1.7");
    _line->send(device::OrvaneMessage::INTERROGATE);
    const auto ack = _line->sentence("0001");
    ASSERT_TRUE(ack);
    EXPECT_EQ((*ack)[3], "2.5.1.7");

    // A restart reads the flash file back: the new application runs at once.
    start(settings);
    heartbeat = _line->sentence("0002");
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ((*heartbeat)[3], "2.5.1.7");
    ASSERT_NO_FATAL_FAILURE(bootload());
    EXPECT_EQ(pageCrc(kAppStart), PageChecksum::ccitt16(codePage));
}

TEST_F(SimulatedBootloaderTest, FlashFileMustFitTheDeviceAndServesOneSimulatorAtATime) {
    sim::InstrumentSettings settings = blankDevice();
    settings.bootloader.flashFile = _dir + "/x1.flash";
    start(settings);

    InstrumentSimulator second(settings, {});
    EXPECT_EQ(second.start(), wyr::windows::system::ERROR_SHARING_VIOLATION);
    _line.reset();
    _simulator.reset();

    sim::InstrumentSettings other = settings;
    other.bootloader.appEnd = 0xFFFF;
    InstrumentSimulator larger(other, {});
    EXPECT_EQ(larger.start(), wyr::windows::system::ERROR_INVALID_DATA);

    {
        std::fstream file(settings.bootloader.flashFile, std::ios::in | std::ios::out | std::ios::binary);
        file.put('?'); // no longer a flash file
    }
    InstrumentSimulator foreign(settings, {});
    EXPECT_EQ(foreign.start(), wyr::windows::system::ERROR_INVALID_DATA);

    sim::InstrumentSettings misaligned;
    misaligned.bootloader.appStart = 0x1100;
    InstrumentSimulator nowhere(misaligned, {});
    EXPECT_EQ(nowhere.start(), wyr::windows::system::ERROR_INVALID_PARAMETER);
}

TEST_F(SimulatedBootloaderTest, PageChecksumWrongOnce) {
    sim::FaultSettings faults;
    faults.badPageCrcAt = 2;
    start(blankDevice(), faults);
    const auto good = PageChecksum::ccitt16(erasedPage());
    EXPECT_EQ(pageCrc(kAppStart), good);
    const auto bad = pageCrc(kAppStart);
    ASSERT_TRUE(bad);
    EXPECT_NE(*bad, good);
    EXPECT_EQ(pageCrc(kAppStart), good);
}

TEST_F(SimulatedBootloaderTest, BlockWriteFailingOnceThenSucceeding) {
    sim::FaultSettings faults;
    faults.failBlockAt = 1;
    start(blankDevice(), faults);
    const Bytes data(kBlock, 0x00);
    EXPECT_EQ(writeBlock(kAppStart, data), code(ResponseCode::Error));
    EXPECT_EQ(pageCrc(kAppStart), PageChecksum::ccitt16(erasedPage())) << "a refused block writes nothing";
    EXPECT_EQ(writeBlock(kAppStart, data), code(ResponseCode::Ok));
    Bytes expected = erasedPage();
    std::fill_n(expected.begin(), kBlock, 0x00);
    EXPECT_EQ(pageCrc(kAppStart), PageChecksum::ccitt16(expected));
}

TEST_F(SimulatedBootloaderTest, BlockWriteFailingAlways) {
    sim::FaultSettings faults;
    faults.failEveryBlock = true;
    start(blankDevice(), faults);
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(writeBlock(kAppStart, Bytes(kBlock, 0x00)), code(ResponseCode::Error)) << attempt;
    }
    EXPECT_EQ(pageCrc(kAppStart), PageChecksum::ccitt16(erasedPage()));
}

TEST_F(SimulatedBootloaderTest, SilentBootloaderNeverAnswers) {
    sim::FaultSettings faults;
    faults.silentBootloader = true;
    start({}, faults);
    ASSERT_NO_FATAL_FAILURE(bootload());
    _line->send(BootloaderFrame::command(TargetCommand::EnterBootloadMode));
    _line->send(BootloaderFrame::command(TargetCommand::GetInfo));
    EXPECT_TRUE(_line->receive(1, 500).empty());
}

TEST_F(SimulatedBootloaderTest, SlowBootloaderAnswersLate) {
    sim::FaultSettings faults;
    faults.bootloaderDelayMs = 1500;
    start(blankDevice(), faults);
    _line->send(BootloaderFrame::command(TargetCommand::EnterBootloadMode));
    EXPECT_TRUE(_line->receive(1, 300).empty()) << "the delay comes before the reply";
    EXPECT_EQ(_line->receive(1, 10000), Bytes{code(ResponseCode::BootloadMode)});
}

TEST_F(SimulatedBootloaderTest, UnplugInTheMiddleOfWritingLeavesTheBootloaderInCharge) {
    sim::InstrumentSettings settings;
    settings.bootloader.flashFile = _dir + "/x1.flash";
    sim::FaultSettings faults;
    faults.unplugAfterBlocks = 2;
    start(settings, faults);
    ASSERT_NO_FATAL_FAILURE(bootload());
    ASSERT_EQ(erase(kSignaturePage), code(ResponseCode::Ok));
    ASSERT_EQ(erase(kAppStart), code(ResponseCode::Ok));
    const Bytes data(kBlock, 0x5A);
    EXPECT_EQ(writeBlock(kAppStart, data), code(ResponseCode::Ok));
    EXPECT_EQ(writeBlock(kAppStart + kBlock, data), code(ResponseCode::Ok));
    EXPECT_FALSE(writeBlock(kAppStart + 2 * kBlock, data));
    EXPECT_TRUE(_line->hungUp);
    EXPECT_FALSE(std::filesystem::exists(_simulator->linkPath()));

    // Powered up again, the half-written application is not started.
    start(settings);
    EXPECT_TRUE(_simulator->status().inBootloader);
    EXPECT_EQ(_line->answer(BootloaderFrame::command(TargetCommand::EnterBootloadMode)),
              code(ResponseCode::BootloadMode));
    Bytes expected = erasedPage();
    std::fill_n(expected.begin(), 2 * kBlock, 0x5A);
    EXPECT_EQ(pageCrc(kAppStart), PageChecksum::ccitt16(expected));
}

TEST(SimulatedBootloader, ForgetsAStalledFrame) {
    using Clock = sim::SimulatedBootloader::Clock;
    sim::BootloaderSettings settings;
    sim::EmulatedFlash flash(settings.appStart, settings.appEnd, 512);
    Clock::time_point now{};
    std::vector<Bytes> replies;
    sim::SimulatedBootloader::Hooks hooks;
    hooks.reply = [&replies](const Bytes& reply) { replies.push_back(reply); };
    sim::SimulatedBootloader loader(settings, {}, flash, hooks, [&now] { return now; });

    // Half a block header, then the host gives up and asks for the checksum instead.
    const Bytes header = BootloaderFrame::writeFlashBytes(settings.appStart, 64);
    loader.onBytes(std::span(header).first(4));
    now += sim::SimulatedBootloader::kFrameGap + std::chrono::milliseconds(1);
    loader.onBytes(BootloaderFrame::getPageCrc(settings.appStart));
    ASSERT_EQ(replies.size(), 1U);
    EXPECT_EQ(replies[0].size(), 3U);
    EXPECT_EQ(replies[0][0], code(ResponseCode::Ok));

    // Within the gap a frame may arrive in pieces; likewise a block's data.
    loader.onBytes(std::span(header).first(4));
    now += std::chrono::milliseconds(500);
    loader.onBytes(std::span(header).subspan(4));
    loader.onBytes(Bytes(64, 0x00));
    EXPECT_EQ(replies.size(), 3U);
    EXPECT_EQ(replies.back(), Bytes{code(ResponseCode::Ok)});
    EXPECT_EQ(loader.blocksWritten(), 1U);
    EXPECT_EQ(flash.read(settings.appStart + 63), 0x00);
}

TEST(SimulatorCommandLine, BootloaderOptions) {
    const auto parse = test::parseCommandLine;
    sim::SimulatorCommandLine good;
    ASSERT_EQ(parse({"--bootloader",
                     "--interrupted-update",
                     "--flash-file",
                     "/tmp/f",
                     "--app-start",
                     "0x2000",
                     "--app-end",
                     "0x3FFF",
                     "--page-size-code",
                     "10",
                     "--buffer-size-code",
                     "7",
                     "--crc-type",
                     "0xC0",
                     "--product-code",
                     "7",
                     "--fail-block",
                     "always",
                     "--bad-page-crc",
                     "3",
                     "--unplug-after-blocks",
                     "5",
                     "--bootloader-delay-ms",
                     "20",
                     "--silent-bootloader"},
                    good),
              -1);
    const auto& device = good.settings().bootloader;
    EXPECT_TRUE(device.startInBootloader);
    EXPECT_TRUE(device.interruptedUpdate);
    EXPECT_EQ(device.flashFile, "/tmp/f");
    EXPECT_EQ(device.appStart, 0x2000U);
    EXPECT_EQ(device.appEnd, 0x3FFFU);
    EXPECT_EQ(device.pageSizeCode, 10);
    EXPECT_EQ(device.bufferSizeCode, 7);
    EXPECT_EQ(device.crcType, 0xC0);
    EXPECT_EQ(device.productCode, 7);
    EXPECT_TRUE(good.faults().failEveryBlock);
    EXPECT_EQ(good.faults().badPageCrcAt, 3U);
    EXPECT_EQ(good.faults().unplugAfterBlocks, 5);
    EXPECT_EQ(good.faults().bootloaderDelayMs, 20U);
    EXPECT_TRUE(good.faults().silentBootloader);

    sim::SimulatorCommandLine once;
    ASSERT_EQ(parse({"--fail-block", "4"}, once), -1);
    EXPECT_EQ(once.faults().failBlockAt, 4U);
    EXPECT_FALSE(once.faults().failEveryBlock);

    const std::vector<std::vector<std::string>> bad{
        {"--app-start", "0x1100"},    {"--app-end", "0x1000000"},     {"--app-start", "0x8000"},
        {"--buffer-size-code", "10"}, {"--page-size-code", "3"},      {"--crc-type", "0x100"},
        {"--fail-block", "0"},        {"--unplug-after-blocks", "x"}, {"--flash-file", ""},
    };
    for (const auto& args : bad) {
        sim::SimulatorCommandLine cl;
        EXPECT_EQ(parse(args, cl), 2) << ::testing::PrintToString(args);
    }
}
