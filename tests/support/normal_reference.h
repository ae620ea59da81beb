// The reference the tests of normal_cdf, normal_pdf and gaussian compare against, from MPFR at
// 128 bits:
//   phi(z) = e^(-z^2/2) / sqrt(2 pi);
//   Phi(z) = erfc(-z / sqrt 2) / 2 (MPFR's erfc), or, for |z| >= 5 where MPFR's erfc is slow
//   (up to half a millisecond a call near 15), through Laplace's continued fraction for Mills'
//   ratio, Q(x) = phi(x) / (x + 1/(x + 2/(x + 3/(x + ...)))), cut at depth n = 8 + 330/x,
//   whose truncation error is below 2^-104 of Q (found with mpmath: depths of 73, 30, 17 and 12
//   suffice at 5, 10, 20 and 38.6; the quick test checks the two routes against each other).
// Values are rounded to double once, subnormals included; the rounding is correct unless the
// exact value lies within about 2^-100 (relative) of a midpoint between doubles.
#pragma once

#include <mpfr.h>

#include <bit>
#include <cstdint>
#include <cstdlib>

namespace eqsim::testing {

class NormalReference {
  public:
    enum class Route { erfc, continued_fraction };

    NormalReference() {
        // Other tests narrow the exponent range to double's; the continued fraction's
        // intermediate values need MPFR's own.
        mpfr_set_emin(mpfr_get_emin_min());
        mpfr_set_emax(mpfr_get_emax_max());
        mpfr_inits2(kPrecision, value_, argument_, work_, sqrt2_, sqrt2pi_, gaussian_,
                    static_cast<mpfr_ptr>(nullptr));
        mpfr_sqrt_ui(sqrt2_, 2, MPFR_RNDN);
        mpfr_const_pi(sqrt2pi_, MPFR_RNDN);
        mpfr_mul_2ui(sqrt2pi_, sqrt2pi_, 1, MPFR_RNDN);
        mpfr_sqrt(sqrt2pi_, sqrt2pi_, MPFR_RNDN);
    }
    ~NormalReference() {
        mpfr_clears(value_, argument_, work_, sqrt2_, sqrt2pi_, gaussian_,
                    static_cast<mpfr_ptr>(nullptr));
    }
    NormalReference(const NormalReference&) = delete;
    NormalReference& operator=(const NormalReference&) = delete;

    // e^(-z^2/2), phi(z) or Phi(z) at 128 bits into value(); finite z only. The Gaussian of the
    // last |z| is kept, so that the three functions of one argument take one exponential.
    void gaussian(double z) {
        const double x = z < 0 ? -z : z;
        if (x != gaussian_of_) {
            mpfr_set_d(gaussian_, x, MPFR_RNDN);
            mpfr_sqr(gaussian_, gaussian_, MPFR_RNDN);
            mpfr_div_2ui(gaussian_, gaussian_, 1, MPFR_RNDN);
            mpfr_neg(gaussian_, gaussian_, MPFR_RNDN);
            mpfr_exp(gaussian_, gaussian_, MPFR_RNDN);
            gaussian_of_ = x;
        }
        mpfr_set(value_, gaussian_, MPFR_RNDN);
    }
    void pdf(double z) {
        gaussian(z);
        mpfr_div(value_, value_, sqrt2pi_, MPFR_RNDN);
    }
    void cdf(double z, Route route) {
        const double x = z < 0 ? -z : z;
        if (route == Route::erfc) {
            mpfr_set_d(argument_, -z, MPFR_RNDN);
            mpfr_div(argument_, argument_, sqrt2_, MPFR_RNDN);
            mpfr_erfc(value_, argument_, MPFR_RNDN);
            mpfr_div_2ui(value_, value_, 1, MPFR_RNDN);
            return;
        }
        // t = x + n/(x + (n+1)/(...)), from the deepest level up; Q = phi(x) / t.
        mpfr_set_d(argument_, x, MPFR_RNDN);
        mpfr_set(work_, argument_, MPFR_RNDN);
        const auto depth = static_cast<unsigned long>(8.0 + 330.0 / x);
        for (unsigned long n = depth; n >= 1; --n) {
            mpfr_ui_div(work_, n, work_, MPFR_RNDN);
            mpfr_add(work_, work_, argument_, MPFR_RNDN);
        }
        pdf(x);
        mpfr_div(value_, value_, work_, MPFR_RNDN);
        if (z > 0) {
            mpfr_ui_sub(value_, 1, value_, MPFR_RNDN);
        }
    }
    // The fast route where it applies.
    void cdf(double z) { cdf(z, z <= -5.0 || z >= 5.0 ? Route::continued_fraction : Route::erfc); }

    const mpfr_t& value() const { return value_; }

    // value() rounded to the nearest double (ties to even), subnormals on their grid.
    double rounded() {
        if (mpfr_zero_p(value_)) {
            return 0.0;
        }
        if (mpfr_get_exp(value_) - 1 >= -1022) {
            return mpfr_get_d(value_, MPFR_RNDN);
        }
        mpfr_mul_2ui(work_, value_, 1074, MPFR_RNDN);
        mpfr_rint(work_, work_, MPFR_RNDN);
        return mpfr_get_d(work_, MPFR_RNDN) * 0x1p-1074;
    }

    // |got - value()| in ulps of value() (2^-1074 below 2^-1022).
    double error_in_ulps(double got) {
        int exponent = -1021;
        if (!mpfr_zero_p(value_) && mpfr_get_exp(value_) > exponent) {
            exponent = static_cast<int>(mpfr_get_exp(value_));
        }
        mpfr_sub_d(work_, value_, got, MPFR_RNDN);
        mpfr_abs(work_, work_, MPFR_RNDN);
        mpfr_mul_2si(work_, work_, 53 - exponent, MPFR_RNDN);
        return mpfr_get_d(work_, MPFR_RNDU);
    }

  private:
    static constexpr mpfr_prec_t kPrecision = 128;
    mpfr_t value_;
    mpfr_t argument_;
    mpfr_t work_;
    mpfr_t sqrt2_;
    mpfr_t sqrt2pi_;
    mpfr_t gaussian_;
    double gaussian_of_ = -1.0;
};

// How many doubles lie between two non-negative doubles (the distance in ulps).
inline std::uint64_t ulp_distance(double a, double b) {
    const auto ia = std::bit_cast<std::uint64_t>(a);
    const auto ib = std::bit_cast<std::uint64_t>(b);
    return ia > ib ? ia - ib : ib - ia;
}

}  // namespace eqsim::testing
