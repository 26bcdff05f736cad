#include "bootloader/ResponseCode.h"

namespace bootloader {

const ResponseCode ResponseCode::Ok{0x00, L"OK"};
const ResponseCode ResponseCode::AppMode{0x01, L"App Mode"};
const ResponseCode ResponseCode::BootloadMode{0x02, L"Bootload Mode"};
const ResponseCode ResponseCode::SignatureNotErased{0x03, L"Signature Not Erased"};
const ResponseCode ResponseCode::AddressInvalid{0x04, L"Address Invalid"};
const ResponseCode ResponseCode::UnsupportedCommand{0x05, L"Unsupported Command"};
const ResponseCode ResponseCode::InvalidParameter{0x06, L"Invalid Parameter"};
const ResponseCode ResponseCode::Error{0x80, L"ERROR"};
const ResponseCode ResponseCode::Unrecognized{0xFF, L"Unrecognized Response"};

const ResponseCode& ResponseCode::fromByte(std::uint8_t byte) {
    const ResponseCode* code = fromValue(byte);
    return code != nullptr ? *code : Unrecognized;
}

} // namespace bootloader
