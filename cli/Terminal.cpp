#include "cli/Terminal.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace cli {

bool Terminal::isTerminal(int descriptor) {
    const char* term = std::getenv("TERM");
    return ::isatty(descriptor) == 1 && (term == nullptr || std::strcmp(term, "dumb") != 0);
}

bool Terminal::colours(int descriptor) {
    const char* noColour = std::getenv("NO_COLOR");
    return isTerminal(descriptor) && (noColour == nullptr || noColour[0] == '\0');
}

} // namespace cli
