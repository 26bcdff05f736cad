#pragma once

#include "device/IOrvaneSink.h"
#include "device/OrvaneNotification.h"
#include "wyr/windows/system/SystemError.h"

#include <array>
#include <boost/circular_buffer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace wyr::windows::system {
class Event;
}

namespace device {

class OrvaneMessageType;
class ReceiveState;

// Turns the bytes read from the device into notifications: a three-state receiver
// cuts out one framed sentence at a time, checks its checksum, splits it into
// fields and builds the record of its message type, which goes to the sink. It
// answers every heartbeat by having the sink send ACK a fixed pause later, and
// measures how fast readings arrive.
//
// A value type: the serial I/O thread works on its own copy, which keeps the
// receive state, the partial sentence and the measurements between reads (and
// between connections).
class OrvaneParser {
public:
    // The performance counter and the time the ACK's due time is reckoned from,
    // replaceable so that a test can set the time.
    struct Clock {
        std::function<std::int64_t()> counter;
        std::int64_t frequency = 0; // counter ticks per second
        std::function<std::chrono::steady_clock::time_point()> now;

        static Clock system();
    };

    static constexpr std::size_t IntervalWindowSize = 100;
    // The instrument's sentences stay within 256 bytes; anything four times longer
    // is a line that lost its framing.
    static constexpr std::size_t MaximumSentenceLength = 1024;
    // The device expects the ACK no sooner than this after its heartbeat.
    static constexpr std::uint32_t AcknowledgePauseMs = 10;

    // The sink must outlive the parser and all its copies.
    explicit OrvaneParser(IOrvaneSink& sink, Clock clock = Clock::system());

    // Feeds bytes read from the port; handles at most one sentence per call.
    // Returns 0 when a complete sentence was consumed (valid or not), with
    // `consumed` just past its EOT; ERROR_MORE_DATA (234) when every byte was used
    // without completing one, or when `terminate` (may be null) is signalled.
    wyr::windows::system::ErrorCode parseIOBuffer(wyr::windows::system::Event* terminate,
                                                  const std::uint8_t* data, const std::uint32_t& length,
                                                  std::uint32_t* consumed);

    const ReceiveState& receiveState() const noexcept { return *_state; }
    std::size_t bufferedLength() const noexcept { return _buffer.size(); }
    // Milliseconds between consecutive readings, oldest first.
    const boost::circular_buffer<double>& intervals() const noexcept { return _intervals; }
    // 1000 over the mean interval; NaN while no time between readings was measured.
    double measuredFrameRate() const noexcept;

    // The packed version of a "major.minor.releaseType.build" field (1 to 4 parts).
    // 0, or ERROR_INVALID_DATA (13).
    static wyr::windows::system::ErrorCode parseFWVersion(std::string_view field, std::uint32_t& version);

private:
    static constexpr std::size_t MaximumFields = 8;

    using Record = std::unique_ptr<OrvaneNotification, OrvaneNotificationRelease>;

    struct Fields {
        std::array<std::string_view, MaximumFields> text{};
        std::size_t count = 0; // all fields, also those beyond the kept ones
    };

    wyr::windows::system::ErrorCode processBuffer();
    wyr::windows::system::ErrorCode processStateMessage(const OrvaneMessageType& type, const Fields& fields,
                                                        Record& record);
    wyr::windows::system::ErrorCode processADCMessage(const Fields& fields, Record& record);
    void dropOverlongSentence();

    IOrvaneSink* _sink;
    Clock _clock;
    std::int64_t _frequency;
    std::int64_t _previousReading = 0;
    std::int64_t _currentReading = 0;
    boost::circular_buffer<double> _intervals;
    const ReceiveState* _state;
    std::string _buffer;
    std::wstring _rendering; // the log's picture of the last sentence; storage reused
};

} // namespace device
