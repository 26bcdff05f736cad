#include "app/ProgramVersion.h"

namespace app {

ProgramVersion ProgramVersion::current() {
    return {ORVANE_VERSION_MAJOR, ORVANE_VERSION_MINOR, ORVANE_VERSION_PATCH, ORVANE_BUILD_NUMBER};
}

} // namespace app
