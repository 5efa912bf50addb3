#!/usr/bin/env bash
# End-to-end tests of the Linux build over the portable clipboard, each run a
# separate process. Usage: e2e_host.sh path/to/clipfile [EMULATOR...]
set -u
# Before the cd below, which a relative path to this script would not survive.
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"
CLIPFILE=$(realpath "$1")
shift
# A build for another processor (host32) runs through its emulator.
RUN=("$@" "$CLIPFILE")
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR="$WORK/run"
# The portable clipboard, even on a desktop.
export CLIPFILE_CLIPBOARD=portable
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$WORK" || exit 1
trap 'jobs -p | xargs -r kill 2>/dev/null; rm -rf "$WORK"' EXIT

# expect_output NAME EXPECTED ARGS...: runs the tool; stdout must be the bytes
# EXPECTED, stderr empty, the exit status 0.
expect_output() {
    local name=$1 expected=$2
    shift 2
    timeout 20 "${RUN[@]}" "$@" >actual.out 2>actual.err
    status=$?
    check_output "$name" "$expected" actual.out actual.err
}

# --- argument rules
message wrong_argument_count
expect_output "no arguments" "$msg"
expect_output "two arguments" "$msg" GETDATA CF_TEXT
expect_output "four arguments" "$msg" GETDATA CF_TEXT a b
message invalid_arguments
expect_output "unknown keyword" "$msg" GETTYPE
message clipboard_empty
expect_output "empty clipboard" "$msg" gettypesXYZ

# --- round trips: text formats come back with their terminator appended
# unless the file ends with one; every other format comes back unchanged.
: >empty.bin
printf 'Hello, clipboard\r\nsecond line\n' >text.txt
printf 'ab\0\0' >terminated.bin
{ head -c $((16 * 1024 * 1024)) /dev/urandom; printf 'x'; } >random.bin
with_terminator() {
    cat "$2"
    case $1 in
        CF_TEXT) [ "$(tail -c 1 "$2" | od -An -tx1 | tr -d ' ')" = 00 ] || printf '\0' ;;
        cf_unicodetext)
            local odd=$(($(stat -c %s "$2") % 2))
            if [ $odd -eq 1 ] || [ "$(tail -c 2 "$2" | od -An -tx1 | tr -d ' ')" != 0000 ]; then
                [ $odd -eq 0 ] || printf '\0'
                printf '\0\0'
            fi ;;
    esac
}
for format in CF_TEXT cf_unicodetext CF_DSPTEXT "HTML Format"; do
    for input in empty.bin text.txt terminated.bin random.bin; do
        put_ok "$input"
        expect_output "put $input as $format" "$msg" PUTDATA "$format" "$input"
        get_ok out.bin
        expect_output "get $input as $format" "$msg" GETDATA "$format" out.bin
        with_terminator "$format" "$input" >want.bin
        expect_file "round trip $input as $format" out.bin want.bin
    done
done

# Names that a printf format would mangle come through as they are.
odd='100%\x.txt'
cp text.txt "$odd"
put_ok "$odd"
expect_output "put a name with % and a backslash" "$msg" PUTDATA CF_TEXT "$odd"
get_ok "$odd.out"
expect_output "get a name with % and a backslash" "$msg" GETDATA CF_TEXT "$odd.out"

# --- listing after placing a registered format: alone, under its registered name
put_ok text.txt
expect_output "put html" "$msg" PUTDATA "HTML Format" text.txt
html_id=$("${RUN[@]}" GETTYPES | sed -n 's/^\tHTML Format - \[\([0-9]*\)\]$/\1/p')
if [ -n "$html_id" ] && [ "$html_id" -ge 49152 ]; then pass "HTML Format id $html_id is a registered one"; else fail "HTML Format id '$html_id'"; fi
listing "HTML Format - [$html_id]"
html_listing=$msg
expect_output "gettypes html" "$html_listing" GETTYPES
put_ok text.txt
expect_output "registered name any case" "$msg" PUTDATA "html format" text.txt
expect_output "same id for any case" "$html_listing" GETTYPES

