#include "study/plots.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace eqsim::study {

namespace {

// ---- geometry (SVG user units, about a pixel each) ----

constexpr double kPlotWidth = 330.0;  // the data area of one panel
constexpr double kPlotHeight = 210.0;
constexpr double kPanelLeft = 62.0;  // room for tick labels and the y title
constexpr double kPanelRight = 18.0;
constexpr double kPanelTop = 30.0;     // the panel's title
constexpr double kPanelBottom = 48.0;  // tick labels and the x title
constexpr double kPanelWidth = kPanelLeft + kPlotWidth + kPanelRight;
constexpr double kPanelHeight = kPanelTop + kPlotHeight + kPanelBottom;
constexpr double kMargin = 16.0;
constexpr double kTitleHeight = 34.0;
constexpr double kLegendRowHeight = 24.0;
constexpr double kLegendSample = 40.0;  // length of a legend's line sample
constexpr double kFontSize = 13.0;
constexpr double kCharWidth = 0.56 * kFontSize;  // a generous estimate for a sans-serif face

// ---- styles: Okabe-Ito colours, darkest and most distinct first; yellow last ----

constexpr const char* kColours[] = {"#000000", "#E69F00", "#0072B2", "#009E73",
                                    "#CC79A7", "#D55E00", "#56B4E9", "#F0E442"};
constexpr const char* kDashes[] = {"",    "8 4",          "2 3", "10 3 2 3",
                                   "5 5", "12 3 2 3 2 3", "1 2", "6 2 6 6"};
enum class Marker { circle, square, triangle_up, diamond, triangle_down, cross, plus, star };
constexpr Marker kMarkers[] = {Marker::circle,  Marker::square,        Marker::triangle_up,
                               Marker::diamond, Marker::triangle_down, Marker::cross,
                               Marker::plus,    Marker::star};
constexpr std::size_t kStyleCount = 8;
constexpr double kStarUnit[10][2] = {{0.0, -1.0},
                                     {0.587785252, -0.809016994},
                                     {0.951056516, -0.309016994},
                                     {0.951056516, 0.309016994},
                                     {0.587785252, 0.809016994},
                                     {0.0, 1.0},
                                     {-0.587785252, 0.809016994},
                                     {-0.951056516, 0.309016994},
                                     {-0.951056516, -0.309016994},
                                     {-0.587785252, -0.809016994}};

// ---- number text ----

// Fixed decimals, without a negative zero.
void append_fixed(double value, int decimals, std::string& out) {
    char buffer[64];
    const double rounded_zero_safe = value + 0.0;
    auto result = std::to_chars(buffer, buffer + sizeof buffer, rounded_zero_safe,
                                std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        out.append("0");
        return;
    }
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos) {
        text.remove_prefix(1);
    }
    out.append(text);
}

void append_coordinate(double value, std::string& out) {
    append_fixed(value, 2, out);
}

// ---- axes ----

struct Axis {
    double low = 0.0;
    double high = 1.0;
    double step = 0.2;
    int decimals = 1;
};

// A step of 1, 2 or 5 times a power of ten that gives about target intervals over span, and the
// decimals its labels need. The power is found by multiplying and dividing by ten, which rounds
// the same everywhere (a library's log10 need not).
double nice_step(double span, double target, int& decimals) {
    const double raw = span / target;
    double magnitude = 1.0;
    int exponent = 0;
    while (magnitude > raw && exponent > -300) {
        magnitude /= 10.0;
        --exponent;
    }
    while (magnitude * 10.0 <= raw && exponent < 300) {
        magnitude *= 10.0;
        ++exponent;
    }
    const double normalised = raw / magnitude;
    double factor = 10.0;
    if (normalised < 1.5) {
        factor = 1.0;
    } else if (normalised < 3.0) {
        factor = 2.0;
    } else if (normalised < 7.0) {
        factor = 5.0;
    }
    if (factor == 10.0) {
        ++exponent;
    }
    decimals = std::clamp(-exponent, 0, 17);
    return factor * magnitude;
}

// An axis through low..high widened to whole steps.
Axis nice_axis(double low, double high, double target) {
    if (!(high > low)) {
        // A flat line: a unit range from zero, or half the value either side.
        const double pad = low == 0.0 ? 1.0 : std::fabs(low) * 0.5;
        const bool nonnegative = low >= 0.0;
        low -= low == 0.0 ? 0.0 : pad;
        high += pad;
        if (nonnegative && low < 0.0) {
            low = 0.0;
        }
    }
    Axis axis;
    axis.step = nice_step(high - low, target, axis.decimals);
    axis.low = std::floor(low / axis.step + 1e-9) * axis.step;
    axis.high = std::ceil(high / axis.step - 1e-9) * axis.step;
    return axis;
}

