#!/usr/bin/env bash
# Installs the Debian 12 packages Kelvane builds, runs and tests with. The one list of them.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  libode-dev libpng-dev zlib1g-dev libsdl2-dev nettle-dev
  libgl-dev libgl1-mesa-dri libglx-mesa0 mesa-utils
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libfreetype-dev fonts-dejavu-core
  xvfb xauth xdg-utils
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
