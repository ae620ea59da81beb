// The words users type for the equating methods, in control files, study files and the study's
// tables, and how a word selects a method. The engine knows the methods by their codes and names;
// this is the one place that knows what people call them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/engine.h"

namespace eqsim {

struct MethodWords {
    Method method;
    std::string_view word;     // the full word: Postsmoothing, Presmoothing, None, ...
    std::string_view letters;  // the letters that select it, in any case: PO, PR, N, L, M, ...
    std::string_view hint;     // what messages suggest writing: Post, Pre, None, ...
};

// Every method's words, in code order.
std::span<const MethodWords> method_words();

const MethodWords& words_of(Method method);

// The method a word selects by its first letters (PO, PR, N, L, M, I, C, S, K), in any case, or
// nullptr when it selects none.
const MethodWords* method_of_word(std::string_view word);

// The method a study file's word selects: its whole word or a beginning that no other method
// shares, in any case ("Lev" is Levine); a beginning several share selects the method its first
// letters select when that is one of them ("L" is Linear, "C" Circle-arc), and is ambiguous
// otherwise ("Chained"); a word that begins no method's word selects by its first letters
// ("Loglinear" is Linear). nullptr, with problem saying why, when it selects none.
const MethodWords* method_of_study_word(std::string_view word, std::string& problem);

// The method whose full word is exactly word (as the tables write it), or nullptr.
const MethodWords* method_of_table_word(std::string_view word);

// True when word, in any case, begins the method's full word or its name ("Post",
// "Post-smoothing", "n"); false when only its first letters chose the method ("Loglinear" chooses
// Linear, "Mean-sigma" Mean).
bool word_begins_method_name(std::string_view word, const MethodWords& words);

// The parameters of the methods that take one when a study does not give it.
inline constexpr double kDefaultPostsmoothingParameter = 0.25;
inline constexpr double kDefaultSyntheticWeight = 0.5;

// Reads a method as a study file's method line gives it: values are a method word and at most one
// parameter. The degree of Presmoothing and Kernel is required and must be a whole number from 1
// to 32767 (eqsim truncates a fractional degree; a study would label a run by a degree it did not
// use); Postsmoothing and Synthetic take their default without one; the others take none. Returns
// an empty text and fills choice (parameter 0 where the method takes none) and shows_parameter
// (whether the method takes one), or says what is wrong.
std::string read_method_words(std::span<const std::string_view> values, MethodChoice& choice,
                              bool& shows_parameter);

// The word of a quantity in the study's tables: "raw", "scale", "rounded".
std::string_view quantity_word(Quantity quantity);

// The label of a method as the study file names it, with its parameter where the tables show
// one: "Postsmoothing 0.1", "None".
std::string method_label(Method method, bool shows_parameter, double parameter);

// "Postsmoothing, Presmoothing, None, ... or Kernel": the random-groups methods' full words, for
// messages; the words suggested ("Post, Pre, None, ... or Kernel"; of every method's without a
// design); the letters ("PO, PR, N, ... or K"). joiner goes before the last item: " or " or
// " and ".
std::string full_word_list(std::string_view joiner = " or ",
                           std::optional<Design> design = Design::random_groups);
std::string hint_list(std::optional<Design> design = Design::random_groups);
std::string letters_list();

}  // namespace eqsim
