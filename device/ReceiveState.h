#pragma once

#include "wyr/NamedEnum.h"

namespace device {

// Where the sentence receiver stands: named after the framing character it waits for.
class ReceiveState : public wyr::NamedEnum<ReceiveState> {
public:
    static const ReceiveState StartOfText;       // between sentences, waiting for STX
    static const ReceiveState EndOfText;         // inside the payload, waiting for ETX
    static const ReceiveState EndOfTransmission; // inside the checksum, waiting for EOT

    ReceiveState(const ReceiveState&) = delete;
    ReceiveState& operator=(const ReceiveState&) = delete;
    ~ReceiveState() = default;

private:
    ReceiveState(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace device
