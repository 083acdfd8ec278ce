#!/usr/bin/env bash
# The README's first command, scripts/zelk.sh, on a copy of the source tree: a first build
# shows its progress on standard error and the program's output alone on standard output; a
# second run, with nothing to build, prints the program's output and nothing else; on a machine
# without Podman it installs Podman with the rest; a build that fails shows the compiler's error
# and ends with a failure code.
# Usage: zelk_script_test.sh <source folder>
set -uo pipefail
source_dir=$1
work=$(mktemp -d /tmp/zelk-script-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
contains() { [[ "$1" == *"$2"* ]]; }

tar -C "$source_dir" --exclude=./build --exclude=./.git --exclude=./fuzz/findings --exclude=./node_modules \
  -cf - . | tar -C "$work" -xf -
version="zelk 0.2.0-alpha.15"

"$work/scripts/zelk.sh" version >"$work/out1" 2>"$work/err1"
code=$?
out=$(cat "$work/out1")
err=$(cat "$work/err1")
check "a first build ends with the program's exit code 0 (was $code)" [ "$code" -eq 0 ]
check "a first build leaves standard output to the program: [$out]" [ "$out" = "$version" ]
check "a first build says that it builds" contains "$err" "Building zelk"
check "a first build shows its progress" contains "$err" "Linking CXX executable zelk"

"$work/scripts/zelk.sh" version >"$work/out2" 2>"$work/err2"
code=$?
check "an up-to-date run ends with exit code 0 (was $code)" [ "$code" -eq 0 ]
check "an up-to-date run prints the program's output alone" [ "$(cat "$work/out2")" = "$version" ]
check "an up-to-date run prints nothing else: [$(cat "$work/err2")]" [ ! -s "$work/err2" ]

# A machine where Podman and runc are missing, as the package tools tell it (stand-ins that
# write down what they are asked to install).
mkdir "$work/tools"
cat >"$work/tools/dpkg-query" <<'TOOL'
#!/usr/bin/env bash
case "${!#}" in podman | runc) exit 1 ;; *) printf 'install ok installed' ;; esac
TOOL
printf '#!/usr/bin/env bash\necho "$*" >>"%s"\n' "$work/apt-get.log" >"$work/tools/apt-get"
printf '#!/usr/bin/env bash\nexec "$@"\n' >"$work/tools/sudo"
chmod +x "$work/tools/dpkg-query" "$work/tools/apt-get" "$work/tools/sudo"
PATH="$work/tools:$PATH" "$work/scripts/zelk.sh" version >"$work/out5" 2>"$work/err5"
code=$?
check "a run without Podman ends with exit code 0 (was $code)" [ "$code" -eq 0 ]
check "a run without Podman still prints the program's output alone" [ "$(cat "$work/out5")" = "$version" ]
check "a run without Podman installs it: [$(tr '\n' '|' <"$work/apt-get.log" 2>/dev/null)]" \
  grep -qx -- "install -y -qq podman runc" "$work/apt-get.log"

# Podman's configuration, through Podman's own CONTAINERS_CONF: written only when a trial
# container cannot run without it, said when written, and a failed write said as failed. The
# stand-in Podman runs a container only once the file names runc, or always with TRIAL_RUNS.
mkdir "$work/podman-tools" "$work/conf-needed" "$work/conf-not-needed"
cat >"$work/podman-tools/podman" <<'TOOL'
#!/usr/bin/env bash
[ "$1" = run ] || exit 0
if [ -n "${TRIAL_RUNS:-}" ] || grep -qs 'runtime = "runc"' "${CONTAINERS_CONF:-/none}"; then exit 0; fi
echo "Error: OCI runtime error" >&2
exit 126
TOOL
chmod +x "$work/podman-tools/podman"
needed="$work/conf-needed/containers.conf"
PATH="$work/podman-tools:$PATH" CONTAINERS_CONF="$needed" "$work/scripts/zelk.sh" version >"$work/out6" 2>"$work/err6"
code=$?
err=$(cat "$work/err6")
check "a machine that needs the configuration gets it (exit code $code)" grep -q 'runtime = "runc"' "$needed"
check "the written configuration is said: [$err]" contains "$err" \
  "a trial container did not run with Podman's defaults, so $needed was written for every user of Podman here"
check "the program still runs after it" [ "$(cat "$work/out6")" = "$version" ]
not_needed="$work/conf-not-needed/containers.conf"
PATH="$work/podman-tools:$PATH" TRIAL_RUNS=1 CONTAINERS_CONF="$not_needed" "$work/scripts/zelk.sh" version \
  >"$work/out7" 2>"$work/err7"
check "a machine whose trial container runs gets no configuration" [ ! -e "$not_needed" ]
check "and hears nothing of it: [$(cat "$work/err7")]" [ ! -s "$work/err7" ]
: >"$work/not-a-folder"
PATH="$work/podman-tools:$PATH" CONTAINERS_CONF="$work/not-a-folder/containers.conf" "$work/scripts/zelk.sh" version \
  >"$work/out8" 2>"$work/err8"
code=$?
err=$(cat "$work/err8")
check "a configuration that cannot be written is said to have failed: [$err]" contains "$err" \
  "FAILED to write $work/not-a-folder/containers.conf"
check "and zelk.sh says what that means" contains "$err" "zelk.sh: Podman could not be configured"
check "the program still runs (exit code $code)" [ "$code" -eq 0 ]

echo '#error this build fails on purpose' >>"$work/src/zelk-core/src/yaml.cpp"
"$work/scripts/zelk.sh" version >"$work/out3" 2>"$work/err3"
code=$?
err=$(cat "$work/err3")
check "a failed build ends with exit code 1 (was $code)" [ "$code" -eq 1 ]
check "a failed build does not run the program" [ ! -s "$work/out3" ]
check "a failed build shows the compiler's error" contains "$err" "this build fails on purpose"
check "a failed build says so" contains "$err" "zelk.sh: the build failed; its errors are above."

mkdir "$work/unprepared"
tar -C "$source_dir" --exclude=./build --exclude=./.git --exclude=./fuzz/findings --exclude=./node_modules \
  -cf - . | tar -C "$work/unprepared" -xf -
echo 'message(FATAL_ERROR "this build cannot be prepared, on purpose")' >>"$work/unprepared/CMakeLists.txt"
"$work/unprepared/scripts/zelk.sh" version >"$work/out4" 2>"$work/err4"
code=$?
err=$(cat "$work/err4")
check "a build that cannot be prepared ends with exit code 1 (was $code)" [ "$code" -eq 1 ]
check "a build that cannot be prepared shows why" contains "$err" "this build cannot be prepared, on purpose"
check "a build that cannot be prepared says so" contains "$err" "zelk.sh: the build could not be prepared"

if [ "$failures" -gt 0 ]; then
  echo "--- standard error of the runs"
  cat "$work/err1" "$work/err2" "$work/err5" "$work/err6" "$work/err7" "$work/err8" "$work/err3" "$work/err4" |
    tail -n 40
  exit 1
fi
