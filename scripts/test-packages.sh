#!/usr/bin/env bash
# test-packages.sh BUILD_FOLDER VERSION
# Builds the two Debian packages from a finished build folder and checks what a user installing
# them gets: the files, the desktop entry and AppStream data passing their validators, the
# service, and the installed programs answering --version.
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "packages: $*" >&2; exit 1; }
. "$(dirname "$0")/listening-port.sh"

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
client=$(ls "$work"/out/folioway_*.deb) || fail "no folioway package"
server=$(ls "$work"/out/folioway-server_*.deb) || fail "no folioway-server package"

contains() {
  local deb=$1 listing
  shift
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in "$@"; do
    grep -qx "\.$path" <<<"$listing" || fail "$(basename "$deb") lacks $path"
  done
}
contains "$client" /usr/bin/folioway /usr/bin/folioway-toc /usr/share/applications/Folioway.desktop \
  /usr/share/metainfo/io.folioway.Folioway.metainfo.xml /usr/share/icons/hicolor/scalable/apps/folioway.svg \
  /usr/share/icons/hicolor/16x16/apps/folioway.png /usr/share/icons/hicolor/256x256/apps/folioway.png \
  /usr/share/man/man1/folioway.1.gz /usr/share/man/man1/folioway-toc.1.gz \
  /usr/share/doc/folioway/copyright /usr/share/doc/folioway/changelog.gz
contains "$server" /usr/bin/folioway-server /usr/lib/systemd/system/folioway-server.service \
  /etc/default/folioway-server /etc/logrotate.d/folioway-server /usr/share/man/man8/folioway-server.8.gz \
  /usr/share/doc/folioway-server/copyright /usr/share/doc/folioway-server/changelog.gz
dpkg-deb -c "$client" | grep -q folioway-server && fail "the desktop package carries the server"
# Dependencies come from the binaries, plus what is only loaded at run time.
has_dependency() { # deb field package
  dpkg-deb -f "$1" "$2" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$3"
}
for dependency in libc6 libstdc++6 libqt6webenginewidgets6 libqt6sql6-sqlite qt6-qpa-plugins fonts-noto-cjk; do
  has_dependency "$client" Depends "$dependency" || fail "folioway does not depend on $dependency"
done
for dependency in libc6 libstdc++6 libmicrohttpd12 libsodium23 libqt6sql6-sqlite adduser; do
  has_dependency "$server" Depends "$dependency" || fail "folioway-server does not depend on $dependency"
done
has_dependency "$server" Recommends libqt6sql6-psql || fail "folioway-server does not recommend the PostgreSQL driver"
has_dependency "$client" Depends libqt6xml6 && fail "folioway depends on a library it does not link"
[ "$(dpkg-deb -f "$client" Description | head -1)" != "$(dpkg-deb -f "$server" Description | head -1)" ] ||
  fail "both packages have one summary"

if command -v lintian >/dev/null; then
  # Info tags kept: package-supports-alternative-init-but-no-init.d-script (the server is a
  # systemd service only; sysvinit users start it by hand).
  lintian --pedantic --tag-display-limit 0 "$client" "$server" >"$work/lintian.log" 2>&1 || true
  grep -E "^I: " "$work/lintian.log" >&2 || true
  if grep -E '^[EW]: ' "$work/lintian.log"; then
    fail "lintian finds errors or warnings"
  fi
else
  echo "packages: lintian is not installed, its check is skipped"
fi
dpkg-deb -e "$server" "$work/control"
for conffile in /etc/default/folioway-server /etc/logrotate.d/folioway-server; do
  grep -qx "$conffile" "$work/control/conffiles" || fail "$conffile is not a conffile"
done

root="$work/root"
dpkg-deb -x "$client" "$root"
dpkg-deb -x "$server" "$root"
desktop-file-validate "$root/usr/share/applications/Folioway.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.folioway.Folioway.metainfo.xml" >/dev/null
unit="$root/usr/lib/systemd/system/folioway-server.service"
for directive in User=folioway ProtectSystem=strict PrivateTmp=yes NoNewPrivileges=yes Restart=on-failure \
  EnvironmentFile=-/etc/default/folioway-server 'ExecReload=/bin/kill -HUP $MAINPID' LogsDirectory=folioway; do
  grep -qx "$directive" "$unit" || fail "the service lacks $directive"
done
# The rotated log's directory is one the service may write, and logrotate reads the file.
grep -q '^/var/log/folioway/' "$root/etc/logrotate.d/folioway-server" || fail "logrotate covers another folder"
if command -v logrotate >/dev/null; then
  # Checked as the user running this, as the service's user does not exist here.
  sed "s/^\( *su\|.*create 0600\) folioway folioway/\1 $(id -un) $(id -gn)/" "$root/etc/logrotate.d/folioway-server" \
    >"$work/logrotate.conf"
  logrotate --debug --state "$work/logrotate.state" "$work/logrotate.conf" >"$work/logrotate.log" 2>&1 ||
    { cat "$work/logrotate.log"; fail "logrotate rejects its file"; }
