#!/usr/bin/env bash
# Line coverage of the source by the fuzz corpora: builds the targets once more with clang's
# source-based coverage, runs every input of each target's corpora once, and prints the coverage
# of each file of src/eqsim/, src/io/ and src/study/ (the readers, the driver, the report) and a total over
# src/.
#
#   fuzz/coverage.sh [TARGET...]      (default: every target)
#
# The corpora are the seed corpus in fuzz/corpus/ and what fuzz/run_all.sh has found since.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(control_file data_file whole_run study_file)
fi
build=$(mkdir -p build-fuzz-coverage && cd build-fuzz-coverage && pwd)
found=$(mkdir -p build-fuzz/fuzz-corpus && cd build-fuzz && pwd)/fuzz-corpus
profiles="$build/profiles"

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
    -DEQSIM_FUZZ=ON -DEQSIM_FUZZ_COVERAGE=ON -DEQSIM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_targets >/dev/null
rm -rf "$profiles"
mkdir -p "$profiles"
objects=()
for target in "${targets[@]}"; do
    mkdir -p "$found/$target"
    LLVM_PROFILE_FILE="$profiles/$target-%p.profraw" \
        "$build/fuzz/fuzz_$target" -runs=0 "$found/$target" "$PWD/fuzz/corpus/$target" \
        >"$profiles/$target.log" 2>&1
    llvm-profdata merge -sparse "$profiles/$target"-*.profraw -o "$profiles/$target.profdata"
    echo "== fuzz_$target ($(find "$found/$target" "$PWD/fuzz/corpus/$target" -type f | wc -l) inputs)"
    llvm-cov report "$build/fuzz/fuzz_$target" -instr-profile="$profiles/$target.profdata" \
        "$PWD/src/eqsim/" "$PWD/src/io/" "$PWD/src/study/" | sed "s|$PWD/||"
    objects+=(-object "$build/fuzz/fuzz_$target")
done
llvm-profdata merge -sparse "$profiles"/*.profdata -o "$profiles/all.profdata"
echo "== every target together"
llvm-cov report "${objects[@]:1}" -instr-profile="$profiles/all.profdata" "$PWD/src/" |
    sed "s|$PWD/||"