// ---- the data ----

constexpr double kNoError = std::numeric_limits<double>::quiet_NaN();

struct Series {
    std::vector<std::pair<std::int32_t, double>> points;  // (score, value), in score order
    // The Monte Carlo standard error of each point's value, for the band of the bias plots; NaN
    // where there is none.
    std::vector<double> errors;
};

struct Figure {
    std::vector<RowKey> conditions;
    std::vector<RowKey> methods;
    std::vector<std::vector<Series>> series;  // [condition][method]
    std::int32_t min_score = 0;
    std::int32_t max_score = 1;
    double min_value = 0.0;
    double max_value = 0.0;
    bool any_value = false;
};

double index_value(const ScoreRow& row, Index index) {
    switch (index) {
        case Index::se:
            return row.se;
        case Index::bias:
            return row.bias;
        case Index::rmse:
            return row.rmse;
    }
    return row.se;
}

template <typename Same>
std::size_t position_of(std::vector<RowKey>& keys, const RowKey& key, Same same) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (same(keys[i], key)) {
            return i;
        }
    }
    keys.push_back(key);
    return keys.size() - 1;
}

Figure collect(std::span<const ScoreRow> rows, Index index, Quantity quantity) {
    Figure figure;
    // Methods are numbered over all rows so that each keeps its style in every file.
    for (const ScoreRow& row : rows) {
        position_of(figure.methods, row.key, same_method);
    }
    bool any_score = false;
    for (const ScoreRow& row : rows) {
        if (row.quantity != quantity) {
            continue;
        }
        const std::size_t c = position_of(figure.conditions, row.key, same_condition);
        const std::size_t m = position_of(figure.methods, row.key, same_method);
        if (figure.series.size() <= c) {
            figure.series.resize(c + 1, std::vector<Series>(figure.methods.size()));
        }
        const double value = index_value(row, index);
        figure.series[c][m].points.emplace_back(row.score, value);
        figure.series[c][m].errors.push_back(row.mcse_mean.value_or(kNoError));
        if (!any_score) {
            figure.min_score = figure.max_score = row.score;
            any_score = true;
        }
        figure.min_score = std::min(figure.min_score, row.score);
        figure.max_score = std::max(figure.max_score, row.score);
        if (std::isfinite(value)) {
            if (!figure.any_value) {
                figure.min_value = figure.max_value = value;
                figure.any_value = true;
            }
            figure.min_value = std::min(figure.min_value, value);
            figure.max_value = std::max(figure.max_value, value);
        }
    }
    for (std::vector<Series>& panel : figure.series) {
        for (Series& s : panel) {
            std::vector<std::size_t> order(s.points.size());
            for (std::size_t i = 0; i < order.size(); ++i) {
                order[i] = i;
            }
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
                return s.points[a].first < s.points[b].first;
            });
            Series sorted;
            for (const std::size_t i : order) {
                sorted.points.push_back(s.points[i]);
                sorted.errors.push_back(s.errors[i]);
            }
            s = std::move(sorted);
        }
    }
    if (figure.max_score <= figure.min_score) {
        figure.max_score = figure.min_score + 1;
    }
    return figure;
}

// Columns of the panel grid: one a size when every data set has the same number of sizes (so
// that rows are data sets and columns sizes), otherwise up to three.
std::size_t grid_columns(const std::vector<RowKey>& conditions) {
    const std::size_t n = conditions.size();
    if (n <= 1) {
        return 1;
    }
    std::vector<std::size_t> per_data;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0 || conditions[i].data != conditions[i - 1].data) {
            per_data.push_back(0);
        }
        ++per_data.back();
    }
    const bool crossed = std::all_of(per_data.begin(), per_data.end(),
                                     [&](std::size_t k) { return k == per_data.front(); });
    if (crossed && per_data.size() > 1 && per_data.front() > 1 && per_data.front() <= 4) {
        return per_data.front();
    }
    if (n == 4) {
        return 2;
    }
    return std::min<std::size_t>(n, 3);
}

// ---- SVG pieces ----

