#!/usr/bin/env bash
# Remakes the seed corpora: BMP files of every kind the tests make, PNG files
# of each colour type, and portable clipboard files written by the tool itself.
# Usage: fuzz/make_seeds.sh path/to/clipfile   (Linux build; needs ImageMagick)
set -euo pipefail
clipfile=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
bmp=$here/corpus/bmp_import
store=$here/corpus/portable_store
png=$here/corpus/png_decode
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$bmp" "$store" "$png"
cd "$work"

convert=/usr/bin/convert
"$convert" -size 7x5 gradient:red-blue picture.png
"$convert" picture.png -alpha set -channel A -fx 'i/w' +channel alpha.png
"$convert" picture.png -colors 2 -type palette BMP3:"$bmp/mono.bmp"
"$convert" picture.png -colors 16 -type palette BMP3:"$bmp/pal4.bmp"
# 8-bit palettes need more than 16 colours.
"$convert" -size 36x1 gradient:red-blue wide.png
"$convert" wide.png -colors 200 -type palette -compress none BMP3:"$bmp/pal8.bmp"
"$convert" wide.png -colors 200 -type palette BMP3:"$bmp/rle8.bmp"
"$convert" picture.png -define bmp:subtype=RGB565 BMP:"$bmp/rgb565.bmp"
"$convert" picture.png -type truecolor BMP3:"$bmp/rgb24.bmp"
"$convert" picture.png -type truecolor BMP:"$bmp/v5rgb24.bmp"
"$convert" alpha.png BMP:"$bmp/argb32.bmp"
# Top-down: a negative height (the rows' order does not matter to a seed).
cp "$bmp/rgb24.bmp" "$bmp/topdown.bmp"
printf '\xfb\xff\xff\xff' | dd of="$bmp/topdown.bmp" bs=1 seek=22 conv=notrunc status=none
# A 12-byte core header over the fields of a 40-byte one, which is refused.
cp "$bmp/rgb24.bmp" "$bmp/core.bmp"
printf '\x0c' | dd of="$bmp/core.bmp" bs=1 seek=14 conv=notrunc status=none
# Core headers with their 3-byte colour entries.
"$convert" picture.png -colors 2 -type palette BMP2:"$bmp/core1.bmp"
"$convert" picture.png -colors 16 -type palette BMP2:"$bmp/core4.bmp"
"$convert" wide.png -colors 200 -type palette -compress none BMP2:"$bmp/core8.bmp"
"$convert" picture.png -type truecolor BMP2:"$bmp/core24.bmp"

# PNG seeds: gray at 1 bit, a palette with transparency, 16-bit RGB, gray with
# alpha, interlaced RGBA and 16-bit RGBA.
"$convert" picture.png -colorspace gray -define png:bit-depth=1 -define png:color-type=0 PNG:"$png/gray1.png"
"$convert" alpha.png PNG8:"$png/palette_trns.png"
"$convert" picture.png -depth 16 PNG48:"$png/rgb16.png"
"$convert" alpha.png -colorspace gray -depth 8 -define png:color-type=4 PNG:"$png/gray_alpha.png"
"$convert" alpha.png -interlace PNG PNG32:"$png/rgba_interlaced.png"
"$convert" alpha.png -depth 16 PNG64:"$png/rgba16.png"

# Store seeds: flags byte, formats length (u16), formats file, contents file.
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
pack() {  # output flags
    local formats=$XDG_RUNTIME_DIR/clipfile/formats contents=$XDG_RUNTIME_DIR/clipfile/contents
    local length=0
    [[ -f $formats ]] && length=$(stat -c %s "$formats")
    { printf "\\x$(printf %02x "$2")"; le16 "$length"; [[ -f $formats ]] && cat "$formats"; cat "$contents"; } >"$1"
}
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf 'Hello, clipboard\r\n' >text.txt
"$clipfile" PUTDATA CF_TEXT text.txt >/dev/null
pack "$store/text" 2
"$clipfile" PUTDATA "HTML Format" text.txt >/dev/null
pack "$store/registered" 3
"$clipfile" PUTDATA CF_BITMAP "$bmp/rgb24.bmp" >/dev/null
pack "$store/bitmap" 7
echo "seeds in $bmp and $store"
