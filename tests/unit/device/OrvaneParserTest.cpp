#include "device/OrvaneParser.h"

#include "device/FirmwareReleaseType.h"
#include "device/OrvaneMessage.h"
#include "device/OrvaneNotification.h"
#include "device/ReceiveState.h"
#include "tests/unit/support/LogCapture.h"
#include "wyr/windows/system/Event.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using device::OrvaneDeviceState;
using device::OrvaneMessage;
using device::OrvaneNotification;
using device::OrvaneNotificationType;
using device::OrvaneParser;
using device::OrvaneReadingNotification;
using device::OrvaneStateNotification;
using device::ReceiveState;
using wyr::windows::system::ErrorCode;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr ErrorCode kMoreData = 234;

Bytes frame(const std::string& payload, const std::string& checksum) {
    // Built as one string: growing an initialiser-list vector trips GCC 12's
    // -Warray-bounds at -O3.
    const std::string text = "\x02" + payload + "\x03" + checksum + "\x04";
    return Bytes(text.begin(), text.end());
}

// The sentence as the instrument sends it, with its correct checksum.
Bytes sentence(const std::string& payload) {
    char digits[16] = {};
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(OrvaneMessage::checksum(payload)));
    return frame(payload, digits);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

const std::string kHeartbeat = "0002|M1|1001|1.2.3.45|30|2|12.5|100";
const std::string kReading = "0003|1.5|2.5|3.5";

using TimePoint = std::chrono::steady_clock::time_point;

// A performance counter in microseconds and a steady time that only move when the
// test moves them.
struct ManualClock {
    std::int64_t now = 5'000'000;
    TimePoint time = TimePoint(std::chrono::hours(1));

    OrvaneParser::Clock clock() {
        OrvaneParser::Clock c;
        c.counter = [this] { return now; };
        c.frequency = 1'000'000;
        c.now = [this] { return time; };
        return c;
    }
    void advanceMs(double ms) {
        now += static_cast<std::int64_t>(ms * 1000.0);
        time += std::chrono::microseconds(static_cast<std::int64_t>(ms * 1000.0));
    }
};

// Records what the parser hands out, and in which order it asked for the ACK and
// the notifications. An ACK is shown with its due time, in milliseconds after the
// time the clock showed when the sink was made.
class RecordingSink final : public device::IOrvaneSink {
public:
    explicit RecordingSink(const ManualClock& clock) : _start(clock.time) {}

    ErrorCode acknowledgeAt(TimePoint due) override {
        const auto ms = std::chrono::duration<double, std::milli>(due - _start).count();
        char text[32];
        std::snprintf(text, sizeof text, "ack at %g ms", ms);
        events.emplace_back(text);
        return 0;
    }
    ErrorCode notify(OrvaneNotification* record) override {
        const bool reading = OrvaneNotification::as<OrvaneReadingNotification>(record) != nullptr;
        events.push_back(reading ? "reading" : "state");
        records.emplace_back(record);
        return 0;
    }

    std::vector<std::string> events;
    std::vector<std::unique_ptr<OrvaneNotification, device::OrvaneNotificationRelease>> records;

private:
    TimePoint _start;
};

// The serial thread keeps a copy of the parser bound into its read handler.
using ReadHandler =
    std::function<std::uint32_t(wyr::windows::system::Event*, std::uint8_t*, std::uint32_t&, std::uint32_t*)>;
static_assert(std::is_constructible_v<ReadHandler, decltype(std::bind_front(&OrvaneParser::parseIOBuffer,
                                                                            std::declval<OrvaneParser>()))>);

struct Call {
    ErrorCode result;
    std::uint32_t consumed;
};

class OrvaneParserTest : public ::testing::Test {
protected:
    Call call(const Bytes& bytes, wyr::windows::system::Event* terminate = nullptr) {
        return call(parser, bytes, terminate);
    }
    static Call call(OrvaneParser& p, const Bytes& bytes, wyr::windows::system::Event* terminate = nullptr) {
        const auto length = static_cast<std::uint32_t>(bytes.size());
        std::uint32_t consumed = 0xDEADBEEF;
        const ErrorCode result = p.parseIOBuffer(terminate, bytes.data(), length, &consumed);
        return {result, consumed};
    }

