#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Mirava needs.
# Idempotent and non-interactive; run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-image-formats-plugins
  qt6-multimedia-dev
  libgl-dev libxkbcommon-dev libxcb1-dev
  libjpeg62-turbo-dev libturbojpeg0-dev libexif-dev zlib1g-dev libdeflate-dev
  libdlib-dev libdlib-data
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-utils imagemagick xcompmgr
  fonts-dejavu-core
  help2man dpkg-dev fakeroot file lintian desktop-file-utils appstream util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
