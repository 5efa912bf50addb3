#!/usr/bin/env bash
# End-to-end tests of the Windows build: clipfile.exe under Wine against Wine's
# own clipboard, then against an X display through Wine's clipboard bridge.
# Usage: e2e_wine.sh path/to/clipfile.exe path/to/clipboard_helper.exe
set -u

if [[ $# -ne 2 || ! -f $1 || ! -f $2 ]]; then
    echo "usage: $0 path/to/clipfile.exe path/to/clipboard_helper.exe" >&2
    exit 2
fi
exe=$(realpath "$1")
helper=$(realpath "$2")

source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

xvfb_pid=
xclip_pid=

cleanup() {
    [[ -n $xclip_pid ]] && kill "$xclip_pid" 2>/dev/null
    timeout 10 "$wineserver" -k 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Checks that file $2 is a BMP as GETDATA writes one: a 40-byte header for
# $3 x $4 pixels, bottom-up, uncompressed at $5 bits per pixel, the full
# colour table at 8 bits or less, and sizes and offsets that add up.
expect_bmp() {
    local name=$1 file=$2 width=$3 height=$4 bits=$5
    if [[ ! -f $file ]]; then
        fail "$name" "$file was not written"
        return
    fi
    local table=0 words image
    ((bits <= 8)) && table=$((1 << bits))
    words=$(((width * bits + 31) / 32)) # a row takes whole 4-byte words
    image=$((words * 4 * height))
    local got want
    got="type=$(head -c 2 "$file") length=$(stat -c %s "$file") bfSize=$(u32 "$file" 2)"
    got+=" bfOffBits=$(u32 "$file" 10) biSize=$(u32 "$file" 14) width=$(s32 "$file" 18)"
    got+=" height=$(s32 "$file" 22) planes=$(u16 "$file" 26) bits=$(u16 "$file" 28)"
    got+=" compression=$(u32 "$file" 30) biSizeImage=$(u32 "$file" 34) biClrUsed=$(u32 "$file" 46)"
    local total=$((54 + 4 * table + image))
    want="type=BM length=$total bfSize=$total bfOffBits=$((54 + 4 * table)) biSize=40 width=$width"
    want+=" height=$height planes=1 bits=$bits compression=0 biSizeImage=$image biClrUsed=$table"
    if [[ $got == "$want" ]]; then
        pass "$name"
    else
        fail "$name" "expected: $want" "got:      $got"
    fi
}

# --- Wine's clipboard, no display -------------------------------------------

start_wine

# A fresh wineserver starts with an empty clipboard.
clip GETTYPES
message clipboard_empty
expect_output "GETTYPES on an empty clipboard" "$msg"
clip GETDATA CF_TEXT "never.txt"
message format_not_available=CF_TEXT
expect_output "GETDATA of a format the clipboard lacks" "$msg"

# name | expected message | arguments
while IFS='|' read -r name expected args; do
    read -ra argv <<<"$args"
    clip "${argv[@]}"
    message "$expected"
    expect_output "$name" "$msg"
done <<'EOF'
no arguments|wrong_argument_count|
two arguments|wrong_argument_count|GETTYPES extra
four arguments|wrong_argument_count|GETDATA CF_TEXT a.txt extra
five arguments|wrong_argument_count|PUTDATA CF_TEXT a.txt b c
unknown keyword|invalid_arguments|LIST
keyword shorter than a command|invalid_arguments|GETTYPE
unknown keyword with a format and file|invalid_arguments|COPY CF_TEXT a.txt
lower-case keyword|clipboard_empty|gettypes
keyword with a suffix|clipboard_empty|GetTypesXYZ
EOF

# Round trips. Wine, like Windows, forces the last character of a text format
# to be a terminator, so PUTDATA appends one to text that lacks it; GETDATA
# writes the whole block, so the expected files say exactly which bytes come
# back. An empty block is one zero byte on Windows.
printf '' >"$files/empty.bin"
printf '\0' >"$files/nul.expected"
printf 'Hello, clipboard!\r\nSecond line\0' >"$files/text.txt"
printf 'abc' >"$files/unterminated.txt"
printf 'abc\0' >"$files/unterminated.expected"
printf 'abc\0\0\0' >"$files/unterminated.wide"
printf '\0\0' >"$files/wide.empty"
printf 'Wide text\0' | iconv -f UTF-8 -t UTF-16LE >"$files/wide.txt"
printf 'Wide text\0' >"$files/wide.narrow"
printf 'display text, no terminator' >"$files/dsp.txt"
printf '<b>bold</b>' >"$files/html.txt"

# put format | input | get format | expected file
while IFS='|' read -r putfmt input getfmt expected; do
    name="$putfmt round trip of $input as $getfmt"
    rm -f "$files/out.bin"
    clip PUTDATA "$putfmt" "$input"
    put_ok "$input"
    expect_output "PUTDATA $putfmt $input" "$msg"
    clip GETDATA "$getfmt" out.bin
    get_ok out.bin
    expect_output "GETDATA $getfmt after PUTDATA $putfmt $input" "$msg"
    expect_file "$name" "$files/out.bin" "$files/$expected"
done <<'EOF'
CF_TEXT|empty.bin|CF_TEXT|nul.expected
HTML Format|empty.bin|HTML Format|nul.expected
CF_TEXT|text.txt|CF_TEXT|text.txt
CF_TEXT|unterminated.txt|CF_TEXT|unterminated.expected
CF_OEMTEXT|unterminated.txt|CF_OEMTEXT|unterminated.expected
cf_unicodetext|unterminated.txt|CF_UNICODETEXT|unterminated.wide
cf_unicodetext|empty.bin|CF_UNICODETEXT|wide.empty
cf_unicodetext|wide.txt|CF_UNICODETEXT|wide.txt
cf_unicodetext|wide.txt|CF_TEXT|wide.narrow
CF_DSPTEXT|dsp.txt|CF_DSPTEXT|dsp.txt
HTML Format|html.txt|html|html.txt
EOF

# The last PUTDATA left "HTML Format" alone on the clipboard.
clip GETTYPES
html_id=$(grep -ao 'HTML Format - \[[0-9]*\]' "$work/out" | tr -dc 0-9)
if [[ -n $html_id ]] && ((html_id >= 0xC000 && html_id <= 0xFFFF)); then
    pass "registered format id $html_id is in the registered range"
else
    fail "registered format id is in the registered range" "got '${html_id}'"
fi
listing "HTML Format - [${html_id:-?}]"
expect_output "GETTYPES lists a registered format by name" "$msg"

clip PUTDATA CF_DSPTEXT dsp.txt
clip GETTYPES
listing 'CF_DSPTEXT - [129]'
expect_output "GETTYPES lists CF_DSPTEXT alone" "$msg"
clip GETDATA CF_TEXT out.bin
message format_not_available=CF_TEXT
expect_output "CF_DSPTEXT gives no CF_TEXT" "$msg"

clip PUTDATA CF_TEXT text.txt
clip GETTYPES
listing 'CF_TEXT - [1]' 'CF_LOCALE - [16]' 'CF_OEMTEXT - [7]' 'CF_UNICODETEXT - [13]'
expect_output "GETTYPES after CF_TEXT lists the formats derived from it" "$msg"

# 16 MiB of random bytes that do not end with a zero: all come back, and the
# terminator after them.
big=$((16 * 1024 * 1024))
{ head -c $((big - 1)) /dev/urandom; printf x; } >"$files/big.bin"
rm -f "$files/out.bin"
started=$SECONDS
clip PUTDATA CF_TEXT big.bin
put_ok big.bin
expect_output "PUTDATA CF_TEXT of 16 MiB" "$msg"
clip GETDATA CF_TEXT out.bin
get_ok out.bin
expect_output "GETDATA CF_TEXT of 16 MiB" "$msg"
got_size=$(stat -c %s "$files/out.bin" 2>/dev/null || echo missing)
last_byte=$(tail -c 1 "$files/out.bin" 2>/dev/null | od -An -tx1 | tr -d ' ')
if [[ $got_size == $((big + 1)) ]] && cmp -s -n "$big" "$files/big.bin" "$files/out.bin" &&
    [[ $last_byte == 00 ]]; then
    pass "16 MiB round trip keeps every byte and adds the terminator ($((SECONDS - started)) s)"
else
    fail "16 MiB round trip keeps every byte and adds the terminator" \
        "size $got_size, last byte '$last_byte'" "$(cmp "$files/big.bin" "$files/out.bin" 2>&1)"
fi
rm -f "$files/big.bin" "$files/out.bin"

# Failures leave the clipboard as it was.
clip PUTDATA CF_TEXT text.txt
put_ok text.txt
expect_output "PUTDATA CF_TEXT text.txt before the failures" "$msg"
clip PUTDATA CF_TEXT missing.txt
cant_read missing.txt
expect_output "PUTDATA of a missing file" "$msg"
mkdir -p "$files/folder"
clip PUTDATA CF_TEXT folder
cant_read folder
expect_output "PUTDATA of a directory" "$msg"
clip GETDATA CF_TEXT folder
cant_write folder
expect_output "GETDATA into a directory" "$msg"
if [[ -d $files/folder ]]; then pass "the directory is still a directory"; else fail "the directory is still a directory"; fi
rm -f "$files/out.bin"
clip GETDATA CF_TEXT out.bin
expect_file "failed transfers left the clipboard as it was" "$files/out.bin" "$files/text.txt"

# Formats whose data is a graphics object: the clipboard refuses a memory block
# for them, so PUTDATA refuses them before emptying the clipboard.
message place_failed put_data_failed=text.txt
for format in CF_METAFILEPICT CF_PALETTE CF_ENHMETAFILE CF_DSPBITMAP CF_DSPMETAFILEPICT \
    CF_DSPENHMETAFILE; do
    clip PUTDATA "$format" text.txt
    expect_output "PUTDATA $format is refused" "$msg"
done
rm -f "$files/out.bin"
clip GETDATA CF_TEXT out.bin
expect_file "the refused formats left the clipboard as it was" "$files/out.bin" "$files/text.txt"

# --- Bitmaps -----------------------------------------------------------------

# Rewrites the BI_BITFIELDS file $1, whose header is longer, with a 40-byte
# header followed by the three masks, into $2.
with_masks_after_header() {
    local pixels=$(($(stat -c %s "$1") - $(u32 "$1" 10)))
    {
        head -c 14 "$1"
        printf '\x28\0\0\0'
        tail -c +19 "$1" | head -c 48 # the rest of the 40 bytes, then the masks
        tail -c "$pixels" "$1"
    } >"$2"
    patch32 "$2" 2 $((66 + pixels))
    patch32 "$2" 10 66
}

have_magick=
bitmap_tests() {
    local tool
    for tool in convert compare; do
        if ! command -v "$tool" >/dev/null; then
            fail "bitmap tests" "$tool (ImageMagick) is not installed"
            return
        fi
    done
    have_magick=1
    # 13 pixels a row: rows of every depth but 32 bits need padding.
    mkdir -p "$files/bmp"
    convert -seed 7 -size 13x7 plasma: "$files/bmp/picture.png"

    # Each variant goes in with PUTDATA CF_BITMAP and comes back from GETDATA
    # CF_BITMAP at the depth of Wine's screen without a display, 32 bits.
    # "steps" lists what happens to convert's file: "masks40" moves the masks
    # behind a 40-byte header, "topdown" makes a flipped picture a top-down
    # one, "nooffset" zeroes bfOffBits so that the pixels must be found from
    # the headers alone.
    # name | convert options | coder | header size, bits, compression, height | steps | compare options
    local name options coder layout steps fuzz dir step argv
    while IFS='|' read -r name options coder layout steps fuzz; do
        dir=bmp/$name
        mkdir -p "$files/$dir"
        read -ra argv <<<"$options"
        convert "$files/bmp/picture.png" "${argv[@]}" "$coder$files/$dir/made.bmp"
        cp "$files/$dir/made.bmp" "$files/$dir/in.bmp"
        for step in $steps; do
            case $step in
                masks40) with_masks_after_header "$files/$dir/made.bmp" "$files/$dir/in.bmp" ;;
                topdown) patch32 "$files/$dir/in.bmp" 22 $((-$(s32 "$files/$dir/in.bmp" 22))) ;;
            esac
        done
        # ImageMagick reads no file without bfOffBits: compare with the one before.
        cp "$files/$dir/in.bmp" "$files/$dir/reference.bmp"
        [[ " $steps " == *" nooffset "* ]] && patch32 "$files/$dir/in.bmp" 10 0
        if [[ $(bmp_layout "$files/$dir/in.bmp") != "$layout" ]]; then
            fail "$name: the test file has the intended layout" \
                "header size, bits, compression, height: $(bmp_layout "$files/$dir/in.bmp"), not $layout"
            continue
        fi
        clip PUTDATA CF_BITMAP "$dir/in.bmp"
        put_ok "$dir/in.bmp"
        expect_output "PUTDATA CF_BITMAP of $name" "$msg"
        clip GETDATA CF_BITMAP "$dir/out.bmp"
        get_ok "$dir/out.bmp"
        expect_output "GETDATA CF_BITMAP after $name" "$msg"
        expect_bmp "$name comes back as a 32-bit BMP with a 40-byte header" "$files/$dir/out.bmp" 13 7 32
        read -ra argv <<<"$fuzz"
        expect_same_pixels "$name comes back with the same colours" "$files/$dir/out.bmp" \
            "$files/$dir/reference.bmp" "${argv[@]}"
    done <<'EOF_VARIANTS'
1-bit palette|-type palette -colors 2|BMP3:|40 1 0 7||
4-bit palette|-type palette -colors 16|BMP3:|40 4 0 7||
8-bit palette|-type palette -colors 200 -compress none|BMP3:|40 8 0 7||
8-bit palette, no pixel offset|-type palette -colors 200 -compress none|BMP3:|40 8 0 7|nooffset|
8-bit palette, RLE8|-type palette -colors 200 -compress rle|BMP3:|40 8 1 7||
8-bit palette, top-down|-flip -type palette -colors 200 -compress none|BMP3:|40 8 0 -7|topdown|
16-bit 5-6-5, 40-byte header and masks|-define bmp:subtype=RGB565 -define bmp:format=bmp4 -intent undefined|BMP:|40 16 3 7|masks40|-fuzz 3%
16-bit 5-6-5, 40-byte header and masks, no pixel offset|-define bmp:subtype=RGB565 -define bmp:format=bmp4 -intent undefined|BMP:|40 16 3 7|masks40 nooffset|-fuzz 3%
16-bit 5-6-5, 108-byte header|-define bmp:subtype=RGB565 -define bmp:format=bmp4 -intent undefined|BMP:|108 16 3 7||-fuzz 3%
16-bit 5-6-5, 124-byte header|-define bmp:subtype=RGB565|BMP:|124 16 3 7||-fuzz 3%
24-bit|-type truecolor|BMP3:|40 24 0 7||
24-bit, top-down|-flip -type truecolor|BMP3:|40 24 0 -7|topdown|
24-bit, 108-byte header|-type truecolor -define bmp:format=bmp4 -intent undefined|BMP:|108 24 0 7||
24-bit, 124-byte header|-type truecolor|BMP:|124 24 0 7||
32-bit with alpha, 108-byte header|-alpha on -channel A -fx i/w +channel -define bmp:format=bmp4 -intent undefined|BMP:|108 32 3 7||
32-bit with alpha, 124-byte header|-alpha on -channel A -fx i/w +channel|BMP:|124 32 3 7||
1-bit palette, 12-byte header|-type palette -colors 2|BMP2:|12 1 0 7||
4-bit palette, 12-byte header|-type palette -colors 16|BMP2:|12 4 0 7||
8-bit palette, 12-byte header|-type palette -colors 200 -compress none|BMP2:|12 8 0 7||
8-bit palette, 12-byte header, no pixel offset|-type palette -colors 200 -compress none|BMP2:|12 8 0 7|nooffset|
24-bit, 12-byte header|-type truecolor|BMP2:|12 24 0 7||
EOF_VARIANTS

    # Pictures taller than one band of rows (about 1 MiB), in both row orders.
    local big
    make_bmp "$files/bmp/big32.bmp" 1001 1100
    convert "$files/bmp/big32.bmp" -alpha off -type truecolor "BMP3:$files/bmp/big24.bmp"
    convert "$files/bmp/big24.bmp" -flip -type truecolor "BMP3:$files/bmp/bigtop.bmp"
    patch32 "$files/bmp/bigtop.bmp" 22 -1100
    for big in big32 big24 bigtop; do
        clip PUTDATA CF_BITMAP "bmp/$big.bmp"
        put_ok "bmp/$big.bmp"
        expect_output "PUTDATA CF_BITMAP of $big, $(bmp_layout "$files/bmp/$big.bmp")" "$msg"
        clip GETDATA CF_BITMAP "bmp/$big.out.bmp"
        get_ok "bmp/$big.out.bmp"
        expect_output "GETDATA CF_BITMAP after $big" "$msg"
        expect_bmp "$big comes back as a 32-bit BMP" "$files/bmp/$big.out.bmp" 1001 1100 32
        expect_same_pixels "$big comes back with the same colours" "$files/bmp/$big.out.bmp" \
            "$files/bmp/$big.bmp"
    done

    # Wine derives CF_DIB and CF_DIBV5 from the bitmap PUTDATA places and lists
    # them after it; GETDATA CF_DIB takes the first match, CF_DIB, and writes
    # the bitmap as CF_BITMAP does. PUTDATA of either DIB format places the
    # same bitmap.
    local picture=bmp/24-bit/in.bmp reference=$files/bmp/24-bit/out.bmp putfmt getfmt
    while IFS='|' read -r putfmt getfmt; do
        rm -f "$files/bmp/again.bmp"
        clip PUTDATA "$putfmt" "$picture"
        put_ok "$picture"
        expect_output "PUTDATA $putfmt of a BMP file" "$msg"
        clip GETTYPES
        listing 'CF_BITMAP - [2]' 'CF_DIB - [8]' 'CF_DIBV5 - [17]'
        expect_output "GETTYPES after PUTDATA $putfmt lists the bitmap, then the DIBs" "$msg"
        clip GETDATA "$getfmt" bmp/again.bmp
        get_ok bmp/again.bmp
        expect_output "GETDATA $getfmt after PUTDATA $putfmt" "$msg"
        expect_file "GETDATA $getfmt after PUTDATA $putfmt writes the same file" "$files/bmp/again.bmp" "$reference"
    done <<'EOF_DIBS'
CF_BITMAP|CF_DIB
CF_DIB|CF_BITMAP
cf_dibv5|CF_BITMAP
EOF_DIBS

    # Refused files leave the clipboard as it was.
    mkdir -p "$files/bmp/bad"
    printf 'BM\x36\0\0' >"$files/bmp/bad/five.bmp"
    head -c -1 "$files/bmp/24-bit/in.bmp" >"$files/bmp/bad/short.bmp"
    head -c -1 "$files/bmp/8-bit palette, 12-byte header/in.bmp" >"$files/bmp/bad/core.bmp"
    make_os2v2_bmp "$files/bmp/24-bit/in.bmp" "$files/bmp/bad/os2.bmp"
    cp "$files/bmp/24-bit/in.bmp" "$files/bmp/bad/mirrored.bmp"
    patch32 "$files/bmp/bad/mirrored.bmp" 18 -13
    clip PUTDATA CF_TEXT text.txt
    put_ok text.txt
    expect_output "PUTDATA CF_TEXT text.txt before the refused bitmaps" "$msg"
    local file reason
    # name | file | message piece of the reason
    while IFS='|' read -r name file reason; do
        clip PUTDATA CF_BITMAP "$file"
        message "$reason=$file" put_data_failed="$file"
        expect_output "PUTDATA CF_BITMAP refuses $name" "$msg"
        clip GETTYPES
        listing 'CF_TEXT - [1]' 'CF_LOCALE - [16]' 'CF_OEMTEXT - [7]' 'CF_UNICODETEXT - [13]'
        expect_output "the text formats are still listed after $name" "$msg"
        rm -f "$files/out.bin"
        clip GETDATA CF_TEXT out.bin
        expect_file "the text is still on the clipboard after $name" "$files/out.bin" "$files/text.txt"
    done <<'EOF_REFUSED'
a PNG file|bmp/picture.png|not_a_bitmap
a 5-byte file|bmp/bad/five.bmp|bitmap_header_read_failed
a BMP file one byte short|bmp/bad/short.bmp|unsupported_bitmap
a BMP file with a 12-byte header one byte short|bmp/bad/core.bmp|unsupported_bitmap
a BMP file with a 64-byte header|bmp/bad/os2.bmp|unsupported_bitmap
a BMP file with a negative width|bmp/bad/mirrored.bmp|bitmap_create_failed
EOF_REFUSED
}

started=$SECONDS
bitmap_tests
echo "# bitmap tests took $((SECONDS - started)) s"

# --- File names ----------------------------------------------------------------

# Names that the ANSI code page cannot spell reach a program's ANSI arguments
# as '?': files are opened by the names the command line holds in UTF-16, and
# messages print the path as the ANSI argument reads, which the helper echoes.
ansi_form() { ansi=$(cd "$files" && timeout -k 5 30 "$wine" "$helper" echo "$1" </dev/null 2>/dev/null); }

file_name_tests() {
    # A 2 x 1 bitmap, 32 bits per pixel; GETDATA of its ASCII-named copy gives
    # what any name must give.
    make_bmp "$files/plain.bmp" 2 1
    cp "$files/plain.bmp" "$files/Ελληνικά.bmp"
    clip PUTDATA CF_BITMAP plain.bmp
    clip GETDATA CF_BITMAP plain_out.bmp
    printf 'bytes of a file named in Chinese\0' >"$files/文字.txt"

    local format input output expected name spelled
    # format | file read | file written | what the file written must hold
    while IFS='|' read -r format input output expected; do
        spelled=
        for name in "$input" "$output"; do
            ansi_form "$name"
            [[ -n $ansi && $ansi != "$name" ]] || spelled+=" $name"
        done
        if [[ -z $spelled ]]; then
            pass "the ANSI code page cannot spell $input and $output"
        else
            fail "the ANSI code page cannot spell $input and $output" "it spells$spelled"
        fi
        ansi_form "$input"
        clip PUTDATA "$format" "$input"
        put_ok "$ansi"
        expect_output "PUTDATA $format $input" "$msg"
        ansi_form "$output"
        rm -f "$files/$output"
        clip GETDATA "$format" "$output"
        get_ok "$ansi"
        expect_output "GETDATA $format $output" "$msg"
        expect_file "GETDATA $format writes $output by its own name" "$files/$output" "$files/$expected"
    done <<'EOF_NAMES'
Wide Names|文字.txt|Ελληνικά.txt|文字.txt
CF_BITMAP|Ελληνικά.bmp|文字.bmp|plain_out.bmp
EOF_NAMES

    # A file that another program has open, sharing it for reading and
    # writing as editors and viewers do, is read and replaced all the same.
    printf 'what the viewer shows\n' >"$files/viewed.txt"
    if ! start_helper viewer opened open viewed.txt viewed.flag; then
        fail "the helper opens viewed.txt" "$(head -c 300 "$work/viewer.out")"
        return
    fi
    clip PUTDATA "Viewed" viewed.txt
    put_ok viewed.txt
    expect_output "PUTDATA of a file another program has open" "$msg"
    clip PUTDATA "Viewed" 文字.txt
    clip GETDATA "Viewed" viewed.txt
    get_ok viewed.txt
    expect_output "GETDATA into a file another program has open" "$msg"
    expect_file "GETDATA replaced the contents of the open file" "$files/viewed.txt" "$files/文字.txt"
    touch "$files/viewed.flag"
    wait "$helper_pid"
}

file_name_tests
expect_kept_while_idle "no display"

# --- Wine's clipboard mirrored to an X display -------------------------------

# Starts Xvfb with a screen of depth $1 in place of any earlier one, then
# Wine on it: the clipboard bridge belongs to Wine's desktop process, which
# must start with the display, so the wineserver restarts. Sets DISPLAY, or
# x_error and status 1.
x_error=
start_x() {
    local depth=$1 n=99 i
    timeout -k 5 20 "$wineserver" -k
    timeout -k 5 20 "$wineserver" -w
    if [[ -n $xclip_pid ]]; then
        kill "$xclip_pid" 2>/dev/null
        xclip_pid=
    fi
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    fi
    while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "1280x1024x$depth" -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    for ((i = 0; i < 50; i++)); do
        [[ -S /tmp/.X11-unix/X$n ]] && break
        sleep 0.1
    done
    if [[ ! -S /tmp/.X11-unix/X$n ]] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
        x_error="Xvfb :$n did not start"
        return 1
    fi
    export DISPLAY=:$n
    if ! timeout -k 5 20 "$wineserver" -p || ! warm_up; then
        x_error="Wine did not start on $DISPLAY"
        return 1
    fi
    if ! start_session; then
        x_error="the session helper did not start on $DISPLAY"
        return 1
    fi
}

# Lists the clipboard until a line matches the pattern $1 or 5 s have passed:
# Wine imports a new X selection asynchronously.
await_listing() {
    local deadline=$((SECONDS + 5))
    while clip GETTYPES; ((SECONDS < deadline)); do
        grep -aEq "$1" "$work/out" && break
        sleep 0.1
    done
}

x_tests() {
    local tool
    for tool in Xvfb xclip iconv; do
        if ! command -v "$tool" >/dev/null; then
            fail "X clipboard tests" "$tool is not installed"
            return
        fi
    done
    # At 24 bits the display keeps every colour of a bitmap.
    if ! start_x 24; then
        fail "X clipboard tests" "$x_error"
        return
    fi
    expect_kept_while_idle "with a display"

    printf 'line one\r\nline two' >"$files/for_x.txt"
    clip PUTDATA CF_TEXT for_x.txt
    put_ok for_x.txt
    expect_output "PUTDATA CF_TEXT with a display" "$msg"
    timeout 10 xclip -selection clipboard -o </dev/null >"$work/xout" 2>/dev/null
    printf 'line one\nline two' >"$work/xwant"
    expect_file "X reads the whole unterminated text PUTDATA placed, with LF line ends" "$work/xout" "$work/xwant"

    local text=$'Grüße aus X\nzweite Zeile'
    printf '%s' "$text" >"$work/xin"
    xclip -selection clipboard -i -quiet "$work/xin" </dev/null >/dev/null 2>&1 &
    xclip_pid=$!
    await_listing CF_UNICODETEXT
    listing 'CF_UNICODETEXT - [13]' 'CF_LOCALE - [16]' 'CF_TEXT - [1]' 'CF_OEMTEXT - [7]'
    expect_output "GETTYPES lists the text X placed" "$msg"
    clip GETDATA CF_UNICODETEXT from_x.bin
    get_ok from_x.bin
    expect_output "GETDATA CF_UNICODETEXT of X text" "$msg"
    { printf '%s' "${text//$'\n'/$'\r\n'}" | iconv -f UTF-8 -t UTF-16LE; printf '\0\0'; } >"$work/uwant"
    expect_file "X text arrives as UTF-16LE with CRLF and a terminator" "$files/from_x.bin" "$work/uwant"

    [[ -n $have_magick ]] || return
    # Bitmaps travel through X as image/bmp.
    local name
    for name in '8-bit palette' '4-bit palette, 12-byte header' '32-bit with alpha, 124-byte header'; do
        clip PUTDATA CF_BITMAP "bmp/$name/in.bmp"
        put_ok "bmp/$name/in.bmp"
        expect_output "PUTDATA CF_BITMAP of $name with a display" "$msg"
        rm -f "$work/x.bmp"
        timeout 10 xclip -selection clipboard -t image/bmp -o </dev/null >"$work/x.bmp" 2>/dev/null
        expect_same_pixels "X reads the $name picture PUTDATA placed" "$work/x.bmp" "$files/bmp/$name/in.bmp"
    done

    # A picture of other dimensions, and text on the clipboard before it, so
    # that nothing left from above can pass for it. Wine takes X's image as
    # CF_DIB and derives the other two from it.
    convert -seed 3 -size 11x5 plasma: -type truecolor "BMP3:$files/bmp/for_x.bmp"
    clip PUTDATA CF_TEXT for_x.txt
    kill "$xclip_pid" 2>/dev/null
    xclip -selection clipboard -i -quiet -t image/bmp "$files/bmp/for_x.bmp" </dev/null >/dev/null 2>&1 &
    xclip_pid=$!
    await_listing 'CF_BITMAP|CF_DIB'
    listing 'CF_DIB - [8]' 'CF_BITMAP - [2]' 'CF_DIBV5 - [17]'
    expect_output "GETTYPES lists the bitmap X placed" "$msg"
    clip GETDATA CF_BITMAP bmp/from_x.bmp
    get_ok bmp/from_x.bmp
    expect_output "GETDATA CF_BITMAP of an X bitmap" "$msg"
    expect_bmp "the X bitmap comes back as a 32-bit BMP with a 40-byte header" "$files/bmp/from_x.bmp" 11 5 32
    expect_same_pixels "the X bitmap comes back with the same colours" "$files/bmp/from_x.bmp" \
        "$files/bmp/for_x.bmp"
    clip GETDATA CF_DIB bmp/from_x_dib.bmp
    get_ok bmp/from_x_dib.bmp
    expect_output "GETDATA CF_DIB of an X bitmap" "$msg"
    expect_file "GETDATA CF_DIB of the X bitmap writes the same file" "$files/bmp/from_x_dib.bmp" \
        "$files/bmp/from_x.bmp"
    kill "$xclip_pid" 2>/dev/null
    xclip_pid=
}

# On an 8-bit screen bitmaps are 8-bit too, so GETDATA writes a colour table.
# The 20 colours Windows reserves in every palette are in Wine's as well: a
# picture made of them keeps its colours.
low_depth_tests() {
    [[ -n $have_magick ]] && command -v Xvfb >/dev/null || return
    if ! start_x 8; then
        fail "8-bit display tests" "$x_error"
        return
    fi
    local colour
    {
        echo 'P3 5 4 255'
        for colour in '0 0 0' '128 0 0' '0 128 0' '128 128 0' '0 0 128' '128 0 128' '0 128 128' \
            '192 192 192' '192 220 192' '166 202 240' '255 251 240' '160 160 164' '128 128 128' \
            '255 0 0' '0 255 0' '255 255 0' '0 0 255' '255 0 255' '0 255 255' '255 255 255'; do
            echo "$colour"
        done
    } >"$files/bmp/reserved.ppm"
    convert "$files/bmp/reserved.ppm" -type palette -compress none "BMP3:$files/bmp/reserved.bmp"
    clip PUTDATA CF_BITMAP bmp/reserved.bmp
    put_ok bmp/reserved.bmp
    expect_output "PUTDATA CF_BITMAP on an 8-bit display" "$msg"
    clip GETDATA CF_BITMAP bmp/reserved_out.bmp
    get_ok bmp/reserved_out.bmp
    expect_output "GETDATA CF_BITMAP on an 8-bit display" "$msg"
    expect_bmp "an 8-bit bitmap comes back with its colour table" "$files/bmp/reserved_out.bmp" 5 4 8
    expect_same_pixels "an 8-bit bitmap comes back with the same colours" "$files/bmp/reserved_out.bmp" \
        "$files/bmp/reserved.bmp"
}

# The Linux build on the same display: its X11 clipboard and Wine's meet in
# the X selection. CLIPFILE_LINUX names it (tests/CMakeLists.txt passes the
# host preset's); empty, these tests are not run.
linux_clip() {
    (cd "$files" && CLIPFILE_CLIPBOARD=x11 XDG_RUNTIME_DIR=$work/run timeout -k 5 30 "$linux" "$@") \
        </dev/null >"$work/out" 2>"$work/err"
    status=$?
}
cross_tests() {
    linux=${CLIPFILE_LINUX-}
    if [[ -z $linux ]]; then
        echo "# CLIPFILE_LINUX is empty: the Linux build is not tried against this one"
        return
    fi
    if [[ ! -x $linux ]]; then
        fail "the Linux build is at $linux" "build the host preset first, or set CLIPFILE_LINUX_TOOL"
        return
    fi
    if [[ -z ${DISPLAY-} ]] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
        fail "the Linux build against this one" "no X display"
        return
    fi
    mkdir -p -m 700 "$work/run"
    printf 'Text from Windows\nline two' >"$files/cross.txt"
    printf 'Text from Windows\nline two\0' >"$files/cross.want"
    printf 'terminated\0' >"$files/crossz.txt"
    local file want i pid
    # Windows text reaches Linux with one zero byte, whether the file had it or not.
    # file placed | what the Linux build's GETDATA CF_TEXT writes
    while IFS='|' read -r file want; do
        clip PUTDATA CF_TEXT "$file"
        put_ok "$file"
        expect_output "PUTDATA CF_TEXT $file for the Linux build" "$msg"
        # Wine takes the X selection when it comes round to it.
        for ((i = 0; i < 50; i++)); do
            rm -f "$files/linux.out"
            linux_clip GETDATA CF_TEXT linux.out
            cmp -s "$files/linux.out" "$files/$want" && break
            sleep 0.1
        done
        get_ok linux.out
        check_output "the Linux build's GETDATA CF_TEXT of $file" "$msg" "$work/out" "$work/err"
        expect_file "the Linux build reads $file as Windows placed it" "$files/linux.out" "$files/$want"
    done <<'EOF_CROSS'
cross.txt|cross.want
crossz.txt|crossz.txt
EOF_CROSS
    [[ -n $have_magick ]] || return
    convert -seed 5 -size 9x6 plasma: -type truecolor "BMP3:$files/bmp/linux.bmp"
    linux_clip PUTDATA CF_BITMAP bmp/linux.bmp
    put_ok bmp/linux.bmp
    check_output "the Linux build's PUTDATA CF_BITMAP" "$msg" "$work/out" "$work/err"
    await_listing 'CF_BITMAP|CF_DIB'
    clip GETDATA CF_BITMAP bmp/from_linux.bmp
    get_ok bmp/from_linux.bmp
    expect_output "GETDATA CF_BITMAP of the Linux build's bitmap" "$msg"
    expect_bmp "the Linux build's bitmap comes as a 32-bit BMP" "$files/bmp/from_linux.bmp" 9 6 32
    expect_same_pixels "the Linux build's bitmap comes with the same colours" "$files/bmp/from_linux.bmp" \
        "$files/bmp/linux.bmp"
    for pid in $(x11_servers); do kill "$pid"; done
}

started=$SECONDS
x_tests
cross_tests
low_depth_tests
echo "# X clipboard tests took $((SECONDS - started)) s"

report
