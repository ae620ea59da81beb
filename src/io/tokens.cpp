#include "io/tokens.h"

#include <charconv>
#include <cstdlib>
#include <limits>

namespace eqsim {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool ends_line(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

}  // namespace

int split_tokens(int token_limit, int byte_limit, std::string_view line,
                 std::span<std::string_view> tokens) {
    int count = 0;
    int bytes = 0;
    std::size_t pos = 0;
    const auto at = [&](std::size_t i) { return i < line.size() ? line[i] : '\0'; };
    for (;;) {
        while (is_blank(at(pos))) {
            ++pos;
        }
        if (ends_line(at(pos))) {
            return count;
        }
        ++count;
        if (count > token_limit) {
            return token_limit;
        }
        const std::size_t start = pos;
        while (!is_blank(at(pos)) && !ends_line(at(pos))) {
            if (bytes + 1 > byte_limit) {
                return count - 1;
            }
            ++bytes;
            ++pos;
        }
        if (bytes + 1 > byte_limit) {
            return count - 1;
        }
        ++bytes;
        tokens[count - 1] = line.substr(start, pos - start);
        if (ends_line(at(pos))) {
            return count;
        }
    }
}

std::string quoted(std::string_view token) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string result(1, '"');
    for (const char c : token) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f) {
            result += "\\x";
            result.push_back(hex[byte >> 4]);
            result.push_back(hex[byte & 0xf]);
        } else {
            result.push_back(c);
        }
    }
    result.push_back('"');
    return result;
}

bool read_double_prefix(std::string_view token, double& value, std::size_t* used) {
    const std::string text(token);
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        return false;
    }
    value = parsed;
    if (used != nullptr) {
        *used = static_cast<std::size_t>(end - text.c_str());
    }
    return true;
}

namespace {

// Leading white space, an optional sign and decimal digits, as integer formatted input reads
// them; what follows is ignored.
template <typename Int>
bool read_integer_prefix(std::string_view token, Int& value, bool& out_of_range,
                         std::size_t* used) {
    out_of_range = false;
    std::size_t pos = 0;
    // Formatted input skips white space first; inside a token only \v and \f can be left.
    while (pos < token.size() && (token[pos] == '\v' || token[pos] == '\f')) {
        ++pos;
    }
    bool negative = false;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
        negative = token[pos] == '-';
        ++pos;
    }
    if (pos >= token.size() || token[pos] < '0' || token[pos] > '9') {
        return false;
    }
    // Accumulate the magnitude in 64 bits and stop counting once it is beyond every Int.
    constexpr long long cap = static_cast<long long>(std::numeric_limits<Int>::max()) + 1;
    long long magnitude = 0;
    for (; pos < token.size() && token[pos] >= '0' && token[pos] <= '9'; ++pos) {
        if (magnitude <= cap) {
            magnitude = magnitude * 10 + (token[pos] - '0');
        }
    }
    const long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value < std::numeric_limits<Int>::min() ||
        signed_value > std::numeric_limits<Int>::max()) {
        out_of_range = true;
        return false;
    }
    value = static_cast<Int>(signed_value);
    if (used != nullptr) {
        *used = pos;
    }
    return true;
}

}  // namespace

bool read_int32_prefix(std::string_view token, std::int32_t& value, bool& out_of_range,
                       std::size_t* used) {
    return read_integer_prefix(token, value, out_of_range, used);
}

bool read_int16_prefix(std::string_view token, std::int16_t& value, bool& out_of_range,
                       std::size_t* used) {
    return read_integer_prefix(token, value, out_of_range, used);
}

namespace {

// The whole token as a number of Value's kind.
template <typename Value>
NumberRead read_whole_number(std::string_view token, Value& value) {
    if (!token.empty() && token[0] == '+') {
        token.remove_prefix(1);
        if (!token.empty() && token[0] == '-') {
            return NumberRead::malformed;
        }
    }
    const char* end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, value);
    if (error == std::errc::result_out_of_range && stop == end) {
        return NumberRead::out_of_range;
    }
    return error == std::errc() && stop == end ? NumberRead::ok : NumberRead::malformed;
}

}  // namespace

NumberRead read_whole_integer(std::string_view token, std::int32_t& value) {
    return read_whole_number(token, value);
}

NumberRead read_whole_double(std::string_view token, double& value) {
    return read_whole_number(token, value);
}

std::string integer_problem(std::string_view what, std::string_view token, NumberRead read) {
    if (read == NumberRead::out_of_range) {
        return std::string(what) + " " + quoted(token) +
               " does not fit a 32-bit integer; give a value from -2147483648 to 2147483647";
    }
    return std::string(what) + " " + quoted(token) +
           " is not a whole number; write its decimal digits alone (no point, exponent or "
           "separators)";
}

std::string number_problem(std::string_view what, std::string_view token, NumberRead read) {
    if (read == NumberRead::out_of_range) {
        return std::string(what) + " " + quoted(token) +
               " is beyond the range of a double; give a value of ordinary size";
    }
    return std::string(what) + " " + quoted(token) +
           " is not a number; write it in decimal, as in 0.25 or 1e-3";
}

}  // namespace eqsim
