#!/usr/bin/env bash
# Installs the build and test dependencies from Debian's packages when any is missing
# (python3-skimage for its sample photos, which the tests read).
set -euo pipefail
packages=(cmake g++ make libopencv-dev libeigen3-dev libgtest-dev libgmock-dev
          libbenchmark-dev admesh lib3mf-dev nlohmann-json3-dev zlib1g-dev python3 prusa-slicer
          clang libclang-rt-14-dev python3-skimage)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo_cmd=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
