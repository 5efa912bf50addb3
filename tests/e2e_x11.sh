#!/usr/bin/env bash
# End-to-end tests of the Linux build over the X11 CLIPBOARD selection of an
# Xvfb of its own, with xclip and ImageMagick as the other programs.
# Usage: e2e_x11.sh path/to/clipfile [EMULATOR...]
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"
CLIPFILE=$(realpath "$1")
shift
RUN=("$@" "$CLIPFILE")
WORK=$(mktemp -d)
# The portable clipboard, for the choice between the two.
export XDG_RUNTIME_DIR=$WORK/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
export CLIPFILE_CLIPBOARD=x11 LC_ALL=C
cd "$WORK" || exit 1

xvfb_pid=
owner_pid=
readers=()
cleanup() {
    local pid
    exec 2>/dev/null
    [[ -n $owner_pid ]] && kill "$owner_pid" 2>/dev/null
    for pid in "${readers[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    if [[ -n $xvfb_pid ]]; then
        kill -CONT "$xvfb_pid" 2>/dev/null
        for pid in $(DISPLAY=$display x11_servers); do kill "$pid" 2>/dev/null; done
        kill "$xvfb_pid" 2>/dev/null
    fi
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
if ! start_xvfb 60 79; then
    fail "Xvfb starts on a free display from :60 to :79"
    report
    exit
fi
display=$DISPLAY

ms_since() {
    local now=$EPOCHREALTIME
    echo $(((${now/./} - ${1/./}) / 1000))
}
# clip ARGS...: runs the tool; its output in out.txt and err.txt, its exit
# status in $status, the milliseconds it took in $elapsed.
clip() {
    local started=$EPOCHREALTIME
    timeout -k 2 30 "${RUN[@]}" "$@" </dev/null >out.txt 2>err.txt
    status=$?
    elapsed=$(ms_since "$started")
}
expect_output() {
    local name=$1 want=$2
    shift 2
    clip "$@"
    check_output "$name" "$want" out.txt err.txt
}
# expect_quick NAME WANT ARGS...: as expect_output, and done within 2 s.
expect_quick() {
    local name=$1 want=$2
    shift 2
    clip "$@"
    if ((elapsed >= 2000)); then
        fail "$name" "took $elapsed ms"
    else
        check_output "$name (in $elapsed ms)" "$want" out.txt err.txt
    fi
}
put() {
    put_ok "$2"
    expect_output "PUTDATA $1 $2" "$msg" PUTDATA "$1" "$2"
}
# xget TARGET FILE: xclip writes the selection's TARGET to FILE; status 1
# when there is no owner or it refuses.
xget() { timeout 30 xclip -selection clipboard -o -t "$1" </dev/null >"$2" 2>/dev/null; }
# expect_read NAME TARGET WANT: xclip reads the bytes of file WANT as TARGET.
expect_read() {
    rm -f got.bin
    if xget "$2" got.bin; then
        expect_file "$1" got.bin "$3"
    else
        fail "$1" "xclip cannot read $2"
    fi
}
# release: the xclip that holds the clipboard, which answers every target
# with its bytes, goes away.
release() {
    [[ -n $owner_pid ]] && kill "$owner_pid" 2>/dev/null && wait "$owner_pid" 2>/dev/null
    owner_pid=
}
# own TARGET FILE: xclip offers FILE as TARGET in place of the last owner.
own() {
    release
    xclip -selection clipboard -quiet -t "$1" -i "$2" </dev/null >/dev/null 2>&1 &
    owner_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [[ $(xget TARGETS /dev/stdout) == "TARGETS"$'\n'"$1" ]] && return 0
        sleep 0.05
    done
    fail "xclip offers $2 as $1"
    return 1
}
# at DISPLAY COMMAND...: runs the command with that DISPLAY, or none for -.
at() {
    if [[ $1 == - ]]; then unset DISPLAY; else export DISPLAY=$1; fi
    shift
    "$@"
    export DISPLAY=$display
}
# servers_left N: waits up to a second for N servers to be left on the
# display; sets $servers.
servers_left() {
    local i
    for ((i = 0; i < 50; i++)); do
        servers=$(x11_servers)
        [[ $(grep -c . <<<"$servers") -eq $1 ]] && return 0
        sleep 0.02
    done
    return 1
}

# --- fixtures
printf 'Hello, clipboard\r\nsecond line\n' >ascii.txt
printf 'Grüße, 日本語, 😀\n' >utf8.txt
printf 'a\xffb' >bad.txt
{ printf 'zero\0bytes\0\0'; head -c 5000 /dev/urandom; printf '\0'; } >binary.bin
: >empty.bin
head -c $((64 << 20)) /dev/urandom >big.bin
for text in ascii utf8 bad; do
    { cat "$text.txt"; printf '\0'; } >"$text.text"
    { iconv -f UTF-8 -t UTF-16LE "$text.txt" 2>/dev/null; printf '\0\0'; } >"$text.wide"
done
printf 'a\0\xfd\xffb\0\0\0' >bad.wide
{ cat utf8.txt; printf '\0\0'; } >utf8z.txt
cp utf8.wide utf16.txt
make_bitmap_variants

# --- no owner, an unknown choice, displays that cannot be reached
message clipboard_empty
expect_output "GETTYPES with no owner" "$msg" GETTYPES
message format_not_available=CF_TEXT
expect_output "GETDATA with no owner" "$msg" GETDATA CF_TEXT none.txt

for args in GETTYPES "GETDATA CF_TEXT none.txt" "PUTDATA CF_TEXT ascii.txt"; do
    # shellcheck disable=SC2086 # the arguments are split on purpose
    CLIPFILE_CLIPBOARD=wayland clip $args
    if [[ $status -eq 1 && ! -s out.txt && $(cat err.txt) == "clipfile: CLIPFILE_CLIPBOARD must be x11, portable or auto" &&
        $(wc -l <err.txt) -eq 1 ]]; then
        pass "an unknown CLIPFILE_CLIPBOARD stops $args"
    else
        fail "an unknown CLIPFILE_CLIPBOARD stops $args" "status $status" "stdout: $(show out.txt)" "stderr: $(show err.txt)"
    fi
done

unused=
for ((n = 79; n >= 60; n--)); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || { unused=:$n; break; }
done
# DISPLAY (- unset) | what it is
while IFS='|' read -r where what; do
    [[ $where == stopped ]] && kill -STOP "$xvfb_pid" && where=$display
    for args in GETTYPES "GETDATA CF_TEXT none.txt" "PUTDATA CF_TEXT ascii.txt"; do
        case $args in
            GETTYPES) message snapshot_open_failed formats_not_retrieved ;;
            GETDATA*) message snapshot_open_failed format_not_available=CF_TEXT ;;
            PUTDATA*) message place_open_failed put_data_failed=ascii.txt ;;
        esac
        # shellcheck disable=SC2086
        at "$where" expect_quick "$args with $what" "$msg" $args
    done
    kill -CONT "$xvfb_pid"
