#!/usr/bin/env bash
# End-to-end tests of the Windows build: clipfile.exe under Wine against Wine's
# own clipboard, then against an X display through Wine's clipboard bridge.
# Usage: e2e_wine.sh path/to/clipfile.exe
set -u

if [[ $# -ne 1 || ! -f $1 ]]; then
    echo "usage: $0 path/to/clipfile.exe" >&2
    exit 2
fi
exe=$(realpath "$1")

find_tool() {
    command -v "$1" 2>/dev/null || { [[ -x /usr/lib/wine/$1 ]] && echo "/usr/lib/wine/$1"; }
}
wine=$(find_tool wine64)
wineserver=$(find_tool wineserver)
if [[ -z $wine || -z $wineserver ]]; then
    echo "wine64 and wineserver are required" >&2
    exit 2
fi

work=$(mktemp -d)
files=$work/files
mkdir -p "$files"
export WINEPREFIX=$work/prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
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

# Runs clipfile with the given arguments in $files; stdout goes to $work/out.
# Wine's helper processes keep whatever stdio their first client had, so every
# run gets its own stdin and a bounded time.
clip() {
    (cd "$files" && timeout -k 5 30 "$wine" "$exe" "$@") </dev/null >"$work/out" 2>"$work/err"
    status=$?
}

show() { od -An -c "$1" | head -n 6; }

# Checks the last run: exit status 0, nothing on stderr, and stdout equal to
# $2 byte for byte once its "\n" are written as Windows text mode writes them.
expect_output() {
    local name=$1 want=${2//$'\n'/$'\r\n'}
    if [[ $status -ne 0 ]]; then
        fail "$name" "exit status $status" "$(show "$work/out")"
    elif [[ -s $work/err ]]; then
        fail "$name" "stderr: $(head -c 300 "$work/err")"
    elif ! cmp -s "$work/out" <(printf '%s' "$want"); then
        printf '%s' "$want" >"$work/want"
        fail "$name" "expected:" "$(show "$work/want")" "got:" "$(show "$work/out")"
    else
        pass "$name"
    fi
}

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

# shellcheck disable=SC2034 # read through ${!expected} below
bad_count=$'\n\n * Invalid number of arguments passed to the application. * \n'
# shellcheck disable=SC2034
bad_keyword=$'\n\n * Arguments Passed to the application are not Valid. * \n'
empty_clipboard=$'\n\nClipboard is Empty.\n\n'
listing_head=$'\n\nClipboard Formats are :\n\n\tFormat Type - [Value]\n\t---------------------\n'

# These set $msg: command substitution would drop the trailing newlines.
listing() {
    local entry
    msg=$listing_head
    for entry in "$@"; do msg+=$'\n\t'"$entry"; done
    msg+=$'\n'
}
put_ok() { printf -v msg '\n\n"%s" File contents were Successfully copied into the Clipboard.\n' "$1"; }
get_ok() { printf -v msg '\n\nClipboard Contents were Successfully copied into the "%s" File\n' "$1"; }
missing_format() {
    printf -v msg '\n ! Specified Format "%s" is not available on the Clipboard. ! \n' "$1"
}
cant_read() {
    printf -v msg '\n * Error while reading the "%s" file * \n\n\n * Couldn'"'"'t able to transfer the contents of "%s" file into Clipboard. * \n' "$1" "$1"
}
cant_write() {
    printf -v msg '\n * Error whle opening the "%s" file. * \n\n\n * Couldn'"'"'t able to transfer the contents of clipboard into "%s" file. * \n' "$1" "$1"
}

# --- Wine's clipboard, no display -------------------------------------------

# A persistent wineserver holds the clipboard between runs. "-p" only starts a
# server (one already running makes it exit with status 2), so it comes first.
# The first run's helpers keep its stdio: give them /dev/null.
warm_up() { (cd "$files" && timeout -k 5 60 "$wine" "$exe") </dev/null >/dev/null 2>&1; }

started=$SECONDS
mkdir -p "$WINEPREFIX"
if ! timeout -k 5 20 "$wineserver" -p ||
    ! timeout -k 5 120 "$wine" wineboot -i </dev/null >/dev/null 2>&1 || ! warm_up; then
    echo "could not start Wine in $WINEPREFIX" >&2
    echo "0 passed, 1 failed"
    exit 1
fi
echo "# Wine ready after $((SECONDS - started)) s"

# A fresh wineserver starts with an empty clipboard.
clip GETTYPES
expect_output "GETTYPES on an empty clipboard" "$empty_clipboard"
clip GETDATA CF_TEXT "never.txt"
missing_format CF_TEXT
expect_output "GETDATA of a format the clipboard lacks" "$msg"

# name | expected output variable | arguments
while IFS='|' read -r name expected args; do
    read -ra argv <<<"$args"
    clip "${argv[@]}"
    expect_output "$name" "${!expected}"
done <<'EOF'
no arguments|bad_count|
two arguments|bad_count|GETTYPES extra
four arguments|bad_count|GETDATA CF_TEXT a.txt extra
five arguments|bad_count|PUTDATA CF_TEXT a.txt b c
unknown keyword|bad_keyword|LIST
keyword shorter than a command|bad_keyword|GETTYPE
unknown keyword with a format and file|bad_keyword|COPY CF_TEXT a.txt
lower-case keyword|empty_clipboard|gettypes
keyword with a suffix|empty_clipboard|GetTypesXYZ
EOF

# Round trips. Wine, like Windows, forces the last character of a text format
# to be a terminator and keeps the block's size; GETDATA writes the whole
# block, so the expected files say exactly which bytes come back.
printf '' >"$files/empty.bin"
printf '\0' >"$files/nul.expected"
printf 'Hello, clipboard!\r\nSecond line\0' >"$files/text.txt"
printf 'abc' >"$files/unterminated.txt"
printf 'ab\0' >"$files/unterminated.expected"
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
missing_format CF_TEXT
expect_output "CF_DSPTEXT gives no CF_TEXT" "$msg"

clip PUTDATA CF_TEXT text.txt
clip GETTYPES
listing 'CF_TEXT - [1]' 'CF_LOCALE - [16]' 'CF_OEMTEXT - [7]' 'CF_UNICODETEXT - [13]'
expect_output "GETTYPES after CF_TEXT lists the formats derived from it" "$msg"

# 16 MiB of random bytes: all but the forced terminator come back.
big=$((16 * 1024 * 1024))
head -c "$big" /dev/urandom >"$files/big.bin"
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
if [[ $got_size == "$big" ]] && cmp -s -n $((big - 1)) "$files/big.bin" "$files/out.bin" &&
    [[ $last_byte == 00 ]]; then
    pass "16 MiB round trip keeps every byte but the terminator ($((SECONDS - started)) s)"
else
    fail "16 MiB round trip keeps every byte but the terminator" \
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

# A palette is a GDI object: the clipboard refuses a memory block for it, after
# PUTDATA has already emptied the clipboard.
clip PUTDATA CF_PALETTE text.txt
expect_output "PUTDATA of memory under a GDI format is refused" \
    $'\n * Couldn\'t able to place the data on the Clipboard. * \n\n\n * Couldn\'t able to transfer the contents of "text.txt" file into Clipboard. * \n'
clip GETTYPES
expect_output "the refused PUTDATA left the clipboard empty" "$empty_clipboard"

# --- Wine's clipboard mirrored to an X display -------------------------------

x_tests() {
    local tool
    for tool in Xvfb xclip iconv; do
        if ! command -v "$tool" >/dev/null; then
            fail "X clipboard tests" "$tool is not installed"
            return
        fi
    done
    local n=99
    while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
    Xvfb ":$n" -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    local i
    for ((i = 0; i < 50; i++)); do
        [[ -S /tmp/.X11-unix/X$n ]] && break
        sleep 0.1
    done
    if [[ ! -S /tmp/.X11-unix/X$n ]] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
        fail "X clipboard tests" "Xvfb :$n did not start"
        return
    fi
    export DISPLAY=:$n

    # The clipboard bridge belongs to Wine's desktop process, which must
    # start with the display: restart the wineserver.
    timeout -k 5 20 "$wineserver" -k
    timeout -k 5 20 "$wineserver" -w
    if ! timeout -k 5 20 "$wineserver" -p || ! warm_up; then
        fail "X clipboard tests" "Wine did not start on $DISPLAY"
        return
    fi

    printf 'line one\r\nline two\0' >"$files/for_x.txt"
    clip PUTDATA CF_TEXT for_x.txt
    put_ok for_x.txt
    expect_output "PUTDATA CF_TEXT with a display" "$msg"
    timeout 10 xclip -selection clipboard -o </dev/null >"$work/xout" 2>/dev/null
    printf 'line one\nline two' >"$work/xwant"
    expect_file "X reads the text PUTDATA placed, with LF line ends" "$work/xout" "$work/xwant"

    local text=$'Grüße aus X\nzweite Zeile'
    printf '%s' "$text" >"$work/xin"
    xclip -selection clipboard -i -quiet "$work/xin" </dev/null >/dev/null 2>&1 &
    xclip_pid=$!
    # Wine imports the new X selection asynchronously.
    local deadline=$((SECONDS + 5))
    while clip GETTYPES; ((SECONDS < deadline)); do
        grep -aq CF_UNICODETEXT "$work/out" && break
        sleep 0.1
    done
    listing 'CF_UNICODETEXT - [13]' 'CF_LOCALE - [16]' 'CF_TEXT - [1]' 'CF_OEMTEXT - [7]'
    expect_output "GETTYPES lists the text X placed" "$msg"
    clip GETDATA CF_UNICODETEXT from_x.bin
    get_ok from_x.bin
    expect_output "GETDATA CF_UNICODETEXT of X text" "$msg"
    { printf '%s' "${text//$'\n'/$'\r\n'}" | iconv -f UTF-8 -t UTF-16LE; printf '\0\0'; } >"$work/uwant"
    expect_file "X text arrives as UTF-16LE with CRLF and a terminator" "$files/from_x.bin" "$work/uwant"
}

started=$SECONDS
x_tests
echo "# X clipboard tests took $((SECONDS - started)) s"

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
