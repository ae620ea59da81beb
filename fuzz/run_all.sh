#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a chosen number of seconds, one after another.
#
#   fuzz/run_all.sh [SECONDS] [TARGET...]      (default: 60 seconds; every target)
#
# Targets: control_file, data_file, whole_run, study_file. Each starts from its seed corpus in
# fuzz/corpus/ and from what earlier runs found (kept in the build folder, never in the
# repository). A finding stops the script with a non-zero status; the input that caused it is
# saved in build-fuzz/fuzz-artifacts/TARGET/ and replays with: build-fuzz/fuzz/fuzz_TARGET FILE.
# EQSIM_FUZZ_BUILD chooses another build folder; EQSIM_FUZZ_FLAGS adds libFuzzer options
# (for example -jobs=2 -workers=2).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(control_file data_file whole_run study_file)
fi
build=${EQSIM_FUZZ_BUILD:-build-fuzz}
# Absolute paths: the whole-run target works in a folder of its own while an input runs.
mkdir -p "$build"
build=$(cd "$build" && pwd)

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
    -DEQSIM_FUZZ=ON -DEQSIM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_targets

declare -A max_len=([control_file]=2048 [data_file]=8192 [whole_run]=4096 [study_file]=8192)
for target in "${targets[@]}"; do
    corpus="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    echo "== fuzz_$target for ${seconds}s"
    # Progress lines are left out of the log; the start, the end, statistics and findings stay.
    set +e
    # shellcheck disable=SC2086
    "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="${max_len[$target]}" -dict="$PWD/fuzz/dict/$target.dict" \
        -artifact_prefix="$artifacts/" -print_final_stats=1 ${EQSIM_FUZZ_FLAGS:-} \
        "$corpus" "$PWD/fuzz/corpus/$target" 2>&1 |
        grep --line-buffered -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)'
    status=${PIPESTATUS[0]}
    set -e
    if [ "$status" -ne 0 ]; then
        echo "fuzz_$target: finding (status $status); the input is in $artifacts/" >&2
        exit "$status"
    fi
done
