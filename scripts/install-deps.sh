#!/usr/bin/env bash
# Installs the Debian bookworm packages Folioway needs to build, run and test.
# Only packages that are missing are installed; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git curl
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite qt6-translations-l10n
  qt6-webengine-dev qt6-webengine-dev-tools qt6-webchannel-dev
  qt6-multimedia-dev qt6-httpserver-dev qt6-websockets-dev
  libgl-dev libglx-dev libxkbcommon-dev
  libarchive-dev libespeak-ng-dev espeak-ng-data libopencc-dev
  libmicrohttpd-dev libgnutls28-dev libssl-dev libsodium-dev libsystemd-dev
  postgresql libqt6sql6-psql
  libxcb1-dev libxcb-keysyms1-dev libx11-dev libx11-xcb-dev
  fonts-noto-cjk xvfb xauth xdotool
  zip p7zip-full wrk nginx-light gcovr python3-feedparser openssl logrotate zlib1g-dev libdeflate-dev epubcheck
  chromium chromium-driver python3-selenium
  desktop-file-utils appstream lintian groff-base man-db systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
