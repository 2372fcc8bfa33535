#!/usr/bin/env bash
# Installs the Debian packages Zuna needs to build, run and test. Run as root.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql postgresql
  mdbtools-dev libphonenumber-dev
  libspandsp-dev libsamplerate0-dev libsndfile1-dev libpulse-dev qt6-serialport-dev
  libre-dev kamailio baresip-core
  espeak-ng sox pulseaudio pulseaudio-utils
  fonts-dejavu-core fonts-liberation
  sqlite3 libsqlite3-dev
  dunst xvfb dbus python3
  libqt6svg6 qt6-translations-l10n
  librsvg2-bin desktop-file-utils appstream man-db groff-base dpkg-dev file
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