# --- missing input file: message, clipboard unchanged
cant_read nothing.bin
expect_output "missing input" "$msg" PUTDATA CF_TEXT nothing.bin
expect_output "clipboard kept after missing input" "$html_listing" GETTYPES

# --- formats whose data is a graphics object: refused, clipboard unchanged
message place_failed put_data_failed=text.txt
for format in CF_METAFILEPICT CF_PALETTE CF_ENHMETAFILE CF_DSPBITMAP CF_DSPMETAFILEPICT CF_DSPENHMETAFILE; do
    expect_output "refused $format" "$msg" PUTDATA "$format" text.txt
done
expect_output "clipboard kept after refused formats" "$html_listing" GETTYPES

# --- directory as input and as output
mkdir adir
cant_read adir
expect_output "directory input" "$msg" PUTDATA CF_TEXT adir
cant_write adir
expect_output "directory output" "$msg" GETDATA HTML adir

# --- clipboard held by another process
mkfifo held
# The subshell becomes the sleep, so killing it releases the lock at once.
(exec 9>"$XDG_RUNTIME_DIR/clipfile/lock" && flock -n 9 && echo >held && exec sleep 30) &
holder=$!
read -r _ <held
start=$(date +%s%N)
message snapshot_open_failed formats_not_retrieved
expect_output "busy gettypes" "$msg" GETTYPES
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
if [ "$elapsed_ms" -lt 3000 ]; then pass "busy open gave up in ${elapsed_ms} ms"; else fail "busy open took ${elapsed_ms} ms"; fi
message snapshot_open_failed format_not_available=HTML
expect_output "busy getdata" "$msg" GETDATA HTML out.bin
message place_open_failed put_data_failed=text.txt
expect_output "busy putdata" "$msg" PUTDATA CF_TEXT text.txt
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
expect_output "free again" "$html_listing" GETTYPES

# --- inputs past the address space (4 GiB at 32 bits): the allocation message,
# never a block of the size's low 32 bits, and the clipboard kept. A 64-bit
# build gets the same limit from a 2 GiB cap (the sanitizers' own under them,
# whose warning about the refused allocation goes to a log, not stderr).
big_run=("${RUN[@]}")
saved_asan=${ASAN_OPTIONS-}
if [ "$(od -An -tu1 -j4 -N1 "$CLIPFILE" | tr -d ' ')" = 2 ]; then
    export ASAN_OPTIONS="$saved_asan:allocator_may_return_null=1:max_allocation_size_mb=2048:log_path=$WORK/asan"
    grep -qa __asan_init "$CLIPFILE" || RUN=(prlimit --as=$((2 << 30)) -- "${RUN[@]}")
fi
put_ok text.txt
expect_output "put before large inputs" "$msg" PUTDATA CF_TEXT text.txt
listing 'CF_TEXT - [1]'
text_listing=$msg
# file | size | format: each size's low 32 bits are 1, 0 and 1 after the 14-byte file header
for large in "low1.bin|$(((1 << 32) + 1))|CF_TEXT" "low0.bin|$((1 << 33))|HTML Format" \
    "low1.bmp|$(((1 << 32) + 15))|CF_BITMAP"; do
    IFS='|' read -r file size format <<<"$large"
    printf 'BM' >"$file" && truncate -s "$size" "$file"
    message block_allocation_failed put_data_failed="$file"
    expect_output "$file of $size bytes" "$msg" PUTDATA "$format" "$file"
    expect_output "clipboard kept after $file" "$text_listing" GETTYPES
    rm -f "$file"
done
RUN=("${big_run[@]}")
if [ -n "$saved_asan" ]; then export ASAN_OPTIONS=$saved_asan; else unset ASAN_OPTIONS; fi

