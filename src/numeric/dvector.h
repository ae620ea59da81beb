// Vectors of doubles over a caller-chosen inclusive index range (low may be negative or above 0),
// the storage of the spline smoothing code, and the fatal report that ends the program when that
// code cannot get storage.
#pragma once

#include <cstddef>
#include <memory>

namespace eqsim {

// Owns one block of doubles addressed by index low..high, with one spare element in front of
// element low. Released when the vector goes out of scope, or earlier by release_dvector, so no
// path can leak it. Moves, never copies.
class DVector {
  public:
    DVector() noexcept = default;

    double& operator[](int i) noexcept { return block_[offset(i)]; }
    const double& operator[](int i) const noexcept { return block_[offset(i)]; }

    int low() const noexcept { return low_; }
    int high() const noexcept { return high_; }
    bool empty() const noexcept { return block_ == nullptr; }

  private:
    friend DVector dvector(int low, int high) noexcept;
    friend void release_dvector(DVector& vector, int low, int high) noexcept;

    std::ptrdiff_t offset(int i) const noexcept {
        return static_cast<std::ptrdiff_t>(i) - low_ + 1;
    }

    std::unique_ptr<double[]> block_;
    int low_ = 0;
    int high_ = -1;
};

// A vector valid for indices low..high, every element 0. When the storage cannot be had the
// program ends through numeric_fatal_error; the caller never sees a failure. A range with high
// more than one below low describes no block and ends the program the same way.
DVector dvector(int low, int high) noexcept;

// Gives the block back now rather than at the end of its scope; low is the creation low, high is
// not needed. The vector is empty afterwards.
void release_dvector(DVector& vector, int low, int high) noexcept;

// Writes the three-line report to standard error and ends the process with status 1 through
// std::exit, so that exit handlers run.
[[noreturn]] void numeric_fatal_error(const char* message) noexcept;

}  // namespace eqsim
