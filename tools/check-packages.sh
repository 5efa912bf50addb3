#!/usr/bin/env bash
# Checks the packages that tools/package.sh made: each archive holds the
# executable and its documents, executables are stripped, checksums match, the
# .deb's changelog parses, and the .deb installs (dpkg -i, needs root or sudo),
# shows its manual page, runs from its installed path over a private portable
# clipboard and is removed again.
# Usage: tools/check-packages.sh [BUILD_ROOT]   (defaults to build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(realpath "${1:-build}")
out=$root/packages
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/host/CMakeCache.txt")
arch=$(dpkg --print-architecture)

failures=0
fail() {
    echo "check-packages: $*" >&2
    failures=$((failures + 1))
}

# expect_entries ARCHIVE LISTING PATH...: every PATH is a line of LISTING.
expect_entries() {
    local archive=$1 listing=$2
    shift 2
    for path in "$@"; do
        grep -qxF "$path" <<<"$listing" || fail "$archive lacks $path"
    done
}

deb=$out/clipfile_${version}_${arch}.deb
tgz=$out/clipfile-$version-Linux.tar.gz
for package in "$deb" "$tgz" "$out/clipfile-$version-win64.zip" "$out/clipfile-$version-win32.zip"; do
    if [ ! -f "$package" ]; then
        fail "$package is missing"
    elif ! (cd "$out" && sha256sum --quiet -c "$(basename "$package").sha256"); then
        fail "$package does not match its checksum"
    fi
done
if [ "$failures" -ne 0 ]; then
    exit 1
fi

expect_entries "$deb" "$(dpkg-deb -c "$deb" | awk '{ print $6 }')" \
    ./usr/bin/clipfile ./usr/share/man/man1/clipfile.1.gz ./usr/share/doc/clipfile/README.md \
    ./usr/share/doc/clipfile/copyright ./usr/share/doc/clipfile/changelog.gz
top=clipfile-$version-Linux
expect_entries "$tgz" "$(tar -tzf "$tgz")" \
    "$top/bin/clipfile" "$top/share/man/man1/clipfile.1" \
    "$top/share/doc/clipfile/README.md" "$top/share/doc/clipfile/LICENSE"
for system in win64 win32; do
    zip=$out/clipfile-$version-$system.zip
    top=clipfile-$version-$system
    expect_entries "$zip" "$(cmake -E tar tf "$zip")" \
        "$top/clipfile.exe" "$top/README.md" "$top/LICENSE"
done

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
work=$(mktemp -d)
installed_here=false
cleanup() {
    if $installed_here; then
        "${sudo[@]}" dpkg -r clipfile >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

dpkg-deb -x "$deb" "$work/deb"
# expect_changelog NAME FILE: FILE is a Debian changelog whose entry is for this version.
expect_changelog() {
    local parsed status=0
    parsed=$(dpkg-parsechangelog -l "$2" -S Version 2>&1) || status=$?
    if [ "$status" -ne 0 ] || [ "$parsed" != "$version" ]; then
        fail "$1 does not parse as $version: $parsed"
    fi
}
zcat "$work/deb/usr/share/doc/clipfile/changelog.gz" >"$work/changelog"
expect_changelog "the .deb's changelog" "$work/changelog"
# The entry written without the history, as from an unpacked source archive.
cmake -DOUTPUT="$work/changelog" -DSOURCE_DIR="$PWD" -DPACKAGE=clipfile -DVERSION="$version" \
    -DMAINTAINER="$(sed -n 's/^CLIPFILE_PACKAGE_CONTACT:STRING=//p' "$root/host/CMakeCache.txt")" \
    -DGIT=/nonexistent/git -P cmake/debian-changelog.cmake
expect_changelog "the changelog without history" "$work/changelog"
if ! file "$work/deb/usr/bin/clipfile" | grep -q ', stripped'; then
    fail "the .deb's executable is not stripped"
fi
(cd "$work" && cmake -E tar xf "$out/clipfile-$version-win64.zip")
if x86_64-w64-mingw32-objdump -h "$work/clipfile-$version-win64/clipfile.exe" | grep -q '\.debug_'; then
    fail "the win64 zip's executable is not stripped"
fi

"${sudo[@]}" dpkg -i "$deb" >/dev/null
installed_here=true
program=$(dpkg -L clipfile | grep -x '.*/bin/clipfile')
page=$(LC_ALL=C man -P cat clipfile 2>&1) || true
if ! grep -qF 'clipfile - move data between the clipboard and files' <<<"$page"; then
    fail "man clipfile does not show the installed manual page: ${page:0:200}"
fi

export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$work"
# expect_output NAME EXPECTED ARGS...: the installed tool prints EXPECTED and exits 0.
expect_output() {
    local name=$1 expected=$2 actual status=0
    shift 2
    # The x keeps the trailing line ends that $(...) would drop.
    actual=$("$program" "$@"; code=$?; printf x; exit $code) || status=$?
    actual=${actual%x}
    if [ "$status" -ne 0 ]; then
        fail "$program $name: exit status $status"
    elif [ "$actual" != "$expected" ]; then
        fail "$program $name: printed $(printf '%q' "$actual")"
    fi
}
expect_output "GETTYPES, empty" $'\n\nClipboard is Empty.\n\n' GETTYPES
printf 'packaged\0' >text.bin
expect_output "PUTDATA" $'\n\n"text.bin" File contents were Successfully copied into the Clipboard.\n' \
    PUTDATA CF_TEXT text.bin
expect_output "GETTYPES, one format" \
    $'\n\nClipboard Formats are :\n\n\tFormat Type - [Value]\n\t---------------------\n\n\tCF_TEXT - [1]\n' \
    GETTYPES

if [ "$failures" -ne 0 ]; then
    echo "check-packages: $failures problem(s)" >&2
    exit 1
fi
echo "check-packages: 4 packages checked; $program ran from the .deb"
