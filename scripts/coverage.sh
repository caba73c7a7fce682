#!/usr/bin/env bash
# Line and branch coverage of the library (uvwgens_private/) by the whole suite: builds the
# `coverage` preset, runs every test, prints gcovr's summary and writes an HTML report to
# build/coverage/coverage.html. Also prints the size of the tests against the code they test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "$(nproc)"
find build/coverage -name '*.gcda' -delete
ctest --preset coverage -j "$(nproc)" >build/coverage/ctest.log || {
    tail -n 40 build/coverage/ctest.log >&2
    exit 1
}
# Branches the compiler adds for exception unwinding are left out: no test can reach them.
gcovr --root . --filter 'uvwgens_private/' --exclude-throw-branches --exclude-unreachable-branches \
    --print-summary --html-details build/coverage/coverage.html build/coverage
scripts/test-ratio.sh
