#!/usr/bin/env bash
# Builds the library and its tests with gcc --coverage, runs the unit and peer tests, and prints
# the line and branch coverage of src/ (total and per folder) and the test/source line ratio.
#   scripts/coverage.sh [ctest options...]
# IX_COVERAGE_BUILD_DIR picks the build folder (default build-cov); IX_COVERAGE_JOBS the build
# jobs (default 2). To measure the copy made by scripts/mutate.sh with its build (one build for
# both): IX_COVERAGE_BUILD_DIR=/tmp/ix-mutate/build /tmp/ix-mutate/src/scripts/coverage.sh.
# Branches of exception paths and unreachable branches are left out of the branch figures: every
# call that may throw would otherwise count as an untaken branch.
# The gcovr HTML and JSON reports are written to <build>/coverage/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${IX_COVERAGE_BUILD_DIR:-$root/build-cov}
jobs=${IX_COVERAGE_JOBS:-2}
command -v gcovr >/dev/null || { echo "gcovr is missing: run scripts/setup.sh" >&2; exit 1; }

# shellcheck source=scripts/measure-common.sh
. "$root/scripts/measure-common.sh"
ix_configure_measure_build "$root" "$dir"
cmake --build "$dir" -j "$jobs"

# Counters from an earlier run would add up with this one.
find "$dir" -name '*.gcda' -delete
# The install test builds a separate project against the installed package: no src/ lines.
ctest --test-dir "$dir" -L 'unit|peer' -E '^install_' --output-on-failure "$@" || status=$?

out=$dir/coverage
mkdir -p "$out"
gcovr --root "$root" --object-directory "$dir" --filter "$root/src/" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json-summary "$out/summary.json" --html-details "$out/index.html" >/dev/null

python3 - "$out/summary.json" <<'PY'
import collections
import json
import sys

summary = json.load(open(sys.argv[1]))
folders = collections.defaultdict(lambda: [0, 0, 0, 0])
for entry in summary["files"]:
    parts = entry["filename"].split("/")
    folder = "/".join(parts[:2]) if parts[0] == "src" and len(parts) > 2 else parts[0]
    totals = folders[folder]
    totals[0] += entry["line_covered"]
    totals[1] += entry["line_total"]
    totals[2] += entry["branch_covered"]
    totals[3] += entry["branch_total"]
folders["total"] = [sum(values[i] for values in list(folders.values())) for i in range(4)]


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f} %" if total else "    - "


print(f"{'folder':<14} {'lines':>17} {'line cov':>9} {'branches':>17} {'branch cov':>10}")
for folder, (lc, lt, bc, bt) in sorted(folders.items(), key=lambda item: item[0] == "total"):
    print(f"{folder:<14} {lc:>8}/{lt:<8} {percent(lc, lt):>9} {bc:>8}/{bt:<8} {percent(bc, bt):>10}")
PY
(cd "$root" && scripts/count-lines.py --ratio src tests fuzz)
exit "${status:-0}"
