#!/bin/sh
# The last line of `make test`: how long it took, and what each step ran,
# passed and skipped, from the logs the steps leave.
# Usage: test-summary.sh STEP_TIMES RELEASE SANITIZE WASM FUZZ
set -eu
times=$1 release=$2 sanitize=$3 wasm=$4 fuzz=$5

total=$(awk '{s += $2} END {print s}' "$times")
steps=$(awk '{printf "%s%s %d s", (NR > 1 ? ", " : ""), substr($1, 6), $2}' "$times")
passed() { sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$1/ctest.log"; }
skipped() { grep -c '(Skipped)$' "$1/ctest.log" || true; }
# The WebAssembly unit tests run as one program: GoogleTest's own count.
wasm_skipped=$(sed -n 's/.*\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$wasm/junit.xml" | head -n 1)
fuzzed=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 fuzz runs in \2 s/p' "$fuzz/fuzz.log")

echo "make test passed in $((total / 60)) min $((total % 60)) s ($steps):" \
    "$(passed "$release") tests on the Release build ($(skipped "$release") skipped)," \
    "$(passed "$sanitize") under the sanitizers ($(skipped "$sanitize") skipped)," \
    "$(passed "$wasm") in WebAssembly and the browser (${wasm_skipped:-0} unit tests skipped), $fuzzed"
