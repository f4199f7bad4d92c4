#!/usr/bin/env bash
# Fuzzes the libFuzzer targets and keeps what they learn: builds them with clang, runs each target
# (or the ones named) for a given time with its input size, per-input time limit and dictionary
# from fuzz/targets.txt, then merges the inputs it found into fuzz/corpus/<target>/ with -merge=1,
# so that the corpus grows only by inputs that reach new code (new edges, not new hit counts).
# Ends with one summary line per target and the line coverage of each target's main source files
# over its corpus.
#
#   scripts/fuzz.sh [-t SECONDS] [-j JOBS] [-s SEEDS_DIR] [-c | -n] [TARGET...] [-- LIBFUZZER_FLAG...]
#     -t SECONDS  fuzzing time per target (default 600)
#     -j JOBS     fuzzing processes per target (default: one per core)
#     -s DIR      more seeds: DIR/<target>/ joins the starting inputs and the merge
#                 (scripts/fuzz-seeds.py writes such a folder)
#     -c          coverage report of the corpora only, no fuzzing
#     -n          no coverage report
# Findings (crash-*, timeout-*, oom-*, leak-*, slow-unit-* inputs) stay in
# build-fuzz/fuzz-work/<target>/; the script then exits with status 1.
set -euo pipefail
# A small quarantine and no fill of new memory: several times more executions per second, the
# same errors found.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=16:max_malloc_fill_size=0}
. "$(dirname "$0")/fuzz-common.sh"
root=$fuzz_root
dir=${IX_FUZZ_BUILD_DIR:-$root/build-fuzz}
coverage_dir=${IX_FUZZ_COVERAGE_DIR:-$root/build-fuzz-cov}
settings=$(grep -v '^#' "$root/fuzz/targets.txt" | grep -v '^[[:space:]]*$')

# setting TARGET FIELD: one field of the target's line in fuzz/targets.txt.
setting() {
  awk -v t="$1" -v f="$2" '$1 == t { print $f }' <<<"$settings"
}

# main_sources TARGET: the target's main source files that exist (its globs expanded).
main_sources() {
  local pattern file
  for pattern in $(awk -v t="$1" '$1 == t { for (i = 5; i <= NF; ++i) print $i }' <<<"$settings"); do
    for file in "$root"/$pattern; do
      [ -f "$file" ] && echo "$file"
    done
  done
}

corpus_size() {
  echo "$(find "$1" -type f | wc -l) files, $(find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }') bytes"
}

