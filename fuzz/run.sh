#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from its seed
# corpus. Fails on any crash, sanitizer report, leak, timeout or broken check;
# the input that caused it is kept in build/fuzz/artifacts/<target>/ and
# belongs, once fixed, in fuzz/regressions/<target>/, which ctest replays.
# Usage: fuzz/run.sh [SECONDS_PER_TARGET [TARGET...]]   (default 60, every one)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(bmp_import portable_store png_decode)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# The clipboard target writes its files on every run: keep them in memory.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for target in "${targets[@]}"; do
    artifacts=build/fuzz/artifacts/$target
    mkdir -p "$work/$target" "$artifacts"
    log=$work/$target.log
    # New inputs go to the scratch corpus, never into the committed seeds.
    if build/fuzz/tests/fuzz/${target}_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        outcome=clean
    else
        outcome=FOUND
        failed=1
        tail -n 60 "$log"
        ls -l "$artifacts"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    echo "fuzz $target: $outcome, ${runs:-?} executions in ${took:-?} s, $(find "$work/$target" -type f | wc -l) new corpus inputs"
done
exit "$failed"
