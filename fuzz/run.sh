#!/bin/sh
# Builds the libFuzzer targets (the "fuzz" preset: clang, ASan + UBSan) and runs each one
# for a fixed number of executions, starting from its seed corpus. Exits non-zero on any
# finding; the input that caused it is left in the scratch folder printed below.
#
#   fuzz/run.sh            # short run, as CI does (100000 executions each)
#   fuzz/run.sh 1000000    # longer run
#
# The seeds in fuzz/corpus/<target>/ are worked examples laid out as each target reads its
# input. New inputs found on the way go to the scratch folder; copy one into the corpus to
# keep it as a regression seed.
set -eu

runs="${1:-100000}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="$root/build/fuzz"
scratch="${KESTOVA_FUZZ_SCRATCH:-$(mktemp -d "${TMPDIR:-/tmp}/kestova-fuzz.XXXXXX")}"
targets="answer_reader block_write request_decoder"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build "$build" -j2 --target $(printf 'fuzz_%s ' $targets)

status=0
for target in $targets; do
  mkdir -p "$scratch/$target"
  echo "fuzz_$target: $runs executions (scratch $scratch/$target)"
  if ! "$build/fuzz/fuzz_$target" -runs="$runs" -print_final_stats=1 \
      -artifact_prefix="$scratch/$target/" "$scratch/$target" "$here/corpus/$target" \
      >"$scratch/$target.log" 2>&1; then
    echo "fuzz_$target: FINDING, see $scratch/$target.log" >&2
    tail -n 40 "$scratch/$target.log" >&2
    status=1
  else
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|Done)' "$scratch/$target.log" || true
  fi
done
exit $status
