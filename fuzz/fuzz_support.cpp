#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "eqsim/report.h"

namespace eqsim::fuzz {

namespace {

std::string scratch_path;

void remove_scratch() {
    if (!scratch_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_path, ignored);
    }
}

std::string formatted(const char* format, double a) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, a);
    return buffer;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool all_digits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// A real as "%.8lf" prints it: optional minus, digits, a point and eight digits; or inf or nan.
bool is_printed_real(std::string_view text) {
    if (!text.empty() && text[0] == '-') {
        text.remove_prefix(1);
    }
    if (text == "inf" || text == "nan") {
        return true;
    }
    const std::size_t point = text.find('.');
    return point != std::string_view::npos && all_digits(text.substr(0, point)) &&
           text.size() - point - 1 == 8 && all_digits(text.substr(point + 1));
}

double value_of(std::string_view text) {
    return std::strtod(std::string(text).c_str(), nullptr);
}

// Checks one score line or the summary line: a label and six reals, the first three spreads.
std::string statistics_problem(std::string_view line, std::string_view label,
                               const ControlParameters& params) {
    const auto fields = split(line, '\t');
    if (fields.size() != 7 || fields[0] != label) {
        return "statistics line \"" + std::string(line) + "\" is not " + std::string(label) +
               " and six reals";
    }
    for (std::size_t i = 1; i < 7; ++i) {
        if (!is_printed_real(fields[i])) {
            return "field \"" + std::string(fields[i]) + "\" of line " + std::string(label) +
                   " is not a printed real";
        }
    }
    // A score's standard deviation is 0 or more, infinite when its sums overflow (scale scores
    // beyond 1e154 can do that); the summary then weights an infinite one by 0 where a score has
    // no population, which is not a number.
    for (std::size_t i = 1; i <= 3; ++i) {
        const double spread = value_of(fields[i]);
        if (spread < 0.0 || (std::isnan(spread) && label != "Mean")) {
            return "standard deviation " + std::string(fields[i]) + " of line " +
                   std::string(label) + " is not a spread";
        }
    }
    // Rounding to the grid of multiples of the increment can pass an end of the scale by less
    // than one and a half increments, never more; so can the mean of rounded scale scores.
    const double rounded_mean = value_of(fields[6]);
    const ScaleSpec& scale = params.scale;
    const double reach =
        1.5 * scale.increment + 1e-6 * (1.0 + std::fabs(scale.min) + std::fabs(scale.max));
    if (!std::isnan(rounded_mean) &&
        (rounded_mean < scale.min - reach || rounded_mean > scale.max + reach)) {
        return "mean rounded scale score " + std::string(fields[6]) + " of line " +
               std::string(label) + " lies outside the scale";
    }
    return {};
}

}  // namespace

const std::string& scratch_folder() {
    if (scratch_path.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string folder = base != nullptr && *base != '\0' ? base : "/dev/shm";
        if (access(folder.c_str(), W_OK) != 0) {
            folder = "/tmp";
        }
        std::string pattern = folder + "/eqsim-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            violation("cannot create a scratch folder in " + folder);
        }
        scratch_path = pattern;
        std::atexit(remove_scratch);
    }
    return scratch_path;
}

void write_file(const std::string& path, std::string_view content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        violation("cannot write " + path + ": " + std::strerror(errno));
    }
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            violation("cannot write " + path + ": " + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    close(fd);
}

bool read_file(const std::string& path, std::string& content) {
    content.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[8192];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        content.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return n == 0;
}

void violation(const std::string& what) {
    std::fprintf(stderr, "\n==== eqsim fuzz invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

bool is_one_diagnostic_line(std::string_view err) {
    return err.size() > 8 && err.substr(0, 7) == "eqsim: " && err.back() == '\n' &&
           err.find('\n') == err.size() - 1;
}

std::string report_problem(std::string_view report, const ExpectedReport& e) {
    if (report.empty() || report.back() != '\n') {
        return "report does not end with a newline";
    }
    report.remove_suffix(1);
    const auto lines = split(report, '\n');
    const ControlParameters& p = e.params;
    const std::string name(method_name(p.method));
    std::vector<std::string> head = {"Input file:\t" + e.data_name,
                                     "Columns read:\t" + std::to_string(p.columns[0]) + "\t" +
                                         std::to_string(p.columns[1]) + "\t" +
                                         std::to_string(p.columns[2]),
                                     "Type of equating function:\t" + name};
    if (parameter_rule(p.method) != ParameterRule::none) {
        head.push_back("Smoothing parameter:\t" + formatted("%lf", p.smoothing));
    }
    head.push_back("Number of replications:\t" + std::to_string(p.replications));
    const std::size_t seed_line = head.size();
    head.push_back("Seed:\t");
    head.push_back("Scale min, max, inc:\t" + formatted("%lf", p.scale.min) + "\t" +
                   formatted("%lf", p.scale.max) + "\t" + formatted("%lf", p.scale.increment));
    head.push_back("Sample sizes (new, old):\t" + formatted("%lf", e.tx) + "\t" +
                   formatted("%lf", e.ty));
    head.push_back("");

    const std::size_t kx = static_cast<std::size_t>(e.kx);
    const std::size_t expected_lines = head.size() + kx + 2 + kx;
    if (lines.size() != expected_lines) {
        return "report has " + std::to_string(lines.size()) + " lines, not " +
               std::to_string(expected_lines);
    }
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (i == seed_line) {
            const std::string_view seed =
                lines[i].substr(std::min<std::size_t>(6, lines[i].size()));
            const long expected = p.seed < 0 ? -static_cast<long>(p.seed) : p.seed;
            if (lines[i].substr(0, 6) != "Seed:\t" || !all_digits(seed) || seed.size() > 10 ||
                std::stol(std::string(seed)) < 1 || std::stol(std::string(seed)) > 2147483646 ||
                (expected != 0 && std::stol(std::string(seed)) != expected)) {
                return "seed line \"" + std::string(lines[i]) + "\" is wrong";
            }
        } else if (lines[i] != head[i]) {
            return "line \"" + std::string(lines[i]) + "\" should be \"" + head[i] + "\"";
        }
    }
    std::size_t at = head.size();
    for (std::size_t k = 0; k < kx; ++k) {
        if (std::string why = statistics_problem(lines[at++], std::to_string(k), p); !why.empty()) {
            return why;
        }
    }
    if (std::string why = statistics_problem(lines[at++], "Mean", p); !why.empty()) {
        return why;
    }
    if (!lines[at++].empty()) {
        return "no empty line after the summary line";
    }
    for (std::size_t k = 0; k < kx; ++k) {
        const auto fields = split(lines[at++], '\t');
        if (fields.size() != static_cast<std::size_t>(e.scale_points) + 1 ||
            fields[0] != std::to_string(k)) {
            return "histogram line of raw score " + std::to_string(k) + " has " +
                   std::to_string(fields.size()) + " fields, not " +
                   std::to_string(e.scale_points + 1);
        }
        long long total = 0;
        for (std::size_t i = 1; i < fields.size(); ++i) {
            if (!all_digits(fields[i]) || fields[i].size() > 10) {
                return "histogram count \"" + std::string(fields[i]) + "\" is not a count";
            }
            total += std::stoll(std::string(fields[i]));
        }
        if (total != p.replications) {
            return "histogram line of raw score " + std::to_string(k) + " adds up to " +
                   std::to_string(total) + ", not the replications";
        }
    }
    return {};
}

}  // namespace eqsim::fuzz
