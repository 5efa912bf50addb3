# shellcheck shell=bash
# Shared set-up and checks of the Windows tests under Wine. Sourced by
# e2e_wine.sh and stress_wine.sh once they have set $exe and $helper (the
# clipboard_helper.exe that tests/CMakeLists.txt builds); each installs its
# own cleanup trap.

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
# Wine takes the ANSI code page from the locale: C.UTF-8 gives Windows-1252,
# a Western system's, and UTF-8 file names on the Unix side.
export LC_ALL=C.UTF-8

source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

# Runs clipfile with the given arguments in $files; stdout goes to $work/out,
# the time taken in ms to $elapsed. Wine's helper processes keep whatever stdio
# their first client had, so every run gets its own stdin and a bounded time.
clip() {
    local started
    started=$(date +%s%N)
    (cd "$files" && timeout -k 5 30 "$wine" "$exe" "$@") </dev/null >"$work/out" 2>"$work/err"
    status=$?
    elapsed=$((($(date +%s%N) - started) / 1000000))
}

# Checks the last run: exit status 0, nothing on stderr, and stdout equal to
# $2 byte for byte once its "\n" are written as Windows text mode writes them.
expect_output() { check_output "$1" "${2//$'\n'/$'\r\n'}" "$work/out" "$work/err"; }

# A persistent wineserver holds the clipboard between runs. "-p" only starts a
# server (one already running makes it exit with status 2), so it comes first.
# The first run's helpers keep its stdio: give them /dev/null.
warm_up() { (cd "$files" && timeout -k 5 60 "$wine" "$exe") </dev/null >/dev/null 2>&1; }
start_wine() {
    local started=$SECONDS
    mkdir -p "$WINEPREFIX"
    if ! timeout -k 5 20 "$wineserver" -p ||
        ! timeout -k 5 120 "$wine" wineboot -i </dev/null >/dev/null 2>&1 || ! warm_up ||
        ! start_session; then
        echo "could not start Wine in $WINEPREFIX" >&2
        echo "0 passed, 1 failed"
        exit 1
    fi
    echo "# Wine ready after $((SECONDS - started)) s, $(tr -d '\r' <"$work/session.out")"
}

# A Windows session always has a desktop; Wine closes its own, and with a
# display the clipboard with it, a few seconds after the last process with a
# window has ended. The helper keeps a window until session.flag appears in
# $files, or until the wineserver ends (start_x restarts it).
start_session() {
    rm -f "$files/session.flag"
    start_helper session session session session.flag && return 0
    echo "the session helper did not start: $(head -c 300 "$work/session.out")" >&2
    return 1
}

# start_helper NAME READY ARGS...: runs the helper with ARGS in $files in the
# background, its output in $work/NAME.out, and waits up to 30 s for a line
# that begins with READY. Sets $helper_pid; status 1 when READY never came.
start_helper() {
    local name=$1 ready=$2 i
    shift 2
    (cd "$files" && exec timeout -k 5 1800 "$wine" "$helper" "$@") </dev/null >"$work/$name.out" 2>&1 &
    helper_pid=$!
    for ((i = 0; i < 300; i++)); do
        grep -q "^$ready" "$work/$name.out" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Places random bytes under a registered format, leaves Wine idle for 5 s
# with only the session helper running, and checks the bytes are still there.
expect_kept_while_idle() {
    local label=$1
    head -c 1000 /dev/urandom >"$files/idle.bin"
    clip PUTDATA "Idle Test" idle.bin
    sleep 5
    rm -f "$files/idle.out"
    clip GETDATA "Idle Test" idle.out
    expect_file "$label: the clipboard keeps its contents through 5 s of idleness" \
        "$files/idle.out" "$files/idle.bin"
}
