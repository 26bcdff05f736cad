#pragma once

#include "wyr/NamedEnum.h"

#include <cstdint>
#include <string>

namespace bootloader {

// The first byte of every bootloader response.
class ResponseCode : public wyr::NamedEnum<ResponseCode> {
public:
    static const ResponseCode Ok;
    static const ResponseCode AppMode;
    static const ResponseCode BootloadMode;
    static const ResponseCode SignatureNotErased;
    static const ResponseCode AddressInvalid;
    static const ResponseCode UnsupportedCommand;
    static const ResponseCode InvalidParameter;
    static const ResponseCode Error;
    static const ResponseCode Unrecognized;

    // The code a received byte stands for; a byte outside the table is Unrecognized.
    static const ResponseCode& fromByte(std::uint8_t byte);

private:
    ResponseCode(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace bootloader
