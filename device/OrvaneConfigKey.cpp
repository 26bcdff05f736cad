#include "device/OrvaneConfigKey.h"

namespace device {

const OrvaneConfigKey OrvaneConfigKey::CommandAckTimeout{1, L"CommandAckTimeout", L"1|2", GroupLink, false};
const OrvaneConfigKey OrvaneConfigKey::WatchDogTimeout{3, L"WatchDogTimeout", L"1|5", GroupLink, false};
const OrvaneConfigKey OrvaneConfigKey::MaxMessageLen{4, L"MaxMessageLen", L"1|256", GroupLink, false};
const OrvaneConfigKey OrvaneConfigKey::FrameRateLimits{5, L"FrameRateLimits", L"1|8200", GroupLink, false};
const OrvaneConfigKey OrvaneConfigKey::SerialPortNumber{6, L"Serial.PortNumber", L"1|1", GroupPort, false};
const OrvaneConfigKey OrvaneConfigKey::SerialBaudRate{7, L"Serial.BaudRate", L"1|9600", GroupPort, false};
const OrvaneConfigKey OrvaneConfigKey::SerialDataBits{8, L"Serial.DataBits", L"1|8", GroupPort, false};
const OrvaneConfigKey OrvaneConfigKey::SerialParity{9, L"Serial.Parity", L"1|0", GroupPort, false};
const OrvaneConfigKey OrvaneConfigKey::SerialStopBits{10, L"Serial.StopBits", L"1|0", GroupPort, false};
const OrvaneConfigKey OrvaneConfigKey::SerialFlowControl{11, L"Serial.FlowControl", L"1|1", GroupPort, false};
const OrvaneConfigKey OrvaneConfigKey::SerialWaitTimeout{12, L"Serial.WaitTimeout", L"1|1000", GroupLink,
                                                         false};
const OrvaneConfigKey OrvaneConfigKey::SerialReadTimeout{13, L"Serial.ReadTimeout", L"1|2000", GroupLink,
                                                         false};

const OrvaneConfigKey::Registry& OrvaneConfigKey::registry() {
    return NamedEnum::registry();
}

const OrvaneConfigKey* OrvaneConfigKey::fromValue(int id) {
    return NamedEnum::fromValue(id);
}

} // namespace device
