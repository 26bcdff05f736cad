#include "device/OrvaneParser.h"

#include "device/FramingCharacter.h"
#include "device/OrvaneMessageType.h"
#include "device/ReceiveState.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/Event.h"
#include "wyr/windows/system/TextConversion.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>

namespace device {

using namespace wyr::windows::system;
using wyr::windows::logging::log;
using wyr::windows::logging::logEnabled;
using wyr::windows::logging::logSystemError;
using wyr::windows::logging::LogVerbosity;
using wyr::windows::logging::trace;

namespace {

constexpr char kStx = '\x02';
constexpr char kEtx = '\x03';
constexpr char kEot = '\x04';

bool isSpace(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A decimal number as the C library reads one into a 32-bit long: leading white
// space and a sign allowed. `stop` is where reading ended (the start when there
// were no digits, then the value is 0). False on a range error.
bool readInteger(std::string_view text, std::int32_t& value, std::size_t& stop) noexcept {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digits = i;
    std::int64_t magnitude = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (!overflow) {
            magnitude = magnitude * 10 + (text[i] - '0');
            overflow = magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
        }
    }
    if (i == digits) {
        value = 0;
        stop = 0;
        return true;
    }
    stop = i;
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (overflow || signedValue > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

// A whole field as a decimal number.
bool toInteger(std::string_view field, std::int32_t& value) noexcept {
    std::size_t stop = 0;
    return readInteger(field, value, stop) && stop == field.size() && !field.empty();
}

// A whole field as a 32-bit float, independent of the process locale.
bool toFloat(std::string_view field, float& value) noexcept {
    std::size_t i = 0;
    while (i < field.size() && isSpace(field[i])) {
        ++i;
    }
    if (i + 1 < field.size() && field[i] == '+' && field[i + 1] != '-' && field[i + 1] != '+') {
        ++i;
    }
    const char* first = field.data() + i;
    const char* last = field.data() + field.size();
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && first != last;
}

// Splits at the separator; empty fields are dropped, so adjacent separators count
// as one. Keeps the first `kept.size()` fields and returns how many there are.
template <std::size_t N>
std::size_t split(std::string_view text, char separator, std::array<std::string_view, N>& kept) noexcept {
    std::size_t count = 0;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(separator, begin);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > begin) {
            if (count < N) {
                kept[count] = text.substr(begin, end - begin);
            }
            ++count;
        }
        begin = end + 1;
    }
    return count;
}

// The checksum digits as a base-16 number, up to the first non-digit.
std::uint32_t hexValue(std::string_view text) noexcept {
    std::uint32_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else {
            break;
        }
        value = value * 16 + digit;
    }
    return value;
}

std::int32_t xorOfSignedBytes(std::string_view payload) noexcept {
    std::int32_t sum = 0;
    for (const char c : payload) {
        sum ^= static_cast<std::int32_t>(static_cast<signed char>(c));
    }
    return sum;
}

// "<STX>payload<ETX>XX<EOT>", as the sentence is shown in the log, into `text`
// (kept by the caller so that its storage is reused).
void render(std::string_view payload, std::uint32_t passed, std::wstring& text) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    text.assign(L"<STX>");
    bool ascii = true;
    for (const char c : payload) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii) {
        text.append(payload.begin(), payload.end());
    } else {
        text += toWide(payload);
    }
    text += L"<ETX>";
    // "%02X" of a value that two checksum digits hold, so at most 0xFF.
    text += kDigits[(passed >> 4) & 0xF];
    text += kDigits[passed & 0xF];
    text += L"<EOT>";
}

// Logged at Error and, for the application's own listeners, again at App Specific 4.
template <typename... Args> void logRejected(const char* context, const wchar_t* format, Args... args) {
    log(LogVerbosity::Error, context, format, args...);
    log(LogVerbosity::AppSpecific4, context, format, args...);
}

} // namespace

OrvaneParser::Clock OrvaneParser::Clock::system() {
    using SteadyClock = std::chrono::steady_clock;
    Clock clock;
    clock.counter = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch())
            .count();
    };
    clock.frequency = 1'000'000'000;
    clock.now = [] { return SteadyClock::now(); };
    return clock;
}

OrvaneParser::OrvaneParser(IOrvaneSink& sink, Clock clock)
    : _sink(&sink), _clock(std::move(clock)), _frequency(_clock.frequency), _intervals(IntervalWindowSize),
      _state(&ReceiveState::StartOfText) {
    _buffer.reserve(MaximumSentenceLength);
}

