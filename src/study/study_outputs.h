// The study's output folder: the final tables, plots and index page, and the partial tables that
// the shards of a study leave there for the merge. Every file is written beside its final name
// and renamed into place when complete, so each is complete or absent.
//
// A shard I of N writes shard-I-of-N.scores.csv, .summary.csv, .histograms.csv and .decisions.csv
// (its conditions' rows, as in the final tables; the summaries carry Monte Carlo standard errors
// that the score rows could not give back) and shard-I-of-N.manifest, which records the study
// file's digest, the study's seed and, per condition, its position and how many rows of each
// table it has. The
// merge checks that the manifests of one N are all there, come from the same study file and seed,
// and hold every condition exactly once, then writes what an unsharded run writes.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "study/study_run.h"

namespace eqsim::study {

// Creates the folder (and the folders above it) when missing and checks that files can be made
// in it. False, with diagnostic, when it cannot be used.
bool prepare_output_folder(const std::string& folder, std::string& diagnostic);

// The final tables, the six plots and index.html, from every condition's rows in study order;
// seed is the study's settled seed. The rows are moved out of conditions as they are written, so
// that they are held only once.
bool write_study_outputs(const std::string& folder, const StudySpec& spec, std::int32_t seed,
                         std::vector<ConditionTables>& conditions, std::string& diagnostic);

// One shard's share of a study: the conditions at positions (from 0) with their rows.
bool write_shard(const std::string& folder, const StudySpec& spec, std::int32_t seed, int shard,
                 int shards, const std::vector<int>& positions,
                 const std::vector<ConditionTables>& tables, std::string& diagnostic);

// The conditions a shard I of N runs: positions I-1, I-1+N, I-1+2N, ... of count conditions.
std::vector<int> shard_positions(int count, int shard, int shards);

// Reads the shards of the study in folder back into every condition's rows, in study order,
// checking that they are complete and belong to this study file (digest) and seed. The number
// of conditions comes from spec. seed receives the study's seed as the shards recorded it.
bool read_shards(const std::string& folder, const StudySpec& spec, std::int32_t& seed,
                 std::vector<ConditionTables>& conditions, std::string& diagnostic);

// The number of conditions of a study: data sets times size pairs (one pair when none given).
int condition_count(const StudySpec& spec);

}  // namespace eqsim::study
