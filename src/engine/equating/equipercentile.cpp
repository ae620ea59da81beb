#include "engine/equating/equipercentile.h"

#include "engine/numeric/storage.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace eqsim {

namespace {

void normalise(int k, std::span<double> freq) {
    double total = 0.0;
    for (int i = 0; i < k; ++i) {
        total += freq[i];
    }
    // A distribution that already sums to one is left bit for bit as it is.
    if (total == 1.0) {
        return;
    }
    const double factor = 1.0 / total;
    for (int i = 0; i < k; ++i) {
        freq[i] *= factor;
    }
}

// A flat step is an addition that leaves the running cumulative sum unchanged: a zero
// probability, or one too small to register. Score 0 alone cannot make one.
bool has_flat_step(int k, std::span<const double> dist) {
    double running = dist[0];
    for (int i = 1; i < k; ++i) {
        const double next = running + dist[i];
        if (next == running) {
            return true;
        }
        running = next;
    }
    return false;
}

double mass_to_use(int k, std::span<const double> dist, double uniform_mass) {
    if (uniform_mass > 0.0) {
        return has_flat_step(k, dist) ? uniform_mass : 0.0;
    }
    if (uniform_mass < 0.0) {
        return -uniform_mass;
    }
    return 0.0;
}

// The smallest old-form score whose cumulative value exceeds the rank; the last score when none
// before it does. Never leaves the table, whatever the values (a NaN rank selects the last).
int first_score_above(int ky, std::span<const double> old_cum, double rank) {
    int j = 0;
    while (j < ky - 1 && !(old_cum[j] > rank)) {
        ++j;
    }
    return j;
}

double percentile_rank(int i, std::span<const double> new_cum) {
    if (i == 0) {
        return 0.5 * new_cum[0];
    }
    return new_cum[i - 1] + 0.5 * (new_cum[i] - new_cum[i - 1]);
}

}  // namespace

bool equate_unsmoothed(int kx, int ky, std::span<const double> new_dist,
                       std::span<const double> old_dist, std::span<double> equated) {
    if (!holds(new_dist, kx) || !holds(old_dist, ky) ||
        equated.size() < static_cast<std::size_t>(kx)) {
        return false;
    }
    return with_storage([&] {
        const std::size_t width = static_cast<std::size_t>(std::max(kx, ky));
        std::vector<double> block(2 * width);
        const std::span<double> new_copy(block.data(), width);
        const std::span<double> old_copy(block.data() + width, width);
        std::copy_n(new_dist.begin(), kx, new_copy.begin());
        std::copy_n(old_dist.begin(), ky, old_copy.begin());
        equipercentile_equate(kx, ky, 0.0, 1.0, new_copy, old_copy, kUniformMass, equated);
        return true;
    });
}

void equipercentile_equate(int kx, int ky, double score_min, double score_increment,
                           std::span<double> new_freq, std::span<double> old_freq,
                           double uniform_mass, std::span<double> equated) {
    prepare_cumulative(kx, new_freq, uniform_mass);
    prepare_cumulative(ky, old_freq, uniform_mass);
    invert_percentile_ranks(kx, ky, score_min, score_increment, new_freq, old_freq, equated);
}

void prepare_cumulative(int k, std::span<double> freq, double uniform_mass) {
    if (k < 1) {
        return;
    }
    normalise(k, freq);
    cumulate_with_uniform(k, mass_to_use(k, freq, uniform_mass), freq);
}

void cumulate_with_uniform(int k, double mass, std::span<double> dist) {
    if (k < 1) {
        return;
    }
    const double share = mass / k;
    const double keep = 1.0 - mass;
    dist[0] = keep * dist[0] + share;
    for (int i = 1; i < k; ++i) {
        dist[i] = (keep * dist[i] + share) + dist[i - 1];
    }
    // Rounding must not leave the top of the distribution short of (or above) one.
    dist[k - 1] = 1.0;
}

void invert_percentile_ranks(int kx, int ky, double score_min, double score_increment,
                             std::span<const double> new_cum, std::span<const double> old_cum,
                             std::span<double> equated) {
    if (ky < 1) {
        return;
    }
    for (int i = 0; i < kx; ++i) {
        equated[i] =
            score_of_rank(ky, score_min, score_increment, old_cum, percentile_rank(i, new_cum));
    }
}

double score_of_rank(int ky, double score_min, double score_increment,
                     std::span<const double> old_cum, double rank) {
    const double w = score_increment;
    const int j = first_score_above(ky, old_cum, rank);
    const double lower = j > 0 ? old_cum[j - 1] : 0.0;
    const double upper = old_cum[j];
    const double width = upper - lower;
    const double fraction = width == 0.0 ? 0.0 : (rank - lower) / width;
    return fraction * w + ((j * w + score_min) - 0.5 * w);
}

double percentile_rank_of(int k, std::span<const double> cum, double score) {
    if (score <= -0.5) {
        return 0.0;
    }
    if (score >= k - 0.5) {
        return 1.0;
    }
    if (std::isnan(score)) {
        return score;
    }
    // The score whose interval holds it; a score halfway between two belongs to the upper one.
    // Rounding of score + 0.5 just below k - 0.5 can reach k, which the interval of k - 1 takes.
    const int s = std::min(static_cast<int>(std::floor(score + 0.5)), k - 1);
    const double lower = s > 0 ? cum[s - 1] : 0.0;
    return lower + (score - (s - 0.5)) * (cum[s] - lower);
}

}  // namespace eqsim