done <<EOF
-|no display
|an empty DISPLAY
$unused|a display nobody serves ($unused)
stopped|a display that does not answer
EOF

# --- the choice: the portable clipboard holds a registered format, X11 text
CLIPFILE_CLIPBOARD=portable put text/html binary.bin
CLIPFILE_CLIPBOARD=portable clip GETTYPES
html_id=$(sed -n 's/^\ttext\/html - \[\([0-9]*\)\]$/\1/p' out.txt)
listing "text/html - [$html_id]"
portable_listing=$msg
own UTF8_STRING utf8.txt
clip GETTYPES
x11_listing=$(cat out.txt && echo .)
x11_listing=${x11_listing%.}
[[ $x11_listing == *$'\tCF_TEXT - [1]'* ]] || fail "GETTYPES on X11 lists CF_TEXT" "$(show out.txt)"
# CLIPFILE_CLIPBOARD (- unset) | DISPLAY (- unset) | the clipboard used
while IFS='|' read -r choice where used; do
    env=(env -u CLIPFILE_CLIPBOARD -u DISPLAY)
    [[ $choice == - ]] || env+=("CLIPFILE_CLIPBOARD=$choice")
    [[ $where == - ]] || env+=("DISPLAY=$where")
    "${env[@]}" timeout 30 "${RUN[@]}" GETTYPES </dev/null >out.txt 2>err.txt
    status=$?
    if [[ $used == portable ]]; then want=$portable_listing; else want=$x11_listing; fi
    check_output "CLIPFILE_CLIPBOARD=$choice DISPLAY=$where uses the $used clipboard" "$want" out.txt err.txt
