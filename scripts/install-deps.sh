#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Halyard need.
# Run as root on Debian 12; packages already present are left alone.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev
  clang libclang-rt-14-dev
  ffmpeg mkvtoolnix libxml2-utils
  qt6-base-dev libcli11-dev nlohmann-json3-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
