#!/usr/bin/env bash
# Checks both Windows executables: they import only Windows system DLLs
# (KERNEL32, USER32, GDI32, SHELL32 and msvcrt: no MinGW runtime DLL, no
# universal CRT), so clipfile.exe runs from a bare zip, and they carry the
# version resource with the project's version.
# Usage: tools/check-imports.sh [BUILD_ROOT]   (defaults to build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build}

failures=0
fail() {
    echo "check-imports: $*" >&2
    failures=$((failures + 1))
}

for pair in mingw-x64:x86_64-w64-mingw32 mingw-x86:i686-w64-mingw32; do
    preset=${pair%%:*}
    tools=${pair#*:}
    exe=$root/$preset/clipfile.exe
    if [ ! -f "$exe" ]; then
        fail "$exe is missing"
        continue
    fi

    dlls=$("$tools-objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: *//p' | tr -d '\r')
    if [ -z "$dlls" ]; then
        fail "$exe: no imports read"
        continue
    fi
    while IFS= read -r dll; do
        case ${dll,,} in
            kernel32.dll | user32.dll | gdi32.dll | shell32.dll | msvcrt.dll) ;;
            *) fail "$exe imports $dll" ;;
        esac
    done <<<"$dlls"

    # The resource's strings are UTF-16; each value follows its key.
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/$preset/CMakeCache.txt")
    description=$(sed -n 's/^CMAKE_PROJECT_DESCRIPTION:STATIC=//p' "$root/$preset/CMakeCache.txt")
    resource=$(mktemp)
    "$tools-objcopy" -O binary --only-section=.rsrc "$exe" "$resource"
    strings=$(strings -e l "$resource" || true)
    rm -f "$resource"
    for expected in "ProductName=clipfile" "ProductVersion=$version" "FileVersion=$version" \
        "FileDescription=$description"; do
        key=${expected%%=*}
        value=$(printf '%s\n' "$strings" | sed -n "/^$key\$/{n;p;q}")
        if [ -z "$value" ] || [ "$value" != "${expected#*=}" ]; then
            fail "$exe: version resource has $key '${value}', expected '${expected#*=}'"
        fi
    done
    echo "$exe: imports" $dlls
done

if [ "$failures" -ne 0 ]; then
    echo "check-imports: $failures problem(s)" >&2
    exit 1
fi
