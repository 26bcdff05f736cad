#include "tests/unit/communication/PtyPair.h"
#include "wyr/windows/communication/BaudRate.h"
#include "wyr/windows/communication/BlockingMode.h"
#include "wyr/windows/communication/DataBits.h"
#include "wyr/windows/communication/FlowControl.h"
#include "wyr/windows/communication/Parity.h"
#include "wyr/windows/communication/Serial.h"
#include "wyr/windows/communication/StopBits.h"
#include "wyr/windows/communication/TtyLineSettings.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <utility>

using namespace wyr::windows::communication;

namespace {

using Listing = std::vector<std::pair<int, std::wstring>>;

template <typename Enum> Listing listing() {
    Listing out;
    for (const auto& [value, enumerator] : Enum::registry()) {
        EXPECT_EQ(enumerator->value(), value);
        out.emplace_back(value, enumerator->name());
    }
    return out;
}

termios currentTermios(const Serial& serial) {
    termios settings{};
    EXPECT_EQ(::tcgetattr(serial.handle()->descriptor(), &settings), 0);
    return settings;
}

DCB currentState(const Serial& serial) {
    DCB dcb;
    EXPECT_EQ(serial.handle()->getCommState(dcb), 0U);
    return dcb;
}

class OpenPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(serial.open(pty.widePath()), 0U); }

    test::PtyPair pty;
    Serial serial;
};

} // namespace

TEST(LineSettings, EnumerationsCarryThePlatformCodesAndNames) {
    EXPECT_EQ(listing<BaudRate>(), (Listing{{110, L"110"},
                                            {300, L"300"},
                                            {600, L"600"},
                                            {1200, L"1200"},
                                            {2400, L"2400"},
                                            {4800, L"4800"},
                                            {9600, L"9600"},
                                            {14400, L"14400"},
                                            {19200, L"19200"},
                                            {38400, L"38400"},
                                            {56000, L"56000"},
                                            {57600, L"57600"},
                                            {115200, L"115200"},
                                            {128000, L"128000"},
                                            {256000, L"256000"}}));
    EXPECT_EQ(listing<DataBits>(), (Listing{{5, L"5"}, {6, L"6"}, {7, L"7"}, {8, L"8"}}));
    EXPECT_EQ(listing<Parity>(),
              (Listing{{0, L"None"}, {1, L"Odd"}, {2, L"Even"}, {3, L"Mark"}, {4, L"Space"}}));
    EXPECT_EQ(listing<StopBits>(), (Listing{{0, L"1"}, {1, L"1.5"}, {2, L"2"}}));
    EXPECT_EQ(listing<FlowControl>(),
              (Listing{{1, L"None"}, {2, L"Hardware (RTS/CTS)"}, {3, L"Software (XON/XOFF)"}}));
    EXPECT_EQ(listing<BlockingMode>(), (Listing{{1, L"Non-Blocking"}, {2, L"Blocking"}}));
    EXPECT_EQ(Parity::fromValue(3), &Parity::Mark);
    EXPECT_EQ(BaudRate::fromValue(9601), nullptr);
}

TEST_F(OpenPort, OpensRawWithoutHangUpOnCloseAndWithTheDefaultMaskAndTimeouts) {
    const termios settings = currentTermios(serial);
    EXPECT_EQ(settings.c_cflag & HUPCL, 0U) << "closing must not drop DTR/RTS";
    EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0U);
    EXPECT_EQ(settings.c_iflag & (IXON | ICRNL | ISTRIP | BRKINT), 0U);
    EXPECT_EQ(settings.c_oflag & OPOST, 0U);

    std::uint32_t mask = 0;
    ASSERT_EQ(serial.handle()->getCommMask(mask), 0U);
    EXPECT_EQ(mask, 0xC1U);
    COMMTIMEOUTS timeouts;
    ASSERT_EQ(serial.handle()->getCommTimeouts(timeouts), 0U);
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0U);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0U);
}