fi

# Man pages: render without warnings, fit 80 columns, carry the usual sections and every option
# the program's --help names.
for page in man1/folioway.1 man1/folioway-toc.1 man8/folioway-server.8; do
  file="$root/usr/share/man/$page.gz"
  warnings=$(zcat "$file" | preconv | groff -ww -z -man -Tutf8 2>&1) || fail "$page does not render"
  [ -z "$warnings" ] || fail "$page: $warnings"
  zcat "$file" | python3 -c 'import sys, unicodedata
for number, line in enumerate(sys.stdin, 1):
    if sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line.rstrip("\n")) > 80:
        sys.exit(f"line {number} is wider than 80 columns")' || fail "$page"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES "SEE ALSO"; do
    [ "$page" = man1/folioway-toc.1 ] && [ "$section" = FILES ] && continue
    zcat "$file" | grep -Eq "^\.SH \"?$section\"?\$" || fail "$page lacks $section"
  done
  zcat "$file" | head -1 | grep -Eq '"?20[0-9]{2}-[0-9]{2}-[0-9]{2}"?' || fail "$page has no date"
  program=$(basename "$page" | sed 's/\.[18]$//')
  for option in $(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
    zcat "$file" | grep -qF -- "\\-\\-${option#--}" || fail "$page does not describe $option"
  done
done

[ "$("$root/usr/bin/folioway-server" --version)" = "folioway-server $version" ] || fail "folioway-server --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/folioway" --version)" = "folioway $version" ] ||
  fail "folioway --version"
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/folioway" >"$work/nodisplay.log" 2>&1
status=$?
set -e
[ "$status" -eq 1 ] && [ "$(wc -l <"$work/nodisplay.log")" -eq 1 ] ||
  fail "folioway without a display: status $status, $(cat "$work/nodisplay.log")"

# The service: hardened (systemd's exposure score 2.0 or lower) and without mistakes.
if command -v systemd-analyze >/dev/null && systemd-analyze --help | grep -q -- '--offline'; then
  exposure=$(systemd-analyze security --offline=true "$unit" 2>/dev/null | sed -n 's/.*exposure level for .*: \([0-9.]*\).*/\1/p')
  [ -n "$exposure" ] || fail "systemd-analyze security gave no score"
  awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "the service's exposure is $exposure (more than 2.0)"
  # Verified against this machine's units, with the program where the package was unpacked.
  mkdir "$work/unit"
  sed "s#^ExecStart=/usr/bin/#ExecStart=$root/usr/bin/#" "$unit" >"$work/unit/folioway-server.service"
  verify=$(systemd-analyze verify --man=no "$work/unit/folioway-server.service" 2>&1) ||
    fail "systemd-analyze verify: $verify"
  [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
else
  echo "packages: systemd-analyze --offline is not available, the service checks are skipped"
fi
grep -qx "ExecStart=/usr/bin/folioway-server .*" "$unit" || fail "the packaged service does not start /usr/bin/folioway-server"
# Installed without packages, the service starts the program where that install put it.
DESTDIR="$work/local" cmake --install "$build" --prefix /opt/folioway --component server >/dev/null
grep -qx "ExecStart=/opt/folioway/bin/folioway-server .*" \
  "$work/local/opt/folioway/lib/systemd/system/folioway-server.service" ||
  fail "cmake --install --prefix writes a service that starts another program"

# An import run by root into the service user's data folder stays readable to the service.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && command -v curl >/dev/null; then
  owner=nobody
  group=$(id -gn "$owner")
  data="$work/served"
  install -d -o "$owner" -g "$group" -m 0700 "$data"
  chmod 0755 "$work"
  mkdir -p "$work/novels"
  printf '第一章 开始\n正文\n' | iconv -f UTF-8 -t GB18030 >"$work/novels/打包测试作者：某某.txt"
  "$root/usr/bin/folioway-server" --data "$data" import "$work/novels" --category 武侠仙侠 >"$work/import.log" 2>&1 ||
    { cat "$work/import.log"; fail "import as root failed"; }
  foreign=$(find "$data" ! -user "$owner" | head -1)
  [ -z "$foreign" ] || fail "import as root left $foreign not owned by $owner"
  setpriv --reuid="$owner" --regid="$group" --clear-groups \
    "$root/usr/bin/folioway-server" --data "$data" --port 0 --no-log >"$work/serve.log" 2>&1 &
  served=$!
  port=$(listening_port "$work/serve.log" "$served")
  [ -n "$port" ] || { kill "$served" 2>/dev/null; cat "$work/serve.log"; fail "the server did not start as $owner"; }
  path=$(curl -fsS "http://127.0.0.1:$port/readerserver/listbook.asp?action=list" | grep -o '/books/[^<]*' | head -1)
  status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port$path")
  kill "$served"
  wait "$served" || true
  [ "$status" = 200 ] || fail "the imported book answers $status to the service user"
fi
echo "packages: $(basename "$client") and $(basename "$server") hold what they should"