double OrvaneParser::measuredFrameRate() const noexcept {
    double sum = 0.0;
    for (const double interval : _intervals) {
        sum += interval;
    }
    // With nothing measured yet (no interval, or only the first reading's 0.0)
    // there is no rate, rather than an infinite one.
    if (_intervals.empty() || sum == 0.0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return 1000.0 / (sum / static_cast<double>(_intervals.size()));
}

void OrvaneParser::dropOverlongSentence() {
    log(LogVerbosity::Warning, "OrvaneParser::parseIOBuffer",
        L"Dropping a sentence longer than [%u] bytes; waiting for the next STX.",
        static_cast<unsigned>(MaximumSentenceLength));
    _buffer.clear();
    _state = &ReceiveState::StartOfText;
}

ErrorCode OrvaneParser::parseIOBuffer(Event* terminate, const std::uint8_t* data, const std::uint32_t& length,
                                      std::uint32_t* consumed) {
    static constexpr const char* kContext = "OrvaneParser::parseIOBuffer";
    trace(kContext);

    std::uint32_t used = 0;
    const std::uint32_t size = data != nullptr ? length : 0;
    // Each call handles at most one sentence, so testing once per call is as
    // prompt as testing every byte and keeps the event's lock off the byte path.
    if (terminate != nullptr && terminate->isSignalled()) {
        log(LogVerbosity::DebugLevel2, kContext, L"Abandoning call. [terminate] became signalled.");
        used = size;
    }

    const char* const bytes = reinterpret_cast<const char*>(data);
    std::size_t i = used;
    while (i < size) {
        if (_state == &ReceiveState::StartOfText) {
            const char byte = bytes[i++];
            if (byte == kStx) {
                _buffer.assign(1, kStx);
                _state = &ReceiveState::EndOfText;
            } else {
                log(LogVerbosity::Warning, kContext, L"Ignoring byte [0x%02X]",
                    static_cast<unsigned>(static_cast<unsigned char>(byte)));
            }
            continue;
        }

        // Inside a sentence every byte is kept up to the character that ends this
        // part of it; the receive buffer never grows past the longest sentence.
        const bool inPayload = _state == &ReceiveState::EndOfText;
        const char terminator = inPayload ? kEtx : kEot;
        const std::size_t available = size - i;
        const std::size_t room = MaximumSentenceLength - _buffer.size();
        const auto* found =
            static_cast<const char*>(std::memchr(bytes + i, terminator, std::min(available, room)));
        if (found == nullptr) {
            if (available > room) {
                i += room;
                dropOverlongSentence(); // the byte that did not fit is looked at again
            } else {
                _buffer.append(bytes + i, available);
                i = size;
            }
            continue;
        }
        const std::size_t taken = static_cast<std::size_t>(found - (bytes + i)) + 1;
        _buffer.append(bytes + i, taken);
        i += taken;
        if (inPayload) {
            _state = &ReceiveState::EndOfTransmission;
            continue;
        }

        _state = &ReceiveState::StartOfText;
        const ErrorCode result = processBuffer();
        if (result != ERROR_SUCCESS) {
            log(LogVerbosity::Error, kContext, L"Failed to process buffer [%d]", static_cast<int>(result));
            logSystemError(result, kContext);
        }
        if (consumed != nullptr) {
            *consumed = static_cast<std::uint32_t>(i);
        }
        return ERROR_SUCCESS;
    }

    if (consumed != nullptr) {
        *consumed = size;
    }
    return ERROR_MORE_DATA;
}

ErrorCode OrvaneParser::processBuffer() {
    static constexpr const char* kContext = "OrvaneParser::processBuffer";
    trace(kContext);

    // The buffer holds STX, the payload, the first ETX, the checksum and the EOT
    // that completed it; it is empty again however this ends.
    struct ClearOnExit {
        std::string& buffer;
        ~ClearOnExit() { buffer.clear(); }
    } clear{_buffer};
    const std::string_view sentence(_buffer);
    const std::size_t etx = sentence.find(kEtx, 1);
    const std::string_view payload = sentence.substr(1, etx - 1);
    const std::string_view checksumText = sentence.substr(etx + 1, sentence.size() - etx - 2);

    if (checksumText.size() != 2) {
        logRejected(kContext, L"Invalid checksum, expected [2] bytes, got [%d]",
                    static_cast<int>(checksumText.size()));
        logSystemError(ERROR_INVALID_DATA, kContext);
        return ERROR_INVALID_DATA;
    }

    const std::uint32_t passed = hexValue(checksumText);
    const std::int32_t calculated = xorOfSignedBytes(payload);
    const bool mismatch = passed != static_cast<std::uint32_t>(calculated);

    if (logEnabled(LogVerbosity::Information) ||
        (mismatch && (logEnabled(LogVerbosity::Error) || logEnabled(LogVerbosity::AppSpecific4)))) {
        render(payload, passed, _rendering);
        log(LogVerbosity::Information, kContext, L"%ls", _rendering.c_str());
        if (mismatch) {
            logRejected(kContext, L"Invalid checksum, passed [%02X], calculated [%02X] with \"%ls\"", passed,
                        static_cast<std::uint32_t>(calculated), _rendering.c_str());
        }
    }
    if (mismatch) {
        logSystemError(ERROR_CRC, kContext);
        return ERROR_CRC;
    }

    Fields fields;
    fields.count = split(payload, FramingCharacter::Separator.character(), fields.text);

    const std::string_view code = fields.count > 0 ? fields.text[0] : std::string_view();
    const OrvaneMessageType* type = OrvaneMessageType::fromCode(code);
    if (type == nullptr) {
        if (logEnabled(LogVerbosity::Error) || logEnabled(LogVerbosity::AppSpecific4)) {
            logRejected(kContext, L"Unhandled message [%ls]", toWide(code).c_str());
        }
        return ERROR_INVALID_TOKEN;
    }
    log(LogVerbosity::Information, kContext, L"Message type received [%ls]", type->name().c_str());

    Record record;
    ErrorCode result = ERROR_SUCCESS;
    if (type == &OrvaneMessageType::ADCRead) {
        result = processADCMessage(fields, record);
    } else {
        if (type == &OrvaneMessageType::Heartbeat) {
            // Answered before the fields are checked: a malformed heartbeat is
            // still acknowledged. The pause is kept by the sink, not by blocking
            // here, so the readings behind the heartbeat are not held up by it.
            _sink->acknowledgeAt(_clock.now() + std::chrono::milliseconds(AcknowledgePauseMs));
        }
        result = processStateMessage(*type, fields, record);
    }
    if (record) {
        _sink->notify(record.release());
    }
    return result;
}

ErrorCode OrvaneParser::processStateMessage(const OrvaneMessageType& type, const Fields& fields,
                                            Record& record) {
    trace("OrvaneParser::processStateMessage");

    if (fields.count != type.fieldCount()) {
        return ERROR_INVALID_DATA;
    }
    auto* notification = new OrvaneStateNotification(type.notificationType());
    Record created(notification);
    OrvaneDeviceState& state = notification->state;
    state.measuredFrameRate = measuredFrameRate();

    if (_previousReading == 0) {
        _previousReading = _clock.counter();
    }

    std::int32_t serialNumber = 0;
    std::uint32_t firmwareVersion = 0;
    std::int32_t frameRate = 0;
    std::int32_t status = 0;
    float voltage = 0.0F;
    std::int32_t gain = 0;
    if (!toInteger(fields.text[2], serialNumber) ||
        parseFWVersion(fields.text[3], firmwareVersion) != ERROR_SUCCESS ||
        !toInteger(fields.text[4], frameRate) || !toInteger(fields.text[5], status) ||
        !toFloat(fields.text[6], voltage) || !toInteger(fields.text[7], gain)) {
        return ERROR_INVALID_DATA;
    }
    state.model.assign(fields.text[1]);
    state.serialNumber = serialNumber;
    state.firmwareVersion = firmwareVersion;
    state.frameRate = static_cast<std::uint8_t>(static_cast<std::uint32_t>(frameRate) & 0xFFU);
    state.flags = OrvaneDeviceState::flagsFromStatus(static_cast<std::uint32_t>(status));
    state.voltage = voltage;
    state.gain = gain;

    record = std::move(created);
    return ERROR_SUCCESS;
}

ErrorCode OrvaneParser::processADCMessage(const Fields& fields, Record& record) {
    trace("OrvaneParser::processADCMessage");

    _currentReading = _clock.counter();
    const double interval = _previousReading == 0 ? 0.0
                                                  : static_cast<double>(_currentReading - _previousReading) /
                                                        (static_cast<double>(_frequency) / 1000.0);
    _intervals.push_back(interval);
    _previousReading = _clock.counter();

    if (fields.count != OrvaneMessageType::ADCRead.fieldCount()) {
        return ERROR_INVALID_DATA;
    }
    float readings[3] = {};
    for (std::size_t k = 0; k < 3; ++k) {
        if (!toFloat(fields.text[k + 1], readings[k])) {
            return ERROR_INVALID_DATA;
        }
    }
    auto* notification = new OrvaneReadingNotification;
    notification->reading1 = readings[0];
    notification->reading2 = readings[1];
    notification->reading3 = readings[2];
    record.reset(notification);
    return ERROR_SUCCESS;
}

ErrorCode OrvaneParser::parseFWVersion(std::string_view field, std::uint32_t& version) {
    static constexpr const char* kContext = "parseFWVersion";
    if (logEnabled(LogVerbosity::Information)) {
        log(LogVerbosity::Information, kContext, L"Token [%ls]", toWide(field).c_str());
    }

    std::array<std::string_view, 4> parts{};
    const std::size_t count = split(field, '.', parts);
    if (count < 1 || count > parts.size()) {
        return ERROR_INVALID_DATA;
    }

    // Major, minor, release type, build: each number starts just after the
    // character that ended the previous one; missing ones stay 0.
    std::array<std::int32_t, 4> numbers{};
    std::size_t position = 0;
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        std::size_t stop = 0;
        const std::string_view rest = field.substr(position);
        if (!readInteger(rest, numbers[k], stop)) {
            return ERROR_INVALID_DATA;
        }
        position += stop;
        if (position >= field.size() || position + 1 >= field.size()) {
            break; // the end of the field, or only its final delimiter, was reached
        }
        if (k + 1 == numbers.size()) {
            return ERROR_INVALID_DATA; // more than four numbers' worth of text
        }
        position += 1;
    }
    version = OrvaneDeviceState::packFirmwareVersion(
        static_cast<std::uint32_t>(numbers[0]), static_cast<std::uint32_t>(numbers[1]),
        static_cast<std::uint32_t>(numbers[2]), static_cast<std::uint32_t>(numbers[3]));
    return ERROR_SUCCESS;
}

} // namespace device
