#pragma once

namespace app {

// The program's version, major.minor.revision from the project's version and the
// build number the build was given (ORVANE_BUILD_NUMBER, 0 by default).
struct ProgramVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned revision = 0;
    unsigned build = 0;

    static ProgramVersion current();
};

} // namespace app
