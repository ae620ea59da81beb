// Vectors of doubles over a caller-chosen inclusive index range (low may be negative or above 0),
// the storage of the spline smoothing code, and the text of the report a program prints when that
// code cannot get storage.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace eqsim {

// Owns one block of doubles addressed by index low..high, with one spare element in front of
// element low. Released when the vector goes out of scope (or is assigned an empty one), so no
// path can leak it. Moves, never copies.
class DVector {
  public:
    DVector() noexcept = default;

    double& operator[](int i) noexcept { return block_[offset(i)]; }
    const double& operator[](int i) const noexcept { return block_[offset(i)]; }

    int low() const noexcept { return low_; }
    int high() const noexcept { return high_; }
    // True for a vector that holds no storage: never created, released, or not obtained.
    bool empty() const noexcept { return block_ == nullptr; }

  private:
    friend DVector dvector(int low, int high) noexcept;

    std::ptrdiff_t offset(int i) const noexcept {
        return static_cast<std::ptrdiff_t>(i) - low_ + 1;
    }

    std::unique_ptr<double[]> block_;
    int low_ = 0;
    int high_ = -1;
};

// The diagnostic of a vector that could not be had.
inline constexpr const char* kVectorStorageFailure = "allocation failure in dvector()";

// A vector valid for indices low..high, every element 0; empty() when the storage cannot be had
// or when high is more than one below low (a range that describes no block).
DVector dvector(int low, int high) noexcept;

// The three-line report that a program writes to standard error before it ends with status 1
// because the numerical code could not get storage; message is its middle line.
std::string numeric_fatal_error(const char* message);

}  // namespace eqsim
