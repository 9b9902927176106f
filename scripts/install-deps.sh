#!/usr/bin/env bash
# Installs the Debian packages that Halyard's scripts need, by group. Run as root on
# Debian 12; packages already present are left alone.
#
#   scripts/install-deps.sh [GROUP...]
#
#   build    building Halyard and running its test suite (always installed)
#   fuzz     clang and its runtime, for the libFuzzer targets
#   package  building the Debian package and validating it (scripts/package.sh)
#   check    installing the package in a fresh Debian root and starting the window
#            there under a virtual X server (scripts/check-package.sh)
set -euo pipefail

build=(
  cmake ninja-build g++ pkg-config
  libgtest-dev
  ffmpeg mkvtoolnix libxml2-utils
  qt6-base-dev libcli11-dev nlohmann-json3-dev
)
fuzz=(clang libclang-rt-14-dev)
package=(dpkg-dev file gzip lintian man-db groff-base desktop-file-utils appstream)
check=(debootstrap xvfb)

packages=("${build[@]}")
for group in "$@"; do
  case $group in
    build) ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    package) packages+=("${package[@]}") ;;
    check) packages+=("${check[@]}") ;;
    *) echo "install-deps.sh: unknown group \"$group\" (build, fuzz, package, check)" >&2; exit 2 ;;
  esac
done

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
