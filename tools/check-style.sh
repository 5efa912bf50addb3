#!/usr/bin/env bash
# Checks that the tracked C++ sources are formatted as .clang-format says and
# pass the .clang-tidy checks: over the host build's compile_commands.json, and
# the Win32 platform's sources over the mingw-x64 build's. Configures those
# builds when they are missing; installs clang-format and clang-tidy when they
# are missing.
# Usage: tools/check-style.sh [BUILD_ROOT]   (defaults to build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build}

tools/install-packages.sh clang-format clang-tidy

failures=0
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}"; then
    echo "check-style: not formatted; run: clang-format -i \$(git ls-files '*.cpp' '*.h')" >&2
    failures=$((failures + 1))
fi

# compile_commands.json is written when a build is configured.
compiled_sources() {
    sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$1/compile_commands.json" | sort -u
}
tracked=$(for source in "${sources[@]}"; do realpath "$source"; done | sort -u)

[ -f "$root/host/compile_commands.json" ] || cmake --preset host -B "$root/host" >/dev/null
mapfile -t host_files < <(comm -12 <(compiled_sources "$root/host") <(printf '%s\n' "$tracked"))
# run-clang-tidy takes regular expressions: anchor each path and escape its dots.
if ! run-clang-tidy -quiet -j 2 -p "$root/host" \
    $(printf '^%s$\n' "${host_files[@]}" | sed 's/[.+]/\\&/g'); then
    failures=$((failures + 1))
fi

# Clang finds MinGW's C headers by the target alone, but not GCC's C++ library.
tidied=${#host_files[@]}
mapfile -t win32 < <(realpath src/win32/*.cpp)
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    [ -f "$root/mingw-x64/compile_commands.json" ] ||
        cmake --preset mingw-x64 -B "$root/mingw-x64" >/dev/null
    extra=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++)
    while IFS= read -r dir; do
        extra+=("--extra-arg=-isystem$dir")
    done < <(x86_64-w64-mingw32-g++-posix -xc++ -E -v - </dev/null 2>&1 |
        sed -n '/search starts here/,/End of search list/s/^ \(.*\/c++.*\)$/\1/p')
    if ! clang-tidy --quiet -p "$root/mingw-x64" "${extra[@]}" "${win32[@]}"; then
        failures=$((failures + 1))
    fi
    tidied=$((tidied + ${#win32[@]}))
else
    echo "check-style: no MinGW compiler; ${win32[*]} not checked" >&2
fi

if [ "$failures" -ne 0 ]; then
    echo "check-style: $failures check(s) failed" >&2
    exit 1
fi
echo "check-style: ${#sources[@]} files formatted, $tidied tidy-clean"
