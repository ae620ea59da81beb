#include "engine/smoothing/loglinear.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "engine/equating/equipercentile.h"
#include "engine/numeric/correctly_rounded.h"
#include "engine/numeric/storage.h"

namespace eqsim {

namespace {

// The fit iterates on exp and log, so the last bit of a C library's exp or log, which differs
// between processors and platforms, would reach the report: every call is cr_exp or cr_log.

// Below this a logarithm is treated as the log of zero: exp() would underflow anyway.
constexpr double kLogFloor = -700.0;
// Start value of a score nobody reached: the log of half an examinee.
constexpr double kHalfExaminee = 0.5;
constexpr int kMaxIterations = 30;
constexpr double kDevianceTolerance = 0.001;
constexpr double kCoefficientTolerance = 1.0e-6;
// Relative changes of coefficients near zero are measured against this floor instead.
constexpr double kCoefficientFloor = 2.0 * 1000000.0 * std::numeric_limits<double>::epsilon();

std::size_t size_of(int count) {
    return static_cast<std::size_t>(count);
}

double dot(std::span<const double> a, std::span<const double> b, int n) {
    double sum = 0.0;
    for (int k = 0; k < n; ++k) {
        sum += a[k] * b[k];
    }
    return sum;
}

// y += alpha * x over the first n entries.
void add_multiple(int n, double alpha, std::span<const double> x, std::span<double> y) {
    for (int k = 0; k < n; ++k) {
        y[k] += alpha * x[k];
    }
}

double sum_of_squares(std::span<const double> column) {
    double sum = 0.0;
    for (const double v : column) {
        sum += v * v;
    }
    return sum;
}

double mean_of(std::span<const double> values) {
    double sum = 0.0;
    for (const double v : values) {
        sum += v;
    }
    return sum / static_cast<double>(values.size());
}

// Three-term recurrence of the orthogonal polynomials over the scores, column by column.
void fill_orthogonal_columns(int q, std::span<const double> x, std::span<double> block,
                             std::span<double> squares) {
    const std::size_t n = x.size();
    const auto column = [&](int j) { return block.subspan(size_of(j) * n, n); };

    const std::span<double> p0 = column(0);
    std::fill(p0.begin(), p0.end(), 1.0);
    squares[0] = static_cast<double>(n);

    const double x_bar = mean_of(x);
    const std::span<double> p1 = column(1);
    for (std::size_t k = 0; k < n; ++k) {
        p1[k] = x[k] - x_bar;
    }
    squares[1] = sum_of_squares(p1);

    for (int i = 2; i <= q; ++i) {
        const std::span<const double> prev = column(i - 1);
        const std::span<const double> prev2 = column(i - 2);
        double weighted = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            weighted += (x[k] * prev[k]) * prev[k];
        }
        const double prev_squares = sum_of_squares(prev);
        const double a = weighted / prev_squares;
        const double t = i == 2 ? static_cast<double>(n) : sum_of_squares(prev2);
        const double b = prev_squares / t;
        const std::span<double> next = column(i);
        for (std::size_t k = 0; k < n; ++k) {
            next[k] = (x[k] - a) * prev[k] - b * prev2[k];
        }
        squares[i] = sum_of_squares(next);
    }

