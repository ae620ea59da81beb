#include "io/method_words.h"

#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

#include "engine/numeric/number_text.h"
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
    // The anchor-test methods have no letters of their own: a study file names them by their
    // word or a beginning that no other method shares.
    {Method::tucker, "Tucker", "", "Tucker"},
    {Method::levine, "Levine", "", "Levine"},
    {Method::chained_linear, "Chained-linear", "", "Chained-linear"},
    {Method::frequency_estimation, "Frequency-estimation", "", "Frequency"},
    {Method::braun_holland, "Braun-Holland", "", "Braun"},
    {Method::chained_equipercentile, "Chained-equipercentile", "", "Chained-equipercentile"},
};

// "a, b, c or d" of one field of the words of every method (of one design when given).
std::string list_of(std::string_view MethodWords::*field, std::string_view joiner,
                    std::optional<Design> design = Design::random_groups) {
    std::vector<std::string_view> items;
    for (const MethodWords& words : kWords) {
        if (!design || design_of(words.method) == *design) {
            items.push_back(words.*field);
        }
    }
    std::string list;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            list += i + 1 == items.size() ? joiner : std::string_view(", ");
        }
        list += items[i];
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
        if (!words.letters.empty() && starts_with_letters(word, words.letters)) {
            return &words;
        }
    }
    return nullptr;
}

const MethodWords* method_of_study_word(std::string_view word, std::string& problem) {
    problem.clear();
    std::vector<const MethodWords*> beginning;
    for (const MethodWords& words : kWords) {
        if (!word.empty() && begins(word, words.word)) {
            if (word.size() == words.word.size()) {
                return &words;  // the whole word
            }
            beginning.push_back(&words);
        }
    }
    const MethodWords* by_letters = method_of_word(word);
    if (beginning.size() == 1) {
        return beginning.front();
    }
    if (beginning.empty()) {
        if (by_letters == nullptr) {
            problem = "method " + quoted(word) + " names no method; use " + hint_list(std::nullopt);
        }
        return by_letters;
    }
    // Several methods begin so: the one-letter forms keep their meaning ("L" is Linear, "C"
    // Circle-arc), otherwise the word must go on until one method is left.
    for (const MethodWords* words : beginning) {
        if (words == by_letters) {
            return words;
        }
    }
    problem = "method " + quoted(word) + " could be ";
    for (std::size_t i = 0; i < beginning.size(); ++i) {
        if (i > 0) {
            problem += i + 1 == beginning.size() ? " or " : ", ";
        }
        problem += beginning[i]->word;
    }
    problem += "; write more of its word";
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
        return "method needs a method word: " + hint_list(std::nullopt);
    }
    std::string problem;
    const MethodWords* info = method_of_study_word(values[0], problem);
    if (info == nullptr) {
        return problem;
    }
    choice = MethodChoice{info->method, 0.0};
    shows_parameter = parameter_rule(info->method) != ParameterRule::none;
    // Without w1 the synthetic population weights the groups by their sample sizes, which
    // differ from condition to condition: no parameter is shown then.
    if (parameter_rule(info->method) == ParameterRule::group_weight && values.size() == 1) {
        choice.parameter = kWeightOfSizes;
        shows_parameter = false;
    }
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

std::string full_word_list(std::string_view joiner, std::optional<Design> design) {
    return list_of(&MethodWords::word, joiner, design);
}

std::string hint_list(std::optional<Design> design) {
    return list_of(&MethodWords::hint, " or ", design);
}

std::string letters_list() {
    return list_of(&MethodWords::letters, " or ");
}

std::string method_label(Method method, bool shows_parameter, double parameter) {
    std::string label(words_of(method).word);
    if (shows_parameter) {
        label.push_back(' ');
        append_number(parameter, label);
    }
    return label;
}

std::string_view quantity_word(Quantity quantity) {
    switch (quantity) {
        case Quantity::raw:
            return "raw";
        case Quantity::scale:
            return "scale";
        case Quantity::rounded:
            return "rounded";
    }
    return "";
}

}  // namespace eqsim
