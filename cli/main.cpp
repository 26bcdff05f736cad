#include "cli/OrvaneCtl.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv) {
    // A closed output (orvanectl monitor | head) is a failed write that a command
    // ends on, also when standard output is flushed at exit.
    std::signal(SIGPIPE, SIG_IGN);
    cli::OrvaneCtl ctl(std::cout, std::cerr);
    return ctl.run(std::vector<std::string>(argv + 1, argv + argc));
}
