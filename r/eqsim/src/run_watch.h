// Watching a long run from R: the engine's progress callbacks (which run on R's thread) check for
// an interrupt a few times a second and update the caller's progress bar. No R error or interrupt
// ever jumps out of a callback, and so through engine code: each R call runs under
// R_ToplevelExec, which catches the jump, and the callback then returns false so that the engine
// stops and returns normally. The caller raises the R condition afterwards.
#pragma once

#include <chrono>

#include "cpp11/sexp.hpp"

namespace eqsim::r {

class RunWatch {
  public:
    // update: an R function of one number (the share of the run done, 0 to 1) that draws a
    // progress bar, or NULL for none. It must catch its own errors: a jump out of it can only be
    // an interrupt.
    explicit RunWatch(SEXP update);

    // Called by the engine's progress callback with the share done. False asks the engine to stop:
    // the user interrupted.
    bool poll(double done);

    bool interrupted() const { return interrupted_; }

  private:
    using Clock = std::chrono::steady_clock;

    Clock::time_point start_;
    Clock::time_point next_check_;
    Clock::time_point next_update_;
    cpp11::sexp fraction_;  // the argument of call_, rewritten before each update
    cpp11::sexp call_;      // update(fraction_), or NULL
    bool interrupted_ = false;
};

}  // namespace eqsim::r
