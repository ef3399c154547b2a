#!/usr/bin/env bash
# readme-postgres.sh README FOLIOWAY_SERVER
# Runs the PostgreSQL set-up the hosting notes give, as written there, against a throw-away
# cluster of the newest installed PostgreSQL: `sudo -u postgres` runs as its superuser,
# `sudo -u folioway` as the database user folioway, and /run/postgresql and
# /var/lib/folioway are temporary folders. Exit 77 (skipped) without PostgreSQL.
set -euo pipefail
readme=$1
server=$2
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ ! -x "$pgbin/initdb" ]; then
  echo "PostgreSQL is not installed"
  exit 77
fi

work=$(mktemp -d)
as=()
if [ "$(id -u)" -eq 0 ]; then # PostgreSQL refuses to run as root
  chown nobody "$work"
  as=(runuser -u nobody --)
fi
cleanup() {
  "${as[@]}" "$pgbin/pg_ctl" -D "$work/cluster" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
"${as[@]}" "$pgbin/initdb" -D "$work/cluster" -U postgres --auth=trust -EUTF8 --no-locale --no-sync >/dev/null
"${as[@]}" "$pgbin/pg_ctl" -D "$work/cluster" -l "$work/server.log" -w -o "-k $work -c listen_addresses=''" start >/dev/null

# The indented block after the marker, up to the first line that is not part of it.
steps=$(awk '/<!-- postgres-setup/ { on = 1; next }
             on && /^     / { sub(/^ +/, ""); print; seen = 1; next }
             on && seen { exit }' "$readme")
[ -n "$steps" ] || { echo "no PostgreSQL steps in $readme"; exit 1; }
steps=${steps//\/run\/postgresql/$work}
steps=${steps//\/var\/lib\/folioway/$work/data}

mkdir -p "$work/bin"
ln -s "$server" "$work/bin/folioway-server"
export PATH="$work/bin:$pgbin:$PATH" PGHOST="$work"
sudo() {
  [ "$1" = -u ] || { echo "unexpected: sudo $*"; return 1; }
  local user=$2
  shift 2
  if [ "$user" = postgres ]; then
    "${as[@]}" env PATH="$PATH" PGHOST="$PGHOST" PGUSER=postgres "$@"
  else
    PGUSER=$user "$@"
  fi
}
echo "$steps"
eval "$steps"

owner=$(sudo -u postgres psql -d folioway -tAc "SELECT tableowner FROM pg_tables WHERE tablename = 'books'")
[ "$owner" = folioway ] || { echo "the tables belong to '$owner', not folioway"; exit 1; }
echo "the PostgreSQL steps work as written on $("$pgbin/postgres" --version)"
