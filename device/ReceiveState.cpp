#include "device/ReceiveState.h"

namespace device {

const ReceiveState ReceiveState::StartOfText{1, L"StartOfText"};
const ReceiveState ReceiveState::EndOfText{2, L"EndOfText"};
const ReceiveState ReceiveState::EndOfTransmission{3, L"EndOfTransmission"};

} // namespace device
