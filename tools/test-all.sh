#!/usr/bin/env bash
# Installs what is missing (Debian packages), builds every preset and runs
# every test suite and check. Every stage runs, tests first; a summary of all
# of them ends the run, which fails when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake ninja-build g++ libgtest-dev libgmock-dev
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
    wine64 xvfb xclip imagemagick util-linux clang-format clang-tidy
    binutils-mingw-w64-i686 dpkg-dev file man-db groff-base mandoc
    clang-14 libclang-rt-14-dev inotify-tools lintian
    gcc-multilib g++-multilib qemu-user pkg-config libxcb1-dev libpng-dev
)
tools/install-packages.sh "${packages[@]}" || exit 1

summary=()
failures=0
# stage NAME COMMAND...: runs the command, records its outcome and time.
stage() {
    local name=$1 started=$SECONDS status
    shift
    echo "=== $name"
    "$@"
    status=$?
    if [[ $status -eq 0 ]]; then
        summary+=("ok     $name ($((SECONDS - started)) s)")
    else
        summary+=("FAILED $name (status $status, $((SECONDS - started)) s)")
        failures=$((failures + 1))
    fi
}
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }

for preset in host host-asan host32 mingw-x64 mingw-x86; do
    stage "build $preset" build "$preset"
done

stage "ctest host" ctest --preset host
stage "ctest host-asan" ctest --preset host-asan
stage "ctest host32" ctest --preset host32
stage "ctest mingw-x64" ctest --preset mingw-x64
# Bounded fuzzing of BMP import and of damaged clipboard files (fuzz/README.md).
stage "fuzzers, 60 s each" fuzz/run.sh 60

# Layering, formatting and clang-tidy over the tree.
stage "check-layers" tools/check-layers.sh
stage "check-style" tools/check-style.sh
# The POSIX sources also build where the headers lack Linux's memory advice.
stage "check-without-advice" tools/check-without-advice.sh
# The manual page lists every message; the packages are built, the Windows
# executables import only system DLLs, and the .deb installs, runs and passes
# lintian.
stage "check-manual" tools/check-manual.sh
stage "package" tools/package.sh
stage "check-imports" tools/check-imports.sh
stage "check-packages" tools/check-packages.sh
stage "check-lintian" tools/check-lintian.sh

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
if [[ $failures -ne 0 ]]; then
    echo "$failures stage(s) failed"
    exit 1
fi
echo "all ${#summary[@]} stages passed"
