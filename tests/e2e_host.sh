#!/usr/bin/env bash
# End-to-end tests of the Linux build over the portable clipboard, each run a
# separate process. Usage: e2e_host.sh path/to/clipfile [EMULATOR...]
set -u
CLIPFILE=$(realpath "$1")
shift
# A build for another processor (host32) runs through its emulator.
RUN=("$@" "$CLIPFILE")
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
    timeout 20 "${RUN[@]}" "$@" >actual.out 2>actual.err
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
        expect_output "put $input as $format" "$(put_ok "$input")" PUTDATA "$format" "$input"
        expect_output "get $input as $format" "$(get_ok out.bin)" GETDATA "$format" out.bin
        with_terminator "$format" "$input" >want.bin
        expect_same_file "round trip $input as $format" want.bin out.bin
    done
done

# --- listing after placing a registered format: alone, under its registered name
expect_output "put html" "$(put_ok text.txt)" PUTDATA "HTML Format" text.txt
html_id=$("${RUN[@]}" GETTYPES | sed -n 's/^\tHTML Format - \[\([0-9]*\)\]$/\1/p')
if [ -n "$html_id" ] && [ "$html_id" -ge 49152 ]; then pass; else fail "HTML Format id '$html_id'"; fi
expect_output "gettypes html" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES
expect_output "registered name any case" "$(put_ok text.txt)" PUTDATA "html format" text.txt
expect_output "same id for any case" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES

# --- missing input file: message, clipboard unchanged
expect_output "missing input" \
    '\n * Error while reading the "nothing.bin" file * \n\n\n * Couldn'"'"'t able to transfer the contents of "nothing.bin" file into Clipboard. * \n' \
    PUTDATA CF_TEXT nothing.bin
expect_output "clipboard kept after missing input" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES

# --- formats whose data is a graphics object: refused, clipboard unchanged
for format in CF_METAFILEPICT CF_PALETTE CF_ENHMETAFILE CF_DSPBITMAP CF_DSPMETAFILEPICT CF_DSPENHMETAFILE; do
    expect_output "refused $format" \
        '\n * Couldn'"'"'t able to place the data on the Clipboard. * \n\n\n * Couldn'"'"'t able to transfer the contents of "text.txt" file into Clipboard. * \n' \
        PUTDATA "$format" text.txt
done
expect_output "clipboard kept after refused formats" "$HEADER\n\tHTML Format - [$html_id]\n" GETTYPES

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
expect_output "put before large inputs" "$(put_ok text.txt)" PUTDATA CF_TEXT text.txt
# file | size | format: each size's low 32 bits are 1, 0 and 1 after the 14-byte file header
for large in "low1.bin|$(((1 << 32) + 1))|CF_TEXT" "low0.bin|$((1 << 33))|HTML Format" \
    "low1.bmp|$(((1 << 32) + 15))|CF_BITMAP"; do
    IFS='|' read -r file size format <<<"$large"
    printf 'BM' >"$file" && truncate -s "$size" "$file"
    expect_output "$file of $size bytes" \
        '\n * Error while allocating the Global Memory. * \n\n\n * Couldn'"'"'t able to transfer the contents of "'"$file"'" file into Clipboard. * \n' \
        PUTDATA "$format" "$file"
    expect_output "clipboard kept after $file" "$HEADER\n\tCF_TEXT - [1]\n" GETTYPES
    rm -f "$file"
done
RUN=("${big_run[@]}")
if [ -n "$saved_asan" ]; then export ASAN_OPTIONS=$saved_asan; else unset ASAN_OPTIONS; fi

# --- bitmaps: ImageMagick makes every BMP variant; each goes in as a bitmap and
# comes back as a 32-bit BMP of the same picture.
CONVERT=/usr/bin/convert
COMPARE=/usr/bin/compare
le_field() { od -An -t "$3" -j "$2" -N "$4" "$1" | tr -d ' '; }  # file offset type bytes
put_u32() {  # file offset value, little-endian
    local v=$(($3 & 0xFFFFFFFF))
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)))" |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
bmp_shape() {  # header size/bits/compression/height; a 12-byte core header has 16-bit fields and no compression
    if [ "$(le_field "$1" 14 u4 4)" = 12 ]; then
        echo "12/$(le_field "$1" 24 u2 2)/0/$(le_field "$1" 20 u2 2)"
    else
        echo "$(le_field "$1" 14 u4 4)/$(le_field "$1" 28 u2 2)/$(le_field "$1" 30 u4 4)/$(le_field "$1" 22 d4 4)"
    fi
}

"$CONVERT" -size 13x7 plasma:fractal -seed 7 picture.png 2>/dev/null || "$CONVERT" -size 13x7 gradient:red-blue picture.png
"$CONVERT" picture.png -alpha set -channel A -fx 'i/w' +channel alpha.png
# name | expected biSize/biBitCount/biCompression/biHeight | fuzz | command
variants=(
    "mono|40/1/0/7|0|$CONVERT picture.png -colors 2 -type palette BMP3:mono.bmp"
    "pal4|40/4/0/7|0|$CONVERT picture.png -colors 16 -type palette BMP3:pal4.bmp"
    "pal8|40/8/0/7|0|$CONVERT picture.png -colors 200 -type palette -compress none BMP3:pal8.bmp"
    "rgb565|124/16/3/7|3%|$CONVERT picture.png -define bmp:subtype=RGB565 BMP:rgb565.bmp"
    "rgb24|40/24/0/7|0|$CONVERT picture.png -type truecolor BMP3:rgb24.bmp"
    "v5rgb24|124/24/0/7|0|$CONVERT picture.png -type truecolor BMP:v5rgb24.bmp"
    "argb32|124/32/3/7|0|$CONVERT alpha.png BMP:argb32.bmp"
    "core1|12/1/0/7|0|$CONVERT picture.png -colors 2 -type palette BMP2:core1.bmp"
    "core4|12/4/0/7|0|$CONVERT picture.png -colors 16 -type palette BMP2:core4.bmp"
    "core8|12/8/0/7|0|$CONVERT picture.png -colors 200 -type palette -compress none BMP2:core8.bmp"
    "core24|12/24/0/7|0|$CONVERT picture.png -type truecolor BMP2:core24.bmp"
)
for variant in "${variants[@]}"; do
    IFS='|' read -r name shape fuzz command <<<"$variant"
    $command
    [ -f "$name.bmp" ] && [ "$(bmp_shape "$name.bmp")" = "$shape" ] && pass || fail "$name: made $(bmp_shape "$name.bmp"), wanted $shape"