    // Hands the bytes over the way the serial thread does: again and again with
    // what the previous call left, until everything was consumed.
    std::vector<Call> feed(const Bytes& bytes) {
        std::vector<Call> calls;
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            const Bytes rest(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end());
            calls.push_back(call(rest));
            EXPECT_GT(calls.back().consumed, 0U);
            EXPECT_LE(calls.back().consumed, rest.size());
            if (calls.back().consumed == 0 || calls.back().consumed > rest.size()) {
                break;
            }
            offset += calls.back().consumed;
            EXPECT_LE(parser.bufferedLength(), OrvaneParser::MaximumSentenceLength);
        }
        return calls;
    }

    const OrvaneStateNotification& state(std::size_t i) {
        const auto* r = OrvaneNotification::as<OrvaneStateNotification>(sink.records.at(i).get());
        EXPECT_NE(r, nullptr);
        return *r;
    }
    const OrvaneReadingNotification& reading(std::size_t i) {
        const auto* r = OrvaneNotification::as<OrvaneReadingNotification>(sink.records.at(i).get());
        EXPECT_NE(r, nullptr);
        return *r;
    }

    void expectIdle() {
        EXPECT_EQ(parser.receiveState(), ReceiveState::StartOfText);
        EXPECT_EQ(parser.bufferedLength(), 0U);
    }

    ManualClock time;
    RecordingSink sink{time};
    OrvaneParser parser{sink, time.clock()};
};

} // namespace

TEST_F(OrvaneParserTest, WorkedExamplesByteForByte) {
    // STX, the payload, ETX, '0' '5', EOT.
    Bytes heartbeat{0x02};
    for (const char c : std::string("0002|M1|1001|1.2.3.45|30|2|12.5|100")) {
        heartbeat.push_back(static_cast<std::uint8_t>(c));
    }
    heartbeat.insert(heartbeat.end(), {0x03, 0x30, 0x35, 0x04});
    ASSERT_EQ(heartbeat.size(), 35U + 5U);

    const Call c = call(heartbeat);
    EXPECT_EQ(c.result, 0U);
    EXPECT_EQ(c.consumed, heartbeat.size());
    expectIdle();
    // The ACK is asked for with its pause, and the state goes out at once.
    EXPECT_EQ(sink.events, (std::vector<std::string>{"ack at 10 ms", "state"}));

    const auto& hb = state(0);
    EXPECT_EQ(*hb.type, OrvaneNotificationType::NotifyHeartbeat);
    EXPECT_EQ(hb.port, 0);
    EXPECT_EQ(hb.id, 0U);
    EXPECT_EQ(hb.code, 13);
    EXPECT_EQ(hb.state.model, "M1");
    EXPECT_EQ(hb.state.serialNumber, 1001);
    EXPECT_EQ(hb.state.firmwareVersion & 0xFFFFU, 0x0021U);
    EXPECT_EQ(hb.state.firmwareVersion >> 16, 0x00B7U);
    EXPECT_EQ(hb.state.firmwareMajor(), 1U);
    EXPECT_EQ(hb.state.firmwareMinor(), 2U);
    EXPECT_EQ(hb.state.firmwareReleaseType(), 3U);
    EXPECT_EQ(device::FirmwareReleaseType::ofVersion(hb.state.firmwareVersion).name(), L"Final");
    EXPECT_EQ(hb.state.firmwareBuild(), 45U);
    EXPECT_EQ(hb.state.frameRate, 30);
    EXPECT_EQ(hb.state.flags, OrvaneDeviceState::StreamingFlag);
    EXPECT_TRUE(hb.state.streaming());
    EXPECT_FALSE(hb.state.antennaDisconnected());
    EXPECT_FALSE(hb.state.flag3());
    EXPECT_FLOAT_EQ(hb.state.voltage, 12.5F);
    EXPECT_EQ(hb.state.gain, 100);
    EXPECT_TRUE(std::isnan(hb.state.measuredFrameRate)); // no reading yet

    // An ADC reading: STX, 16 payload characters, ETX, '5' '4', EOT.
    const Bytes adc = frame("0003|1.5|2.5|3.5", "54");
    const Call r = call(adc);
    EXPECT_EQ(r.result, 0U);
    EXPECT_EQ(r.consumed, 21U);
    ASSERT_EQ(sink.records.size(), 2U);
    const auto& rd = reading(1);
    EXPECT_EQ(*rd.type, OrvaneNotificationType::NotifySentenceReceived);
    EXPECT_FLOAT_EQ(rd.reading1, 1.5F);
    EXPECT_FLOAT_EQ(rd.reading2, 2.5F);
    EXPECT_FLOAT_EQ(rd.reading3, 3.5F);
}

