#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings fatal and ASan + UBSan, and
# runs every test: the Linux suites, a short soak, short fuzz runs, and the Windows stage
# under Wine. A failing stage does not stop the later ones; the output ends with one line
# per stage, and the exit status is non-zero when any stage failed.
set -euo pipefail
cd "$(dirname "$0")/.."

stage() { echo; echo "==== $* ===="; }

summary=()
failures=0
# outcome STAGE TEXT: one line of the closing summary; a TEXT starting "failed" counts.
outcome() {
  summary+=("$(printf '%-9s %s' "$1:" "$2")")
  case $2 in failed*) failures=$((failures + 1)) ;; esac
}

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

stage "dependencies"
bash scripts/install-deps.sh clang libclang-rt-dev

stage "build (warnings fatal, ASan + UBSan)"
if cmake --preset ci && cmake --build --preset ci -j2; then built=yes; else built=""; fi

# The Python module without sanitizers, so a plain python3 imports it from the build tree
# (PYTHONPATH=build/release/python); the ci build's copy needs the sanitizer preloaded.
stage "Python module (release build)"
if cmake --preset release >/dev/null && cmake --build --preset release -j2 --target kestova_python &&
   PYTHONPATH=build/release/python python3 -c "import kestova"; then
  outcome python "built (PYTHONPATH=build/release/python python3 -c 'import kestova')"
else
  outcome python "failed (see above)"
fi

# The short soak is a CTest test (label soak), run as a stage of its own after the others.
stage "tests"
if [ -z "$built" ]; then
  outcome tests "failed (the build failed)"
elif ctest --preset ci -LE soak --no-tests=error 2>&1 | tee "$logs/tests"; then
  outcome tests "passed ($(sed -nE 's/^[0-9]+% tests passed, .* out of ([0-9]+)$/\1/p' "$logs/tests") tests)"
else
  outcome tests "failed ($(grep -E '^[0-9]+% tests passed' "$logs/tests" || echo 'see above'))"
fi

stage "soak (short)"
if [ -z "$built" ]; then
  outcome soak "failed (the build failed)"
elif ctest --preset ci -L soak --no-tests=error -V 2>&1 | tee "$logs/soak"; then
  # kestova-soak: calls=2000 (pty 200) faults=61 (...) mismatches=0 ...
  outcome soak "passed ($(sed -nE 's/.*kestova-soak: calls=([0-9]+).* faults=([0-9]+).* (mismatches=[0-9]+).*/\1 calls, \2 faults injected, \3/p' "$logs/soak"))"
else
  outcome soak "failed (see above)"
fi

stage "fuzzing (short runs)"
if [ ! -f fuzz/run.sh ]; then
  outcome fuzz "skipped (no fuzz/run.sh)"
elif bash fuzz/run.sh 2>&1 | tee "$logs/fuzz"; then
  outcome fuzz "passed ($(grep -cE '^fuzz_[a-z_]+: [0-9]+ executions' "$logs/fuzz") targets, $(sed -nE 's/^fuzz_[a-z_]+: ([0-9]+) executions.*/\1/p' "$logs/fuzz" | head -n 1) executions each)"
else
  findings=$(sed -nE 's/^(fuzz_[a-z_]+): FINDING.*/\1/p' "$logs/fuzz" | paste -sd ' ')
  outcome fuzz "failed (${findings:+a finding in }${findings:-see above})"
fi

stage "Windows: Kestova.ocx under Wine"
if [ ! -f tests/windows/run.sh ]; then
  outcome Windows "skipped (no tests/windows/run.sh)"
elif bash tests/windows/run.sh 2>&1 | tee "$logs/windows"; then
  outcome Windows "passed ($(sed -n 's/^windows tests: //p' "$logs/windows"))"
else
  outcome Windows "failed ($(sed -n 's/^windows tests: //p' "$logs/windows" | grep . || echo 'see above'))"
fi

stage "summary"
printf '%s\n' "${summary[@]}"
[ "$failures" -eq 0 ]
