#include "device/OrvaneScanPhase.h"

namespace device {

const OrvaneScanPhase OrvaneScanPhase::NotifyScanBegin{1, L"NotifyScanBegin"};
const OrvaneScanPhase OrvaneScanPhase::NotifyScanPort{2, L"NotifyScanPort"};
const OrvaneScanPhase OrvaneScanPhase::NotifyScanResult{3, L"NotifyScanResult"};

} // namespace device