TEST_F(OrvaneParserTest, AcknowledgementCarriesStateWithoutAck) {
    EXPECT_EQ(call(sentence("0001|X1-Long Model Name|-7|0.9|255|7|11.75|-3")).result, 0U);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"state"}));
    const auto& ack = state(0);
    EXPECT_EQ(*ack.type, OrvaneNotificationType::NotifyAcknowledge);
    EXPECT_EQ(ack.state.model, "X1-Long Model Name");
    EXPECT_EQ(ack.state.serialNumber, -7);
    EXPECT_EQ(ack.state.firmwareVersion, 0x00000090U); // major 0, minor 9
    EXPECT_EQ(ack.state.frameRate, 255);
    EXPECT_EQ(ack.state.flags, 0xE000); // all three flags, nothing below them
    EXPECT_FLOAT_EQ(ack.state.voltage, 11.75F);
    EXPECT_EQ(ack.state.gain, -3);
}

TEST_F(OrvaneParserTest, EachHeartbeatsAckFallsDueAPauseAfterItWhileReadingsGoOn) {
    // Heartbeat and readings in one read: all of them are handed out in this one
    // pass, the ACK only asked for with its due time.
    feed(sentence(kHeartbeat) + sentence(kReading) + sentence(kReading));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"ack at 10 ms", "state", "reading", "reading"}));

    // The due time counts from the heartbeat, not from the previous one.
    time.advanceMs(995.5);
    feed(sentence(kReading) + sentence(kHeartbeat));
    time.advanceMs(3);
    feed(sentence(kHeartbeat));
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"ack at 10 ms", "state", "reading", "reading", "reading",
                                        "ack at 1005.5 ms", "state", "ack at 1008.5 ms", "state"}));
}

TEST_F(OrvaneParserTest, StatusAndFrameRateKeepOnlyTheirLowBits) {
    // Status 13 = 0b1101: antenna and flag3; frame rate 286 = 256 + 30.
    call(sentence("0002|M1|1|1|286|13|5|1"));
    ASSERT_EQ(sink.records.size(), 1U);
    EXPECT_EQ(state(0).state.frameRate, 30);
    EXPECT_TRUE(state(0).state.antennaDisconnected());
    EXPECT_FALSE(state(0).state.streaming());
    EXPECT_TRUE(state(0).state.flag3());
    EXPECT_EQ(state(0).state.flags & 0x1FFF, 0);
}

TEST_F(OrvaneParserTest, SentenceSplitAtEveryOffsetCompletesAcrossCalls) {
    for (const auto& payload : {kHeartbeat, kReading}) {
        const Bytes whole = sentence(payload);
        for (std::size_t k = 1; k < whole.size(); ++k) {
            SCOPED_TRACE(payload + " split at " + std::to_string(k));
            ManualClock t;
            RecordingSink s(t);
            OrvaneParser p(s, t.clock());
            const Bytes head(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(k));
            const Bytes tail(whole.begin() + static_cast<std::ptrdiff_t>(k), whole.end());

            const Call first = call(p, head);
            EXPECT_EQ(first.result, kMoreData);
            EXPECT_EQ(first.consumed, k);
            EXPECT_EQ(p.bufferedLength(), k);
            EXPECT_NE(p.receiveState(), ReceiveState::StartOfText);
            EXPECT_TRUE(s.records.empty());

            const Call second = call(p, tail);
            EXPECT_EQ(second.result, 0U);
            EXPECT_EQ(second.consumed, tail.size());
            ASSERT_EQ(s.records.size(), 1U);
            EXPECT_EQ(p.bufferedLength(), 0U);
        }
    }
}

