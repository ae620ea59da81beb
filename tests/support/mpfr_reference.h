// The reference the tests of cr_exp and cr_log compare against: MPFR's correctly rounded exp and
// log at 53 bits, with double's exponent range so that subnormal results round as doubles do,
// and the relative error of a double-double approximation measured at 300 bits.
#pragma once

#include <mpfr.h>

#include <bit>
#include <cstdint>

namespace eqsim::testing {

enum class Function { exp, log };

class MpfrReference {
  public:
    MpfrReference() {
        mpfr_set_emin(-1073);  // 2^-1074 = 0.5 * 2^-1073, the least subnormal
        mpfr_set_emax(1024);
        mpfr_inits2(53, argument_, result_, static_cast<mpfr_ptr>(nullptr));
        mpfr_inits2(300, exact_, approximation_, static_cast<mpfr_ptr>(nullptr));
    }
    ~MpfrReference() {
        mpfr_clears(argument_, result_, exact_, approximation_, static_cast<mpfr_ptr>(nullptr));
    }
    MpfrReference(const MpfrReference&) = delete;
    MpfrReference& operator=(const MpfrReference&) = delete;

    // f(x) rounded to the nearest double.
    double rounded(Function f, double x) {
        mpfr_set_d(argument_, x, MPFR_RNDN);
        int inexact = f == Function::exp ? mpfr_exp(result_, argument_, MPFR_RNDN)
                                         : mpfr_log(result_, argument_, MPFR_RNDN);
        inexact = mpfr_subnormalize(result_, inexact, MPFR_RNDN);
        return mpfr_get_d(result_, MPFR_RNDN);
    }

    // |(hi + lo) - f(x)| / |f(x)|, f(x) to 300 bits.
    double relative_error(Function f, double x, double hi, double lo) {
        mpfr_set_d(argument_, x, MPFR_RNDN);
        if (f == Function::exp) {
            mpfr_exp(exact_, argument_, MPFR_RNDN);
        } else {
            mpfr_log(exact_, argument_, MPFR_RNDN);
        }
        mpfr_set_d(approximation_, hi, MPFR_RNDN);
        mpfr_add_d(approximation_, approximation_, lo, MPFR_RNDN);
        mpfr_sub(approximation_, approximation_, exact_, MPFR_RNDN);
        mpfr_div(approximation_, approximation_, exact_, MPFR_RNDN);
        mpfr_abs(approximation_, approximation_, MPFR_RNDN);
        return mpfr_get_d(approximation_, MPFR_RNDU);
    }

  private:
    mpfr_t argument_;
    mpfr_t result_;
    mpfr_t exact_;
    mpfr_t approximation_;
};

// The same bits, or both NaN.
inline bool same_double(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (a != a && b != b);
}

// Deterministic arguments on every platform: bits from splitmix64.
class ArgumentStream {
  public:
    explicit ArgumentStream(std::uint64_t seed) : state_(seed) {}

    std::uint64_t bits() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    // Any double, NaNs and infinities included.
    double any() { return std::bit_cast<double>(bits()); }
    // Uniform on [low, high).
    double uniform(double low, double high) {
        return low + (high - low) * (static_cast<double>(bits() >> 11) * 0x1p-53);
    }

  private:
    std::uint64_t state_;
};

}  // namespace eqsim::testing
