#!/usr/bin/env bash
# Installs with apt-get whatever the build and the tests need and this machine lacks.
# Usage: scripts/install-deps.sh [build|run|test]
#   build: just the native build; run: the native build and the container runtime zelk runs
#   apps with (Podman); test: everything the test suites need.
set -euo pipefail

want=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev curl libgcrypt20-dev)
if [ "${1:-test}" = run ]; then
  want+=(podman runc)
fi
if [ "${1:-test}" = test ]; then
  want+=(g++-mingw-w64-x86-64 mingw-w64-tools libgcrypt-mingw-w64-dev wine wine64 xvfb xauth python3 nodejs
         podman runc busybox-static docker.io docker-registry afl++ chromium)
  # The page's tests install playwright-core with npm; Debian's npm where none came with node.
  command -v npm >/dev/null 2>&1 || want+=(npm)
fi

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The page's tests drive Chromium with playwright-core, installed exactly as the lock file says.
if [ "${1:-test}" = test ]; then
  here=$(cd "$(dirname "$0")/.." && pwd)
  (cd "$here/tests/page" && npm ci --no-audit --no-fund --loglevel=error)
fi
