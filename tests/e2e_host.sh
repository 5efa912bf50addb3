#!/usr/bin/env bash
# End-to-end tests of the Linux build over the portable clipboard, each run a
# separate process. Usage: e2e_host.sh path/to/clipfile
set -u
CLIPFILE=$(realpath "$1")
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR="$WORK/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$WORK" || exit 1
trap 'jobs -p | xargs -r kill 2>/dev/null; rm -rf "$WORK"' EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# expect_output NAME EXPECTED-PRINTF-FORMAT ARGS... : runs the tool and compares stdout byte for byte.
expect_output() {
    local name=$1 expected=$2; shift 2
    printf "$expected" >expected.out
    timeout 20 "$CLIPFILE" "$@" >actual.out 2>actual.err
    local status=$?
    if [ "$status" -ne 0 ]; then fail "$name: exit status $status"; return; fi
    if ! cmp -s expected.out actual.out; then
        fail "$name: output differs"; diff <(od -c expected.out) <(od -c actual.out) | head -10; return
    fi
    if [ -s actual.err ]; then fail "$name: wrote to stderr"; return; fi
    pass
}

expect_same_file() {
    if cmp -s "$2" "$3"; then pass; else fail "$1: $2 and $3 differ"; fi
}

# Expected outputs are printf formats: keep their escapes as text.
put_ok() { printf '%s' "\\n\\n\"$1\" File contents were Successfully copied into the Clipboard.\\n"; }
get_ok() { printf '%s' "\\n\\nClipboard Contents were Successfully copied into the \"$1\" File\\n"; }
HEADER='\n\nClipboard Formats are :\n\n\tFormat Type - [Value]\n\t---------------------\n'

# --- argument rules
INVALID_COUNT='\n\n * Invalid number of arguments passed to the application. * \n'
expect_output "no arguments" "$INVALID_COUNT"
expect_output "two arguments" "$INVALID_COUNT" GETDATA CF_TEXT
expect_output "four arguments" "$INVALID_COUNT" GETDATA CF_TEXT a b
expect_output "unknown keyword" '\n\n * Arguments Passed to the application are not Valid. * \n' GETTYPE
expect_output "empty clipboard" '\n\nClipboard is Empty.\n\n' gettypesXYZ

# --- round trips
: >empty.bin
printf 'Hello, clipboard\r\nsecond line\n' >text.txt
head -c $((16 * 1024 * 1024)) /dev/urandom >random.bin
for format in CF_TEXT cf_unicodetext CF_DSPTEXT "HTML Format"; do
    for input in empty.bin text.txt random.bin; do
        expect_output "put $input as $format" "$(put_ok "$input")" PUTDATA "$format" "$input"
        expect_output "get $input as $format" "$(get_ok out.bin)" GETDATA "$format" out.bin
        expect_same_file "round trip $input as $format" "$input" out.bin
    done
done

# --- listing after placing a registered format: alone, under its registered name
expect_output "put html" "$(put_ok text.txt)" PUTDATA "HTML Format" text.txt
html_id=$("$CLIPFILE" GETTYPES | sed -n 's/^\tHTML Format - \[\([0-9]*\)\]$/\1/p')
if [ -n "$html_id" ] && [ "$html_id" -ge 49152 ]; then pass; else fail "HTML Format id '$html_id'"; fi
expect_output "gettypes html" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES
expect_output "registered name any case" "$(put_ok text.txt)" PUTDATA "html format" text.txt
expect_output "same id for any case" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES

# --- missing input file: message, clipboard unchanged
expect_output "missing input" \
    '\n * Error while reading the "nothing.bin" file * \n\n\n * Couldn'"'"'t able to transfer the contents of "nothing.bin" file into Clipboard. * \n' \
    PUTDATA CF_TEXT nothing.bin
expect_output "clipboard kept after missing input" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES

# --- directory as input and as output
mkdir adir
expect_output "directory input" \
    '\n * Error while reading the "adir" file * \n\n\n * Couldn'"'"'t able to transfer the contents of "adir" file into Clipboard. * \n' \
    PUTDATA CF_TEXT adir
expect_output "directory output" \
    '\n * Error whle opening the "adir" file. * \n\n\n * Couldn'"'"'t able to transfer the contents of clipboard into "adir" file. * \n' \
    GETDATA HTML adir

# --- clipboard held by another process
mkfifo held
# The subshell becomes the sleep, so killing it releases the lock at once.
(exec 9>"$XDG_RUNTIME_DIR/clipfile/lock" && flock -n 9 && echo >held && exec sleep 30) &
holder=$!
read -r _ <held
start=$(date +%s%N)
expect_output "busy gettypes" \
    '\n * Unable to open the Clipboard. * \n\n * Couldn'"'"'t able to retrieve the Clipboard Formats. * \n' GETTYPES
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
if [ "$elapsed_ms" -lt 3000 ]; then pass; else fail "busy open took ${elapsed_ms} ms"; fi
expect_output "busy getdata" \
    '\n * Unable to open the Clipboard. * \n\n ! Specified Format "HTML" is not available on the Clipboard. ! \n' \
    GETDATA HTML out.bin
expect_output "busy putdata" \
    '\n * Couldn'"'"'t able to open the Clipboard. * \n\n\n * Couldn'"'"'t able to transfer the contents of "text.txt" file into Clipboard. * \n' \
    PUTDATA CF_TEXT text.txt
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
expect_output "free again" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
