#include "wyr/windows/communication/BaudRate.h"

namespace wyr::windows::communication {

const BaudRate BaudRate::Baud110{110, L"110"};
const BaudRate BaudRate::Baud300{300, L"300"};
const BaudRate BaudRate::Baud600{600, L"600"};
const BaudRate BaudRate::Baud1200{1200, L"1200"};
const BaudRate BaudRate::Baud2400{2400, L"2400"};
const BaudRate BaudRate::Baud4800{4800, L"4800"};
const BaudRate BaudRate::Baud9600{9600, L"9600"};
const BaudRate BaudRate::Baud14400{14400, L"14400"};
const BaudRate BaudRate::Baud19200{19200, L"19200"};
const BaudRate BaudRate::Baud38400{38400, L"38400"};
const BaudRate BaudRate::Baud56000{56000, L"56000"};
const BaudRate BaudRate::Baud57600{57600, L"57600"};
const BaudRate BaudRate::Baud115200{115200, L"115200"};
const BaudRate BaudRate::Baud128000{128000, L"128000"};
const BaudRate BaudRate::Baud256000{256000, L"256000"};

const BaudRate::Registry& BaudRate::registry() {
    return NamedEnum::registry();
}

const BaudRate* BaudRate::fromValue(int value) {
    return NamedEnum::fromValue(value);
}

} // namespace wyr::windows::communication
