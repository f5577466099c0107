#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages.
# Idempotent and quiet when everything is already there; uses sudo when not root.
set -euo pipefail

packages=(
  cmake g++ pkg-config make
  qt6-base-dev libgl-dev libsystemd-dev
  # The translations: lupdate and lrelease at build time; Qt's own translations and a CJK
  # font to see the program in German and Chinese.
  qt6-l10n-tools qt6-translations-l10n fonts-wqy-microhei
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick
  python3 python3-pyatspi at-spi2-core dbus dbus-x11 python3-dbusmock
  umockdev libumockdev-dev
  weston qt6-wayland
  dpkg-dev lintian appstream desktop-file-utils mmdebstrap devscripts
  # Tools the tests call, by the packages that give them (a minimal tree may lack them):
  # mount and umount (the fresh-install check), awk (e2e, kernel rig), strip (packaging),
  # xz and zstd (the kernel rig unpacks the kernel's modules).
  mount mawk binutils xz-utils zstd
  "$@"
)

# One question to dpkg for all of them (it is asked at every start of scripts/run.sh).
declare -A installed=()
while read -r name; do installed[$name]=1; done < <(
  dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null | awk '/ install ok installed$/ { print $1 }')
missing=()
for p in "${packages[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Missing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
# Named before anything is installed: the missing packages and what they bring with them,
# as apt plans it.
plan=$(apt-get install -s -qq --no-install-recommends "${missing[@]}" | awk '/^Inst /{print $2}')
echo "Installing $(wc -w <<<"$plan") Debian packages:" $plan
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
