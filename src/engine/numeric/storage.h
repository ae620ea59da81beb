// Working storage that may run out: the one place where the library turns an exhausted heap into
// a failure its callers can test.
#pragma once

#include <new>
#include <stdexcept>

namespace eqsim {

// Runs work, which takes storage and returns true when it succeeded. False when work failed or
// storage ran out on the way; nothing is thrown.
template <typename Work>
bool with_storage(Work&& work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

}  // namespace eqsim
