#!/usr/bin/env bash
# Installs the Debian packages Zuna needs, as root:
#   install-deps.sh           what building and running Zuna need
#   install-deps.sh --tests   that, and what the tests, benchmarks and the
#                             package check start or call (servers, phones,
#                             a notification daemon, sound, validators)
set -euo pipefail
packages=(
  cmake g++ make pkg-config gzip
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libpq-dev qt6-serialport-dev
  libqt6svg6 qt6-translations-l10n
  mdbtools-dev libphonenumber-dev libsqlite3-dev zlib1g-dev
  libspandsp-dev libsamplerate0-dev libsndfile1-dev libpulse-dev libre-dev
  fonts-dejavu-core fonts-liberation
  librsvg2-bin dpkg-dev file
)
test_packages=(
  postgresql openssl kamailio baresip-core
  pulseaudio pulseaudio-utils espeak-ng sox
  dunst xvfb dbus python3 sqlite3 openbox xdotool xterm x11-utils trayer
  desktop-file-utils appstream man-db groff-base lintian
  libreoffice-calc-nogui
)
case "${1:-}" in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  *) echo "usage: install-deps.sh [--tests]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
