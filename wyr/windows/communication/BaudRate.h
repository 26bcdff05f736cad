#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::communication {

// The line speeds offered to the user, in bits per second; the value is the rate itself.
class BaudRate : public NamedEnum<BaudRate> {
public:
    static const BaudRate Baud110;
    static const BaudRate Baud300;
    static const BaudRate Baud600;
    static const BaudRate Baud1200;
    static const BaudRate Baud2400;
    static const BaudRate Baud4800;
    static const BaudRate Baud9600;
    static const BaudRate Baud14400;
    static const BaudRate Baud19200;
    static const BaudRate Baud38400;
    static const BaudRate Baud56000;
    static const BaudRate Baud57600;
    static const BaudRate Baud115200;
    static const BaudRate Baud128000;
    static const BaudRate Baud256000;

    // Defined beside the enumerators, so that whoever lists or looks them up also
    // links them in and finds the registry filled.
    static const Registry& registry();
    static const BaudRate* fromValue(int value);

private:
    BaudRate(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::communication
