// Correctly rounded exp and log for double: the result is the double nearest to the exact value
// (ties to even), for every argument, on every processor, compiler and C library. Nothing here
// calls the C library's exp or log or uses fused multiply-add or long double, so the bits of a
// computation that uses these functions do not depend on the machine that ran it.
#pragma once

namespace eqsim {

// e^x rounded to nearest. Overflow gives +inf, underflow the rounded subnormal or +0;
// cr_exp(-inf) = +0, cr_exp(+inf) = +inf, cr_exp(NaN) is NaN.
double cr_exp(double x);

// The natural logarithm of x rounded to nearest. cr_log(+-0) = -inf, cr_log(x < 0) is NaN,
// cr_log(+inf) = +inf, cr_log(NaN) is NaN, cr_log(1) = +0; subnormal arguments are handled in full.
double cr_log(double x);

namespace correctly_rounded_detail {

// The accurate paths alone (256-bit fixed point), for finite arguments that the fast path passes
// on: exp for 2^-54 <= |x| <= 746, log for positive finite x other than 1. Exposed so the tests
// can check them on their own; callers use cr_exp and cr_log.
double exp_accurate(double x);
double log_accurate(double x);

// The fast paths' double-double approximation before the rounding test, for measuring its error
// bound in tests: exp for |x| in [2^-54, 708], log for positive normal x. Returns hi and sets lo;
// hi + lo is the approximation, not normalized.
double exp_fast_approximation(double x, double& lo);
double log_fast_approximation(double x, double& lo);

// The first steps' plain-double approximation, tried before the above: exp for |x| in
// [2^-54, 707], log for positive normal x. Returns hi and sets lo as above.
double exp_first_approximation(double x, double& lo);
double log_first_approximation(double x, double& lo);

// Relative error bounds of those approximations used by the rounding tests.
extern const double kExpFastErrorBound;
extern const double kLogFastErrorBound;
extern const double kExpFirstErrorBound;
extern const double kLogFirstErrorBound;

}  // namespace correctly_rounded_detail

}  // namespace eqsim
