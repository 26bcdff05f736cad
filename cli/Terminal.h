#pragma once

namespace cli {

// What a command may write to a descriptor besides plain lines. A terminal that
// calls itself dumb (TERM=dumb) takes neither cursor movements nor colours, and
// NO_COLOR set to anything but the empty string turns colours off everywhere.
class Terminal {
public:
    // A terminal that redraws a line in place.
    static bool isTerminal(int descriptor);
    // A terminal that may also be written in colour.
    static bool colours(int descriptor);
};

} // namespace cli
