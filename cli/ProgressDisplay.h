#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace cli {

// Shows how far a long step got: on a terminal one line redrawn in place, a bar
// with the step's text; elsewhere (a pipe, a file) plain lines that a log of the
// run reads in order: the step's first report, then one for each tenth of the
// step reached (and a report that goes back, as when a page is written again),
// so that a step of thousands of parts takes about ten lines.
class ProgressDisplay {
public:
    static constexpr int kBarWidth = 30;

    ProgressDisplay(std::ostream& out, bool bar) : _out(out), _bar(bar) {}
    ~ProgressDisplay() { finish(); }
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    // A step begins: its title ("Writing Target") and how many parts it has.
    void begin(const std::string& title, std::uint32_t total);
    // One more part done: the step's text for it ("Writing flash block 3 of 24").
    void update(const std::string& text, std::uint32_t current);
    // The step ended; a bar keeps its last state on its own line.
    void finish();
    // A line of its own, after any bar.
    void line(const std::string& text);

    bool bar() const noexcept { return _bar; }

private:
    void draw(const std::string& text, std::uint32_t current);

    std::ostream& _out;
    const bool _bar;
    bool _open = false; // a bar is drawn and its line not yet ended
    std::uint32_t _total = 0;
    int _tenth = -1; // of the step, in the last plain line; -1 before the first
};

} // namespace cli
