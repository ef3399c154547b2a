# Sourced by the scripts that start a folioway-server of their own.
# listening_port LOG PID: prints the port the server writing LOG says it listens on, once it says
# so; prints nothing when the server ends first or has not said it within a minute.
listening_port() {
  local log=$1 pid=$2 port
  for _ in $(seq 600); do
    port=$(sed -n 's|^folioway-server listening on https\{0,1\}://127.0.0.1:\([0-9]*\)$|\1|p' "$log")
    [ -n "$port" ] && { echo "$port"; return; }
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
}
