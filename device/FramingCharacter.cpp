#include "device/FramingCharacter.h"

namespace device {

const FramingCharacter FramingCharacter::StartOfText{1, L"StartOfText", '\x02'};
const FramingCharacter FramingCharacter::EndOfText{2, L"EndOfText", '\x03'};
const FramingCharacter FramingCharacter::EndOfTransmission{3, L"EndOfTransmission", '\x04'};
const FramingCharacter FramingCharacter::Separator{4, L"Separator", '|'};

} // namespace device
