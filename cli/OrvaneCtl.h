#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// The command-line front end. Its commands grow with the system; each returns the
// process exit code and writes to the streams it is given.
class OrvaneCtl {
public:
    OrvaneCtl(std::ostream& out, std::ostream& err) : _out(out), _err(err) {}

    int run(const std::vector<std::string>& args);

private:
    int usage(int exitCode);
    int compose(const std::vector<std::string>& args);
    int explainError(const std::vector<std::string>& args);

    std::ostream& _out;
    std::ostream& _err;
};

} // namespace cli
