#!/bin/sh
# Rewrites the golden reports from a built eqsim, for a change of results that is intended:
#   tests/golden/regenerate.sh [path/to/eqsim]      (default: build/eqsim)
# Run it from anywhere; the examples are run from the repository's top folder, as they expect.
# Review the diff, and say in the commit why the numbers changed.
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
eqsim=${1:-$top/build/eqsim}
case $eqsim in /*) ;; *) eqsim=$PWD/$eqsim ;; esac
cd "$top"
for example in linear mean postsmooth presmooth unsmoothed kernel; do
    "$eqsim" "examples/$example.ctl" >"tests/golden/$example.txt"
done