TEST_F(OrvaneParserTest, ByteByByteAndCopiesKeepTheirOwnProgress) {
    const Bytes whole = sentence(kReading);
    for (std::size_t i = 0; i + 1 < whole.size(); ++i) {
        EXPECT_EQ(call(Bytes{whole[i]}).result, kMoreData);
    }
    // The copy the serial thread works on carries the half sentence with it.
    OrvaneParser copy = parser;
    EXPECT_EQ(call(copy, Bytes{whole.back()}).result, 0U);
    EXPECT_EQ(sink.records.size(), 1U);
    EXPECT_EQ(copy.bufferedLength(), 0U);
    EXPECT_EQ(parser.bufferedLength(), whole.size() - 1);
    EXPECT_EQ(call(Bytes{whole.back()}).result, 0U);
    EXPECT_EQ(sink.records.size(), 2U);
}

TEST_F(OrvaneParserTest, OneSentencePerCall) {
    const Bytes first = sentence(kReading);
    const Bytes second = sentence(kHeartbeat);
    const Bytes third = sentence("0003|4|5|6");
    const Bytes half(third.begin(), third.begin() + 7);

    const auto calls = feed(first + second + half);
    ASSERT_EQ(calls.size(), 3U);
    EXPECT_EQ(calls[0].result, 0U);
    EXPECT_EQ(calls[0].consumed, first.size()); // index of the first EOT + 1
    EXPECT_EQ(calls[1].result, 0U);
    EXPECT_EQ(calls[1].consumed, second.size());
    EXPECT_EQ(calls[2].result, kMoreData);
    EXPECT_EQ(calls[2].consumed, half.size());
    // The half sentence waits in the parser, not in the caller's buffer.
    EXPECT_EQ(parser.bufferedLength(), half.size());
    ASSERT_EQ(sink.records.size(), 2U);
    EXPECT_EQ(*sink.records[0]->type, OrvaneNotificationType::NotifySentenceReceived);
    EXPECT_EQ(*sink.records[1]->type, OrvaneNotificationType::NotifyHeartbeat);
}

TEST_F(OrvaneParserTest, NoiseOutsideSentencesIsDroppedByteByByte) {
    test::LogCapture log(0x0020); // Warning
    const auto calls = feed(text("\r\n") + sentence(kReading) + text("\rxy") + sentence("0003|7|8|9"));
    ASSERT_EQ(sink.records.size(), 2U);
    EXPECT_FLOAT_EQ(reading(1).reading3, 9.0F);
    expectIdle();
    std::vector<std::wstring> warnings;
    for (const auto& r : log.matching(L"Ignoring byte")) {
        EXPECT_EQ(r.context, L"OrvaneParser::parseIOBuffer");
        warnings.push_back(r.message);
    }
    EXPECT_EQ(warnings, (std::vector<std::wstring>{L"Ignoring byte [0x0D]", L"Ignoring byte [0x0A]",
                                                   L"Ignoring byte [0x0D]", L"Ignoring byte [0x78]",
                                                   L"Ignoring byte [0x79]"}));
}

TEST_F(OrvaneParserTest, LowerCaseChecksumDigitsAreAccepted) {
    ASSERT_EQ(OrvaneMessage::checksum("0003|2.75|-2.5|3.5"), 0x4D);
    EXPECT_EQ(call(frame("0003|2.75|-2.5|3.5", "4d")).result, 0U);
    EXPECT_EQ(call(frame("0003|2.75|-2.5|3.5", "4D")).result, 0U);
    ASSERT_EQ(sink.records.size(), 2U);
    EXPECT_FLOAT_EQ(reading(0).reading2, -2.5F);
}

TEST_F(OrvaneParserTest, LogsEachSentenceAtInformation) {
    test::LogCapture log(0x0010);
    call(sentence(kReading));
    const auto records = log.collect();
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].context, L"OrvaneParser::processBuffer");
    EXPECT_EQ(records[0].message, L"<STX>0003|1.5|2.5|3.5<ETX>54<EOT>");
    EXPECT_EQ(records[1].message, L"Message type received [ADCRead]");
}