done <<EOF
auto|$display|x11
-|$display|x11
auto|-|portable
-||portable
portable|$display|portable
EOF

# --- bytes placed by PUTDATA, read by xclip; no two rows in a row place the
# same bytes, nor does xclip before them, which answers every target.
release
# format | file | targets read | what xclip must read
while IFS='|' read -r format file targets want; do
    put "$format" "$file"
    for target in $targets; do
        expect_read "xclip reads $target after PUTDATA $format $file" "$target" "$want"
    done
done <<'EOF'
CF_TEXT|ascii.txt|UTF8_STRING text/plain;charset=utf-8 STRING TEXT text/plain|ascii.txt
CF_TEXT|utf8z.txt|UTF8_STRING text/plain;charset=utf-8|utf8.txt
cf_oemtext|ascii.txt|UTF8_STRING|ascii.txt
CF_UNICODETEXT|utf16.txt|UTF8_STRING text/plain|utf8.txt
application/x-anything|binary.bin|application/x-anything|binary.bin
text/html|binary.bin|text/html|binary.bin
application/x-anything|empty.bin|application/x-anything|empty.bin
application/x-big|big.bin|application/x-big|big.bin
EOF

# --- bytes offered by xclip, written by GETDATA
# target offered | file | format asked | what GETDATA must write
while IFS='|' read -r target file format want; do
    own "$target" "$file" || continue
    rm -f got.bin
    get_ok got.bin
    expect_output "GETDATA $format of $file offered as $target" "$msg" GETDATA "$format" got.bin
    expect_file "GETDATA $format of $file offered as $target writes $want" got.bin "$want"
done <<'EOF'
UTF8_STRING|ascii.txt|CF_TEXT|ascii.text
UTF8_STRING|ascii.txt|CF_UNICODETEXT|ascii.wide
UTF8_STRING|utf8.txt|CF_TEXT|utf8.text
UTF8_STRING|utf8.txt|cf_unicode|utf8.wide
UTF8_STRING|utf8.txt|UTF8_STRING|utf8.txt
text/plain;charset=utf-8|utf8.txt|CF_UNICODETEXT|utf8.wide
STRING|ascii.txt|CF_TEXT|ascii.text
TEXT|ascii.txt|CF_UNICODETEXT|ascii.wide
text/plain|ascii.txt|CF_TEXT|ascii.text
UTF8_STRING|bad.txt|CF_TEXT|bad.text
UTF8_STRING|bad.txt|CF_UNICODETEXT|bad.wide
application/x-anything|binary.bin|application/x-anything|binary.bin
text/html|binary.bin|TEXT/H|binary.bin
application/x-anything|empty.bin|application/x-anything|empty.bin
application/x-big|big.bin|application/x-big|big.bin
EOF

