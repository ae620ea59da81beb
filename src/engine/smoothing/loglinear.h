// Log-linear pre-smoothing: each form's sample distribution is replaced by the maximum-likelihood
// fit of a polynomial log-linear model before the two fitted distributions are equated
// equipercentile-wise. Owns the fit, its orthonormal polynomial basis and its Cholesky solver.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/equating/sample_pair.h"

namespace eqsim {

// Equates a pair of samples after smoothing each: qx, qy are the degrees, each capped at its
// form's score count less one (where the fit keeps the sample as it is). False, writing nothing,
// when a degree is below 1, equated is too short, or a fit produced no fitted frequencies
// (storage ran out, or its first solve failed). A fit that did not converge is equated as it
// stands.
bool equate_presmoothed(const SamplePair& samples, int qx, int qy, std::span<double> equated);

// The degree that a smoothing parameter selects: truncated toward zero and saturated to the
// 16-bit range, so that a huge parameter means "as high as the form allows" rather than a
// wrapped number. A NaN selects no degree (0), which the method rejects.
std::int16_t loglinear_degree(double smoothing);

// How a fit ended.
struct LogLinearOutcome {
    int iterations = 0;      // Newton iterations run (0 for a saturated model)
    bool converged = false;  // met the convergence test within 29 iterations, deviance >= 0
    bool saturated = false;  // q >= k - 1: the fitted frequencies are the observed ones
    double deviance = 0.0;   // G-squared of the fitted frequencies
};

// Fits a degree-q log-linear model to the K observed frequencies over the first K of the given
// score points, writing K fitted frequencies. False when storage runs out or the fit stops before
// it has produced any fitted frequencies; otherwise outcome says how it ended.
bool fit_loglinear(int q, std::span<const double> scores, std::span<const double> observed,
                   std::span<double> fitted, std::span<double> coefficients,
                   LogLinearOutcome& outcome);

// The working record of one fit; it owns none of the arrays it refers to.
struct LogLinearFit {
    std::int32_t score_count = 0;
    std::int32_t parameter_count = 0;
    std::span<double> coefficients;                  // beta_0..beta_q
    double deviance = 0.0;                           // G-squared of the current fitted values
    std::span<const std::span<const double>> basis;  // phi_1..phi_q
    std::span<const double> observed;
    std::span<double> fitted;
    // Set once the first update has written fitted and deviance; a fit that stops before then
    // has nothing to equate.
    bool fitted_written = false;
};

// Newton-Raphson iterations of the Poisson likelihood as reweighted least squares, at most 30.
// False when storage runs out or a solve fails (fit.fitted_written then says whether the fitted
// values of an earlier iteration stand). outcome.converged only for a fit that met the test
// within 29 iterations with a non-negative deviance.
bool iterate_loglinear(LogLinearFit& fit, LogLinearOutcome& outcome);

// Columns phi_0..phi_q of the orthonormal polynomial basis over n score points, in one block.
struct BasisColumns {
    std::vector<double> block;  // column j starts at j * n
    std::vector<std::span<const double>> columns;
};

// Builds the basis for degrees 0..q (q >= 1). False, with columns_out null, when storage cannot
// be had or q < 1.
bool build_orthonormal_basis(int q, std::span<const double> scores,
                             std::unique_ptr<BasisColumns>& columns_out);

// Solves the weighted least-squares problem through its normal equations. design holds p columns
// of n values, as response and weights do. Returns false when storage cannot be had or the normal
// matrix is not positive definite; coefficients then hold the right-hand side.
bool solve_weighted_least_squares(std::span<const std::span<const double>> design,
                                  std::span<const double> response, std::span<const double> weights,
                                  std::span<double> coefficients);

// Cholesky factor of the lower triangle of rows (p rows of p values), in place. False when a
// pivot is not positive; failed_row is then its 1-based row.
bool cholesky_factor(std::span<const std::span<double>> rows, int& failed_row);

// Overwrites b with the solution of L * L^T * beta = b, L from cholesky_factor.
void cholesky_solve(std::span<const std::span<double>> rows, std::span<double> b);

}  // namespace eqsim