    for (int j = 0; j <= q; ++j) {
        const double factor = 1.0 / std::sqrt(squares[j]);
        for (double& v : column(j)) {
            v *= factor;
        }
    }
}

// eta = beta_0 + sum beta_j phi_j, fitted m = exp(eta), and the deviance G-squared of m.
void update_fit(LogLinearFit& fit, std::span<double> eta) {
    const int k = fit.score_count;
    const int q = fit.parameter_count - 1;
    // Two passes, so that the exps (and then the logs) of different scores do not wait on one
    // another: the same operations on the same values as one pass.
    for (int i = 0; i < k; ++i) {
        double e = fit.coefficients[0];
        for (int j = 1; j <= q; ++j) {
            e += fit.coefficients[j] * fit.basis[j - 1][i];
        }
        eta[i] = e;
        fit.fitted[i] = e > kLogFloor ? cr_exp(e) : 0.0;
    }
    double half_deviance = 0.0;
    for (int i = 0; i < k; ++i) {
        const double m = fit.fitted[i];
        const double y = fit.observed[i];
        if (y == 0.0 || m == 0.0) {
            half_deviance += -(y - m);
        } else {
            half_deviance += y * cr_log(y / m) - (y - m);
        }
    }
    fit.deviance = 2.0 * half_deviance;
    fit.fitted_written = true;
}

// Largest relative change of the coefficients since the last test; remembers the new ones.
double largest_relative_change(std::span<const double> coefficients, std::span<double> previous) {
    double largest = 0.0;
    for (std::size_t j = 0; j < previous.size(); ++j) {
        const double size = std::fabs(previous[j]);
        const double den = size < kCoefficientFloor ? kCoefficientFloor : size;
        const double change = std::fabs(coefficients[j] - previous[j]) / den;
        previous[j] = coefficients[j];
        if (change > largest) {
            largest = change;
        }
    }
    return largest;
}

bool run_newton_iterations(LogLinearFit& fit, LogLinearOutcome& outcome) {
    const int k = fit.score_count;
    const int p = fit.parameter_count;

    std::vector<std::span<const double>> design(size_of(p));
    std::vector<double> ones(size_of(k), 1.0);
    std::vector<double> previous(size_of(p));
    std::vector<double> weights(size_of(k));
    std::vector<double> response(size_of(k));
    // The intercept column is all ones, not the normalised phi_0.
    design[0] = ones;
    std::copy(fit.basis.begin(), fit.basis.end(), design.begin() + 1);

    for (int i = 0; i < k; ++i) {
        const double y = fit.observed[i];
        response[i] = y == 0.0 ? cr_log(kHalfExaminee) : cr_log(y);
        weights[i] = response[i] > kLogFloor ? cr_exp(response[i]) : 0.0;
    }
    if (!solve_weighted_least_squares(design, response, weights, fit.coefficients)) {
        return false;
    }
    update_fit(fit, response);
    outcome.deviance = fit.deviance;

    std::copy_n(fit.coefficients.begin(), p, previous.begin());
    double previous_deviance = fit.deviance;
    int r = 0;
    bool converged = false;
    while (!converged && r < kMaxIterations) {
        ++r;
        outcome.iterations = r;
        for (int i = 0; i < k; ++i) {
            const double m = fit.fitted[i];
            if (m != 0.0) {
                response[i] = response[i] + (fit.observed[i] - m) / m;
            }
            weights[i] = m;
        }
        if (!solve_weighted_least_squares(design, response, weights, fit.coefficients)) {
            return false;
        }
        update_fit(fit, response);
        outcome.deviance = fit.deviance;

        if (std::fabs(fit.deviance - previous_deviance) < kDevianceTolerance) {
            converged = true;
        } else {
            previous_deviance = fit.deviance;
            converged = largest_relative_change(fit.coefficients, previous) < kCoefficientTolerance;
        }
    }
    // A fit that used every iteration is not trusted, even if the last one met the test.
    outcome.converged = converged && fit.deviance >= 0.0 && r < kMaxIterations;
    return true;
}

}  // namespace

std::int16_t loglinear_degree(double smoothing) {
    constexpr double kHighest = std::numeric_limits<std::int16_t>::max();
    constexpr double kLowest = std::numeric_limits<std::int16_t>::min();
    if (std::isnan(smoothing)) {
        return 0;
    }
    return static_cast<std::int16_t>(std::trunc(std::clamp(smoothing, kLowest, kHighest)));
}

bool equate_presmoothed(const SamplePair& samples, int qx, int qy, std::span<double> equated) {
    const std::span<const double> rx = samples.new_relative;
    const std::span<const double> ry = samples.old_relative;
    const int kx = static_cast<int>(rx.size());
    const int ky = static_cast<int>(ry.size());
    const double nx = samples.new_size;
    const double ny = samples.old_size;
    if (kx < 1 || ky < 1 || equated.size() < rx.size()) {
        return false;
    }
    // Capped in int: the degrees can never wrap.
    const int degree_x = std::min(qx, kx - 1);
    const int degree_y = std::min(qy, ky - 1);
    if (degree_x < 1 || degree_y < 1) {
        return false;
    }
    return with_storage([&] {
        const std::size_t m = size_of(std::max(kx, ky));
        std::vector<double> block(6 * m);
        const std::span<double> all(block);
        const std::span<double> fitted_x = all.subspan(0, m);
        const std::span<double> fitted_y = all.subspan(m, m);
        const std::span<double> observed = all.subspan(2 * m, m);
        const std::span<double> scores = all.subspan(3 * m, m);
        const std::span<double> coefficients = all.subspan(4 * m, 2 * m);
        for (std::size_t i = 0; i < m; ++i) {
            scores[i] = static_cast<double>(i);
        }
        LogLinearOutcome outcome;

        for (int i = 0; i < kx; ++i) {
            observed[i] = nx * rx[i];
        }
        if (!fit_loglinear(degree_x, scores, observed.first(rx.size()), fitted_x, coefficients,
                           outcome)) {
            return false;
        }
        for (int i = 0; i < ky; ++i) {
            observed[i] = ny * ry[i];
        }
        if (!fit_loglinear(degree_y, scores, observed.first(ry.size()), fitted_y, coefficients,
                           outcome)) {
            return false;
        }
        // Non-converged fits are equated as they stand; only a missing fit is a failure.
        equipercentile_equate(0.0, 1.0, fitted_x.first(rx.size()), fitted_y.first(ry.size()),
                              kUniformMass, equated);
        return true;
    });
}

