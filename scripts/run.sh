#!/usr/bin/env bash
# Installs what is missing, builds, starts a local catalogue server with demo books on
# 127.0.0.1:8080 and then the desktop program. The server stops when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh

server_pid=""
if ! curl -fsS -o /dev/null "http://127.0.0.1:8080/readerserver/getinfo.asp" 2>/dev/null; then
  ./build/bin/folioway-server --port 8080 --bind 127.0.0.1 --demo &
  server_pid=$!
  trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null' EXIT
  for _ in $(seq 50); do
    curl -fsS -o /dev/null "http://127.0.0.1:8080/readerserver/getinfo.asp" 2>/dev/null && break
    sleep 0.1
  done
fi

[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Folioway inside a virtual X server (xvfb-run)."
  xvfb-run -a ./build/bin/folioway
else
  ./build/bin/folioway
fi
