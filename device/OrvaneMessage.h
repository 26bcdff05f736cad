#pragma once

#include "wyr/NamedEnum.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

namespace device {

// An outgoing command: its number, its name and the printf template of its payload,
// in which "<SEP>" stands for the field separator.
class OrvaneMessage : public wyr::NamedEnum<OrvaneMessage> {
public:
    static const OrvaneMessage INTERROGATE;
    static const OrvaneMessage START_STREAMING;
    static const OrvaneMessage STOP_STREAMING;
    static const OrvaneMessage SET_GAIN;
    static const OrvaneMessage SET_FRAME_RATE;
    static const OrvaneMessage RESET;
    static const OrvaneMessage BOOTLOAD;
    static const OrvaneMessage ACK;
    static const OrvaneMessage NAK;

    static constexpr char CarriageReturn = '\x0D';

    OrvaneMessage(const OrvaneMessage&) = delete;
    OrvaneMessage& operator=(const OrvaneMessage&) = delete;
    ~OrvaneMessage() = default;

    // The stored template: the template's bytes followed by a line feed, no NUL.
    std::string_view format() const noexcept { return {_format.get(), _formatLength}; }

    // Fills `out` with the framed sentence of `message` and returns it. The
    // arguments are the unsigned 32-bit values the template consumes (one for
    // SET_GAIN and SET_FRAME_RATE, none otherwise).
    template <typename... Args>
    static std::vector<std::uint8_t>& compose(std::vector<std::uint8_t>& out, const OrvaneMessage& message,
                                              Args... args) {
        static_assert(sizeof...(Args) <= kMaximumArguments, "no command takes more arguments");
        static_assert((std::is_convertible_v<Args, std::uint32_t> && ...), "command arguments are unsigned");
        return composeWith(out, message, {static_cast<std::uint32_t>(args)...});
    }

    // The checksum of a payload: the XOR of its bytes, each widened as a signed
    // 8-bit value, as the instrument computes it.
    static std::int32_t checksum(std::string_view payload) noexcept;

private:
    static constexpr std::size_t kMaximumArguments = 4;

    OrvaneMessage(int id, std::wstring name, std::string_view templateText);

    static std::vector<std::uint8_t>& composeWith(std::vector<std::uint8_t>& out,
                                                  const OrvaneMessage& message,
                                                  std::array<std::uint32_t, kMaximumArguments> args);

    std::uint32_t _formatLength;
    std::unique_ptr<char[]> _format;
};

} // namespace device
