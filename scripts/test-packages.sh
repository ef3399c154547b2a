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
  /usr/share/man/man1/folioway.1.gz /usr/share/man/man1/folioway-toc.1.gz
contains "$server" /usr/bin/folioway-server /usr/lib/systemd/system/folioway-server.service \
  /etc/default/folioway-server /etc/logrotate.d/folioway-server /usr/share/man/man1/folioway-server.1.gz
dpkg-deb -c "$client" | grep -q folioway-server && fail "the desktop package carries the server"
dpkg-deb -f "$client" Depends | grep -q 'libqt6webenginewidgets6' || fail "folioway does not depend on the web view"
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
zcat "$root/usr/share/man/man1/folioway-server.1.gz" | grep -q -- '--version' || fail "the server's man page lacks its options"

[ "$("$root/usr/bin/folioway-server" --version)" = "folioway-server $version" ] || fail "folioway-server --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/folioway" --version)" = "folioway $version" ] ||
  fail "folioway --version"
echo "packages: $(basename "$client") and $(basename "$server") hold what they should"
