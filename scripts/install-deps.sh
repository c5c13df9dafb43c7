#!/usr/bin/env bash
# Installs the Debian packages Kestrove builds, runs and tests with; installs only what is missing.
set -euo pipefail

packages=(build-essential cmake pkg-config qt6-base-dev qt6-charts-dev qt6-svg-dev qt6-httpserver-dev qt6-websockets-dev libqt6opengl6-dev
          liberfa-dev libgtest-dev googletest tzdata indi-bin libindi-dev dpkg-dev lintian clang
          libclang-rt-14-dev chromium chromium-driver python3-selenium
          astrometry.net astrometry-data-tycho2-10-19 libsep-dev libcfitsio-dev libxxhash-dev help2man
          libqt6sql6-sqlite)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