# --- bitmaps: ImageMagick makes every BMP variant; each goes in as a bitmap and
# comes back as a 32-bit BMP of the same picture.
make_bitmap_variants
# Pictures taller than one band of rows (about 1 MiB), in both row orders.
make_bmp big32.bmp 1001 1100
"$CONVERT" big32.bmp -alpha off -type truecolor BMP3:big24.bmp
"$CONVERT" big24.bmp -flip -type truecolor BMP3:bigtop.bmp && patch32 bigtop.bmp 22 -1100
for variant in "big32|40 32 0 1100" "big24|40 24 0 1100" "bigtop|40 24 0 -1100"; do
    IFS='|' read -r name shape <<<"$variant"
    if [[ $(bmp_layout "$name.bmp") == "$shape" ]]; then pass "$name: made as $shape"; else fail "$name: made as $(bmp_layout "$name.bmp")"; fi
    variants+=("$variant|0|")
done

listing 'CF_BITMAP - [2]' 'CF_DIB - [8]' 'CF_DIBV5 - [17]'
bitmap_listing=$msg
for variant in "${variants[@]}"; do
    IFS='|' read -r name shape fuzz command <<<"$variant"
    put_ok "$name.bmp"
    expect_output "put $name" "$msg" PUTDATA CF_BITMAP "$name.bmp"
    expect_output "types after $name" "$bitmap_listing" GETTYPES
    get_ok "$name.out.bmp"
    expect_output "get $name" "$msg" GETDATA CF_BITMAP "$name.out.bmp"
    layout=$(bmp_layout "$name.out.bmp")
    height=${shape##* }
    if [ "$layout" = "40 32 0 ${height#-}" ]; then pass "$name: exported as $layout"; else fail "$name: exported as $layout"; fi
    expect_same_pixels "$name: the same pixels come back" "$name.out.bmp" "$name.bmp" -fuzz "$fuzz"
    get_ok "$name.dib.bmp"
    expect_output "get $name as dib" "$msg" GETDATA CF_DIB "$name.dib.bmp"
    expect_file "CF_DIB and CF_BITMAP give the same file for $name" "$name.dib.bmp" "$name.out.bmp"
done

for name in CF_DIB cf_dibv5; do
    put_ok rgb24.bmp
    expect_output "put as $name" "$msg" PUTDATA "$name" rgb24.bmp
    get_ok again.bmp
    expect_output "get after $name" "$msg" GETDATA CF_BITMAP again.bmp
    expect_file "$name places the same bitmap" again.bmp rgb24.out.bmp
done

# Bad bitmap files: their message, and the clipboard keeps its text.
cp rgb24.bmp truncated.bmp && truncate -s -1 truncated.bmp
"$CONVERT" picture.png -colors 200 -type palette BMP3:rle8.bmp
cp rgb24.bmp core.bmp && printf '\x0c' | dd of=core.bmp bs=1 seek=14 conv=notrunc status=none
head -c -1 core8.bmp >core-short.bmp
make_os2v2_bmp rgb24.bmp os2v2.bmp
printf 'BM123' >short.bmp
# file | message piece of the reason
bad_bitmaps=(
    "picture.png|not_a_bitmap"
    "short.bmp|bitmap_header_read_failed"
    "truncated.bmp|unsupported_bitmap"
    "core.bmp|unsupported_bitmap"
    "core-short.bmp|unsupported_bitmap"
    "os2v2.bmp|unsupported_bitmap"
    "rle8.bmp|bitmap_create_failed"
)
put_ok text.txt
expect_output "put text before bad bitmaps" "$msg" PUTDATA CF_TEXT text.txt
for bad in "${bad_bitmaps[@]}"; do
    IFS='|' read -r file reason <<<"$bad"
    message "$reason=$file" put_data_failed="$file"
    expect_output "bad bitmap $file" "$msg" PUTDATA CF_BITMAP "$file"
    expect_output "clipboard kept after $file" "$text_listing" GETTYPES
done
message format_not_available=CF_BITMAP
expect_output "no bitmap to export" "$msg" GETDATA CF_BITMAP none.bmp

report
