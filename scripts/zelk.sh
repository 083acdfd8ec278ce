#!/usr/bin/env bash
# Installs what the build needs, builds the console program and runs it with the given
# arguments ("list" when none are given).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh" build
cmake -S "$here" -B "$here/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$here/build/linux" --target zelk >/dev/null
[ $# -eq 0 ] && set -- list
exec "$here/build/linux/zelk" "$@"