# executions WORK_DIR: executions counted by the final statistics of every fuzzing log.
executions() {
  cat "$1"/*.log 2>/dev/null | awk -F': ' '/^stat::number_of_executed_units/ { s += $2 } END { print s + 0 }'
}

# fuzz_target TARGET: one fuzzing run and the merge of what it found; prints the summary line.
fuzz_target() {
  local target=$1 binary=$dir/fuzz/$1 corpus=$root/fuzz/corpus/$1 work=$dir/fuzz-work/$1
  local max_len timeout dict before status=0 findings
  max_len=$(setting "$target" 2)
  timeout=$(setting "$target" 3)
  dict=$(setting "$target" 4)
  [ -n "$max_len" ] || { echo "fuzz: $target is not in fuzz/targets.txt" >&2; return 1; }
  [ -x "$binary" ] || { echo "fuzz: no fuzz target $target" >&2; return 1; }
  mkdir -p "$corpus"
  rm -rf "$work"
  mkdir -p "$work/new"
  local inputs=("$corpus")
  [ -n "$seeds" ] && [ -d "$seeds/$target" ] && inputs+=("$seeds/$target")
  local flags=(-max_len="$max_len" -timeout="$timeout" -artifact_prefix="$work/" -print_final_stats=1)
  [ "$dict" != "-" ] && flags+=(-dict="$root/fuzz/dict/$dict.dict")
  [ "$jobs" -gt 1 ] && flags+=(-jobs="$jobs" -workers="$jobs")
  before=$(corpus_size "$corpus")
  echo "fuzz: $target for ${seconds}s (max_len $max_len, timeout ${timeout}s, $jobs job(s)); log in $work/"
  (cd "$work" && "$binary" "${flags[@]}" -max_total_time="$seconds" "${extra_flags[@]}" \
    "$work/new" "${inputs[@]}" >"$work/fuzz.log" 2>&1) || status=$?
  # Coverage of edges only (no hit counts), so that the corpus stays small.
  "$binary" -merge=1 -use_counters=0 -max_len="$max_len" -timeout="$timeout" "$corpus" "$work/new" "${inputs[@]:1}" \
    >"$work/merge.log" 2>&1 || { echo "fuzz: $target: merge failed, see $work/merge.log" >&2; status=1; }
  findings=$(cd "$work" && ls -1 crash-* timeout-* oom-* leak-* slow-unit-* 2>/dev/null | tr '\n' ' ' || true)
  summary+=("$target: ${seconds}s, $(executions "$work") executions, corpus $before -> $(corpus_size "$corpus"), \
${findings:-nothing found}${findings:+(in $work/)}")
  [ "$status" -eq 0 ] && [ -z "$findings" ]
}

# coverage_report TARGET...: replays each corpus through a build with clang's source-based
# coverage and prints the line coverage of the target's main source files.
coverage_report() {
  fuzz_build "$coverage_dir" -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
    -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
  local target binary profile sources
  for target in "$@"; do
    binary=$coverage_dir/fuzz/$target
    profile=$coverage_dir/fuzz/$target
    mapfile -t sources < <(main_sources "$target")
    [ -x "$binary" ] && [ ${#sources[@]} -gt 0 ] || continue
    rm -f "$profile".*.profraw
    LLVM_PROFILE_FILE="$profile.%p.profraw" "$binary" -runs=0 "$root/fuzz/corpus/$target" >/dev/null 2>&1 ||
      echo "coverage: $target: the replay failed" >&2
    llvm-profdata merge -sparse "$profile".*.profraw -o "$profile.profdata"
    llvm-cov export -summary-only -instr-profile="$profile.profdata" "$binary" "${sources[@]}" |
      python3 -c '
import json, os, sys
root, target = sys.argv[1], sys.argv[2]
files = json.load(sys.stdin)["data"][0]["files"]
rows = [(os.path.relpath(f["filename"], root), f["summary"]["lines"]) for f in files]
if len(rows) > 1:
    rows.append(("all", {k: sum(r[1][k] for r in rows) for k in ("covered", "count")}))
for name, lines in rows:
    print("coverage: %s: %s: %d of %d lines (%.1f %%)" % (target, name, lines["covered"], lines["count"],
          100.0 * lines["covered"] / max(lines["count"], 1)))' "$root" "$target"
  done
}

main() {
  seconds=600
  jobs=$(nproc)
  seeds=""
  fuzzing=1
  report=1
  while getopts "t:j:s:cn" option; do
    case $option in
      t) seconds=$OPTARG ;;
      j) jobs=$OPTARG ;;
      s) seeds=$(cd "$OPTARG" && pwd) ;;
      c) fuzzing=0 ;;
      n) report=0 ;;
      *) sed -n '9,15p' "$0" >&2; exit 2 ;;
    esac
  done
  shift $((OPTIND - 1))
  targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do targets+=("$1"); shift; done
  [ "${1:-}" = "--" ] && shift
  extra_flags=("$@")
  [ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(awk '{print $1}' <<<"$settings")
  summary=()
  status=0
  if [ "$fuzzing" -eq 1 ]; then
    fuzz_build "$dir"
    for target in "${targets[@]}"; do
      fuzz_target "$target" || status=1
    done
  fi
  [ "$report" -eq 1 ] && coverage_report "${targets[@]}"
  for line in "${summary[@]}"; do echo "fuzz: $line"; done
  return $status
}

main "$@"; exit $?
