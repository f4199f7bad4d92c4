#!/usr/bin/env bash
# Fault injection: applies each one-line mutation of a list, one at a time, to a scratch copy of
# the tree, rebuilds the tests of the mutated folder and runs them (unit tests first, then peer
# tests only when the unit tests missed the fault). Prints one row per mutation: caught or
# survived, and by which test. A run that passes its time limit counts as caught (a hang).
#   scripts/mutate.sh [--check] [LIST] [ID...]
# LIST defaults to scripts/mutations.txt; IDs pick mutations by number (1-based). --check only
# validates that each mutation's text occurs exactly once in its file.
# IX_MUTATE_DIR is the scratch copy (default /tmp/ix-mutate; its build/ is kept between runs so
# that rebuilds are incremental; it is configured like scripts/coverage.sh's, so the same build
# gives the coverage figures), IX_MUTATE_TIMEOUT the limit in seconds of one test run
# (default 300), IX_MUTATE_JOBS the build jobs (default 2), IX_MUTATE_EXCLUDE a ctest regex of
# tests left out (those that already fail without a mutation). The table also goes to
# $IX_MUTATE_DIR/results.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check_only=0
if [ "${1:-}" = --check ]; then
  check_only=1
  shift
fi
list=$root/scripts/mutations.txt
if [ $# -gt 0 ] && [ -f "$1" ]; then
  list=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  shift
fi
scratch=${IX_MUTATE_DIR:-/tmp/ix-mutate}
limit=${IX_MUTATE_TIMEOUT:-300}
jobs=${IX_MUTATE_JOBS:-2}
tool=$root/scripts/mutation_tool.py

python3 "$tool" check "$root" "$list"
[ "$check_only" = 1 ] && exit 0

case "$scratch" in /|"$root"|"$root"/*) echo "IX_MUTATE_DIR must lie outside the tree" >&2; exit 1;; esac
# shellcheck source=scripts/measure-common.sh
. "$root/scripts/measure-common.sh"
ix_copy_tree "$root" "$scratch/src"
build=$scratch/build
ix_configure_measure_build "$scratch/src" "$build"
# Coverage counters of an earlier run no longer match the rebuilt objects; these runs need none.
find "$build" -name '*.gcda' -delete

all_targets=$(ninja -C "$build" -t targets all)

# Test binaries of one folder of src/ that the build knows.
folder_targets() {
  local target
  for target in "${1}_tests" "${1}_peer_tests"; do
    if grep -q "^${target}:" <<<"$all_targets"; then
      echo "$target"
    fi
  done
}

# ctest regex of the GoogleTest suites in the given test binaries.
suite_regex() {
  local suites=() target exe line
  for target in "$@"; do
    exe=$(find "$build/tests" -type f -name "$target" -perm -u+x | head -n 1)
    [ -n "$exe" ] || continue
    while IFS= read -r line; do
      suites+=("$(printf '%s' "${line%.}" | sed 's/[][\\.^$*+?(){}|]/\\&/g')")
    done < <("$exe" --gtest_list_tests | grep -E '^[^ ].*\.( |$)' | sed 's/ *#.*//')
  done
  local IFS='|'
  echo "^([^/]*/)?(${suites[*]})\\."
}

# Runs the tests of one label matching a regex. Prints "none" when no test matched, the first
# failed tests when some failed or "timeout", nothing when all passed.
run_tests() {
  local label=$1 regex=$2 log=$scratch/ctest-$1.log status=0
  local exclude=()
  [ -z "${IX_MUTATE_EXCLUDE:-}" ] || exclude=(-E "$IX_MUTATE_EXCLUDE")
  timeout -k 10 "$limit" ctest --test-dir "$build" -L "^${label}\$" -R "$regex" "${exclude[@]}" \
    -j 1 >"$log" 2>&1 || status=$?
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "timeout after ${limit}s"
  elif grep -q 'No tests were found' "$log"; then
    echo none
  elif [ "$status" != 0 ]; then
    local failed
    failed=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\(Failed\|Timeout\|SEGFAULT\|Subprocess aborted\|Exception\|Child aborted\|Not Run\).*/\1/p' "$log" \
      | head -n 3 | paste -sd ',')
    echo "${failed:-ctest status $status, see $log}"
  fi
}

current=""
restore() {
  if [ -n "$current" ]; then
    cp "$scratch/original.tmp" "$scratch/src/$current"
    # Newer than the mutated object, so that the next build compiles the original again.
    touch "$scratch/src/$current"
    current=""
  fi
}
trap restore EXIT

results=$scratch/results.txt
printf '%-4s %-10s %-70s %s\n' id result mutation "caught by" | tee "$results"
while IFS=$'\t' read -r -u 3 id file folder description; do
  cp -p "$scratch/src/$file" "$scratch/original.tmp"
  current=$file
  python3 "$tool" apply "$scratch/src" "$list" "$id"
  mapfile -t targets < <(for each in $folder; do folder_targets "$each"; done)
  result=survived
  by=""
  if [ ${#targets[@]} -eq 0 ]; then
    result=no-tests
  elif ! cmake --build "$build" -j "$jobs" --target "${targets[@]}" >"$scratch/build.log" 2>&1; then
    result=build-error
    by="see $scratch/build.log"
  else
    regex=$(suite_regex "${targets[@]}")
    ran=0
    for label in unit peer; do
      failed=$(run_tests "$label" "$regex")
      if [ "$failed" = none ]; then
        continue
      fi
      ran=1
      if [ -n "$failed" ]; then
        result=caught
        by="$label: $failed"
        break
      fi
    done
    [ "$ran" = 1 ] || result=no-tests
  fi
  restore
  printf '%-4s %-10s %-70s %s\n' "$id" "$result" "$file: $description" "$by" | tee -a "$results"
done 3< <(python3 "$tool" list "$list" "$@") </dev/null
python3 "$tool" summary "$results"
