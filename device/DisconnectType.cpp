#include "device/DisconnectType.h"

namespace device {

const DisconnectType DisconnectType::Normal{1, L"Normal"};
const DisconnectType DisconnectType::Abnormal{2, L"Abnormal"};

} // namespace device
