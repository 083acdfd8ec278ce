#!/usr/bin/env bash
# Fuzzes the readers of outside text with AFL++ for a bounded time each, and fails when AFL++
# saved any input that crashes (AddressSanitizer, UndefinedBehaviorSanitizer, an abort) or
# hangs a target.
#
# Usage: scripts/fuzz.sh [seconds] [target...]     (default 60 seconds; every target)
#
# Targets and their seeds:
#   read_recipe        fuzz/corpus                   with fuzz/recipe.dict
#   check_web_address  fuzz/seeds/check_web_address  with fuzz/web.dict
#   parse_shelf        fuzz/seeds/parse_shelf        with fuzz/web.dict
#   version_list       fuzz/seeds/version_list       with fuzz/web.dict
#   tar_check          fuzz/seeds/tar_check          with fuzz/tar.dict
# Each is built in build/fuzz (see fuzz/CMakeLists.txt) and writes what it finds to
# fuzz/findings/<target> (ignored by git). Replay a finding with
#   build/fuzz/fuzz/<target>_fuzz fuzz/findings/<target>/default/crashes/<file>
# Works as root on a CI machine: no CPU governor, core pattern or screen is needed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-60}
case $seconds in
  ''|*[!0-9]*) echo "Usage: scripts/fuzz.sh [seconds] [target...]" >&2; exit 2 ;;
esac
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(read_recipe check_web_address parse_shelf version_list tar_check)
fi

seeds_of() {
  case $1 in
    read_recipe) echo "$here/fuzz/corpus" ;;
    *) echo "$here/fuzz/seeds/$1" ;;
  esac
}
dict_of() {
  case $1 in
    read_recipe) echo "$here/fuzz/recipe.dict" ;;
    tar_check) echo "$here/fuzz/tar.dict" ;;
    *) echo "$here/fuzz/web.dict" ;;
  esac
}
for target in "${targets[@]}"; do
  if [ ! -f "$here/fuzz/${target}_fuzz.cpp" ]; then
    echo "Unknown fuzz target \"$target\"." >&2
    exit 2
  fi
done

if ! command -v afl-fuzz >/dev/null 2>&1; then
  "$here/scripts/install-deps.sh" test
fi

echo "== build: fuzz targets"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_FUZZ=ON \
  -DZELK_SANITIZE=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build/fuzz --target "${targets[@]/%/_fuzz}"

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 \
  AFL_TRY_AFFINITY=1
# The sanitizers must abort (not merely report) so that AFL++ sees the crash.
export ASAN_OPTIONS="abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:symbolize=0"

failed=0
for target in "${targets[@]}"; do
  program="$here/build/fuzz/fuzz/${target}_fuzz"
  findings="$here/fuzz/findings/$target"
  rm -rf "$findings"
  mkdir -p "$findings"
  log="$findings/afl.log"

  echo "== fuzzing $target for $seconds seconds"
  set +e
  # -V ends the run after the given time; timeout only guards against AFL++ itself stalling.
  timeout --kill-after=10 $((seconds + 120)) \
    afl-fuzz -i "$(seeds_of "$target")" -o "$findings" -x "$(dict_of "$target")" \
    -V "$seconds" -t 2000 -- "$program" >"$log" 2>&1
  status=$?
  set -e

  stats="$findings/default/fuzzer_stats"
  if [ $status -ne 0 ] || [ ! -f "$stats" ]; then
    echo "afl-fuzz did not run to its end (exit $status); the last lines of $log:" >&2
    tail -n 30 "$log" | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' >&2
    failed=1
    continue
  fi

  stat() { sed -n "s/^$1 *: *//p" "$stats"; }
  echo "executions: $(stat execs_done) ($(stat execs_per_sec)/s), paths: $(stat corpus_count)," \
    "crashes: $(stat saved_crashes), hangs: $(stat saved_hangs)"

  found=$(find "$findings/default/crashes" "$findings/default/hangs" -type f ! -name README.txt | sort)
  if [ -n "$found" ]; then
    echo "The fuzzer found inputs that crash or hang $target:" >&2
    echo "$found" >&2
    echo "Replay one with: $program <file>" >&2
    failed=1
    continue
  fi
  echo "No crash and no hang."
done
exit $failed