namespace {

using Logged = std::vector<std::pair<int, std::wstring>>;

constexpr int kError = 0x0040;
constexpr int kAppSpecific4 = 0x0800;

const std::wstring kInvalidData = L"The data is invalid.";
const std::wstring kCrc = L"Data error (cyclic redundancy check).";
const std::wstring kInvalidToken = L"The token representing the data is invalid.";

// What a rejecting step logs itself: the message at Error and again at App Specific 4.
Logged rejected(const std::wstring& message) {
    return {{kError, message}, {kAppSpecific4, message}};
}

// What parseIOBuffer adds for any non-zero result.
Logged failed(ErrorCode code, const std::wstring& systemText) {
    return {{kError, L"Failed to process buffer [" + std::to_wstring(code) + L"]"}, {kError, systemText}};
}

Logged operator+(Logged a, const Logged& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Rejection {
    const char* name;
    Bytes bytes;
    Logged logged; // at Error and App Specific 4, in order
    bool acknowledged;
};

} // namespace

TEST_F(OrvaneParserTest, RejectedSentencesAreDroppedWithTheirCode) {
    const Logged badField = failed(13, kInvalidData);
    const std::vector<Rejection> cases{
        {"checksum mismatch", frame(kReading, "55"),
         rejected(
             L"Invalid checksum, passed [55], calculated [54] with \"<STX>0003|1.5|2.5|3.5<ETX>55<EOT>\"") +
             Logged{{kError, kCrc}} + failed(23, kCrc),
         false},
        {"checksum of one digit", frame(kReading, "5"),
         rejected(L"Invalid checksum, expected [2] bytes, got [1]") + Logged{{kError, kInvalidData}} +
             failed(13, kInvalidData),
         false},
        {"checksum of three digits", frame(kReading, "054"),
         rejected(L"Invalid checksum, expected [2] bytes, got [3]") + Logged{{kError, kInvalidData}} +
             failed(13, kInvalidData),
         false},
        {"second STX does not restart",
         text("\x02"
              "0003|1.5|") +
             sentence(kReading),
         rejected(L"Invalid checksum, passed [54], calculated [7F] with \"<STX>0003|1.5|\x02"
                  L"0003|1.5|2.5|3.5<ETX>54<EOT>\"") +
             Logged{{kError, kCrc}} + failed(23, kCrc),
         false},
        {"unknown code", sentence("0004|1|2|3"),
         rejected(L"Unhandled message [0004]") + failed(315, kInvalidToken), false},
        {"code compared exactly", sentence("3|1|2|3"),
         rejected(L"Unhandled message [3]") + failed(315, kInvalidToken), false},
        {"empty payload", frame("", "00"), rejected(L"Unhandled message []") + failed(315, kInvalidToken),
         false},
        {"reading with two values", sentence("0003|1.5|2.5"), badField, false},
        {"reading with four values", sentence("0003|1.5|2.5|3.5|4.5"), badField, false},
        {"reading with empty field", sentence("0003|1.5||3.5"), badField, false},
        {"reading not a number", sentence("0003|1.5|2.5x|3.5"), badField, false},
        {"reading with decimal comma", sentence("0003|1,5|2.5|3.5"), badField, false},
        {"reading beyond float", sentence("0003|1e39|2.5|3.5"), badField, false},
        {"heartbeat with seven fields", sentence("0002|M1|1001|1.2.3.45|30|2|12.5"), badField, true},
        {"heartbeat with empty field", sentence("0002|M1|1001||30|2|12.5|100"), badField, true},
        {"heartbeat with nine fields", sentence(kHeartbeat + "|1"), badField, true},
        {"serial number not a number", sentence("0002|M1|10a1|1.2.3.45|30|2|12.5|100"), badField, true},
        {"voltage not a number", sentence("0002|M1|1001|1.2.3.45|30|2|12,5|100"), badField, true},
        {"gain out of range", sentence("0002|M1|1001|1.2.3.45|30|2|12.5|99999999999"), badField, true},
        {"frame rate out of range", sentence("0002|M1|1001|1.2.3.45|2147483648|2|12.5|100"), badField, true},
        {"five-part firmware version", sentence("0002|M1|1001|1.2.3.4.5|30|2|12.5|100"), badField, true},
        {"acknowledgement with seven fields", sentence("0001|M1|1001|1.2.3.45|30|2|12.5"), badField, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log(kError | kAppSpecific4);
        ManualClock t;
        RecordingSink s(t);
        OrvaneParser p(s, t.clock());

        const Call result = call(p, c.bytes);
        EXPECT_EQ(result.result, 0U);
        EXPECT_EQ(result.consumed, c.bytes.size());
        EXPECT_TRUE(s.records.empty());
        EXPECT_EQ(p.receiveState(), ReceiveState::StartOfText);
        EXPECT_EQ(p.bufferedLength(), 0U);
        EXPECT_EQ(s.events,
                  c.acknowledged ? std::vector<std::string>{"ack at 10 ms"} : std::vector<std::string>{});

        const auto records = log.collect();
        Logged seen;
        for (const auto& r : records) {
            seen.emplace_back(r.verbosity, r.message);
        }
        EXPECT_EQ(seen, c.logged);
        ASSERT_GE(records.size(), 2U);
        EXPECT_EQ(records.back().context, L"OrvaneParser::parseIOBuffer");
        EXPECT_EQ(records.front().context,
                  records.size() > 2 ? L"OrvaneParser::processBuffer" : L"OrvaneParser::parseIOBuffer");
    }
}

TEST_F(OrvaneParserTest, TerminateAbandonsTheCall) {
    test::LogCapture log(0x0002);
    wyr::windows::system::Event terminate(wyr::windows::system::Event::Reset::Manual);
    const Bytes bytes = sentence(kReading);
    EXPECT_EQ(call(bytes, &terminate).result, 0U);

    terminate.set();
    const Call c = call(bytes, &terminate);
    EXPECT_EQ(c.result, kMoreData);
    EXPECT_EQ(c.consumed, bytes.size());
    EXPECT_EQ(sink.records.size(), 1U);
    expectIdle();
    const auto abandoned = log.matching(L"Abandoning call.");
    ASSERT_EQ(abandoned.size(), 1U);
    EXPECT_EQ(abandoned[0].message, L"Abandoning call. [terminate] became signalled.");
    EXPECT_EQ(abandoned[0].context, L"OrvaneParser::parseIOBuffer");
}

TEST_F(OrvaneParserTest, OverlongSentenceIsDroppedAndReceiverResynchronises) {
    constexpr std::size_t kMax = OrvaneParser::MaximumSentenceLength;
    test::LogCapture log(0x0020);

    // A line that never sends ETX: the buffer stops at the bound, the rest is
    // noise until the next STX.
    const std::size_t garbage = 3000;
    const auto calls = feed(text("\x02") + Bytes(garbage, 'A') + sentence(kReading));
    EXPECT_EQ(calls.back().result, 0U);
    ASSERT_EQ(sink.records.size(), 1U);
    EXPECT_FLOAT_EQ(reading(0).reading1, 1.5F);
    expectIdle();
    const auto dropped = log.matching(L"Dropping");
    ASSERT_EQ(dropped.size(), 1U);
    EXPECT_EQ(dropped[0].message, L"Dropping a sentence longer than [1024] bytes; waiting for the next STX.");
    // STX and kMax - 1 bytes filled the buffer; every later 'A' was ignored.
    EXPECT_EQ(log.matching(L"Ignoring byte [0x41]").size(), garbage - (kMax - 1));

    // The bound is the whole sentence, STX to EOT; the same holds for a checksum
    // that never ends.
    const std::string head = "0003|1.5|2.5|3.5";
    const std::string longest = head + std::string(kMax - 5 - head.size(), '0');
    ASSERT_EQ(sentence(longest).size(), kMax);
    EXPECT_EQ(call(sentence(longest)).result, 0U);
    EXPECT_EQ(sink.records.size(), 2U);
    feed(sentence(longest + "0"));
    EXPECT_EQ(sink.records.size(), 2U);
    feed(text("\x02"
              "0003\x03") +
         Bytes(kMax, '4') + sentence(kReading));
    EXPECT_EQ(sink.records.size(), 3U);
    EXPECT_EQ(log.matching(L"Dropping").size(), 3U);
}

TEST(OrvaneParserFirmwareVersion, PacksUpToFourParts) {
    struct Case {
        const char* field;
        ErrorCode result;
        std::uint32_t version;
    };
    const std::vector<Case> cases{
        {"1.2.3.45", 0, 0x00B70021},
        {"1.2", 0, 0x00000021},
        {"7", 0, 0x00000007},
        {"15.255.3.16383", 0, 0xFFFF0FFF},
        {"16.256.4.16384", 0, 0x00000000}, // each part keeps only its low bits
        {"-1", 0, 0x0000000F},
        {"1.2.3.4.", 0, 0x00130021},
        {"1.2.3.4.5", 13, 0},
        {"...", 13, 0},
        {"99999999999", 13, 0},
        {"1.99999999999", 13, 0},
        {"1.2.3.4x5", 13, 0}, // text left after the fourth number
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        std::uint32_t version = 0xA5A5A5A5;
        EXPECT_EQ(OrvaneParser::parseFWVersion(c.field, version), c.result);
        if (c.result == 0) {
            EXPECT_EQ(version, c.version);
        }
    }
    EXPECT_EQ(OrvaneDeviceState::packFirmwareVersion(1, 2, 3, 45), 0x00B70021U);
}

TEST(OrvaneParserFirmwareVersion, LogsTheToken) {
    test::LogCapture log(0x0010);
    std::uint32_t version = 0;
    OrvaneParser::parseFWVersion("1.2", version);
    const auto records = log.collect();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].context, L"parseFWVersion");
    EXPECT_EQ(records[0].message, L"Token [1.2]");
}