# --- listings: the standard entries, then every target xclip reads from the
# same owner in its order, less the protocol's own, each under the number the
# registered table gives its name; a name keeps its number across owners and
# commands, and the portable clipboard's table is the same.
declare -A ids=([text/html]=$html_id)
# how the clipboard is taken | standard entries
while IFS='|' read -r how format file standard; do
    if [[ $how == put ]]; then put "$format" "$file"; else own "$format" "$file" || continue; fi
    case $standard in
        text) entries=('CF_TEXT - [1]' 'CF_UNICODETEXT - [13]') ;;
        image) entries=('CF_BITMAP - [2]' 'CF_DIB - [8]') ;;
        *) entries=() ;;
    esac
    clip GETTYPES
    unstable=
    while IFS= read -r target; do
        case $target in TARGETS | TIMESTAMP | MULTIPLE | SAVE_TARGETS | DELETE | INSERT_*) continue ;; esac
        id=missing
        while IFS= read -r line; do
            [[ $line == $'\t'"$target - ["*"]" ]] && { id=${line##*[}; id=${id%]}; }
        done <out.txt
        if [[ $id != missing ]]; then
            [[ ${ids[$target]-$id} == "$id" && $id -ge 49152 ]] || unstable+=" $target: ${ids[$target]-} then $id"
            ids[$target]=$id
        fi
        entries+=("$target - [$id]")
    done < <(xget TARGETS /dev/stdout)
    listing "${entries[@]}"
    if [[ -n $unstable ]]; then
        fail "GETTYPES after $how $format $file" "numbers not as registered:$unstable"
    else
        check_output "GETTYPES after $how $format $file" "$msg" out.txt err.txt
    fi
done <<'EOF'
put|CF_TEXT|ascii.txt|text
put|CF_UNICODETEXT|utf16.txt|text
put|CF_BITMAP|rgb24.bmp|image
put|text/html|binary.bin|-
own|UTF8_STRING|ascii.txt|text
own|text/plain|utf8.txt|text
own|image/png|picture.png|image
own|image/x-MS-bmp|rgb24.bmp|image
own|application/x-anything|binary.bin|-
EOF

# --- refused files leave the owner as it was
put text/html utf8.txt
# format | file | message pieces
while IFS='|' read -r format file pieces; do
    read -ra argv <<<"$pieces"
    message "${argv[@]}"
    expect_output "PUTDATA $format $file is refused" "$msg" PUTDATA "$format" "$file"
    expect_read "the clipboard is kept after PUTDATA $format $file" text/html utf8.txt
done <<'EOF'
CF_TEXT|nothing.txt|input_open_failed=nothing.txt put_data_failed=nothing.txt
CF_BITMAP|picture.png|not_a_bitmap put_data_failed=picture.png
CF_METAFILEPICT|ascii.txt|place_failed put_data_failed=ascii.txt
EOF

# --- images offered by xclip, exported by GETDATA as 32-bit BMP files
# target | file
while IFS='|' read -r target file; do
    own "$target" "$file" || continue
    for format in CF_BITMAP CF_DIB; do
        rm -f "got.$format.bmp"
        get_ok "got.$format.bmp"
        expect_output "GETDATA $format of $file offered as $target" "$msg" GETDATA "$format" "got.$format.bmp"
    done
    layout=$(bmp_layout got.CF_BITMAP.bmp 2>/dev/null)
    if [[ $layout == "40 32 0 7" ]]; then pass "$file comes as a 32-bit BMP"; else fail "$file comes as $layout"; fi
    expect_same_rgba "$file offered as $target comes back with the same pixels" got.CF_BITMAP.bmp "$file"
    expect_file "CF_DIB and CF_BITMAP of $file are the same file" got.CF_DIB.bmp got.CF_BITMAP.bmp
done <<'EOF'
image/png|picture.png
image/png|alpha.png
image/bmp|rgb24.bmp
image/x-bmp|pal8.bmp
image/x-MS-bmp|argb32.bmp
EOF

# --- bitmaps placed by PUTDATA, read as PNG and BMP
release
for variant in "${variants[@]}"; do
    IFS='|' read -r name _ fuzz _ <<<"$variant"
    put CF_BITMAP "$name.bmp"
    for kind in png:PNG bmp:BMP; do
        rm -f "got.${kind%:*}"
        xget "image/${kind%:*}" "got.${kind%:*}"
        # shellcheck disable=SC2053 # BMP3 too
        if [[ $(identify -format %m "got.${kind%:*}" 2>/dev/null) != ${kind#*:}* ]]; then
            fail "image/${kind%:*} of $name is a ${kind#*:} file" "$(show "got.${kind%:*}")"
            continue
        fi
        expect_same_rgba "image/${kind%:*} of $name has the same pixels" "got.${kind%:*}" "$name.bmp" -fuzz "$fuzz"
    done
done

# --- the server: one, its own session, in /, with nothing of its caller's
put CF_TEXT ascii.txt
if servers_left 1 && [[ $(readlink "/proc/$servers/cwd") == / ]]; then
    pass "one server, working in /"
else
    fail "one server, working in /" "servers: $(x11_servers | tr '\n' ' ')"
fi
# A caller that reads the output through a pipe gets its end-of-file: the
# server keeps none of its caller's streams.
timeout 10 bash -c '"$@" | cat' _ "${RUN[@]}" PUTDATA CF_TEXT utf8.txt >pipe.txt 2>err.txt
status=$?
put_ok utf8.txt
check_output "PUTDATA through a pipe ends" "$msg" pipe.txt err.txt
if servers_left 1; then
    server=$servers
    started=$EPOCHREALTIME
    own UTF8_STRING ascii.txt
    for ((i = 0; i < 150; i++)); do
        running "$server" || break
        sleep 0.02
    done
    took=$(ms_since "$started")
    if ((took <= 1000)); then
        pass "the server exits $took ms after xclip takes the clipboard"
    else
        fail "the server exits within 1 s of xclip taking the clipboard" "it took $took ms or more"
    fi
else
    fail "one server after PUTDATA through a pipe" "servers: $servers"
fi

for ((i = 1; i <= 50; i++)); do
    printf 'text %d' "$i" >"n.txt"
    clip PUTDATA CF_TEXT n.txt
done
put_ok n.txt
check_output "the 50th PUTDATA in a row" "$msg" out.txt err.txt
if servers_left 1; then pass "one server after 50 PUTDATAs"; else fail "servers after 50 PUTDATAs: $servers"; fi
expect_read "the last of 50 PUTDATAs is on the clipboard" UTF8_STRING n.txt

# shellcheck disable=SC2086 # none, one or more
[[ -n $servers ]] && kill -KILL $servers
message clipboard_empty
expect_quick "GETTYPES after the server was killed" "$msg" GETTYPES

# An owner that does not answer is not an empty clipboard.
if own text/html binary.bin; then
    kill -STOP "$owner_pid"
    message formats_not_retrieved
    expect_output "GETTYPES with an owner that does not answer" "$msg" GETTYPES
    message format_not_available=text/html
    expect_output "GETDATA with an owner that does not answer" "$msg" GETDATA text/html got.html
    kill -CONT "$owner_pid"
    release
fi

# A reader stopped in the middle of an incremental transfer, and a second
# reader that must not wait for it.
put application/x-big big.bin
xclip -selection clipboard -o -t application/x-big </dev/null >/dev/null 2>&1 &
readers+=($!)
for ((i = 0; i < 500; i++)); do
    rss=$(sed -n 's/^VmRSS:[^0-9]*\([0-9]*\).*/\1/p' "/proc/${readers[0]}/status" 2>/dev/null)
    ((${rss:-0} > 8192)) && break
    sleep 0.01
done
kill -STOP "${readers[0]}"
if ((${rss:-0} > 8192)) && kill -0 "${readers[0]}" 2>/dev/null; then
    started=$EPOCHREALTIME
    rm -f got.bin
    xget application/x-big got.bin
    took=$(ms_since "$started")
    if ((took >= 5000)); then
        fail "a second reader is served while the first is stopped" "it took $took ms"
    else
        expect_file "a second reader gets every byte in $took ms while the first is stopped" got.bin big.bin
    fi
else
    fail "the first reader is stopped in the middle of its transfer" "it had ${rss:-no} KiB"
fi

report
