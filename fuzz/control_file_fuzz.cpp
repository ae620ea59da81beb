// Fuzz target: the control file reader and the checks of the final settings. The input is the
// control file. Besides surviving it, every execution checks what a read must give: a status of 0
// or 1 with a one-line diagnostic on failure, settings that keep the limits of their fields, final
// checks that leave only values a run can use, and two properties that hold for any text: a
// byte-order mark in front changes nothing, and neither does anything after an empty line.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "eqsim/control_file.h"
#include "fuzz_support.h"

namespace {

using eqsim::ControlParameters;

struct Outcome {
    std::int16_t status = 0;
    ControlParameters params;
    std::string data_name;
    std::string output_name;
    std::string diagnostic;
    bool valid = false;
    std::string validation;
};

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const Outcome& a, const Outcome& b) {
    const ControlParameters& p = a.params;
    const ControlParameters& q = b.params;
    return a.status == b.status && a.data_name == b.data_name && a.output_name == b.output_name &&
           a.diagnostic == b.diagnostic && a.valid == b.valid && p.replications == q.replications &&
           p.seed == q.seed && same_bits(p.smoothing, q.smoothing) && p.method == q.method &&
           std::memcmp(p.columns, q.columns, sizeof p.columns) == 0 &&
           same_bits(p.scale.min, q.scale.min) && same_bits(p.scale.max, q.scale.max) &&
           same_bits(p.scale.increment, q.scale.increment);
}

Outcome read_control(std::string_view text) {
    static const std::string path = eqsim::fuzz::scratch_folder() + "/run.ctl";
    eqsim::fuzz::write_file(path, text);
    Outcome o;
    // 0 when the file was read, 1 when it was refused.
    o.status =
        eqsim::read_control_file(path, o.params, o.data_name, o.output_name, o.diagnostic) ? 0 : 1;
    if (o.status == 0) {
        o.valid = eqsim::validate_control_parameters(o.params, o.validation);
    }
    return o;
}

// A name is one token of a line of at most 148 characters.
bool is_token(const std::string& name) {
    return name.size() <= eqsim::kMaxControlLine &&
           name.find_first_of(std::string_view(" \t\r\n\0", 5)) == std::string::npos;
}

void check(const Outcome& o) {
    EQSIM_FUZZ_REQUIRE(o.status == 0 || o.status == 1, std::to_string(o.status));
    if (o.status == 1) {
        EQSIM_FUZZ_REQUIRE(eqsim::fuzz::is_one_diagnostic_line("eqsim: " + o.diagnostic + "\n"),
                           o.diagnostic);
        EQSIM_FUZZ_REQUIRE(o.diagnostic.starts_with(eqsim::fuzz::scratch_folder()), o.diagnostic);
        return;
    }
    EQSIM_FUZZ_REQUIRE(o.diagnostic.empty(), o.diagnostic);
    EQSIM_FUZZ_REQUIRE(is_token(o.data_name), o.data_name);
    EQSIM_FUZZ_REQUIRE(is_token(o.output_name), o.output_name);
    const int method = static_cast<int>(o.params.method);
    // eqsim's control file names the random-groups methods only.
    EQSIM_FUZZ_REQUIRE(method >= 1 && method <= 15 &&
                           eqsim::design_of(o.params.method) == eqsim::Design::random_groups,
                       std::to_string(method));
    if (!o.valid) {
        EQSIM_FUZZ_REQUIRE(!o.validation.empty() && o.validation.find('\n') == std::string::npos,
                           o.validation);
        return;
    }
    // What the rest of the program relies on once the final checks have passed.
    const ControlParameters& p = o.params;
    EQSIM_FUZZ_REQUIRE(p.replications >= 1, std::to_string(p.replications));
    EQSIM_FUZZ_REQUIRE(p.seed >= -2147483646 && p.seed <= 2147483646, std::to_string(p.seed));
    EQSIM_FUZZ_REQUIRE(std::isfinite(p.smoothing), "smoothing");
    for (const std::int16_t column : p.columns) {
        EQSIM_FUZZ_REQUIRE(column >= 1 && column <= 25, std::to_string(column));
    }
    EQSIM_FUZZ_REQUIRE(std::isfinite(p.scale.min) && std::isfinite(p.scale.max) &&
                           p.scale.increment > 0.0 && p.scale.max >= p.scale.min,
                       "scale");
    const double points = eqsim::scale_point_count(p.scale);
    EQSIM_FUZZ_REQUIRE(points >= 1.0 && points <= 32767.0, std::to_string(points));
    EQSIM_FUZZ_REQUIRE(std::fabs(p.scale.min) / p.scale.increment < 2147483647.0 &&
                           std::fabs(p.scale.max) / p.scale.increment < 2147483647.0,
                       "scale ends");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Outcome plain = read_control(text);
    check(plain);

    constexpr std::string_view mark = "\xEF\xBB\xBF";
    if (!text.starts_with(mark)) {
        const Outcome marked = read_control(std::string(mark) + std::string(text));
        EQSIM_FUZZ_REQUIRE(same(plain, marked), "a byte-order mark changed the outcome");
    }
    if (text.empty() || text.back() == '\n') {
        const Outcome extended =
            read_control(std::string(text) + "\nR -1\nS 7\n" + std::string(200, 'x') + "\n");
        EQSIM_FUZZ_REQUIRE(same(plain, extended), "lines after an empty line were read");
    }
    return 0;
}
