#include "run_watch.h"

#include <Rinternals.h>

namespace eqsim::r {

namespace {

// How often the callback looks for an interrupt; a replication takes tens of microseconds, and
// the clock costs far less, so Ctrl-C is answered within this time.
constexpr std::chrono::milliseconds kCheckInterval{100};
// A run shorter than this shows no bar; a longer one redraws it at this interval.
constexpr std::chrono::milliseconds kQuietStart{1000};
constexpr std::chrono::milliseconds kUpdateInterval{250};

// Run under R_ToplevelExec: a jump out of these ends there, not in the engine's frames. They hold
// no C++ objects that would need destroying.
void check_interrupt(void*) {
    R_CheckUserInterrupt();
}

void evaluate(void* call) {
    Rf_eval(static_cast<SEXP>(call), R_GlobalEnv);
}

}  // namespace

RunWatch::RunWatch(SEXP update) : start_(Clock::now()) {
    next_check_ = start_ + kCheckInterval;
    next_update_ = start_ + kQuietStart;
    if (update != R_NilValue) {
        fraction_ = Rf_ScalarReal(0.0);
        call_ = Rf_lang2(update, fraction_);
    }
}

bool RunWatch::poll(double done) {
    const Clock::time_point now = Clock::now();
    if (now < next_check_) {
        return true;
    }
    next_check_ = now + kCheckInterval;
    if (!R_ToplevelExec(check_interrupt, nullptr)) {
        interrupted_ = true;
        return false;
    }
    if (call_ != R_NilValue && now >= next_update_) {
        next_update_ = now + kUpdateInterval;
        REAL(fraction_)[0] = done;
        if (!R_ToplevelExec(evaluate, static_cast<void*>(call_))) {
            interrupted_ = true;
            return false;
        }
    }
    return true;
}

}  // namespace eqsim::r
