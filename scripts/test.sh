#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test suite:
# Linux, Linux under AddressSanitizer and UndefinedBehaviorSanitizer, the suites of code that
# runs on several threads under ThreadSanitizer, and the Windows build under Wine. Every
# service it starts is stopped by its PID when it ends.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

"$here/scripts/install-deps.sh" test

work=$(mktemp -d /tmp/zelk-test.XXXXXX)
# winedbg is off: a test program that crashes under Wine then ends with a failure at once
# instead of waiting in the debugger until the test's time-out.
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
cleanup() {
  status=$?
  "$here/scripts/services.sh" stop "$work" || true
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
# A run stopped by a signal never counts as passed.
trap 'exit 130' INT
trap 'exit 143' TERM

summary=()
# The last lines of what each failed test printed, from a ctest log written with
# --output-on-failure: the end of a run's output may be all a reader of CI gets to see.
failures_of() {  # suite-name log
  awk -v suite="$1" -v keep=30 '
    function flush(   i, from) {
      if (name == "") return
      while (n > 0 && buf[n] ~ /^[[:space:]]*$/) n--
      from = n > keep ? n - keep + 1 : 1
      printf "-- %s: %s (its last %d lines)\n", suite, name, n - from + 1
      for (i = from; i <= n; i++) print "   " buf[i]
      name = ""; n = 0
    }
    /^ *Start +[0-9]+: / || /tests passed|tests failed/ { flush(); next }
    /Test +#[0-9]+: .*\*\*\*(Failed|Exception|Timeout)/ {
      flush(); name = $0; sub(/^.*Test +#[0-9]+: /, "", name); sub(/ .*$/, "", name); next
    }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { flush(); next }
    # The frame GoogleTest prints around a test says nothing of why it failed.
    /^\[(----------|==========|  PASSED  | RUN      |       OK )\]|^\[  FAILED  \] [^ ]+$/ { next }
    /^Running main\(\) from |^Note: Google Test filter|FAILED TESTS?$|listed below:$/ { next }
    name != "" { buf[++n] = $0 }
    END { flush() }' "$2"
}
# Names in the summary every test of a suite run with --repeat that failed at least once.
failed_once() {  # suite-name log
  local names
  names=$(grep -oE 'Test +#[0-9]+: [^ ]+ .*\*\*\*(Failed|Exception|Timeout)' "$2" |
          sed -E 's/^Test +#[0-9]+: ([^ ]+) .*/\1/' | sort -u | tr '\n' ' ' || true)
  [ -z "$names" ] || summary+=("$1: failed at least once: $names")
}
run_suite() {  # name build-dir [ctest options]
  local name=$1 dir=$2 log="$work/$1.ctest.log"
  shift 2
  echo "== $name tests"
  set +e
  (cd "$dir" && ctest --output-on-failure --timeout 900 "$@") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)")
  return $rc
}

echo "== build: linux"
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/linux -j"$jobs"
echo "== build: linux with sanitizers"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
# ThreadSanitizer only needs the suites whose code runs on several threads (below): just the
# programs that hold them are built.
echo "== build: linux with ThreadSanitizer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELK_THREAD_SANITIZE=ON >/dev/null
cmake --build build/tsan -j"$jobs" --target zelk_tests zelk_window_tests page_bridge fake_podman
echo "== build: windows"
cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/windows -j"$jobs"
echo "== build: linux release, for the benchmark"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$jobs" --target zelk_bench

"$here/scripts/services.sh" start "$work"

failed=0
run_suite linux build/linux -j"$jobs" -LE e2e || failed=1
# The end-to-end tests wait on real containers: they run alone, one at a time, so that no
# other test's load slows an app past its waiting time. A real runtime on a busy machine may
# stumble once: a failed test runs a second time, and the summary names it all the same.
run_suite e2e build/linux -j1 -L e2e --repeat until-pass:2 || failed=1
failed_once e2e "$work/e2e.ctest.log"
# The benchmark, in its short mode, on the same Podman as the end-to-end tests (so under
# their lock): it prints its figures and compares them with the goals, but no figure fails the
# run; only a benchmark that cannot do its work does.
echo "== benchmark (short)"
if flock /tmp/zelk-e2e.lock build/release/bench/zelk_bench --short | tee "$work/bench.log"; then
  summary+=("bench: $(grep '^Ratios:' "$work/bench.log" || echo 'no ratios')")
else
  summary+=("bench: could not run")
  failed=1
fi
# The end-to-end tests run once, above: under the sanitizers they would only double the time
# spent waiting on containers. So would the page's own tests in Chromium (label "page"),
# whose only C++ is the documents' writer; the bridge between page and loop does run here.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite sanitize build/sanitize -j"$jobs" -LE '^(e2e|page)$' || failed=1
# The code that runs on several threads: the probes side by side and the reads of the apps, the
# command runner with its readers, the window's workers and its loop (the bridge runs the real
# loop and workers behind the page).
threaded='^(HttpProbe|Servers/HttpProbeServed|AppStates|ReadApps|ListCommand|CapturedRun|RunnerTest'
threaded+='|Workers|WorkersWithoutHome|LineWriter|WindowLoop|WindowFlow|EventQueue|LoopDispatcher)\.|^page-bridge$'
TSAN_OPTIONS=second_deadlock_stack=1 run_suite threads build/tsan -j"$jobs" -R "$threaded" || failed=1

echo "== preparing Wine in $WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
# The window program's tests need a display, so the Windows suite runs on a virtual one. Its
# Wine server starts and ends inside it: Wine's desktop keeps the display it first met.
echo "== windows tests"
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wineserver -p </dev/null >/dev/null 2>&1
  # The first program Wine starts also starts its background services, which inherit that
  # program'"'"'s streams; start them here so they never hold the test log'"'"'s pipe open.
  wine cmd /c exit </dev/null >/dev/null 2>&1
  # Now and then Wine does not start a test program at all (it ends within milliseconds and
  # prints nothing), so a failed test runs a second time; the summary names every test that
  # failed once, so a test that only passes at times stays visible.
  (cd build/windows && ctest --output-on-failure --timeout 900 --repeat until-pass:2 -j"$1")
  status=$?
  wineserver -k
  exit $status' windows-suite "$jobs" 2>&1 | tee "$work/windows.ctest.log"
windows_status=${PIPESTATUS[0]}
set -e
summary+=("windows: $(grep -E 'tests passed|tests failed' "$work/windows.ctest.log" | tail -n 1)")
failed_once windows "$work/windows.ctest.log"
[ "$windows_status" -eq 0 ] || failed=1

# A bounded fuzz run of every reader of outside text (recipes, addresses, shelves, the list
# of versions): a crash or hang found in that time fails the run.
echo "== fuzzing"
if bash "$here/scripts/fuzz.sh" 30; then
  summary+=("fuzz: no crash and no hang")
else
  summary+=("fuzz: failed")
  failed=1
fi

echo
echo "== what failed tests printed"
for log in "$work"/*.ctest.log; do failures_of "$(basename "$log" .ctest.log)" "$log"; done
echo
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $failed
