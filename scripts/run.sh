#!/usr/bin/env bash
# Installs what is missing, builds, starts a catalogue server of its own with demo books and
# then the desktop program. The server stops when the program ends.
#
# The program looks for its catalogue at http://127.0.0.1:8080 unless told otherwise. When
# another server already holds that port (the packaged folioway-server, say, with an empty
# catalogue), the demo server takes a free port instead and this run of Folioway gets a
# program folder of its own under build/ that points at it, so your own shelf is untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/listening-port.sh
./scripts/install-deps.sh
./scripts/build.sh

demo_data="$PWD/build/demo-server"
log="$demo_data.log"
mkdir -p "$demo_data"
server_pid=""
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null' EXIT

# Starts the demo server on port $1; sets $port to the port it listens on, or to nothing.
start_demo() {
  port=""
  : >"$log"
  ./build/bin/folioway-server --port "$1" --bind 127.0.0.1 --demo --data "$demo_data" --no-log >"$log" 2>&1 &
  server_pid=$!
  port=$(listening_port "$log" "$server_pid")
  [ -n "$port" ] && return
  kill "$server_pid" 2>/dev/null || true
  server_pid=""
}

start_demo 8080
if [ -z "$port" ]; then
  start_demo 0
  [ -n "$port" ] || { cat "$log"; echo "The demo catalogue server did not start (see above)." >&2; exit 1; }
  profile="$PWD/build/demo-profile"
  mkdir -p "$profile/Folioway"
  printf '[General]\nServerBaseUrl=http://127.0.0.1:%s\n' "$port" >"$profile/Folioway/Folioway.ini"
  export XDG_DATA_HOME="$profile"
  echo "Port 8080 is taken by another server; the demo catalogue is on port $port and this run"
  echo "of Folioway keeps its shelf in $profile/Folioway."
else
  echo "Demo catalogue on http://127.0.0.1:$port (books in $demo_data)."
fi

[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Folioway inside a virtual X server (xvfb-run)."
  xvfb-run -a ./build/bin/folioway
else
  ./build/bin/folioway
fi
