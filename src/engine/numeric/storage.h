// Working storage that may run out: the one place where the library turns an exhausted heap into
// a failure its callers can test, and the check that an array holds the values its count names.
#pragma once

#include <new>
#include <span>
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

// True when values holds at least count entries and count is at least 1.
inline bool holds(std::span<const double> values, int count) {
    return count >= 1 && values.size() >= static_cast<std::size_t>(count);
}

}  // namespace eqsim