bool fit_loglinear(int q, std::span<const double> scores, std::span<const double> observed,
                   std::span<double> fitted, std::span<double> coefficients,
                   LogLinearOutcome& outcome) {
    outcome = LogLinearOutcome{};
    const int k = static_cast<int>(observed.size());
    if (k < 1 || scores.size() < observed.size() || fitted.size() < observed.size() || q < 1 ||
        coefficients.size() < size_of(q) + 1) {
        return false;
    }
    std::unique_ptr<BasisColumns> basis;
    if (!build_orthonormal_basis(q, scores.first(observed.size()), basis)) {
        return false;
    }
    if (q >= k - 1) {
        // The saturated model reproduces the observed frequencies exactly.
        std::copy_n(observed.begin(), k, fitted.begin());
        outcome.saturated = true;
        outcome.converged = true;
        return true;
    }
    LogLinearFit fit;
    fit.score_count = k;
    fit.parameter_count = q + 1;
    fit.coefficients = coefficients;
    fit.observed = observed;
    fit.fitted = fitted;
    fit.basis = std::span<const std::span<const double>>(basis->columns).subspan(1);
    iterate_loglinear(fit, outcome);
    // Only a fit that never wrote its fitted frequencies has nothing to equate; one whose later
    // solve failed is equated as it stands.
    return fit.fitted_written;
}

bool iterate_loglinear(LogLinearFit& fit, LogLinearOutcome& outcome) {
    fit.fitted_written = false;
    const int k = fit.score_count;
    const int p = fit.parameter_count;
    if (k < 1 || p < 1 || fit.basis.size() != size_of(p - 1) || fit.observed.size() < size_of(k) ||
        fit.fitted.size() < size_of(k) || fit.coefficients.size() < size_of(p)) {
        return false;
    }
    return with_storage([&] { return run_newton_iterations(fit, outcome); });
}

bool build_orthonormal_basis(int q, std::span<const double> scores,
                             std::unique_ptr<BasisColumns>& columns_out) {
    columns_out.reset();
    const int n = static_cast<int>(scores.size());
    if (q < 1 || n < 1) {
        return false;
    }
    return with_storage([&] {
        auto basis = std::make_unique<BasisColumns>();
        std::vector<double> squares(size_of(q) + 1);
        basis->block.resize(size_of(n) * (size_of(q) + 1));
        fill_orthogonal_columns(q, scores.first(size_of(n)), basis->block, squares);
        basis->columns.reserve(size_of(q) + 1);
        const std::span<const double> block(basis->block);
        for (int j = 0; j <= q; ++j) {
            basis->columns.push_back(block.subspan(size_of(j) * size_of(n), size_of(n)));
        }
        columns_out = std::move(basis);
        return true;
    });
}

bool solve_weighted_least_squares(std::span<const std::span<const double>> design,
                                  std::span<const double> response, std::span<const double> weights,
                                  std::span<double> coefficients) {
    const int n = static_cast<int>(response.size());
    const int p = static_cast<int>(design.size());
    return with_storage([&] {
        std::vector<double> block(size_of(p) * size_of(p));
        std::vector<std::span<double>> rows(size_of(p));
        std::vector<double> scratch(size_of(n));
        for (int j = 0; j < p; ++j) {
            rows[j] = std::span<double>(block).subspan(size_of(j) * size_of(p), size_of(p));
        }
        for (int j = 0; j < p; ++j) {
            for (int k = 0; k < n; ++k) {
                scratch[k] = weights[k] * design[j][k];
            }
            coefficients[j] = dot(scratch, response, n);
            for (int i = 0; i <= j; ++i) {
                rows[j][i] = dot(scratch, design[i], n);
            }
        }
        if (int failed_row = 0; !cholesky_factor(rows, failed_row)) {
            return false;
        }
        cholesky_solve(rows, coefficients);
        return true;
    });
}

bool cholesky_factor(std::span<const std::span<double>> rows, int& failed_row) {
    const int p = static_cast<int>(rows.size());
    for (int i = 0; i < p; ++i) {
        const std::span<double> row = rows[i];
        for (int j = 0; j < i; ++j) {
            row[j] = (row[j] - dot(rows[j], row, j)) / rows[j][j];
        }
        const double d = row[i] - dot(row, row, i);
        if (d <= 0.0) {
            failed_row = i + 1;
            return false;
        }
        row[i] = std::sqrt(d);
    }
    return true;
}

void cholesky_solve(std::span<const std::span<double>> rows, std::span<double> b) {
    const int p = static_cast<int>(rows.size());
    for (int i = 0; i < p; ++i) {
        b[i] = (b[i] - dot(rows[i], b, i)) / rows[i][i];
    }
    for (int i = p - 1; i >= 0; --i) {
        b[i] = b[i] / rows[i][i];
        add_multiple(i, -b[i], rows[i], b);
    }
}

}  // namespace eqsim