TEST(TtyLineSettings, TranslatesFramingBothWays) {
    // The kernel's code for "speed in the speed field" (BOTHER), absent from libc.
    constexpr std::uint32_t kOtherSpeed = 0010000;
    struct Case {
        std::uint32_t baud;
        std::uint8_t parity, dataBits, stopBits;
        std::uint32_t speedCode, parityFlags, size;
    };
    const Case cases[] = {
        {9600, NOPARITY, 8, ONESTOPBIT, B9600, 0, CS8},
        {115200, EVENPARITY, 7, TWOSTOPBITS, B115200, PARENB, CS7},
        {14400, ODDPARITY, 8, ONESTOPBIT, kOtherSpeed, PARENB | PARODD, CS8},
        {256000, MARKPARITY, 6, ONESTOPBIT, kOtherSpeed, PARENB | PARODD | CMSPAR, CS6},
        {110, SPACEPARITY, 5, ONE5STOPBITS, B110, PARENB | CMSPAR, CS5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        DCB dcb;
        dcb.BaudRate = c.baud;
        dcb.Parity = c.parity;
        dcb.ByteSize = c.dataBits;
        dcb.StopBits = c.stopBits;
        dcb.fParity = c.parity != NOPARITY;
        // Flags outside the line settings survive; a stale input speed does not.
        TtyLineSettings::Terminal terminal;
        terminal.cflag = CLOCAL | CREAD | (B50 << 16) | CSTOPB | CRTSCTS;
        terminal.iflag = IGNBRK | IXON;
        ASSERT_EQ(TtyLineSettings::apply(dcb, terminal), 0U);
        EXPECT_EQ(terminal.cflag & CBAUD, c.speedCode);
        EXPECT_EQ(terminal.cflag & (CBAUD << 16), 0U);
        EXPECT_EQ(terminal.speed, c.baud);
        EXPECT_EQ(terminal.cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
        EXPECT_EQ(terminal.cflag & CSIZE, c.size);
        EXPECT_EQ((terminal.cflag & CSTOPB) != 0, c.stopBits != ONESTOPBIT);
        EXPECT_EQ(terminal.cflag & (CLOCAL | CREAD | CRTSCTS), static_cast<std::uint32_t>(CLOCAL | CREAD));
        EXPECT_EQ(terminal.iflag, static_cast<std::uint32_t>(IGNBRK | (c.parity != NOPARITY ? INPCK : 0)));

        DCB back;
        TtyLineSettings::describe(terminal, back);
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.ByteSize, c.dataBits);
        EXPECT_EQ(back.StopBits, c.stopBits);
        EXPECT_EQ(back.fParity, c.parity != NOPARITY);
    }
}

TEST(TtyLineSettings, HandshakeFlags) {
    DCB dcb;
    dcb.BaudRate = 9600;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutX = true;
    dcb.XonChar = 'Q';
    dcb.XoffChar = 'S';
    TtyLineSettings::Terminal terminal;
    ASSERT_EQ(TtyLineSettings::apply(dcb, terminal), 0U);
    EXPECT_TRUE(TtyLineSettings::hardwareHandshake(terminal));
    EXPECT_EQ(terminal.iflag & (IXON | IXOFF), static_cast<std::uint32_t>(IXON));
    EXPECT_EQ(terminal.startChar, 'Q');
    EXPECT_EQ(terminal.stopChar, 'S');

    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    EXPECT_EQ(TtyLineSettings::apply(dcb, terminal), 50U);
    dcb.fRtsControl = 7;
    EXPECT_EQ(TtyLineSettings::apply(dcb, terminal), 87U);
}

TEST_F(OpenPort, ConfigureReachesTheTerminalAndChecksParityExactlyWhenThereIsParity) {
    // A pty keeps speed, stop bits and parity checking; it forces 8 bits without parity.
    for (const auto* parity : {&Parity::Even, &Parity::None, &Parity::Space}) {
        SCOPED_TRACE(std::string(parity->name().begin(), parity->name().end()));
        ASSERT_EQ(serial.configure(parity == &Parity::None ? 14400 : 57600, *parity, 8, TWOSTOPBITS), 0U);
        const DCB dcb = currentState(serial);
        EXPECT_EQ(dcb.BaudRate, parity == &Parity::None ? 14400U : 57600U);
        EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
        EXPECT_EQ(dcb.fParity, *parity != Parity::None);
        const termios settings = currentTermios(serial);
        EXPECT_EQ((settings.c_iflag & INPCK) != 0, *parity != Parity::None);
        EXPECT_EQ(settings.c_cflag & HUPCL, 0U);
    }
}

TEST_F(OpenPort, ConfigureRefusesWhatTheLineCannotTakeAndKeepsTheSettings) {
    ASSERT_EQ(serial.configure(19200, Parity::None, 8, ONESTOPBIT), 0U);
    struct Case {
        std::uint32_t baud;
        std::uint8_t dataBits;
        std::uint8_t stopBits;
    };
    // Baud rate 0 would hang the line up.
    const Case refused[] = {{0, 8, ONESTOPBIT},      {9600, 4, ONESTOPBIT},  {9600, 9, ONESTOPBIT},
                            {9600, 8, ONE5STOPBITS}, {9600, 5, TWOSTOPBITS}, {9600, 8, 3}};
    for (const auto& c : refused) {
        SCOPED_TRACE(testing::Message() << c.baud << " " << int(c.dataBits) << " " << int(c.stopBits));
        EXPECT_EQ(serial.configure(c.baud, Parity::None, c.dataBits, c.stopBits), 87U);
        const DCB dcb = currentState(serial);
        EXPECT_EQ(dcb.BaudRate, 19200U);
        EXPECT_EQ(dcb.ByteSize, 8);
    }
}

TEST_F(OpenPort, FlowControlRewritesTheHandshake) {
    struct Case {
        const FlowControl* mode;
        bool cts, dsr;
        std::uint8_t dtr, rts;
        bool xon;
    };
    const Case cases[] = {
        {&FlowControl::Hardware, true, true, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE, false},
        {&FlowControl::Software, false, false, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, true},
        {&FlowControl::None, false, false, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode->name().begin(), c.mode->name().end()));
        ASSERT_EQ(serial.setFlowControl(*c.mode), 0U);
        const DCB dcb = currentState(serial);
        EXPECT_EQ(dcb.fOutxCtsFlow, c.cts);
        EXPECT_EQ(dcb.fOutxDsrFlow, c.dsr);
        EXPECT_EQ(dcb.fDtrControl, c.dtr);
        EXPECT_EQ(dcb.fRtsControl, c.rts);
        EXPECT_EQ(dcb.fOutX, c.xon);
        EXPECT_EQ(dcb.fInX, c.xon);
        const termios settings = currentTermios(serial);
        EXPECT_EQ((settings.c_cflag & CRTSCTS) != 0, c.cts);
        EXPECT_EQ((settings.c_iflag & IXON) != 0, c.xon);
        EXPECT_EQ((settings.c_iflag & IXOFF) != 0, c.xon);
    }
    // The framing is left as it was.
    ASSERT_EQ(serial.configure(57600, Parity::Even, 8, TWOSTOPBITS), 0U);
    ASSERT_EQ(serial.setFlowControl(FlowControl::Hardware), 0U);
    const DCB dcb = currentState(serial);
    EXPECT_EQ(dcb.BaudRate, 57600U);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(dcb.fParity);
}

