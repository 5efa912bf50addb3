# shellcheck shell=bash
# Shared by the test scripts: pass/fail counting, the tool's messages as the
# checks expect them, and the BMP fixtures. Each check prints one line, a
# failure its details under it; report ends the script's run with the counts
# ("N passed, N failed", which ctest and CI read) and fails when any failed.

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   - $1"; }
fail() {
    failed=$((failed + 1))
    echo "FAIL - $1"
    shift
    local line
    for line in "$@"; do echo "       $line"; done
}
report() {
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
}

show() { od -An -c "$1" | head -n 6; }

# check_output NAME WANT OUT ERR: the run whose exit status is in $status
# wrote the bytes WANT to file OUT and nothing to file ERR.
check_output() {
    local name=$1 want=$2 out=$3 err=$4
    # shellcheck disable=SC2154 # status: set by the caller's run
    if [[ $status -ne 0 ]]; then
        fail "$name" "exit status $status" "$(show "$out")" "stderr: $(head -c 300 "$err")"
    elif [[ -s $err ]]; then
        fail "$name" "stderr: $(head -c 300 "$err")"
    elif ! cmp -s "$out" <(printf '%s' "$want"); then
        fail "$name" "expected:" "$(show <(printf '%s' "$want"))" "got:" "$(show "$out")"
    else
        pass "$name"
    fi
}

# expect_file NAME GOT WANT: file GOT was written and holds what file WANT does.
expect_file() {
    local name=$1 got=$2 want=$3
    if [[ ! -f $got ]]; then
        fail "$name" "$got was not written"
    elif ! cmp -s "$got" "$want"; then
        fail "$name" "expected:" "$(show "$want")" "got:" "$(show "$got")"
    else
        pass "$name"
    fi
}

# --- messages -------------------------------------------------------------------

# message PIECE[=NAME]...: sets $msg (command substitution would drop its
# trailing newlines) to the texts of the pieces in order. NAME, all after the
# first "=", is the file or format name the piece prints, inserted as it is.
message() {
    local piece name
    msg=
    for piece in "$@"; do
        name=${piece#*=}
        case ${piece%%=*} in
            invalid_arguments) msg+=$'\n\n * Arguments Passed to the application are not Valid. * \n' ;;
            wrong_argument_count) msg+=$'\n\n * Invalid number of arguments passed to the application. * \n' ;;
            snapshot_open_failed) msg+=$'\n * Unable to open the Clipboard. * \n' ;;
            formats_not_retrieved) msg+=$'\n * Couldn\'t able to retrieve the Clipboard Formats. * \n' ;;
            clipboard_empty) msg+=$'\n\nClipboard is Empty.\n\n' ;;
            format_list_heading) msg+=$'\n\nClipboard Formats are :\n\n\tFormat Type - [Value]\n\t---------------------\n' ;;
            format_not_available) msg+=$'\n ! Specified Format "'$name$'" is not available on the Clipboard. ! \n' ;;
            copy_open_failed) msg+=$'\n * Couldn\'t able open the clipboard. *\n' ;;
            output_open_failed) msg+=$'\n * Error whle opening the "'$name$'" file. * \n' ;;
            output_write_failed) msg+=$'\n * Variation in bytes copied into the file. * \n' ;;
            get_data_succeeded) msg+=$'\n\nClipboard Contents were Successfully copied into the "'$name$'" File\n' ;;
            get_data_failed) msg+=$'\n\n * Couldn\'t able to transfer the contents of clipboard into "'$name$'" file. * \n' ;;
            bitmap_file_create_failed) msg+=$'\n * Error while Creating the "'$name$'" File. * \n' ;;
            file_header_write_failed) msg+=$'\n * Error while Writing BITMAPFILEHEADER into the "'$name$'" file. * \n' ;;
            input_open_failed) msg+=$'\n * Error while reading the "'$name$'" file * \n' ;;
            block_allocation_failed) msg+=$'\n * Error while allocating the Global Memory. * \n' ;;
            register_failed) msg+=$'\n * Couldn\'t able to register the "'$name$'" Clipboard Format. * \n' ;;
            place_open_failed) msg+=$'\n * Couldn\'t able to open the Clipboard. * \n' ;;
            empty_failed) msg+=$'\n * Couldn\'t able to Clear the Clipboard Contents. * \n' ;;
            place_failed) msg+=$'\n * Couldn\'t able to place the data on the Clipboard. * \n' ;;
            put_data_succeeded) msg+=$'\n\n"'$name$'" File contents were Successfully copied into the Clipboard.\n' ;;
            put_data_failed) msg+=$'\n\n * Couldn\'t able to transfer the contents of "'$name$'" file into Clipboard. * \n' ;;
            bitmap_header_read_failed) msg+=$'\n * Error while gathering the bits from the "'$name$'" file. * \n' ;;
            not_a_bitmap) msg+=$'\n * Image is not a bitmap.\nPlease load a .BMP file. * \n' ;;
            unsupported_bitmap) msg+=$'\n * The "'$name$'" file is not a supported or complete bitmap. * \n' ;;
            bitmap_create_failed) msg+=$'\n * Error while creating the bitmap from the "'$name$'" file. * \n' ;;
            *)
                echo "message: no piece named '${piece%%=*}'" >&2
                exit 2
                ;;
        esac
    done
}
put_ok() { message put_data_succeeded="$1"; }
get_ok() { message get_data_succeeded="$1"; }
cant_read() { message input_open_failed="$1" put_data_failed="$1"; }
cant_write() { message output_open_failed="$1" get_data_failed="$1"; }
# listing ENTRY...: GETTYPES listing the entries ("NAME - [ID]") in order.
listing() {
    local entry
    message format_list_heading
    for entry in "$@"; do msg+=$'\n\t'$entry; done
    msg+=$'\n'
}

