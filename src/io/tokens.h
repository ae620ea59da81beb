// The tokens of the program's text files and what they hold: splitting a line into tokens, numbers
// read from a token's start (as the control and data files read them) or from the whole token (as
// study files do), a token as diagnostics quote it, and numbers as diagnostics and tables write
// them. Nothing here reads or writes a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/numeric/number_text.h"

namespace eqsim {

// Splits line into tokens separated by blanks and tabs, ending at a carriage return, a newline or
// the end of the text. Returns the number of tokens stored whole: at most token_limit, and the
// token characters plus one terminator per token never exceed byte_limit.
int split_tokens(int token_limit, int byte_limit, std::string_view line,
                 std::span<std::string_view> tokens);

// A token as a diagnostic shows it: in double quotes, with every byte that is not printable
// ASCII written as \xHH, so that a binary file cannot garble the user's terminal.
std::string quoted(std::string_view token);

// Formatted input of one token's leading text, as the control and data files use it.
// Each returns false when the token has no leading number (or it does not fit the type). When used
// is given, it receives how many of the token's characters the number took (the rest is ignored).
bool read_double_prefix(std::string_view token, double& value, std::size_t* used = nullptr);
bool read_int32_prefix(std::string_view token, std::int32_t& value, bool& out_of_range,
                       std::size_t* used = nullptr);
bool read_int16_prefix(std::string_view token, std::int16_t& value, bool& out_of_range,
                       std::size_t* used = nullptr);

// Whole tokens as numbers, as study files read them: the whole token must be the number (an
// optional sign, decimal digits and, for a double, a fraction and an exponent; "inf" and "nan"
// read, and are refused later as not finite).
enum class NumberRead { ok, malformed, out_of_range };
NumberRead read_whole_integer(std::string_view token, std::int32_t& value);
NumberRead read_whole_double(std::string_view token, double& value);

// What is wrong with a token that did not read: "WHAT "TOKEN" is not a whole number; ...".
std::string integer_problem(std::string_view what, std::string_view token, NumberRead read);
std::string number_problem(std::string_view what, std::string_view token, NumberRead read);

}  // namespace eqsim
