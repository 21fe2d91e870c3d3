#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, test, benchmark and fuzz, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins
  # the preview's PNG; GeoTIFF grids and their coordinate systems (proj-data, PROJ's database, comes
  # with libproj)
  libpng-dev libtiff-dev libgeotiff-dev libproj-dev
  # the JSON of info --json (header-only)
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-format-14 clang-tidy-14
  # installing and packaging: the icon's sizes, the package's dependencies and checks, manual pages
  librsvg2-bin dpkg-dev file lintian desktop-file-utils man-db groff-base
  # the window closed through a real window manager: an X server, the window manager and the tools
  # that act as the user
  xvfb openbox xdotool wmctrl x11-utils
)
# The screenshot tooling is only needed for the window's visual check.
if [[ "${KAVRIMO_SCREENSHOT:-0}" == 1 ]]; then packages+=(xauth imagemagick); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
