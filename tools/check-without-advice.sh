#!/usr/bin/env bash
# Compiles the POSIX sources that give memory advice as a system whose headers
# lack MADV_POPULATE_READ, MADV_POPULATE_WRITE and MADV_HUGEPAGE would (older C
# libraries, the BSDs): the macros are removed right after <sys/mman.h>.
# Usage: tools/check-without-advice.sh [C++ compiler]   (defaults to c++)
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=${1:-c++}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/no_advice.h" <<'HEADER'
#include <sys/mman.h>
#undef MADV_POPULATE_READ
#undef MADV_POPULATE_WRITE
#undef MADV_HUGEPAGE
HEADER

failures=0
mapfile -t sources < <(grep -l 'posix_advice\.h\|MADV_' src/posix/*.cpp)
for source in "${sources[@]}"; do
    if "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -Isrc \
        -include "$work/no_advice.h" "$source"; then
        echo "$source: builds without the advice macros"
    else
        echo "check-without-advice: $source does not build without the advice macros" >&2
        failures=$((failures + 1))
    fi
done
[ "${#sources[@]}" -gt 0 ] || { echo "check-without-advice: no source gives advice" >&2; exit 1; }
[ "$failures" -eq 0 ]