void append_attr(std::string_view name, double value, std::string& out) {
    out.push_back(' ');
    out.append(name);
    out.append("=\"");
    append_coordinate(value, out);
    out.push_back('"');
}

void append_text(double x, double y, std::string_view anchor, std::string_view extra,
                 std::string_view text, std::string& out) {
    out.append("<text");
    append_attr("x", x, out);
    append_attr("y", y, out);
    if (!anchor.empty()) {
        out.append(" text-anchor=\"");
        out.append(anchor);
        out.push_back('"');
    }
    out.append(extra);
    out.push_back('>');
    append_escaped(text, out);
    out.append("</text>\n");
}

void append_line(double x1, double y1, double x2, double y2, std::string_view style,
                 std::string& out) {
    out.append("<line");
    append_attr("x1", x1, out);
    append_attr("y1", y1, out);
    append_attr("x2", x2, out);
    append_attr("y2", y2, out);
    out.push_back(' ');
    out.append(style);
    out.append("/>\n");
}

void append_marker(Marker marker, double x, double y, const char* colour, std::string& out) {
    const double r = 3.6;
    std::string points;
    auto point = [&](double px, double py) {
        append_coordinate(x + px, points);
        points.push_back(',');
        append_coordinate(y + py, points);
        points.push_back(' ');
    };
    const std::string fill =
        std::string(" fill=\"") + colour + "\" stroke=\"#ffffff\"" + " stroke-width=\"0.8\"";
    const std::string open =
        std::string(" fill=\"none\" stroke=\"") + colour + "\" stroke-width=\"1.6\"";
    switch (marker) {
        case Marker::circle:
            out.append("<circle");
            append_attr("cx", x, out);
            append_attr("cy", y, out);
            append_attr("r", r, out);
            out.append(fill);
            out.append("/>\n");
            return;
        case Marker::square:
            out.append("<rect");
            append_attr("x", x - r * 0.9, out);
            append_attr("y", y - r * 0.9, out);
            append_attr("width", r * 1.8, out);
            append_attr("height", r * 1.8, out);
            out.append(fill);
            out.append("/>\n");
            return;
        case Marker::triangle_up:
            point(0, -r * 1.2);
            point(r * 1.1, r * 0.8);
            point(-r * 1.1, r * 0.8);
            break;
        case Marker::diamond:
            point(0, -r * 1.25);
            point(r * 1.0, 0);
            point(0, r * 1.25);
            point(-r * 1.0, 0);
            break;
        case Marker::triangle_down:
            point(0, r * 1.2);
            point(r * 1.1, -r * 0.8);
            point(-r * 1.1, -r * 0.8);
            break;
        case Marker::cross:
        case Marker::plus: {
            // Two strokes: diagonal for the cross, upright for the plus.
            const bool cross = marker == Marker::cross;
            const double d = cross ? r * 0.85 : r * 1.15;
            const double strokes[2][4] = {{-d, cross ? -d : 0.0, d, cross ? d : 0.0},
                                          {cross ? -d : 0.0, d, cross ? d : 0.0, -d}};
            out.append("<path d=\"");
            for (const auto& s : strokes) {
                out.push_back('M');
                append_coordinate(x + s[0], out);
                out.push_back(' ');
                append_coordinate(y + s[1], out);
                out.push_back('L');
                append_coordinate(x + s[2], out);
                out.push_back(' ');
                append_coordinate(y + s[3], out);
            }
            out.push_back('"');
            out.append(open);
            out.append("/>\n");
            return;
        }
        case Marker::star:
            // A five-pointed star: outer points at radius 1.3 r, inner at 0.55 r, every 36
            // degrees from the top (the unit coordinates are written out so that no library
            // trigonometry enters the bytes).
            for (int i = 0; i < 10; ++i) {
                const double radius = i % 2 == 0 ? r * 1.3 : r * 0.55;
                point(radius * kStarUnit[i][0], radius * kStarUnit[i][1]);
            }
            break;
    }
    points.pop_back();
    out.append("<polygon points=\"");
    out.append(points);
    out.push_back('"');
    out.append(fill);
    out.append("/>\n");
}

std::string line_style(std::size_t style, const char* colour) {
    std::string s = std::string("fill=\"none\" stroke=\"") + colour +
                    "\" stroke-width=\"1.8\" stroke-linejoin=\"round\"";
    const char* dash = kDashes[style % kStyleCount];
    if (dash[0] != '\0') {
        s += std::string(" stroke-dasharray=\"") + dash + "\"";
    }
    return s;
}

