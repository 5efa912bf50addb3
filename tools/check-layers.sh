#!/usr/bin/env bash
# Fails when a source file includes a project header from a folder that its
# own folder may not depend on. Layers point one way:
#   main -> cli -> transfer -> (bmp, formats) -> platform -> util
# and back ends (win32, posix, x11) are composed by main from the portable roles,
# bmp, the platform interfaces and util.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A may_include=(
    [cli]="transfer formats platform util"
    [transfer]="bmp formats platform util"
    [bmp]="platform util"
    [formats]="platform util"
    [platform]="util"
    [util]=""
    [portable]="bmp platform util"
    [posix]="portable bmp platform util"
    [win32]="bmp platform util"
    [x11]="posix portable bmp platform util"
)

violations=0
checked=0
while IFS= read -r file; do
    folder=${file#src/}
    if [[ $folder != */* ]]; then
        continue # src/main.cpp composes everything
    fi
    folder=${folder%%/*}
    if [[ -z ${may_include[$folder]+set} ]]; then
        echo "check-layers: $file is in a folder with no rule: $folder" >&2
        violations=$((violations + 1))
        continue
    fi
    checked=$((checked + 1))
    while IFS= read -r line; do
        included=${line#*\"}
        included=${included%%\"*}
        target=${included%%/*}
        [[ $target == "$folder" ]] && continue
        if [[ " ${may_include[$folder]} " != *" $target "* ]]; then
            echo "check-layers: $file includes \"$included\": $folder may not depend on $target" >&2
            violations=$((violations + 1))
        fi
    done < <(grep -E '^#include "[^"]+/' "$file" || true)
done < <(git ls-files 'src/*.h' 'src/*.cpp')

if [[ $violations -ne 0 ]]; then
    echo "check-layers: $violations include(s) against the layers" >&2
    exit 1
fi
echo "check-layers: $checked files include only the layers below them"
