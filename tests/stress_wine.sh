#!/usr/bin/env bash
# Stress tests of the Windows build under Wine, with a second program on the
# clipboard: one that keeps it open (every command must give up after its
# bounded retry and leave the contents alone), and one that places more
# formats than a fixed-size list would hold (GETTYPES must list them all).
# Usage: stress_wine.sh path/to/clipfile.exe path/to/clipboard_helper.exe
set -u

if [[ $# -ne 2 || ! -f $1 || ! -f $2 ]]; then
    echo "usage: $0 path/to/clipfile.exe path/to/clipboard_helper.exe" >&2
    exit 2
fi
exe=$(realpath "$1")
helper=$(realpath "$2")

source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"
holder_pid=

cleanup() {
    touch "$files/release.flag"
    [[ -n $holder_pid ]] && wait "$holder_pid" 2>/dev/null
    timeout 10 "$wineserver" -k 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

start_wine

# --- a second process holds the clipboard open ------------------------------

printf 'text that must survive\0' >"$files/keep.txt"
printf 'other text\0' >"$files/other.txt"
make_bmp "$files/pic.bmp" 2 1
clip PUTDATA CF_TEXT keep.txt
put_ok keep.txt
expect_output "PUTDATA CF_TEXT before the clipboard is held" "$msg"

# The time of a run that opens the clipboard at once, to tell the retry apart
# from Wine's own start-up.
baseline=999999
for _ in 1 2 3; do
    clip GETTYPES
    ((elapsed < baseline)) && baseline=$elapsed
done
echo "# GETTYPES on a free clipboard takes $baseline ms"

# The holder opens the clipboard with a window of its own: Wine lets a second
# window-less opener in.
if start_helper holder held hold release.flag; then
    pass "the helper holds the clipboard"
else
    fail "the helper holds the clipboard" "$(head -c 300 "$work/holder.out")"
fi
holder_pid=$helper_pid

# name | expected message | arguments
while IFS='|' read -r name expected args; do
    read -ra argv <<<"$args"
    clip "${argv[@]}"
    read -ra pieces <<<"$expected"
    message "${pieces[@]}"
    expect_output "held clipboard: $name" "$msg"
    # The retry lasts about a second past a normal run, and is bounded.
    if ((elapsed - baseline >= 600 && elapsed < baseline + 10000)); then
        pass "held clipboard: $name gave up after a bounded retry ($elapsed ms)"
    else
        fail "held clipboard: $name gave up after a bounded retry" "$elapsed ms, a free run takes $baseline ms"
    fi
done <<'EOF'
GETTYPES|snapshot_open_failed formats_not_retrieved|GETTYPES
GETDATA|snapshot_open_failed format_not_available=CF_TEXT|GETDATA CF_TEXT out.txt
GETDATA CF_BITMAP|snapshot_open_failed format_not_available=CF_BITMAP|GETDATA CF_BITMAP out.bmp
PUTDATA|place_open_failed put_data_failed=other.txt|PUTDATA CF_TEXT other.txt
PUTDATA CF_BITMAP|place_open_failed put_data_failed=pic.bmp|PUTDATA CF_BITMAP pic.bmp
PUTDATA of a registered name|place_open_failed put_data_failed=other.txt|PUTDATA Stress_Format other.txt
EOF
if [[ -e $files/out.txt || -e $files/out.bmp ]]; then fail "a held clipboard exports nothing"; else pass "a held clipboard exports nothing"; fi

touch "$files/release.flag"
wait "$holder_pid"
holder_status=$?
holder_pid=
if [[ $holder_status -eq 0 ]] && grep -q released "$work/holder.out"; then pass "the helper let the clipboard go"; else fail "the helper let the clipboard go" "status $holder_status"; fi

clip GETTYPES
listing 'CF_TEXT - [1]' 'CF_LOCALE - [16]' 'CF_OEMTEXT - [7]' 'CF_UNICODETEXT - [13]'
expect_output "GETTYPES once the clipboard is free again" "$msg"

# A clipboard held for a moment, as clipboard managers and history do after
# every change, is waited out: the holder lets go about 0.6 s into the retry.
rm -f "$files/release.flag"
if start_helper holder held hold release.flag; then
    holder_pid=$helper_pid
    sleep_ms=$((baseline + 600))
    (sleep "$((sleep_ms / 1000)).$(printf '%03d' $((sleep_ms % 1000)))" && touch "$files/release.flag") &
    clip GETTYPES
    expect_output "GETTYPES outwaits a clipboard held for a moment ($((elapsed - baseline)) ms)" "$msg"
    wait "$holder_pid"
    holder_pid=
else
    fail "the helper holds the clipboard again" "$(head -c 300 "$work/holder.out")"
fi
clip GETDATA CF_TEXT out.txt
get_ok out.txt
expect_output "GETDATA once the clipboard is free again" "$msg"
expect_file "the held clipboard kept its contents" "$files/out.txt" "$files/keep.txt"

# --- more formats than a short list holds -------------------------------------

count=40
(cd "$files" && timeout -k 5 60 "$wine" "$helper" place "$count") </dev/null >"$work/placed" 2>&1
placed_status=$?
tr -d '\r' <"$work/placed" >"$work/placed.txt"
if [[ $placed_status -eq 0 && $(wc -l <"$work/placed.txt") -eq $count ]]; then
    pass "the helper placed $count formats"
else
    fail "the helper placed $count formats" "status $placed_status" "$(head -c 300 "$work/placed.txt")"
fi
entries=()
while read -r id name; do entries+=("$name - [$id]"); done <"$work/placed.txt"
clip GETTYPES
listing "${entries[@]}"
expect_output "GETTYPES lists all $count formats, in order" "$msg"

# Data past the 25th format is there too.
for index in 24 25 26 $((count - 1)); do
    read -r id name < <(sed -n "$((index + 1))p" "$work/placed.txt")
    rm -f "$files/format.bin"
    clip GETDATA "$name" format.bin
    get_ok format.bin
    expect_output "GETDATA of format $((index + 1)) of $count ($name)" "$msg"
    printf 'data of %s' "$name" >"$work/format.want"
    expect_file "format $((index + 1)) gives its own bytes" "$files/format.bin" "$work/format.want"
done

report