# --- BMP fixtures -----------------------------------------------------------------

# Little-endian fields of a file: FILE OFFSET.
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
s32() { od -An -td4 -j "$2" -N4 "$1" | tr -d ' '; }
# le32 VALUE: its low 32 bits, little-endian, on stdout.
le32() {
    local escaped
    printf -v escaped '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
    printf '%b' "$escaped"
}
# patch32 FILE OFFSET VALUE: overwrites the 4 bytes at OFFSET.
patch32() { le32 "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# Header size, bits per pixel, compression and height of a BMP file; the
# 12-byte core header has 16-bit fields and no compression.
bmp_layout() {
    if [[ $(u32 "$1" 14) == 12 ]]; then
        echo "12 $(u16 "$1" 24) 0 $(u16 "$1" 20)"
    else
        echo "$(u32 "$1" 14) $(u16 "$1" 28) $(u32 "$1" 30) $(s32 "$1" 22)"
    fi
}

# make_bmp FILE WIDTH HEIGHT: a 32-bit BI_RGB bitmap of random pixels.
make_bmp() {
    local pixels=$(($2 * $3 * 4))
    {
        printf 'BM'; le32 $((54 + pixels)); le32 0; le32 54
        le32 40; le32 "$2"; le32 "$3"; printf '\x01\x00\x20\x00'; le32 0; le32 "$pixels"
        le32 2835; le32 2835; le32 0; le32 0
        head -c "$pixels" /dev/urandom
    } >"$1"
}

# make_os2v2_bmp FROM TO: the bitmap FROM, which has a 40-byte header and no
# colour table, with the 64-byte header of OS/2 2.x (24 more bytes).
make_os2v2_bmp() {
    { head -c 54 "$1"; head -c 24 /dev/zero; tail -c +55 "$1"; } >"$2"
    patch32 "$2" 14 64
    patch32 "$2" 10 78
    patch32 "$2" 2 "$(stat -c %s "$2")"
}

# expect_same_pixels NAME GOT WANT [COMPARE-OPTIONS...]: the pictures have the
# same colours at every pixel (ImageMagick's compare, with a fuzz if given).
expect_same_pixels() {
    local name=$1 got=$2 want=$3 differing
    shift 3
    if [[ ! -f $got ]]; then
        fail "$name" "$got was not written"
        return
    fi
    differing=$(compare -metric AE -alpha off "$@" "$want" "$got" null: 2>&1)
    if [[ $differing == 0 ]]; then
        pass "$name"
    else
        fail "$name" "pixels that differ: $differing"
    fi
}
# expect_same_rgba NAME GOT WANT [COMPARE-OPTIONS...]: the same colours and
# the same opacity. compare sets aside an alpha channel that only its second
# picture has, so it runs both ways. ImageMagick reads the fourth byte of a
# 32-bit BMP as alpha unless all of them are zero.
expect_same_rgba() {
    local name=$1 got=$2 want=$3 one other
    shift 3
    if [[ ! -s $got ]]; then
        fail "$name" "$got is missing or empty"
        return
    fi
    one=$(compare -metric AE "$@" "$want" "$got" null: 2>&1)
    other=$(compare -metric AE "$@" "$got" "$want" null: 2>&1)
    if [[ $one == 0 && $other == 0 ]]; then
        pass "$name"
    else
        fail "$name" "pixels that differ: $one, compared the other way: $other"
    fi
}

# make_bitmap_variants: makes picture.png (13 x 7, 8 bits a channel), alpha.png
# (the same with an alpha ramp) and from them one BMP file NAME.bmp of each
# kind in the current folder, checks each has its layout, and lists them in
# variants: "NAME|header size, bits, compression, height|fuzz|command".
CONVERT=/usr/bin/convert
make_bitmap_variants() {
    local variant name shape fuzz command
    "$CONVERT" -size 13x7 plasma:fractal -seed 7 -depth 8 picture.png 2>/dev/null ||
        "$CONVERT" -size 13x7 gradient:red-blue -depth 8 picture.png
    "$CONVERT" picture.png -alpha set -channel A -fx 'i/w' +channel alpha.png
    variants=(
        "mono|40 1 0 7|0|$CONVERT picture.png -colors 2 -type palette BMP3:mono.bmp"
        "pal4|40 4 0 7|0|$CONVERT picture.png -colors 16 -type palette BMP3:pal4.bmp"
        "pal8|40 8 0 7|0|$CONVERT picture.png -colors 200 -type palette -compress none BMP3:pal8.bmp"
        "rgb565|124 16 3 7|0|$CONVERT picture.png -type truecolor -define bmp:subtype=RGB565 BMP:rgb565.bmp"
        "rgb24|40 24 0 7|0|$CONVERT picture.png -type truecolor BMP3:rgb24.bmp"
        "v5rgb24|124 24 0 7|0|$CONVERT picture.png -type truecolor BMP:v5rgb24.bmp"
        "argb32|124 32 3 7|0|$CONVERT alpha.png BMP:argb32.bmp"
        "core1|12 1 0 7|0|$CONVERT picture.png -colors 2 -type palette BMP2:core1.bmp"
        "core4|12 4 0 7|0|$CONVERT picture.png -colors 16 -type palette BMP2:core4.bmp"
        "core8|12 8 0 7|0|$CONVERT picture.png -colors 200 -type palette -compress none BMP2:core8.bmp"
        "core24|12 24 0 7|0|$CONVERT picture.png -type truecolor BMP2:core24.bmp"
    )
    for variant in "${variants[@]}"; do
        IFS='|' read -r name shape fuzz command <<<"$variant"
        $command
        if [[ -f $name.bmp && $(bmp_layout "$name.bmp") == "$shape" ]]; then
            pass "$name: made as $shape"
        else
            fail "$name: made $(bmp_layout "$name.bmp"), wanted $shape"
        fi
    done
    # A 108-byte header: the 124-byte one less its last 16 bytes.
    { head -c $((14 + 108)) v5rgb24.bmp; tail -c +$((14 + 124 + 1)) v5rgb24.bmp; } >v4rgb24.bmp
    patch32 v4rgb24.bmp 14 108
    patch32 v4rgb24.bmp 2 "$(stat -c %s v4rgb24.bmp)"
    patch32 v4rgb24.bmp 10 $((14 + 108))
    # Top-down: the rows stored the other way round, with a negative height.
    "$CONVERT" picture.png -flip -type truecolor BMP3:topdown.bmp
    patch32 topdown.bmp 22 -7
    variants+=("v4rgb24|108 24 0 7|0|true" "topdown|40 24 0 -7|0|true")
}

# --- X displays -------------------------------------------------------------------

# start_xvfb FIRST LAST [DEPTH]: starts Xvfb (no TCP, a screen DEPTH bits deep,
# 24 by default) on the first free display number from FIRST to LAST and
# exports DISPLAY. The lock file names the server that won a number, which
# tells a number lost to another test starting at the same time. Sets
# xvfb_pid; status 1 when no number could be had.
start_xvfb() {
    local n i
    for ((n = $1; n <= $2; n++)); do
        [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
        Xvfb ":$n" -screen 0 "640x480x${3:-24}" -nolisten tcp </dev/null >/dev/null 2>&1 &
        xvfb_pid=$!
        for ((i = 0; i < 100; i++)); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if [[ -S /tmp/.X11-unix/X$n && $(tr -d ' ' <"/tmp/.X$n-lock" 2>/dev/null) == "$xvfb_pid" ]]; then
                export DISPLAY=:$n
                return 0
            fi
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    done
    xvfb_pid=
    return 1
}

# running PID: the process has not ended. An ended one stays a zombie until
# its parent, here whatever adopted it, collects it.
running() {
    local fields
    read -r fields 2>/dev/null <"/proc/$1/stat" || return 1
    fields=${fields##*) }
    [[ ${fields%% *} != Z ]]
}

# x11_servers: the PIDs of this user's clipfile selection servers on
# $DISPLAY: running processes named clipfile in a session other than this
# script's, with that DISPLAY in their environment.
x11_servers() {
    local stat pid name fields state own_session
    read -r fields <"/proc/$$/stat"
    read -r _ _ _ own_session _ <<<"${fields##*) }"
    for stat in /proc/[0-9]*/stat; do
        pid=${stat#/proc/}
        pid=${pid%/stat}
        { read -r name <"/proc/$pid/comm" && [[ $name == clipfile ]] && read -r fields <"$stat"; } 2>/dev/null ||
            continue
        # After the name: state, parent, group, session.
        read -r state _ _ fields _ <<<"${fields##*) }"
        [[ $state != Z && $fields != "$own_session" ]] || continue
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "DISPLAY=$DISPLAY" && echo "$pid"
    done
}