done
# A 108-byte header: the 124-byte one less its last 16 bytes.
{ head -c $((14 + 108)) v5rgb24.bmp; tail -c +$((14 + 124 + 1)) v5rgb24.bmp; } >v4rgb24.bmp
put_u32 v4rgb24.bmp 14 108
put_u32 v4rgb24.bmp 2 "$(stat -c %s v4rgb24.bmp)"
put_u32 v4rgb24.bmp 10 $((14 + 108))
# Top-down: the rows stored the other way round, with a negative height.
"$CONVERT" picture.png -flip -type truecolor BMP3:topdown.bmp
put_u32 topdown.bmp 22 -7
variants+=("v4rgb24|108/24/0/7|0|true" "topdown|40/24/0/-7|0|true")

for variant in "${variants[@]}"; do
    IFS='|' read -r name shape fuzz command <<<"$variant"
    expect_output "put $name" "$(put_ok "$name.bmp")" PUTDATA CF_BITMAP "$name.bmp"
    expect_output "types after $name" "$HEADER\n\tCF_BITMAP - [2]\n\tCF_DIB - [8]\n\tCF_DIBV5 - [17]\n" GETTYPES
    expect_output "get $name" "$(get_ok "$name.out.bmp")" GETDATA CF_BITMAP "$name.out.bmp"
    [ "$(bmp_shape "$name.out.bmp")" = "40/32/0/7" ] && pass || fail "$name: exported as $(bmp_shape "$name.out.bmp")"
    differing=$("$COMPARE" -metric AE -fuzz "$fuzz" -alpha off "$name.bmp" "$name.out.bmp" null: 2>&1)
    [ "$differing" = 0 ] && pass || fail "$name: $differing pixels differ"
    expect_output "get $name as dib" "$(get_ok "$name.dib.bmp")" GETDATA CF_DIB "$name.dib.bmp"
    expect_same_file "CF_DIB and CF_BITMAP give the same file for $name" "$name.out.bmp" "$name.dib.bmp"
done

for name in CF_DIB cf_dibv5; do
    expect_output "put as $name" "$(put_ok rgb24.bmp)" PUTDATA "$name" rgb24.bmp
    expect_output "get after $name" "$(get_ok again.bmp)" GETDATA CF_BITMAP again.bmp
    expect_same_file "$name places the same bitmap" rgb24.out.bmp again.bmp
done

# Bad bitmap files: their message, and the clipboard keeps its text.
cp rgb24.bmp truncated.bmp && truncate -s -1 truncated.bmp
"$CONVERT" picture.png -colors 200 -type palette BMP3:rle8.bmp
cp rgb24.bmp core.bmp && printf '\x0c' | dd of=core.bmp bs=1 seek=14 conv=notrunc status=none
head -c -1 core8.bmp >core-short.bmp
# The 64-byte header of OS/2 2.x: the 40-byte one and 24 more bytes.
{ head -c 54 rgb24.bmp; head -c 24 /dev/zero; tail -c +55 rgb24.bmp; } >os2v2.bmp
put_u32 os2v2.bmp 14 64
put_u32 os2v2.bmp 10 78
put_u32 os2v2.bmp 2 "$(stat -c %s os2v2.bmp)"
printf 'BM123' >short.bmp
BAD_BMP_FAIL='\n\n * Couldn'"'"'t able to transfer the contents of "%s" file into Clipboard. * \n'
bad_bitmaps=(
    "picture.png|\n * Image is not a bitmap.\nPlease load a .BMP file. * \n"
    "short.bmp|\n * Error while gathering the bits from the \"short.bmp\" file. * \n"
    "truncated.bmp|\n * The \"truncated.bmp\" file is not a supported or complete bitmap. * \n"
    "core.bmp|\n * The \"core.bmp\" file is not a supported or complete bitmap. * \n"
    "core-short.bmp|\n * The \"core-short.bmp\" file is not a supported or complete bitmap. * \n"
    "os2v2.bmp|\n * The \"os2v2.bmp\" file is not a supported or complete bitmap. * \n"
    "rle8.bmp|\n * Error while creating the bitmap from the \"rle8.bmp\" file. * \n"
)
expect_output "put text before bad bitmaps" "$(put_ok text.txt)" PUTDATA CF_TEXT text.txt
for bad in "${bad_bitmaps[@]}"; do
    IFS='|' read -r file message <<<"$bad"
    expect_output "bad bitmap $file" "$message${BAD_BMP_FAIL//%s/$file}" PUTDATA CF_BITMAP "$file"
    expect_output "clipboard kept after $file" "$HEADER\n\tCF_TEXT - [1]\n" GETTYPES
done
expect_output "no bitmap to export" \
    '\n ! Specified Format "CF_BITMAP" is not available on the Clipboard. ! \n' GETDATA CF_BITMAP none.bmp

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
