// Log-linear pre-smoothing: each form's sample distribution is replaced by the maximum-likelihood
// fit of a polynomial log-linear model before the two fitted distributions are equated
// equipercentile-wise. Owns the fit, its orthonormal polynomial basis and its Cholesky solver.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace eqsim {

// Returns 1 on success, 0 on failure. nx, ny are the sample sizes; rx, ry the sample relative
// frequencies (only read); qx, qy the degrees, each capped at its form's score count less one.
int equate_presmoothed(int kx, int ky, double nx, double ny, std::span<const double> rx,
                       std::span<const double> ry, std::int16_t qx, std::int16_t qy,
                       std::span<double> equated);

// The degree that a smoothing parameter selects: truncated toward zero and saturated to the
// 16-bit range, so that a huge parameter means "as high as the form allows" rather than a
// wrapped number. A NaN selects no degree (0), which the method rejects.
std::int16_t loglinear_degree(double smoothing);

// Outcomes of fit_loglinear other than the iteration codes of iterate_loglinear (1..29 when
// converged, -1..-30 otherwise).
inline constexpr int kLogLinearSaturated = 0;
inline constexpr int kLogLinearFailed = -1000;

// Fits a degree-q log-linear model to the first k observed frequencies over the given score
// points. Returns kLogLinearFailed when storage runs out or the fit stops before it has produced
// any fitted frequencies, kLogLinearSaturated when q >= k - 1 (the fitted frequencies are then
// the observed ones and the deviance 0), and the iteration code otherwise.
int fit_loglinear(int k, int q, std::span<const double> scores, std::span<const double> observed,
                  std::span<double> fitted, double& deviance_out, std::span<double> coefficients);

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

// Newton-Raphson iterations of the Poisson likelihood as reweighted least squares. Returns the
// number of iterations (1..29) of a converged fit with a non-negative deviance, otherwise minus
// that number; -1 as well when storage runs out or a solve fails, and -30 whenever all 30
// iterations were used.
std::int32_t iterate_loglinear(LogLinearFit& fit);

// Columns phi_0..phi_q of the orthonormal polynomial basis over n score points, in one block.
struct BasisColumns {
    std::vector<double> block;  // column j starts at j * n
    std::vector<std::span<const double>> columns;
};

// Builds the basis for degrees 0..q (q >= 1). Returns 0 on success, 1 when storage cannot be
// had or q < 1; columns_out is then null.
int build_orthonormal_basis(int q, int n, std::span<const double> scores,
                            std::unique_ptr<BasisColumns>& columns_out);

// Releases a basis; a null one is ignored.
void release_basis(int q, std::unique_ptr<BasisColumns>& columns);

// Solves the weighted least-squares problem through its normal equations. design holds p columns
// of n values. Returns false when storage cannot be had or the normal matrix is not positive
// definite; coefficients then hold the right-hand side.
bool solve_weighted_least_squares(int n, int p, std::span<const std::span<const double>> design,
                                  std::span<const double> response, std::span<const double> weights,
                                  std::span<double> coefficients);

// Cholesky factor of the lower triangle of rows (p rows of p values), in place. Returns 0, or the
// 1-based row whose pivot was not positive.
int cholesky_factor(std::span<const std::span<double>> rows, int p);

// Overwrites b with the solution of L * L^T * beta = b, L from cholesky_factor.
void cholesky_solve(std::span<const std::span<double>> rows, int p, std::span<double> b);

}  // namespace eqsim
