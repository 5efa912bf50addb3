#!/usr/bin/env bash
# Builds every package into BUILD_ROOT/packages (BUILD_ROOT defaults to build):
#   clipfile_<version>_<arch>.deb and clipfile-<version>-Linux.tar.gz from the host preset,
#   clipfile-<version>-win64.zip from mingw-x64 and clipfile-<version>-win32.zip from mingw-x86,
# each with a .sha256 beside it. Executables are stripped.
# Usage: tools/package.sh [BUILD_ROOT]
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build}
out=$root/packages

# CPack's .deb generator finds the dependencies with dpkg-shlibdeps (dpkg-dev),
# and recognises executables with file.
tools/install-packages.sh dpkg-dev file

mkdir -p "$out"
out=$(realpath "$out")
for preset in host mingw-x64 mingw-x86; do
    cmake --preset "$preset" -B "$root/$preset" >/dev/null
    cmake --build "$root/$preset" -j2
    (cd "$root/$preset" && cpack -B "$out")
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"
