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
