// Fuzz target: the study file reader. The input is the study file. Besides surviving it, every
// execution checks what a read must give: a failure with one diagnostic line naming the file, or
// a study whose every value a run can use (counts within their limits, columns 1 to 25, usable
// scales, positive and distinct sample sizes, distinct methods with parameters that suit them, a
// seed the generator takes, a criterion column that is none of the data columns, paths taken from
// the study file's folder); and properties that hold for any text: a byte-order mark in front,
// Windows line ends, or comment and blank lines after the end change nothing, and the digest is
// that of the bytes read.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "io/settings.h"
#include "study/study_file.h"

namespace {

using eqsim::study::StudySpec;

struct Outcome {
    bool ok = false;
    StudySpec study;
    std::string diagnostic;
};

const std::string& study_path() {
    static const std::string path = eqsim::fuzz::scratch_folder() + "/fuzz.study";
    return path;
}

Outcome read_from_file(std::string_view text) {
    eqsim::fuzz::write_file(study_path(), text);
    Outcome o;
    o.ok = eqsim::study::read_study_file(study_path(), o.study, o.diagnostic);
    return o;
}

Outcome parse(std::string_view text) {
    Outcome o;
    o.ok = eqsim::study::parse_study_text(text, study_path(), o.study, o.diagnostic);
    return o;
}

bool same_scale(const eqsim::ScaleSpec& a, const eqsim::ScaleSpec& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Everything but the digest, which is of the bytes and so differs between the variants.
bool same(const Outcome& a, const Outcome& b) {
    if (a.ok != b.ok || a.diagnostic != b.diagnostic) {
        return false;
    }
    if (!a.ok) {
        return true;
    }
    const StudySpec& s = a.study;
    const StudySpec& t = b.study;
    if (s.data.size() != t.data.size() || s.sizes.size() != t.sizes.size() ||
        s.methods.size() != t.methods.size()) {
        return false;
    }
    for (std::size_t i = 0; i < s.data.size(); ++i) {
        const auto& d = s.data[i];
        const auto& e = t.data[i];
        if (d.as_given != e.as_given || d.path != e.path || d.line != e.line ||
            std::memcmp(d.columns, e.columns, sizeof d.columns) != 0 ||
            !same_scale(d.scale, e.scale)) {
            return false;
        }
    }
    for (std::size_t i = 0; i < s.sizes.size(); ++i) {
        if (s.sizes[i].new_size != t.sizes[i].new_size ||
            s.sizes[i].old_size != t.sizes[i].old_size || s.sizes[i].line != t.sizes[i].line) {
            return false;
        }
    }
    for (std::size_t i = 0; i < s.methods.size(); ++i) {
        const auto& m = s.methods[i];
        const auto& n = t.methods[i];
        if (m.method != n.method || std::memcmp(&m.parameter, &n.parameter, sizeof(double)) != 0 ||
            m.has_parameter != n.has_parameter || m.line != n.line) {
            return false;
        }
    }
    return s.path == t.path && s.replications == t.replications && s.seed == t.seed &&
           s.criterion.kind == t.criterion.kind && s.criterion.column == t.criterion.column &&
           s.criterion.line == t.criterion.line && s.output_as_given == t.output_as_given &&
           s.output == t.output;
}

// A path as a line can give it: one token of printable or non-ASCII bytes, not a comment.
bool is_path_token(const std::string& path) {
    if (path.empty() || path.size() > eqsim::study::kMaxStudyLine || path[0] == '#') {
        return false;
    }
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

std::string folder() {
    return eqsim::fuzz::scratch_folder() + "/";
}

void check_data(const StudySpec& s) {
    EQSIM_FUZZ_REQUIRE(!s.data.empty() && s.data.size() <= eqsim::study::kMaxStudyDataSets,
                       std::to_string(s.data.size()));
    for (const eqsim::study::DataSetSpec& d : s.data) {
        EQSIM_FUZZ_REQUIRE(is_path_token(d.as_given), d.as_given);
        EQSIM_FUZZ_REQUIRE(d.path == (d.as_given[0] == '/' ? d.as_given : folder() + d.as_given),
                           d.path);
        for (const std::int16_t column : d.columns) {
            EQSIM_FUZZ_REQUIRE(column >= 1 && column <= 25, std::to_string(column));
        }
        std::string problem;
        EQSIM_FUZZ_REQUIRE(eqsim::scale_is_usable(d.scale, problem), problem);
        EQSIM_FUZZ_REQUIRE(d.line >= 1, std::to_string(d.line));
    }
}

void check_sizes_and_methods(const StudySpec& s) {
    EQSIM_FUZZ_REQUIRE(s.sizes.size() <= eqsim::study::kMaxStudySizePairs,
                       std::to_string(s.sizes.size()));
    for (std::size_t i = 0; i < s.sizes.size(); ++i) {
        EQSIM_FUZZ_REQUIRE(s.sizes[i].new_size >= 1 && s.sizes[i].old_size >= 1, "size");
        for (std::size_t j = 0; j < i; ++j) {
            EQSIM_FUZZ_REQUIRE(s.sizes[i].new_size != s.sizes[j].new_size ||
                                   s.sizes[i].old_size != s.sizes[j].old_size,
                               "repeated sizes");
        }
    }
    EQSIM_FUZZ_REQUIRE(!s.methods.empty() && s.methods.size() <= eqsim::study::kMaxStudyMethods,
                       std::to_string(s.methods.size()));
    for (std::size_t i = 0; i < s.methods.size(); ++i) {
        const eqsim::study::MethodSpec& m = s.methods[i];
        const double p = m.parameter;
        switch (m.method) {
            case eqsim::Method::postsmoothing:
                EQSIM_FUZZ_REQUIRE(m.has_parameter && std::isfinite(p) && p <= 1.0,
                                   std::to_string(p));
                break;
            case eqsim::Method::presmoothing:
            case eqsim::Method::kernel:
                EQSIM_FUZZ_REQUIRE(
                    m.has_parameter && p >= 1.0 && p <= 32767.0 && p == std::trunc(p),
                    std::to_string(p));
                break;
            case eqsim::Method::synthetic:
                EQSIM_FUZZ_REQUIRE(m.has_parameter && p >= 0.0 && p <= 1.0, std::to_string(p));
                break;
            case eqsim::Method::tucker:
            case eqsim::Method::levine:
            case eqsim::Method::frequency_estimation:
            case eqsim::Method::braun_holland:
                // A weight w1 given, or none (the sample sizes decide).
                EQSIM_FUZZ_REQUIRE(
                    m.has_parameter ? p >= 0.0 && p <= 1.0 : p == eqsim::kWeightOfSizes,
                    std::to_string(p));
                break;
            default:
                EQSIM_FUZZ_REQUIRE(!m.has_parameter && p == 0.0, std::to_string(p));
        }
        const eqsim::Status suits = eqsim::check_parameter({m.method, p});
        EQSIM_FUZZ_REQUIRE(suits.is_ok(), suits.diagnostic());
        for (std::size_t j = 0; j < i; ++j) {
            EQSIM_FUZZ_REQUIRE(m.method != s.methods[j].method || p != s.methods[j].parameter,
                               "repeated method");
        }
    }
}

void check(const Outcome& o) {
    if (!o.ok) {
        EQSIM_FUZZ_REQUIRE(eqsim::fuzz::is_one_diagnostic_line("eqsim: " + o.diagnostic + "\n"),
                           o.diagnostic);
        EQSIM_FUZZ_REQUIRE(o.diagnostic.starts_with(study_path() + ":"), o.diagnostic);
        return;
    }
    const StudySpec& s = o.study;
    EQSIM_FUZZ_REQUIRE(o.diagnostic.empty(), o.diagnostic);
    EQSIM_FUZZ_REQUIRE(s.path == study_path(), s.path);
    check_data(s);
    check_sizes_and_methods(s);
    EQSIM_FUZZ_REQUIRE(s.replications >= 1, std::to_string(s.replications));
    EQSIM_FUZZ_REQUIRE(eqsim::seed_problem(s.seed).empty(), std::to_string(s.seed));
    if (s.criterion.kind == eqsim::CriterionKind::column) {
        EQSIM_FUZZ_REQUIRE(s.criterion.column >= 1 && s.criterion.column <= 25, "criterion");
        for (const eqsim::study::DataSetSpec& d : s.data) {
            for (const std::int16_t column : d.columns) {
                EQSIM_FUZZ_REQUIRE(column != s.criterion.column, "criterion is a data column");
            }
        }
    }
    EQSIM_FUZZ_REQUIRE(is_path_token(s.output_as_given), s.output_as_given);
    EQSIM_FUZZ_REQUIRE(s.output == (s.output_as_given[0] == '/' ? s.output_as_given
                                                                : folder() + s.output_as_given),
                       s.output);
    EQSIM_FUZZ_REQUIRE(s.output != s.path, s.output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Outcome plain = read_from_file(text);
    check(plain);
    EQSIM_FUZZ_REQUIRE(plain.study.digest == eqsim::study::study_digest(text), plain.study.digest);
    EQSIM_FUZZ_REQUIRE(same(plain, parse(text)), "reading the file and parsing its bytes differ");

    constexpr std::string_view mark = "\xEF\xBB\xBF";
    if (!text.starts_with(mark)) {
        EQSIM_FUZZ_REQUIRE(same(plain, parse(std::string(mark) + std::string(text))),
                           "a byte-order mark changed the outcome");
    }
    if (text.find('\r') == std::string_view::npos) {
        std::string windows;
        for (const char c : text) {
            if (c == '\n') {
                windows.push_back('\r');
            }
            windows.push_back(c);
        }
        EQSIM_FUZZ_REQUIRE(same(plain, parse(windows)), "Windows line ends changed the outcome");
    }
    if (text.empty() || text.back() == '\n') {
        EQSIM_FUZZ_REQUIRE(same(plain, parse(std::string(text) + "\n  \t\n# method None\n\n")),
                           "comment and blank lines at the end changed the outcome");
    }
    return 0;
}
