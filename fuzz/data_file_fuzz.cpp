// Fuzz target: the data file reader. The input's first line (when it is at most 15 bytes long)
// chooses the three columns, one character each ('1' is column 1, '2' column 2, and so on, modulo
// 25); the rest is the data file. Columns 1, 2 and 3 apply without such a line.
//
// Each execution compares the reader with a plain model of the format written here from the
// format's rules alone: whether the read succeeds, the number of rows, each form's number of score
// points, and every value stored. It also checks that a byte-order mark in front changes nothing.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "io/data_file.h"

namespace {

struct Columns {
    std::int16_t number[3] = {1, 2, 3};
};

struct Outcome {
    std::int32_t rows = 0;
    std::int16_t kx = -1;
    std::int16_t ky = -1;
    std::vector<double> block;
    std::string diagnostic;
};

Outcome read_data(std::string_view text, const Columns& columns) {
    static const std::string path = eqsim::fuzz::scratch_folder() + "/scores.dat";
    eqsim::fuzz::write_file(path, text);
    Outcome o;
    eqsim::DataColumns data;
    o.rows = eqsim::read_data_file(path, columns.number, data, o.diagnostic) ? data.rows : 0;
    o.kx = static_cast<std::int16_t>(data.new_points);
    o.ky = static_cast<std::int16_t>(data.old_points);
    // The three columns in one block, as the model lays them out.
    o.block = data.new_frequencies;
    o.block.insert(o.block.end(), data.old_frequencies.begin(), data.old_frequencies.end());
    o.block.insert(o.block.end(), data.conversion.begin(), data.conversion.end());
    return o;
}

// The model. Rows are the lines before the first empty line, line beginning with a carriage
// return or "$", or the end of the text (a byte-order mark in front is not part of them).
struct Model {
    bool ok = false;
    std::int32_t rows = 0;
    int kx = 0;
    int ky = 0;
    std::vector<double> block;
};

bool is_numeric(std::string_view entry) {
    return !entry.empty() && ((entry[0] >= '0' && entry[0] <= '9') || entry[0] == '.');
}

// Reads the entry's leading number; false when there is none or it is not finite.
bool finite_prefix(std::string_view entry, double& value) {
    const std::string copy(entry);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end != copy.c_str() && std::isfinite(value);
}

std::vector<std::string_view> tokens_of(std::string_view row) {
    row = row.substr(0, row.find('\r'));
    std::vector<std::string_view> tokens;
    std::size_t pos = 0;
    while (tokens.size() < 25) {
        pos = row.find_first_not_of(" \t", pos);
        if (pos == std::string_view::npos) {
            break;
        }
        const std::size_t end = row.find_first_of(" \t", pos);
        tokens.push_back(row.substr(pos, end == std::string_view::npos ? end : end - pos));
        pos = end;
    }
    return tokens;
}

Model model_of(std::string_view text, const Columns& columns) {
    Model m;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::vector<std::string_view> rows;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        if (line.empty() || line[0] == '\r' || line[0] == '$') {
            break;
        }
        rows.push_back(line);
        if (rows.size() > 32767 || newline == std::string_view::npos) {
            break;
        }
        text.remove_prefix(newline + 1);
    }
    const std::size_t n = rows.size();
    if (n == 0 || n > 32767) {
        return m;
    }
    m.block.assign(3 * n, 0.0);
    bool new_missing = false;
    bool old_missing = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (rows[i].size() > 298 || rows[i].find('\0') != std::string_view::npos) {
            return m;
        }
        const auto tokens = tokens_of(rows[i]);
        for (const std::int16_t c : columns.number) {
            if (static_cast<std::size_t>(c) > tokens.size()) {
                return m;
            }
        }
        const std::string_view entries[3] = {tokens[columns.number[0] - 1],
                                             tokens[columns.number[1] - 1],
                                             tokens[columns.number[2] - 1]};
        if (is_numeric(entries[0])) {
            if (new_missing || !finite_prefix(entries[0], m.block[i])) {
                return m;
            }
            ++m.kx;
        } else {
            new_missing = true;
        }
        if (is_numeric(entries[1])) {
            if (old_missing || !finite_prefix(entries[1], m.block[n + i]) ||
                !finite_prefix(entries[2], m.block[2 * n + i])) {
                return m;
            }
            ++m.ky;
        } else {
            old_missing = true;
        }
    }
    m.ok = true;
    m.rows = static_cast<std::int32_t>(n);
    return m;
}

void check(const Outcome& o, const Model& m) {
    if (!m.ok) {
        EQSIM_FUZZ_REQUIRE(o.rows == 0, "the model fails the read, the reader gave " +
                                            std::to_string(o.rows) + " rows");
        EQSIM_FUZZ_REQUIRE(o.kx == 0 && o.ky == 0 && o.block.empty(), "a failed read kept data");
        EQSIM_FUZZ_REQUIRE(eqsim::fuzz::is_one_diagnostic_line("eqsim: " + o.diagnostic + "\n"),
                           o.diagnostic);
        return;
    }
    EQSIM_FUZZ_REQUIRE(o.rows == m.rows, "rows " + std::to_string(o.rows) + ", model " +
                                             std::to_string(m.rows) + ": " + o.diagnostic);
    EQSIM_FUZZ_REQUIRE(o.kx == m.kx && o.ky == m.ky,
                       "score points " + std::to_string(o.kx) + " and " + std::to_string(o.ky));
    EQSIM_FUZZ_REQUIRE(o.block.size() == m.block.size(), "size of the arrays");
    for (std::size_t i = 0; i < o.block.size(); ++i) {
        EQSIM_FUZZ_REQUIRE(o.block[i] == m.block[i], "value " + std::to_string(i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Columns columns;
    if (const std::size_t newline = text.find('\n');
        newline != std::string_view::npos && newline <= 15 && newline >= 3) {
        for (int c = 0; c < 3; ++c) {
            const unsigned char chosen = static_cast<unsigned char>(text[c]);
            columns.number[c] = static_cast<std::int16_t>(1 + (chosen - '1' + 250) % 25);
        }
        text.remove_prefix(newline + 1);
    }
    const Outcome plain = read_data(text, columns);
    check(plain, model_of(text, columns));
    if (!text.starts_with("\xEF\xBB\xBF")) {
        const Outcome marked = read_data("\xEF\xBB\xBF" + std::string(text), columns);
        EQSIM_FUZZ_REQUIRE(marked.rows == plain.rows && marked.kx == plain.kx &&
                               marked.ky == plain.ky && marked.block == plain.block,
                           "a byte-order mark changed the outcome");
    }
    return 0;
}
