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

bool equate_unsmoothed(std::span<const double> new_dist, std::span<const double> old_dist,
                       std::span<double> equated) {
    const std::size_t kx = new_dist.size();
    const std::size_t ky = old_dist.size();
    if (kx < 1 || ky < 1 || equated.size() < kx) {
        return false;
    }
    return with_storage([&] {
        std::vector<double> block(kx + ky);
        const std::span<double> new_copy(block.data(), kx);
        const std::span<double> old_copy(block.data() + kx, ky);
        std::copy(new_dist.begin(), new_dist.end(), new_copy.begin());
        std::copy(old_dist.begin(), old_dist.end(), old_copy.begin());
        equipercentile_equate(0.0, 1.0, new_copy, old_copy, kUniformMass, equated);
        return true;
    });
}

void equipercentile_equate(double score_min, double score_increment, std::span<double> new_freq,
                           std::span<double> old_freq, double uniform_mass,
                           std::span<double> equated) {
    prepare_cumulative(new_freq, uniform_mass);
    prepare_cumulative(old_freq, uniform_mass);
    invert_percentile_ranks(score_min, score_increment, new_freq, old_freq, equated);
}

void prepare_cumulative(std::span<double> freq, double uniform_mass) {
    const int k = static_cast<int>(freq.size());
    if (k < 1) {
        return;
    }
    normalise(k, freq);
    cumulate_with_uniform(mass_to_use(k, freq, uniform_mass), freq);
}

void cumulate_with_uniform(double mass, std::span<double> dist) {
    const int k = static_cast<int>(dist.size());
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

void invert_percentile_ranks(double score_min, double score_increment,
                             std::span<const double> new_cum, std::span<const double> old_cum,
                             std::span<double> equated) {
    if (old_cum.empty()) {
        return;
    }
    for (std::size_t i = 0; i < new_cum.size(); ++i) {
        equated[i] = score_of_rank(score_min, score_increment, old_cum,
                                   percentile_rank(static_cast<int>(i), new_cum));
    }
}

double score_of_rank(double score_min, double score_increment, std::span<const double> old_cum,
                     double rank) {
    const int ky = static_cast<int>(old_cum.size());
    const double w = score_increment;
    const int j = first_score_above(ky, old_cum, rank);
    const double lower = j > 0 ? old_cum[j - 1] : 0.0;
    const double upper = old_cum[j];
    const double width = upper - lower;
    const double fraction = width == 0.0 ? 0.0 : (rank - lower) / width;
    return fraction * w + ((j * w + score_min) - 0.5 * w);
}

double percentile_rank_of(std::span<const double> cum, double score) {
    const int k = static_cast<int>(cum.size());
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
