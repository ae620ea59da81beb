// The progress of a long run, for a person watching a terminal: one line on a stream, rewritten in
// place and erased when the work ends. It is shown only when the stream is a terminal and the work
// has gone on for half a second and looks like taking more than two, and rewritten at most ten
// times a second, so that it costs nothing measurable; it is never shown otherwise. Erasing
// overwrites the line with blanks and returns to its start, which every terminal understands.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace eqsim {

class ProgressLine {
  public:
    explicit ProgressLine(std::FILE* stream);

    // done: the share of the work completed, from 0 to 1. text(seconds_left) makes the line
    // (seconds_left is negative while nothing is done yet). Call as often as convenient.
    void update(double done, const std::function<std::string(double seconds_left)>& text);

    // Removes the line, if it is shown.
    void erase();

    // Whether the stream is a terminal, so that the line can ever be shown.
    bool on_terminal() const { return terminal_; }

  private:
    using Clock = std::chrono::steady_clock;

    // Writes text over the line, padded with blanks to cover a longer earlier text.
    void write(const std::string& text);

    std::FILE* stream_;
    bool terminal_;
    Clock::time_point start_;
    Clock::time_point last_write_;
    bool shown_ = false;
    std::size_t width_ = 0;
};

// "3 s", "2 min 5 s", "1 h 20 min": a time left, to the second below ten minutes.
std::string duration_text(double seconds);

}  // namespace eqsim
