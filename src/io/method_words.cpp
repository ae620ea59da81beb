#include "io/method_words.h"

#include <cmath>
#include <cstddef>

#include "io/tokens.h"

namespace eqsim {

namespace {

constexpr MethodWords kWords[] = {
    {Method::postsmoothing, "Postsmoothing", "PO", "Post"},
    {Method::presmoothing, "Presmoothing", "PR", "Pre"},
    {Method::unsmoothed, "None", "N", "None"},
    {Method::linear, "Linear", "L", "Linear"},
    {Method::mean, "Mean", "M", "Mean"},
    {Method::identity, "Identity", "I", "Identity"},
    {Method::circle_arc, "Circle-arc", "C", "Circle"},
    {Method::synthetic, "Synthetic", "S", "Synthetic"},
    {Method::kernel, "Kernel", "K", "Kernel"},
};

// "a, b, c or d" of one field of every method's words.
std::string list_of(std::string_view MethodWords::*field, std::string_view joiner) {
    std::string list;
    for (std::size_t i = 0; i < std::size(kWords); ++i) {
        if (i > 0) {
            list += i + 1 == std::size(kWords) ? joiner : std::string_view(", ");
        }
        list += kWords[i].*field;
    }
    return list;
}

char upper_ascii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool starts_with_letters(std::string_view word, std::string_view letters) {
    if (word.size() < letters.size()) {
        return false;
    }
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if (upper_ascii(word[i]) != letters[i]) {
            return false;
        }
    }
    return true;
}

// True when word, in any case, is a beginning of name.
bool begins(std::string_view word, std::string_view name) {
    if (word.size() > name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (upper_ascii(word[i]) != upper_ascii(name[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const MethodWords> method_words() {
    return kWords;
}

const MethodWords& words_of(Method method) {
    for (const MethodWords& words : kWords) {
        if (words.method == method) {
            return words;
        }
    }
    return kWords[0];
}

const MethodWords* method_of_word(std::string_view word) {
    for (const MethodWords& words : kWords) {
        if (starts_with_letters(word, words.letters)) {
            return &words;
        }
    }
    return nullptr;
}

const MethodWords* method_of_table_word(std::string_view word) {
    for (const MethodWords& words : kWords) {
        if (word == words.word) {
            return &words;
        }
    }
    return nullptr;
}

bool word_begins_method_name(std::string_view word, const MethodWords& words) {
    return begins(word, words.word) || begins(word, method_name(words.method));
}

namespace {

// Reads the parameter token of a method that takes one into choice.parameter.
std::string read_method_parameter(std::string_view token, MethodChoice& choice) {
    const bool degree = parameter_rule(choice.method) == ParameterRule::degree;
    const char* what = degree ? "log-linear degree" : "smoothing parameter";
    const NumberRead read = read_whole_double(token, choice.parameter);
    if (read != NumberRead::ok) {
        return number_problem(what, token, read);
    }
    if (!std::isfinite(choice.parameter)) {
        return std::string(what) + " " + quoted(token) + " is not a finite number";
    }
    if (Status s = check_parameter(choice); !s.is_ok()) {
        return s.diagnostic();
    }
    if (degree &&
        (choice.parameter != std::trunc(choice.parameter) || choice.parameter > 32767.0)) {
        return "log-linear degree " + quoted(token) + " is not a whole number from 1 to 32767";
    }
    return {};
}

}  // namespace

std::string read_method_words(std::span<const std::string_view> values, MethodChoice& choice,
                              bool& shows_parameter) {
    if (values.empty()) {
        return "method needs a method word: " + hint_list();
    }
    const MethodWords* info = method_of_word(values[0]);
    if (info == nullptr) {
        return "method " + quoted(values[0]) + " names no method; use " + hint_list();
    }
    choice = MethodChoice{info->method, 0.0};
    shows_parameter = parameter_rule(info->method) != ParameterRule::none;
    if (values.size() > 2) {
        return "method takes a word and at most one parameter, found " +
               std::to_string(values.size()) + " values";
    }
    if (!shows_parameter && values.size() == 2) {
        return "method " + std::string(info->word) + " takes no parameter, found " +
               quoted(values[1]) + "; remove it";
    }
    if (info->method == Method::presmoothing && values.size() == 1) {
        return "method Presmoothing needs the log-linear degree, as in `method Pre 6`";
    }
    if (info->method == Method::kernel && values.size() == 1) {
        return "method Kernel needs the log-linear degree, as in `method Kernel 6`";
    }
    if (info->method == Method::postsmoothing) {
        choice.parameter = kDefaultPostsmoothingParameter;
    }
    if (info->method == Method::synthetic) {
        choice.parameter = kDefaultSyntheticWeight;
    }
    if (values.size() == 2) {
        return read_method_parameter(values[1], choice);
    }
    return {};
}

std::string full_word_list(std::string_view joiner) {
    return list_of(&MethodWords::word, joiner);
}

std::string hint_list() {
    return list_of(&MethodWords::hint, " or ");
}

std::string letters_list() {
    return list_of(&MethodWords::letters, " or ");
}

}  // namespace eqsim
