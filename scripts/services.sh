#!/usr/bin/env bash
# Starts and stops the services the end-to-end tests use: Docker's daemon and Podman's API
# service, with Podman configured so that its containers run on this machine. Each service
# this script starts has its PID in WORKDIR/<name>.pid and is stopped by that PID; a service
# that already answers is used as it is and left alone. Every wait is bounded, and a service
# that does not come up is reported without stopping the test run (its tests then fail).
# A local image registry on 127.0.0.1:5000 serves the tests of image pulls through Podman's API.
# "configure" only writes Podman's configuration where there is none yet and a trial container
# cannot run without it (scripts/zelk.sh uses it, so that apps run on a fresh machine), and starts
# nothing; it fails when the file cannot be written.
# Installs nothing. Usage: scripts/services.sh start|stop WORKDIR | configure
set -uo pipefail
action=${1:-} work=${2:-}
if [ "$action" != configure ] && { [ -z "$action" ] || [ -z "$work" ]; }; then
  echo "Usage: $0 start|stop WORKDIR | configure" >&2
  exit 2
fi
[ -z "$work" ] || mkdir -p "$work"

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null && sudo_cmd="sudo -n"

docker_socket=/var/run/docker.sock
podman_socket=/run/podman/podman.sock

say() { echo "services: $*"; }

# Waits up to $1 seconds for the command after it to succeed.
wait_until() {
  local limit=$1 waited=0
  shift
  while ! "$@" >/dev/null 2>&1; do
    [ "$waited" -ge $((limit * 5)) ] && return 1
    sleep 0.2
    waited=$((waited + 1))
  done
}

