#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages.
# Idempotent and quiet when everything is already there; uses sudo when not root.
set -euo pipefail

packages=(
  cmake g++ pkg-config make
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick
  python3 python3-pyatspi at-spi2-core dbus dbus-x11 python3-dbusmock
  umockdev libumockdev-dev
  weston qt6-wayland
  dpkg-dev lintian appstream desktop-file-utils debootstrap devscripts
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
