#!/usr/bin/env bash
# Builds the three .debs (kvm-upgrade-cli, kvm-upgrade, kvm-upgrade-testtools)
# in BUILD_DIR (build/deb), as Debian builds its own packages: with the flags
# of dpkg-buildflags (KVM_DEBIAN_BUILDFLAGS), the programs stripped. Installs
# the build packages a fresh Debian 12 lacks first (with sudo when not root),
# and lets lintian check the packages when it is installed.
# Usage: scripts/build-debs.sh [BUILD_DIR]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/deb}
bash "$root/scripts/install-deps.sh" --debs

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKVM_BUILD_TESTS=OFF -DKVM_BUILD_BENCH=OFF -DKVM_DEBIAN_BUILDFLAGS=ON >/dev/null
cmake --build "$build"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/*.deb
if command -v lintian >/dev/null; then
  lintian "$build"/*.deb
fi
