#!/usr/bin/env bash
# Fuzzes the recipe reader with AFL++ for a bounded time and fails when AFL++ saved any input
# that crashes (AddressSanitizer, UndefinedBehaviorSanitizer, an abort) or hangs the reader.
#
# Usage: scripts/fuzz.sh [seconds]        (default 60)
#
# The target is built in build/fuzz (see fuzz/CMakeLists.txt), starts from the seeds in
# fuzz/corpus with the words of fuzz/recipe.dict, and writes what it finds to
# fuzz/findings/read_recipe (ignored by git). Replay a finding with
#   build/fuzz/fuzz/read_recipe_fuzz fuzz/findings/read_recipe/default/crashes/<file>
# Works as root on a CI machine: no CPU governor, core pattern or screen is needed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-60}
case $seconds in
  ''|*[!0-9]*) echo "Usage: scripts/fuzz.sh [seconds]" >&2; exit 2 ;;
esac

if ! command -v afl-fuzz >/dev/null 2>&1; then
  "$here/scripts/install-deps.sh" test
fi

echo "== build: fuzz target"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_FUZZ=ON \
  -DZELK_SANITIZE=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build/fuzz --target read_recipe_fuzz
target="$here/build/fuzz/fuzz/read_recipe_fuzz"

findings="$here/fuzz/findings/read_recipe"
rm -rf "$findings"
mkdir -p "$findings"
log="$findings/afl.log"

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 \
  AFL_TRY_AFFINITY=1
# The sanitizers must abort (not merely report) so that AFL++ sees the crash.
export ASAN_OPTIONS="abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:symbolize=0"

echo "== fuzzing read_recipe for $seconds seconds"
set +e
# -V ends the run after the given time; timeout only guards against AFL++ itself stalling.
timeout --kill-after=10 $((seconds + 120)) \
  afl-fuzz -i "$here/fuzz/corpus" -o "$findings" -x "$here/fuzz/recipe.dict" \
  -V "$seconds" -t 2000 -- "$target" >"$log" 2>&1
status=$?
set -e

stats="$findings/default/fuzzer_stats"
if [ $status -ne 0 ] || [ ! -f "$stats" ]; then
  echo "afl-fuzz did not run to its end (exit $status); the last lines of $log:" >&2
  tail -n 30 "$log" | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' >&2
  exit 1
fi

stat() { sed -n "s/^$1 *: *//p" "$stats"; }
echo "executions: $(stat execs_done) ($(stat execs_per_sec)/s), paths: $(stat corpus_count)," \
  "crashes: $(stat saved_crashes), hangs: $(stat saved_hangs)"

found=$(find "$findings/default/crashes" "$findings/default/hangs" -type f ! -name README.txt | sort)
if [ -n "$found" ]; then
  echo "The fuzzer found inputs that crash or hang the recipe reader:" >&2
  echo "$found" >&2
  echo "Replay one with: $target <file>" >&2
  exit 1
fi
echo "No crash and no hang."