TEST_F(OpenPort, EventCharacterIsStoredAndAddsRxFlagToTheMask) {
    ASSERT_EQ(serial.setCommMask(EV_TXEMPTY | EV_ERR), 0U);
    ASSERT_EQ(serial.setEventChar('\x04'), 0U);
    std::uint32_t mask = 0;
    ASSERT_EQ(serial.handle()->getCommMask(mask), 0U);
    EXPECT_EQ(mask, EV_TXEMPTY | EV_ERR | EV_RXFLAG);
    EXPECT_EQ(currentState(serial).EvtChar, '\x04');
    // Later settings keep it.
    ASSERT_EQ(serial.configure(9600, Parity::None, 8, ONESTOPBIT), 0U);
    EXPECT_EQ(currentState(serial).EvtChar, '\x04');
}

TEST_F(OpenPort, BlockingModeSetsOnlyTheReadTimeouts) {
    COMMTIMEOUTS custom;
    custom.ReadTotalTimeoutConstant = 500;
    custom.WriteTotalTimeoutMultiplier = 3;
    custom.WriteTotalTimeoutConstant = 700;
    ASSERT_EQ(serial.handle()->setCommTimeouts(custom), 0U);

    for (const auto* mode : {&BlockingMode::Blocking, &BlockingMode::NonBlocking}) {
        ASSERT_EQ(serial.setBlockingMode(*mode), 0U);
        COMMTIMEOUTS timeouts;
        ASSERT_EQ(serial.handle()->getCommTimeouts(timeouts), 0U);
        EXPECT_EQ(timeouts.ReadIntervalTimeout, *mode == BlockingMode::Blocking ? 0U : MAXDWORD);
        EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0U);
        EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0U);
        EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 3U);
        EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 700U);
    }
}
