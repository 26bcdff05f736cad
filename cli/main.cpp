#include "cli/OrvaneCtl.h"

#include <iostream>

int main(int argc, char** argv) {
    cli::OrvaneCtl ctl(std::cout, std::cerr);
    return ctl.run(std::vector<std::string>(argv + 1, argv + argc));
}
