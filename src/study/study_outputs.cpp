#include "study/study_outputs.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>

#include "engine/sampling/uniform_random.h"
#include "io/platform/platform.h"
#include "io/report_destination.h"
#include "io/text_lines.h"
#include "io/tokens.h"
#include "study/index_page.h"
#include "study/plots.h"

namespace eqsim::study {

namespace {

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool read_whole_file(const std::string& path, std::string& content, std::string& diagnostic) {
    FileHandle file(platform::open_for_reading(path));
    if (!file) {
        diagnostic = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    content.clear();
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        content.append(buffer, n);
    }
    if (std::ferror(file.get())) {
        diagnostic = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string shard_name(int shard, int shards, const char* what) {
    return "shard-" + std::to_string(shard) + "-of-" + std::to_string(shards) + "." + what;
}

std::string study_title(const StudySpec& spec, std::int32_t seed) {
    const std::string name = platform::base_of(spec.path);
    return "eqsim study " + name + ", seed " + std::to_string(seed) + ", " +
           std::to_string(spec.replications) + " replications";
}

// The most condition positions a manifest may name: far more than a study file allows, and
// small enough that the counting never overflows.
constexpr long long kMostManifestPositions = 1 << 30;
// Tables are written in pieces of about this many bytes, so that their text is never held whole.
constexpr std::size_t kWritePiece = 1u << 16;

// Whole non-negative integer of a manifest field, or false.
bool read_count(std::string_view text, long long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

// One shard as its manifest describes it.
struct ShardManifest {
    int shard = 0;
    int shards = 0;
    std::string digest;
    std::int32_t seed = 0;
    struct Entry {
        int position;
        std::size_t scores;
        std::size_t histograms;
        std::size_t summaries;
        std::size_t decisions;
    };
    std::vector<Entry> conditions;
};

bool parse_manifest(const std::string& file, std::string_view text, ShardManifest& m,
                    std::string& diagnostic) {
    int line_number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line =
            text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        ++line_number;
        std::string_view fields[7];
        const int n = split_tokens(7, static_cast<int>(line.size()) + 7, line, fields);
        const auto bad = [&](const char* what) {
            diagnostic = file + ":" + std::to_string(line_number) + ": " + what +
                         "; the shard's files are damaged: run the shard again";
            return false;
        };
        long long a = 0;
        long long b = 0;
        long long c = 0;
        long long d = 0;
        long long e = 0;
        if (line_number == 1) {
            if (n != 5 || fields[0] != "eqsim-study" || fields[1] != "shard" || fields[3] != "of" ||
                !read_count(fields[2], a) || !read_count(fields[4], b)) {
                return bad("not a shard manifest");
            }
            m.shard = static_cast<int>(a);
            m.shards = static_cast<int>(b);
        } else if (n == 2 && fields[0] == "study") {
            m.digest = std::string(fields[1]);
        } else if (n == 2 && fields[0] == "seed" && read_count(fields[1], a) && a <= kLargestSeed) {
            m.seed = static_cast<std::int32_t>(a);
        } else if (n == 6 && fields[0] == "condition" && read_count(fields[1], a) &&
                   read_count(fields[2], b) && read_count(fields[3], c) &&
                   read_count(fields[4], d) && read_count(fields[5], e) &&
                   a < kMostManifestPositions) {
            m.conditions.push_back(ShardManifest::Entry{
                static_cast<int>(a), static_cast<std::size_t>(b), static_cast<std::size_t>(c),
                static_cast<std::size_t>(d), static_cast<std::size_t>(e)});
        } else if (n != 0) {
            return bad("line not understood");
        }
    }
    if (line_number == 0) {
        diagnostic = file + ": empty; the shard's files are damaged: run the shard again";
        return false;
    }
    return true;
}

// The shard manifests in folder, by shard number; every one must be of the same N.
bool find_manifests(const std::string& folder, std::map<int, std::string>& found, int& shards,
                    std::string& diagnostic) {
    shards = 0;
    std::vector<std::string> names;
    bool missing = false;
    std::string reason;
    if (!platform::list_folder(folder, names, missing, reason)) {
        diagnostic = missing ? folder + ": no such output folder, so no shards to merge; run the " +
                                   "shards (--shard I/N) first"
                             : folder + ": cannot list the output folder: " + reason;
        return false;
    }
    for (const std::string& name : names) {
        int shard = 0;
        int of = 0;
        char tail[16] = {};
        if (std::sscanf(name.c_str(), "shard-%d-of-%d.%15s", &shard, &of, tail) != 3 ||
            std::string(tail) != "manifest" || name != shard_name(shard, of, "manifest")) {
            continue;
        }
        if (shards != 0 && of != shards) {
            diagnostic = joined(folder, name) + ": a shard of " + std::to_string(of) +
                         " beside shards of " + std::to_string(shards) +
                         "; remove the files of the other run";
            return false;
        }
        shards = of;
        found[shard] = joined(folder, name);
    }
    if (shards == 0) {
        diagnostic = folder + ": no shard manifests (shard-I-of-N.manifest); run the shards first";
        return false;
    }
    for (int i = 1; i <= shards; ++i) {
        if (found.find(i) == found.end()) {
            diagnostic = joined(folder, shard_name(i, shards, "manifest")) +
                         ": missing; run shard " + std::to_string(i) + "/" +
                         std::to_string(shards) + " before the merge";
            return false;
        }
    }
    return true;
}

// Moves rows [from, from + count) of all into out.
template <typename Row>
bool take_rows(std::vector<Row>& all, std::size_t& from, std::size_t count, std::vector<Row>& out) {
    if (all.size() - from < count) {
        return false;
    }
    out.assign(std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(from)),
               std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(from + count)));
    from += count;
    return true;
}

}  // namespace

bool prepare_output_folder(const std::string& folder, std::string& diagnostic) {
    std::string reason;
    if (!platform::make_folders(folder, reason)) {
        diagnostic = folder + ": cannot create the output folder: " + reason;
        return false;
    }
    platform::PathFacts facts;
    if (!platform::inspect_path(folder, facts, reason) ||
        facts.kind != platform::PathKind::directory) {
        diagnostic = folder + ": the output folder is not a folder; name another with `output`";
        return false;
    }
    // A probe file shows that the folder takes new files, before any replication runs.
    ReportDestination destination;
    if (!check_report_destination(joined(folder, "index.html"), destination, diagnostic)) {
        diagnostic += " (in the output folder; name another with `output`)";
        return false;
    }
    return true;
}

bool write_study_outputs(const std::string& folder, const StudySpec& spec, std::int32_t seed,
                         std::vector<ConditionTables>& conditions, std::string& diagnostic) {
    std::size_t count = 0;
    std::size_t summaries = 0;
    for (const ConditionTables& c : conditions) {
        count += c.scores.size();
        summaries += c.summaries.size();
    }
    std::vector<ScoreRow> scores;
    scores.reserve(count);
    std::vector<SummaryRow> summary;
    summary.reserve(summaries);
    std::vector<DecisionRow> decisions;
    for (ConditionTables& c : conditions) {
        std::move(c.scores.begin(), c.scores.end(), std::back_inserter(scores));
        c.scores = std::vector<ScoreRow>();
        std::move(c.summaries.begin(), c.summaries.end(), std::back_inserter(summary));
        c.summaries = std::vector<SummaryRow>();
        std::move(c.decisions.begin(), c.decisions.end(), std::back_inserter(decisions));
        c.decisions = std::vector<DecisionRow>();
    }
    const bool scores_written = write_output_file(
        joined(folder, "scores.csv"),
        [&](std::FILE* file) {
            std::string text(scores_header());
            bool ok = true;
            for (const ScoreRow& row : scores) {
                append_score_row(row, text);
                if (text.size() >= kWritePiece) {
                    ok = ok && std::fwrite(text.data(), 1, text.size(), file) == text.size();
                    text.clear();
                }
            }
            return ok && std::fwrite(text.data(), 1, text.size(), file) == text.size();
        },
        diagnostic);
    if (!scores_written) {
        return false;
    }
    std::string summary_text(summary_header());
    for (const SummaryRow& row : summary) {
        append_summary_row(row, summary_text);
    }
    const bool tables_written =
        write_output_file(joined(folder, "summary.csv"), summary_text, diagnostic) &&
        write_output_file(
            joined(folder, "histograms.csv"),
            [&](std::FILE* file) {
                const std::string_view header = histograms_header();
                bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
                for (const ConditionTables& c : conditions) {
                    ok = ok && std::fwrite(c.histograms.data(), 1, c.histograms.size(), file) ==
                                   c.histograms.size();
                }
                return ok;
            },
            diagnostic);
    if (!tables_written) {
        return false;
    }
    if (!spec.cuts.empty()) {
        std::string decisions_text(decisions_header());
        for (const DecisionRow& row : decisions) {
            append_decision_row(row, decisions_text);
        }
        if (!write_output_file(joined(folder, "decisions.csv"), decisions_text, diagnostic)) {
            return false;
        }
    }
    for (const PlotKind& plot : kStudyPlots) {
        if (!write_output_file(joined(folder, plot_file_name(plot.index, plot.quantity)),
                               plot_svg(scores, plot.index, plot.quantity), diagnostic)) {
            return false;
        }
    }
    return write_output_file(joined(folder, "index.html"),
                             index_page(study_title(spec, seed), summary, decisions), diagnostic);
}

std::vector<int> shard_positions(int count, int shard, int shards) {
    std::vector<int> positions;
    for (int i = shard - 1; i < count; i += shards) {
        positions.push_back(i);
    }
    return positions;
}

bool write_shard(const std::string& folder, const StudySpec& spec, std::int32_t seed, int shard,
                 int shards, const std::vector<int>& positions,
                 const std::vector<ConditionTables>& tables, std::string& diagnostic) {
    std::string scores_text(scores_header());
    std::string summary_text(summary_header());
    std::string histograms_text(histograms_header());
    std::string decisions_text(decisions_header());
    std::string manifest = "eqsim-study shard " + std::to_string(shard) + " of " +
                           std::to_string(shards) + "\nstudy " + spec.digest + "\nseed " +
                           std::to_string(seed) + "\n";
    for (std::size_t i = 0; i < positions.size(); ++i) {
        for (const ScoreRow& row : tables[i].scores) {
            append_score_row(row, scores_text);
        }
        // The summaries carry Monte Carlo standard errors that the score rows cannot give back.
        for (const SummaryRow& row : tables[i].summaries) {
            append_summary_row(row, summary_text);
        }
        histograms_text += tables[i].histograms;
        for (const DecisionRow& row : tables[i].decisions) {
            append_decision_row(row, decisions_text);
        }
        manifest += "condition " + std::to_string(positions[i]) + " " +
                    std::to_string(tables[i].scores.size()) + " " +
                    std::to_string(tables[i].histogram_rows) + " " +
                    std::to_string(tables[i].summaries.size()) + " " +
                    std::to_string(tables[i].decisions.size()) + "\n";
    }
    // The manifest goes last: a shard whose manifest is there has written its tables.
    for (const auto& [what, text] : {std::pair{"scores.csv", &scores_text},
                                     {"summary.csv", &summary_text},
                                     {"histograms.csv", &histograms_text},
                                     {"decisions.csv", &decisions_text},
                                     {"manifest", &manifest}}) {
        if (!write_output_file(joined(folder, shard_name(shard, shards, what)), *text,
                               diagnostic)) {
            return false;
        }
    }
    return true;
}

int condition_count(const StudySpec& spec) {
    return eqsim::condition_count(spec.data.size(), spec.sizes.size());
}

bool read_shards(const std::string& folder, const StudySpec& spec, std::int32_t& seed,
                 std::vector<ConditionTables>& conditions, std::string& diagnostic) {
    std::map<int, std::string> manifests;
    int shards = 0;
    if (!find_manifests(folder, manifests, shards, diagnostic)) {
        return false;
    }
    const int count = condition_count(spec);
    conditions.assign(static_cast<std::size_t>(count), ConditionTables{});
    std::vector<bool> seen(static_cast<std::size_t>(count), false);
    bool seed_known = false;
    for (const auto& [shard, path] : manifests) {
        std::string text;
        ShardManifest m;
        if (!read_whole_file(path, text, diagnostic) ||
            !parse_manifest(path, text, m, diagnostic)) {
            return false;
        }
        if (m.digest != spec.digest) {
            diagnostic = path + ": made from another study file (digest " + m.digest +
                         ", this one " + spec.digest + "); run the shards of this study again";
            return false;
        }
        if (seed_known && m.seed != seed) {
            diagnostic = path + ": ran with seed " + std::to_string(m.seed) + ", another with " +
                         std::to_string(seed) + "; run every shard with the same seed";
            return false;
        }
        seed = m.seed;
        seed_known = true;
        std::vector<ScoreRow> scores;
        std::vector<SummaryRow> summaries;
        std::vector<HistogramRow> histograms;
        std::vector<DecisionRow> decisions;
        const auto path_of = [&](const char* what) {
            return joined(folder, shard_name(shard, shards, what));
        };
        const auto read = [&](const char* what, auto parse, auto& rows) {
            const std::string table = path_of(what);
            return read_whole_file(table, text, diagnostic) && parse(text, table, rows, diagnostic);
        };
        if (!read("scores.csv", parse_scores, scores) ||
            !read("summary.csv", parse_summary, summaries) ||
            !read("histograms.csv", parse_histograms, histograms) ||
            !read("decisions.csv", parse_decisions, decisions)) {
            return false;
        }
        std::size_t next_score = 0;
        std::size_t next_summary = 0;
        std::size_t next_histogram = 0;
        std::size_t next_decision = 0;
        for (const ShardManifest::Entry& e : m.conditions) {
            if (e.position >= count || seen[static_cast<std::size_t>(e.position)]) {
                diagnostic = path + ": condition " + std::to_string(e.position + 1) +
                             (e.position >= count ? " is not one of this study's; "
                                                  : " appears in two shards; ") +
                             "run the shards of this study again";
                return false;
            }
            seen[static_cast<std::size_t>(e.position)] = true;
            ConditionTables& c = conditions[static_cast<std::size_t>(e.position)];
            std::vector<HistogramRow> rows;
            if (!take_rows(scores, next_score, e.scores, c.scores) ||
                !take_rows(summaries, next_summary, e.summaries, c.summaries) ||
                !take_rows(histograms, next_histogram, e.histograms, rows) ||
                !take_rows(decisions, next_decision, e.decisions, c.decisions)) {
                diagnostic = path + ": the shard's tables are shorter than its manifest says; " +
                             "run the shard again";
                return false;
            }
            for (const HistogramRow& row : rows) {
                append_histogram_row(row, c.histograms);
            }
            c.histogram_rows = rows.size();
        }
        if (next_score != scores.size() || next_summary != summaries.size() ||
            next_histogram != histograms.size() || next_decision != decisions.size()) {
            diagnostic = path + ": the shard's tables hold rows its manifest does not list; " +
                         "run the shard again";
            return false;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (!seen[static_cast<std::size_t>(i)]) {
            diagnostic = folder + ": no shard holds condition " + std::to_string(i + 1) +
                         "; run the shards of this study again";
            return false;
        }
    }
    return true;
}

}  // namespace eqsim::study
