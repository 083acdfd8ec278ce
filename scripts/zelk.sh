#!/usr/bin/env bash
# Installs what the build and the apps need (Podman, configured as this machine needs it),
# builds the console program and runs it with the given arguments ("list" when none are given).
# The build reports on standard error, and only when there is something to build: its progress
# while it runs, its errors when it fails. When the program is up to date, all that is printed
# is the program's own output.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/run"

"$here/scripts/install-deps.sh" run >&2
"$here/scripts/services.sh" configure >&2 ||
  echo "zelk.sh: Podman could not be configured (see above); apps may not start with Podman." >&2

if [ ! -f "$build/build.ninja" ]; then
  echo "Preparing the build in $build ..." >&2
  log=$(mktemp)
  if ! cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "zelk.sh: the build could not be prepared; the lines above say why." >&2
    exit 1
  fi
  rm -f "$log"
fi

# Every line of the build goes to standard error as it comes, except the two a build with
# nothing to do prints; the first other line is announced, so a long first build is visible.
show_build() {
  local announced="" line
  while IFS= read -r line; do
    case "$line" in
      "["*"] Re-checking globbed directories..." | "ninja: no work to do.") continue ;;
    esac
    if [ -z "$announced" ]; then
      echo "Building zelk (a first build takes a minute or two) ..."
      announced=1
    fi
    printf '%s\n' "$line"
  done
}
set +e
cmake --build "$build" --target zelk 2>&1 | show_build >&2
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  echo "zelk.sh: the build failed; its errors are above." >&2
  exit 1
fi

[ $# -eq 0 ] && set -- list
exec "$build/zelk" "$@"
