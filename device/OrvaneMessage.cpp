#include "device/OrvaneMessage.h"

#include "device/FramingCharacter.h"
#include "wyr/windows/logging/Log.h"
#include "wyr/windows/system/TextConversion.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace device {

using wyr::windows::logging::LogVerbosity;

const OrvaneMessage OrvaneMessage::INTERROGATE{1, L"INTERROGATE", "1"};
const OrvaneMessage OrvaneMessage::START_STREAMING{2, L"START_STREAMING", "2"};
const OrvaneMessage OrvaneMessage::STOP_STREAMING{3, L"STOP_STREAMING", "3"};
const OrvaneMessage OrvaneMessage::SET_GAIN{4, L"SET_GAIN", "4<SEP>%04u"};
const OrvaneMessage OrvaneMessage::SET_FRAME_RATE{5, L"SET_FRAME_RATE", "5<SEP>%02u"};
const OrvaneMessage OrvaneMessage::RESET{6, L"RESET", "7"};
const OrvaneMessage OrvaneMessage::BOOTLOAD{7, L"BOOTLOAD", "Z"};
const OrvaneMessage OrvaneMessage::ACK{8, L"ACK", "\x06"};
const OrvaneMessage OrvaneMessage::NAK{9, L"NAK", "\x15"};

OrvaneMessage::OrvaneMessage(int id, std::wstring name, std::string_view templateText)
    : NamedEnum(id, std::move(name)), _formatLength(static_cast<std::uint32_t>(templateText.size() + 1)),
      _format(new char[templateText.size() + 1]) {
    std::memcpy(_format.get(), templateText.data(), templateText.size());
    _format[templateText.size()] = '\n'; // where the template's NUL was
}

std::int32_t OrvaneMessage::checksum(std::string_view payload) noexcept {
    std::int32_t sum = 0;
    for (const char c : payload) {
        sum ^= static_cast<std::int32_t>(static_cast<signed char>(c));
    }
    return sum;
}

std::vector<std::uint8_t>& OrvaneMessage::composeWith(std::vector<std::uint8_t>& out,
                                                      const OrvaneMessage& message,
                                                      std::array<std::uint32_t, kMaximumArguments> args) {
    std::string working(message.format());

    static constexpr std::string_view kSep = "<SEP>";
    const std::string separator(1, FramingCharacter::Separator.character());
    for (auto pos = working.find(kSep); pos != std::string::npos; pos = working.find(kSep, pos + 1)) {
        working.replace(pos, kSep.size(), separator);
    }

    // The templates are fixed in this file and consume at most one argument; the
    // others are passed only so that a template can never read past the list.
    const int measured = std::snprintf(nullptr, 0, working.c_str(), args[0], args[1], args[2], args[3]);
    const auto length = static_cast<std::size_t>(measured > 0 ? measured : 0);
    std::string formatted(length + 1, '\0');
    std::snprintf(formatted.data(), formatted.size(), working.c_str(), args[0], args[1], args[2], args[3]);

    // Everything but the trailing line feed.
    const std::string_view payload(formatted.data(), length > 0 ? length - 1 : 0);

    char checksumText[16] = {};
    std::snprintf(checksumText, sizeof checksumText, "%02X", static_cast<unsigned>(checksum(payload)));

    out.clear();
    out.reserve(payload.size() + 6);
    out.push_back(static_cast<std::uint8_t>(FramingCharacter::StartOfText.character()));
    out.insert(out.end(), payload.begin(), payload.end());
    out.push_back(static_cast<std::uint8_t>(FramingCharacter::EndOfText.character()));
    out.push_back(static_cast<std::uint8_t>(checksumText[0]));
    out.push_back(static_cast<std::uint8_t>(checksumText[1]));
    out.push_back(static_cast<std::uint8_t>(FramingCharacter::EndOfTransmission.character()));
    out.push_back(static_cast<std::uint8_t>(CarriageReturn));

    if (wyr::windows::logging::logEnabled(LogVerbosity::Information)) {
        std::string rendering = "<STX>";
        rendering.append(payload);
        rendering += "<ETX>";
        rendering.append(checksumText, 2);
        rendering += "<EOT><CR>";
        wyr::windows::logging::log(LogVerbosity::Information, "OrvaneMessage::compose", L"[%ls] %ls",
                                   message.name().c_str(), wyr::windows::system::toWide(rendering).c_str());
    }
    return out;
}

} // namespace device