const char* colour_of(std::size_t method) {
    return kColours[method % kStyleCount];
}

// Styles cycle through dashes and markers at a different pace from the colours once there are
// more than eight lines, so that no two of the first 64 lines look alike.
std::size_t dash_of(std::size_t method) {
    return (method + method / kStyleCount) % kStyleCount;
}

Marker marker_of(std::size_t method) {
    return kMarkers[method % kStyleCount];
}

struct Frame {
    double left;  // of the data area
    double top;
    Axis x;
    Axis y;

    double px(double v) const { return left + (v - x.low) / (x.high - x.low) * kPlotWidth; }
    double py(double v) const { return top + (y.high - v) / (y.high - y.low) * kPlotHeight; }
};

// The y title goes on the first panel of each row only: the range is shared.
void append_axes(const Frame& f, Index index, std::string_view y_title, std::string& out) {
    out.append("<rect");
    append_attr("x", f.left, out);
    append_attr("y", f.top, out);
    append_attr("width", kPlotWidth, out);
    append_attr("height", kPlotHeight, out);
    out.append(" fill=\"none\" stroke=\"#888888\" stroke-width=\"1\"/>\n");
    const long y_ticks = std::lround((f.y.high - f.y.low) / f.y.step);
    for (long i = 0; i <= y_ticks; ++i) {
        const double v = f.y.low + static_cast<double>(i) * f.y.step;
        const double y = f.py(v);
        if (i > 0 && i < y_ticks) {
            append_line(f.left, y, f.left + kPlotWidth, y, "stroke=\"#e3e3e3\" stroke-width=\"1\"",
                        out);
        }
        append_line(f.left - 4, y, f.left, y, "stroke=\"#444444\" stroke-width=\"1\"", out);
        std::string label;
        append_fixed(v, f.y.decimals, label);
        append_text(f.left - 7, y + 4.5, "end", "", label, out);
    }
    if (index == Index::bias && f.y.low < 0.0 && f.y.high > 0.0) {
        const double y = f.py(0.0);
        append_line(f.left, y, f.left + kPlotWidth, y, "stroke=\"#444444\" stroke-width=\"1.2\"",
                    out);
    }
    const long first = static_cast<long>(std::ceil(f.x.low / f.x.step - 1e-9));
    const long last = static_cast<long>(std::floor(f.x.high / f.x.step + 1e-9));
    for (long i = first; i <= last; ++i) {
        const double v = static_cast<double>(i) * f.x.step;
        const double x = f.px(v);
        append_line(x, f.top + kPlotHeight, x, f.top + kPlotHeight + 4,
                    "stroke=\"#444444\" stroke-width=\"1\"", out);
        std::string label;
        append_fixed(v, f.x.decimals, label);
        append_text(x, f.top + kPlotHeight + 18, "middle", "", label, out);
    }
    append_text(f.left + kPlotWidth / 2, f.top + kPlotHeight + 38, "middle", "",
                "New-form raw score", out);
    std::string rotate = " transform=\"rotate(-90 ";
    const double ty = f.top + kPlotHeight / 2;
    const double tx = f.left - 46;
    append_coordinate(tx, rotate);
    rotate.push_back(' ');
    append_coordinate(ty, rotate);
    rotate.append(")\"");
    if (!y_title.empty()) {
        append_text(tx, ty, "middle", rotate, y_title, out);
    }
}

// The band of two Monte Carlo standard errors either side of a series, held within the panel,
// light enough that the lines of every method show through; one polygon each run of points that
// have a value and an error.
void append_band(const Frame& f, const Series& s, std::size_t method, std::string& out) {
    const auto clamp = [&](double v) { return std::clamp(v, f.y.low, f.y.high); };
    std::size_t i = 0;
    while (i < s.points.size()) {
        std::size_t end = i;
        while (end < s.points.size() && std::isfinite(s.points[end].second) &&
               std::isfinite(s.errors[end])) {
            ++end;
        }
        if (end > i + 1) {
            std::string points;
            const auto point = [&](std::size_t k, double sign) {
                append_coordinate(f.px(s.points[k].first), points);
                points.push_back(',');
                append_coordinate(f.py(clamp(s.points[k].second + sign * 2.0 * s.errors[k])),
                                  points);
                points.push_back(' ');
            };
            for (std::size_t k = i; k < end; ++k) {
                point(k, 1.0);
            }
            for (std::size_t k = end; k-- > i;) {
                point(k, -1.0);
            }
            points.pop_back();
            out.append("<polygon points=\"");
            out.append(points);
            out.append("\" fill=\"");
            out.append(colour_of(method));
            out.append("\" fill-opacity=\"0.13\" stroke=\"none\"/>\n");
        }
        i = end + 1;
    }
}

