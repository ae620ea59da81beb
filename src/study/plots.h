// The study's pictures: for each index (se, bias, rmse) and each of the raw and scale quantities,
// one SVG with a panel per condition (data set and sizes), the index against the new form's raw
// score, a line per method and parameter. Colours are the Okabe-Ito palette, and every line also
// has its own dash pattern and marker so that the plots read in greyscale print. The SVG text
// depends only on the rows: numbers have fixed decimals written by std::to_chars, and nothing
// reads the clock or the locale.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "study/tables.h"

namespace eqsim::study {

enum class Index { se, bias, rmse };

// One plot of the study: an index of a quantity.
struct PlotKind {
    Index index;
    Quantity quantity;
};

// The six plots, in the order se_raw, se_scale, bias_raw, bias_scale, rmse_raw, rmse_scale.
inline constexpr PlotKind kStudyPlots[] = {
    {Index::se, Quantity::raw},     {Index::se, Quantity::scale}, {Index::bias, Quantity::raw},
    {Index::bias, Quantity::scale}, {Index::rmse, Quantity::raw}, {Index::rmse, Quantity::scale},
};

// "se_raw.svg", "bias_scale.svg", ...
std::string plot_file_name(Index index, Quantity quantity);

// The plot of one index and quantity from the score rows (rows of other quantities are ignored).
// Panels, and lines within a panel, follow the order in which conditions and methods first
// appear in rows, so the same method has the same colour in every file.
std::string plot_svg(std::span<const ScoreRow> rows, Index index, Quantity quantity);

// Appends text with &, <, >, " and ' escaped for XML and HTML.
void append_escaped(std::string_view text, std::string& out);

}  // namespace eqsim::study
