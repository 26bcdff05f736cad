#include "device/OrvaneMessage.h"

#include "device/FramingCharacter.h"
#include "tests/unit/support/LogCapture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using device::FramingCharacter;
using device::OrvaneMessage;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Example {
    const OrvaneMessage* message;
    std::uint32_t argument;
    Bytes expected;
};

Bytes compose(const OrvaneMessage& message, std::uint32_t argument) {
    Bytes out{0xEE, 0xEE}; // compose clears what the caller left in it
    if (&message == &OrvaneMessage::SET_GAIN || &message == &OrvaneMessage::SET_FRAME_RATE) {
        return OrvaneMessage::compose(out, message, argument);
    }
    return OrvaneMessage::compose(out, message);
}

Bytes frame(const std::string& payload, const std::string& checksum) {
    // Built as one string: growing an initialiser-list vector trips GCC 12's
    // -Warray-bounds at -O3.
    const std::string text = "\x02" + payload + "\x03" + checksum + "\x04\r";
    return Bytes(text.begin(), text.end());
}

} // namespace

TEST(OrvaneMessage, ComposesEveryCommandByteForByte) {
    const std::vector<Example> examples{
        {&OrvaneMessage::SET_GAIN,
         5,
         {0x02, 0x34, 0x7C, 0x30, 0x30, 0x30, 0x35, 0x03, 0x34, 0x44, 0x04, 0x0D}},
        {&OrvaneMessage::SET_FRAME_RATE, 30, {0x02, 0x35, 0x7C, 0x33, 0x30, 0x03, 0x34, 0x41, 0x04, 0x0D}},
        {&OrvaneMessage::INTERROGATE, 0, {0x02, 0x31, 0x03, 0x33, 0x31, 0x04, 0x0D}},
        {&OrvaneMessage::START_STREAMING, 0, {0x02, 0x32, 0x03, 0x33, 0x32, 0x04, 0x0D}},
        {&OrvaneMessage::STOP_STREAMING, 0, {0x02, 0x33, 0x03, 0x33, 0x33, 0x04, 0x0D}},
        {&OrvaneMessage::RESET, 0, {0x02, 0x37, 0x03, 0x33, 0x37, 0x04, 0x0D}},
        {&OrvaneMessage::BOOTLOAD, 0, {0x02, 0x5A, 0x03, 0x35, 0x41, 0x04, 0x0D}},
        {&OrvaneMessage::ACK, 0, {0x02, 0x06, 0x03, 0x30, 0x36, 0x04, 0x0D}},
        {&OrvaneMessage::NAK, 0, {0x02, 0x15, 0x03, 0x31, 0x35, 0x04, 0x0D}},
        // Digit counts are minimum widths: nothing is truncated.
        {&OrvaneMessage::SET_GAIN, 0, frame("4|0000", "48")},
        {&OrvaneMessage::SET_GAIN, 4095, frame("4|4095", "40")},
        {&OrvaneMessage::SET_GAIN, 12345, frame("4|12345", "79")},
        {&OrvaneMessage::SET_FRAME_RATE, 7, frame("5|07", "4E")},
        {&OrvaneMessage::SET_FRAME_RATE, 100, frame("5|100", "78")},
    };
    for (const auto& e : examples) {
        SCOPED_TRACE(std::string(e.message->name().begin(), e.message->name().end()) + " " +
                     std::to_string(e.argument));
        const Bytes sentence = compose(*e.message, e.argument);
        EXPECT_EQ(sentence, e.expected);
        ASSERT_GE(sentence.size(), 6U);
        EXPECT_EQ(sentence[sentence.size() - 2], 0x04);
        EXPECT_EQ(sentence.back(), 0x0D);
    }
}

TEST(OrvaneMessage, ChecksumIsXorOfSignedBytes) {
    EXPECT_EQ(OrvaneMessage::checksum("4|0005"), 0x4D);
    EXPECT_EQ(OrvaneMessage::checksum("0003|1.5|2.5|3.5"), 0x54);
    EXPECT_EQ(OrvaneMessage::checksum(""), 0);
    // Bytes above 0x7F widen as negative values, as the instrument does.
    EXPECT_EQ(OrvaneMessage::checksum("\x80"), -128);
}

TEST(OrvaneMessage, StoredTemplatesEndInLineFeedAndStayUnchanged) {
    EXPECT_EQ(OrvaneMessage::INTERROGATE.format(), std::string_view("1\n"));
    EXPECT_EQ(OrvaneMessage::SET_GAIN.format(), std::string_view("4<SEP>%04u\n"));
    const Bytes first = compose(OrvaneMessage::SET_GAIN, 42);
    const Bytes second = compose(OrvaneMessage::SET_GAIN, 42);
    EXPECT_EQ(first, second);
    EXPECT_EQ(OrvaneMessage::SET_GAIN.format(), std::string_view("4<SEP>%04u\n"));
}

TEST(OrvaneMessage, RegistriesHoldTheTables) {
    const auto& commands = OrvaneMessage::registry();
    ASSERT_EQ(commands.size(), 9U);
    EXPECT_EQ(OrvaneMessage::fromValue(6), &OrvaneMessage::RESET);
    EXPECT_EQ(OrvaneMessage::fromValue(6)->name(), L"RESET");
    EXPECT_EQ(OrvaneMessage::fromValue(10), nullptr);

    ASSERT_EQ(FramingCharacter::registry().size(), 4U);
    EXPECT_EQ(FramingCharacter::fromValue(1)->character(), '\x02');
    EXPECT_EQ(FramingCharacter::fromValue(4)->name(), L"Separator");
    EXPECT_EQ(FramingCharacter::Separator.character(), '|');
}

TEST(OrvaneMessage, LogsTheSentenceAtInformation) {
    test::LogCapture capture;
    Bytes out;
    OrvaneMessage::compose(out, OrvaneMessage::SET_GAIN, 5U);
    OrvaneMessage::compose(out, OrvaneMessage::ACK);
    const auto records = capture.collect();
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].verbosity, 0x10);
    EXPECT_EQ(records[0].context, L"OrvaneMessage::compose");
    EXPECT_EQ(records[0].message, L"[SET_GAIN] <STX>4|0005<ETX>4D<EOT><CR>");
    // The raw control byte stands between the markers.
    EXPECT_EQ(records[1].message, std::wstring(L"[ACK] <STX>\x06<ETX>06<EOT><CR>"));
}