docker_answers() { timeout 10 docker version --format '{{.Server.Version}}' >/dev/null 2>&1; }
registry_address=127.0.0.1:5000
registry_answers() { timeout 5 curl -sf "http://$registry_address/v2/" >/dev/null 2>&1; }
podman_api_answers() { timeout 5 curl -sf --unix-socket "$podman_socket" http://d/_ping >/dev/null 2>&1; }

# Podman's default open-file limit for containers may lie above a machine's hard limit, and
# crun cannot run on some cgroup layouts: there containers get the machine's own limit and runc.
# The file applies to every user of Podman on the computer. With "keep" (zelk.sh), a file that is
# there already is left as it is, and one is written only when a trial container cannot run
# without it. Podman's own CONTAINERS_CONF names another file to use. Fails when it cannot write.
containers_conf=${CONTAINERS_CONF:-/etc/containers/containers.conf}

# Runs a container of nothing but a static busybox (no image, no network); true when it ran.
trial_container_runs() {
  local busybox root status
  busybox=$(command -v busybox) || return 1
  root=$(mktemp -d /tmp/zelk-trial.XXXXXX) || return 1
  mkdir -p "$root/bin" && cp "$busybox" "$root/bin/busybox" || { rm -rf "$root"; return 1; }
  timeout 120 $sudo_cmd podman run --rm --network none --rootfs "$root" /bin/busybox true >/dev/null 2>&1
  status=$?
  $sudo_cmd rm -rf "$root"
  return "$status"
}

configure_podman() {
  command -v podman >/dev/null || { say "podman is not installed"; return 0; }
  local hard conf=$containers_conf wanted
  if [ "${1:-}" = keep ] && [ -f "$conf" ]; then return 0; fi
  if [ "${1:-}" = keep ] && trial_container_runs; then return 0; fi
  hard=$(ulimit -Hn)
  if [ "$hard" = unlimited ] || [ "$hard" -gt 1048576 ]; then hard=1048576; fi
  wanted="[containers]
default_ulimits = [\"nofile=$hard:$hard\", \"nproc=32768:32768\"]
[engine]
runtime = \"runc\""
  if [ -f "$conf" ] && [ "$(cat "$conf")" = "$wanted" ]; then return 0; fi
  if [ -f "$conf" ]; then
    $sudo_cmd cp "$conf" "$conf.before-zelk-tests"
    say "$conf differed; the old one is kept as $conf.before-zelk-tests"
  fi
  if ! { $sudo_cmd mkdir -p "$(dirname "$conf")" && printf '%s\n' "$wanted" | $sudo_cmd tee "$conf" >/dev/null; }; then
    say "FAILED to write $conf (open-file limit $hard, runtime runc); Podman's containers may not run here"
    return 1
  fi
  if [ "${1:-}" = keep ]; then
    say "a trial container did not run with Podman's defaults, so $conf was written for every user of" \
      "Podman here: open-file limit $hard and the runtime runc"
    trial_container_runs || say "a trial container still does not run; see: podman info"
  else
    say "wrote $conf (open-file limit $hard, runtime runc)"
  fi
}

# Podman's pull endpoint has no switch for a registry without TLS: the local one is named
# insecure in Podman's configuration, before its API service starts.
configure_local_registry() {
  command -v podman >/dev/null || return
  local conf=/etc/containers/registries.conf.d/50-local.conf wanted
  wanted="[[registry]]
location = \"$registry_address\"
insecure = true"
  if [ -f "$conf" ] && [ "$(cat "$conf")" = "$wanted" ]; then return; fi
  $sudo_cmd mkdir -p "$(dirname "$conf")"
  printf '%s\n' "$wanted" | $sudo_cmd tee "$conf" >/dev/null
  say "wrote $conf (the local registry $registry_address without TLS)"
}

start_registry() {
  command -v docker-registry >/dev/null || { say "docker-registry is not installed"; return; }
  if registry_answers; then
    say "a registry already answers on $registry_address; using it"
    return
  fi
  mkdir -p "$work/registry"
  printf 'version: 0.1\nstorage:\n  filesystem:\n    rootdirectory: %s\nhttp:\n  addr: %s\n' \
    "$work/registry" "$registry_address" >"$work/registry.yml"
  docker-registry serve "$work/registry.yml" </dev/null >"$work/registry.log" 2>&1 &
  echo $! >"$work/registry.pid"
  if wait_until 20 registry_answers; then
    say "the local registry started (PID $(cat "$work/registry.pid"))"
  else
    say "the local registry did not answer within 20 seconds; the end of its log:"
    tail -n 20 "$work/registry.log" | sed 's/^/  /'
  fi
}

start_dockerd() {
  command -v dockerd >/dev/null || { say "dockerd is not installed"; return; }
  if docker_answers; then
    say "Docker already answers; using it"
    return
  fi
  $sudo_cmd dockerd --host "unix://$docker_socket" </dev/null >"$work/dockerd.log" 2>&1 &
  echo $! >"$work/dockerd.pid"
  if wait_until 60 docker_answers; then
    say "dockerd started (PID $(cat "$work/dockerd.pid"))"
  else
    say "dockerd did not answer within 60 seconds; the end of its log:"
    tail -n 20 "$work/dockerd.log" | sed 's/^/  /'
  fi
}

start_podman_api() {
  command -v podman >/dev/null || return
  if podman_api_answers; then
    say "Podman's API already answers; using it"
    return
  fi
  $sudo_cmd mkdir -p "$(dirname "$podman_socket")"
  $sudo_cmd podman system service --time=0 "unix://$podman_socket" </dev/null >"$work/podman-api.log" 2>&1 &
  echo $! >"$work/podman-api.pid"
  if wait_until 20 podman_api_answers; then
    say "Podman's API service started (PID $(cat "$work/podman-api.pid"))"
  else
    say "Podman's API service did not answer within 20 seconds; the end of its log:"
    tail -n 20 "$work/podman-api.log" | sed 's/^/  /'
  fi
}

# Stops the process of one PID file: TERM, up to 30 seconds for it to end, then KILL.
stop_one() {
  local pidfile=$1 pid
  pid=$(cat "$pidfile" 2>/dev/null)
  rm -f "$pidfile"
  case "$pid" in '' | *[!0-9]*) return ;; esac
  kill -0 "$pid" 2>/dev/null || return
  $sudo_cmd kill -TERM "$pid" 2>/dev/null
  if ! wait_until 30 bash -c "! kill -0 $pid"; then
    say "PID $pid ($(basename "$pidfile" .pid)) did not end; killing it"
    $sudo_cmd kill -KILL "$pid" 2>/dev/null
  fi
}

case "$action" in
  start)
    configure_podman
    configure_local_registry
    start_dockerd
    start_registry
    start_podman_api
    ;;
  configure)
    configure_podman keep || exit 1
    ;;
  stop)
    for pidfile in "$work"/*.pid; do
      [ -e "$pidfile" ] || continue
      stop_one "$pidfile"
    done
    ;;
  *)
    echo "Usage: $0 start|stop WORKDIR | configure" >&2
    exit 2
    ;;
esac
exit 0