void append_series(const Frame& f, const Series& s, std::size_t method, std::size_t method_count,
                   std::int32_t score_span, std::string& out) {
    const char* colour = colour_of(method);
    std::string d;
    bool pen_down = false;
    for (const auto& [score, value] : s.points) {
        if (!std::isfinite(value)) {
            pen_down = false;
            continue;
        }
        d.push_back(pen_down ? 'L' : 'M');
        append_coordinate(f.px(score), d);
        d.push_back(' ');
        append_coordinate(f.py(value), d);
        pen_down = true;
    }
    if (d.empty()) {
        return;
    }
    out.append("<path d=\"");
    out.append(d);
    out.append("\" ");
    out.append(line_style(dash_of(method), colour));
    out.append("/>\n");
    // Markers on every few points, staggered between methods so that they do not sit on top of
    // each other where the lines meet.
    const std::int32_t every = std::max<std::int32_t>(1, (score_span + 4) / 8);
    const std::int32_t offset = static_cast<std::int32_t>(
        (method * static_cast<std::size_t>(every)) / std::max<std::size_t>(1, method_count));
    for (const auto& [score, value] : s.points) {
        if (std::isfinite(value) && (score + offset) % every == 0) {
            append_marker(marker_of(method), f.px(score), f.py(value), colour, out);
        }
    }
}

double text_width(std::string_view text) {
    return static_cast<double>(text.size()) * kCharWidth;
}

// A panel's title, cut at the front of the data path when it would be wider than the panel (the
// end of a path names the file).
std::string panel_title(const RowKey& condition) {
    const std::string full = condition_label(condition);
    const auto fits = static_cast<std::size_t>(kPanelWidth / (kCharWidth * 1.2));
    if (full.size() <= fits) {
        return full;
    }
    std::size_t start = full.size() - (fits - 3);
    // Start on a whole UTF-8 character.
    while (start < full.size() && (static_cast<unsigned char>(full[start]) & 0xC0) == 0x80) {
        ++start;
    }
    return "..." + full.substr(start);
}

// The legend, in rows that fit width; returns its height.
double append_legend(const std::vector<RowKey>& methods, double left, double top, double width,
                     bool draw, std::string& out) {
    double x = left;
    double y = top;
    for (std::size_t m = 0; m < methods.size(); ++m) {
        const std::string label = method_label(methods[m]);
        const double entry = kLegendSample + 8 + text_width(label) + 22;
        if (x > left && x + entry > left + width) {
            x = left;
            y += kLegendRowHeight;
        }
        if (draw) {
            const double mid = y + kLegendRowHeight / 2;
            out.append("<path d=\"M");
            append_coordinate(x, out);
            out.push_back(' ');
            append_coordinate(mid, out);
            out.append("H");
            append_coordinate(x + kLegendSample, out);
            out.append("\" ");
            out.append(line_style(dash_of(m), colour_of(m)));
            out.append("/>\n");
            append_marker(marker_of(m), x + kLegendSample / 2, mid, colour_of(m), out);
            append_text(x + kLegendSample + 8, mid + 4.5, "", "", label, out);
        }
        x += entry;
    }
    return y - top + kLegendRowHeight;
}

std::string_view index_title(Index index) {
    switch (index) {
        case Index::se:
            return "Standard error";
        case Index::bias:
            return "Bias";
        case Index::rmse:
            return "Root mean squared error";
    }
    return "";
}

std::string_view index_word(Index index) {
    switch (index) {
        case Index::se:
            return "se";
        case Index::bias:
            return "bias";
        case Index::rmse:
            return "rmse";
    }
    return "";
}

std::string_view quantity_title(Quantity quantity) {
    switch (quantity) {
        case Quantity::raw:
            return "equated raw scores";
        case Quantity::scale:
            return "unrounded scale scores";
        case Quantity::rounded:
            return "rounded scale scores";
    }
    return "";
}

}  // namespace

