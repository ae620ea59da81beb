// The study's index.html: the six plots (as images beside it in the output folder) and the
// summary table, in one page without scripts that reads on screen and prints cleanly.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "study/tables.h"

namespace eqsim::study {

// The page's text. title heads the page (the study file's name, say); summary and decisions give
// the tables' rows in order (no decisions: no decisions table). The bytes depend only on the
// arguments.
std::string index_page(std::string_view title, std::span<const SummaryRow> summary,
                       std::span<const DecisionRow> decisions = {});

}  // namespace eqsim::study