TEST_F(OrvaneParserTest, MeasuredFrameRateFollowsTheLastHundredReadings) {
    const Bytes adc = sentence(kReading);
    const Bytes heartbeat = sentence(kHeartbeat);

    call(heartbeat); // before any reading: nothing measured
    EXPECT_TRUE(std::isnan(state(0).state.measuredFrameRate));

    // The heartbeat started the clock: the first reading measures from it.
    time.advanceMs(50.0);
    call(adc);
    ASSERT_EQ(parser.intervals().size(), 1U);
    EXPECT_DOUBLE_EQ(parser.intervals().back(), 50.0);

    for (int i = 0; i < 60; ++i) {
        time.advanceMs(10.0);
        call(adc);
    }
    for (int i = 0; i < 100; ++i) {
        time.advanceMs(33.3);
        call(adc);
    }
    ASSERT_EQ(parser.intervals().size(), OrvaneParser::IntervalWindowSize);
    call(heartbeat);
    const auto& hb = state(sink.records.size() - 1);
    EXPECT_NEAR(hb.state.measuredFrameRate, 30.03, 0.005);

    // A reading with a field missing still counts as an arrival.
    time.advanceMs(33.3);
    feed(sentence("0003|1.5|2.5"));
    EXPECT_EQ(parser.intervals().size(), OrvaneParser::IntervalWindowSize);
    EXPECT_NEAR(parser.intervals().back(), 33.3, 1e-9);
}

TEST_F(OrvaneParserTest, FirstReadingRecordsZeroAndGivesNoRate) {
    call(sentence(kReading));
    ASSERT_EQ(parser.intervals().size(), 1U);
    EXPECT_EQ(parser.intervals().front(), 0.0);
    // One zero interval is no measurement: the rate stays NaN, not infinite.
    call(sentence(kHeartbeat));
    EXPECT_TRUE(std::isnan(state(1).state.measuredFrameRate));

    time.advanceMs(40.0);
    call(sentence(kReading));
    call(sentence(kHeartbeat));
    EXPECT_DOUBLE_EQ(state(3).state.measuredFrameRate, 1000.0 / 20.0); // mean of 0 and 40
}