void append_escaped(std::string_view text, std::string& out) {
    for (const char c : text) {
        switch (c) {
            case '&':
                out.append("&amp;");
                break;
            case '<':
                out.append("&lt;");
                break;
            case '>':
                out.append("&gt;");
                break;
            case '"':
                out.append("&quot;");
                break;
            case '\'':
                out.append("&#39;");
                break;
            default:
                out.push_back(c);
                break;
        }
    }
}

std::string plot_file_name(Index index, Quantity quantity) {
    std::string name(index_word(index));
    name.push_back('_');
    name.append(quantity_word(quantity));
    name.append(".svg");
    return name;
}

std::string plot_svg(std::span<const ScoreRow> rows, Index index, Quantity quantity) {
    const Figure figure = collect(rows, index, quantity);
    const std::size_t panel_count = std::max<std::size_t>(1, figure.conditions.size());
    const std::size_t columns = grid_columns(figure.conditions);
    const std::size_t grid_rows = (panel_count + columns - 1) / columns;
    const double width = 2 * kMargin + static_cast<double>(columns) * kPanelWidth;
    std::string scratch;
    const double legend_height = append_legend(figure.methods, kMargin + kPanelLeft, 0,
                                               width - 2 * kMargin - kPanelLeft, false, scratch);
    const double grid_top = kMargin + kTitleHeight + legend_height + 6;
    const double height = grid_top + static_cast<double>(grid_rows) * kPanelHeight + kMargin;

    // One y range for every panel, so that conditions compare at a glance; standard errors and
    // RMSEs start at zero, bias always shows zero.
    double low = figure.any_value ? figure.min_value : 0.0;
    double high = figure.any_value ? figure.max_value : 1.0;
    if (index != Index::bias || low > 0.0) {
        low = std::min(low, 0.0);
    }
    high = std::max(high, 0.0);
    Frame frame{0, 0, nice_axis(figure.min_score, figure.max_score, 8), nice_axis(low, high, 5)};
    frame.x.low = figure.min_score;
    frame.x.high = figure.max_score;

    std::string out;
    out.append("<svg xmlns=\"http://www.w3.org/2000/svg\"");
    append_attr("width", width, out);
    append_attr("height", height, out);
    out.append(" viewBox=\"0 0 ");
    append_coordinate(width, out);
    out.push_back(' ');
    append_coordinate(height, out);
    out.append("\" font-family=\"'DejaVu Sans', Verdana, Arial, Helvetica, sans-serif\"");
    out.append(" font-size=\"13\" fill=\"#222222\">\n");
    std::string title(index_title(index));
    title.append(" of ");
    title.append(quantity_title(quantity));
    out.append("<title>");
    append_escaped(title, out);
    out.append("</title>\n");
    out.append("<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
    append_text(kMargin + kPanelLeft, kMargin + 20, "", " font-size=\"17\" font-weight=\"bold\"",
                title, out);
    append_legend(figure.methods, kMargin + kPanelLeft, kMargin + kTitleHeight,
                  width - 2 * kMargin - kPanelLeft, true, out);

    const std::int32_t score_span = figure.max_score - figure.min_score;
    for (std::size_t c = 0; c < figure.conditions.size(); ++c) {
        const double panel_left = kMargin + static_cast<double>(c % columns) * kPanelWidth;
        const double panel_top = grid_top + static_cast<double>(c / columns) * kPanelHeight;
        frame.left = panel_left + kPanelLeft;
        frame.top = panel_top + kPanelTop;
        out.append("<g>\n");
        append_text(frame.left + kPlotWidth / 2, panel_top + 20, "middle", " font-weight=\"bold\"",
                    panel_title(figure.conditions[c]), out);
        append_axes(frame, index, c % columns == 0 ? index_title(index) : "", out);
        // Bias is measured against a fixed criterion: its bands show how far the estimate could
        // move with other replications, drawn first so that every line stays on top.
        if (index == Index::bias) {
            for (std::size_t m = 0; m < figure.series[c].size(); ++m) {
                append_band(frame, figure.series[c][m], m, out);
            }
        }
        for (std::size_t m = 0; m < figure.series[c].size(); ++m) {
            append_series(frame, figure.series[c][m], m, figure.methods.size(), score_span, out);
        }
        out.append("</g>\n");
    }
    if (figure.conditions.empty()) {
        append_text(width / 2, grid_top + kPanelHeight / 2, "middle", "", "No scores to plot", out);
    }
    out.append("</svg>\n");
    return out;
}

}  // namespace eqsim::study
