#!/usr/bin/env bash
# Builds the Debian package, build-package/package/halyard_VERSION_ARCH.deb, with CPack
# from a release build made with Debian's build flags, and validates it as Debian's
# tools do: lintian on the package, desktop-file-validate on its desktop entry,
# appstreamcli on its AppStream metadata. Fails when one of them fails or when a file
# the package must hold is missing. Prints the path of the package last.
#
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package

# Debian's compiler and linker flags (optimisation, stack protector, fortified
# functions, read-only relocations bound at start), as a Debian package build uses them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

echo "== release build for the package"
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DHALYARD_TESTS=OFF -DHALYARD_BENCH=OFF -DHALYARD_SANITIZE=OFF -DHALYARD_FUZZ=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
grep -q '^Qt6_DIR:PATH=.*-NOTFOUND' build-package/CMakeCache.txt &&
  { echo "package.sh: Qt 6 was not found, so the window cannot be packaged" >&2; exit 1; }
cmake --build build-package -j "$(nproc)"

echo "== package"
rm -rf build-package/package
(cd build-package && cpack -G DEB >/dev/null)
version=$(build-package/halyard-cli --version | cut -d' ' -f2)
deb=build-package/package/halyard_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "package.sh: CPack wrote no $deb" >&2; exit 1; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
missing=0
for file in usr/bin/halyard usr/bin/halyard-cli \
  usr/share/applications/halyard.desktop usr/share/mime/packages/halyard.xml \
  usr/share/icons/hicolor/128x128/apps/halyard.png usr/share/metainfo/com.corvane.halyard.metainfo.xml \
  usr/share/man/man1/halyard.1.gz usr/share/man/man1/halyard-cli.1.gz \
  usr/share/bash-completion/completions/halyard-cli \
  usr/share/doc/halyard/README.md.gz usr/share/doc/halyard/changelog.gz usr/share/doc/halyard/copyright; do
  [ -f "$root/$file" ] || { echo "package.sh: the package holds no /$file" >&2; missing=1; }
done
[ $missing -eq 0 ]
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends

echo "== lintian"
lintian --fail-on error --display-info "$deb"
echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/halyard.desktop"
echo "== appstreamcli validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.corvane.halyard.metainfo.xml"
echo "$deb"
