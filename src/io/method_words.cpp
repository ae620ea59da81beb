#include "io/method_words.h"

#include <cstddef>

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
