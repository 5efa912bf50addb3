#!/usr/bin/env bash
# Stress and hostile-environment tests of the Linux build over the portable
# clipboard: many processes at once, PUTDATA killed mid-way, an unsafe
# clipboard folder, damaged clipboard files, full disks and bad paths.
# Usage: stress_host.sh path/to/clipfile [EMULATOR...]
# Run as root it works in a private mount namespace, where it mounts a small
# tmpfs for the full-disk cases; without root those cases are skipped.
# While working on it, STRESS_SECTIONS picks sections (names at the end) and
# STRESS_ROUNDS the rounds per concurrent worker (300).
set -u

if [[ $# -lt 1 || ! -x $1 ]]; then
    echo "usage: $0 path/to/clipfile [EMULATOR...]" >&2
    exit 2
fi
if [[ $EUID -eq 0 && -z ${STRESS_NAMESPACE:-} ]] && unshare -m --propagation private true 2>/dev/null; then
    STRESS_NAMESPACE=1 exec unshare -m --propagation private bash "$0" "$@"
fi

# Before the cd below, which a relative path to this script would not survive.
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"
CLIPFILE=$(realpath "$1")
shift
# A build for another processor (host32) runs through its emulator.
RUN=("$@" "$CLIPFILE")
WORK=$(mktemp -d)
cd "$WORK" || exit 1
export XDG_RUNTIME_DIR=$WORK/run
# The portable clipboard, even on a desktop.
export CLIPFILE_CLIPBOARD=portable
mkdir -m 700 "$XDG_RUNTIME_DIR"
CLIP=$XDG_RUNTIME_DIR/clipfile
cleanup() {
    jobs -p | xargs -r kill -9 2>/dev/null
    wait 2>/dev/null
    mountpoint -q "$WORK/small" 2>/dev/null && umount "$WORK/small"
    rm -rf "$WORK"
}
trap cleanup EXIT

skip() { echo "SKIP - $*"; }

# Runs the tool; its stdout lands in $out, its exit status in $status (124
# when it had to be stopped after 20 s).
clip() {
    timeout -k 2 20 "${RUN[@]}" "$@" >"$WORK/out" 2>"$WORK/err"
    status=$?
    out=$(cat "$WORK/out"; echo x)
    out=${out%x}
}

# expect NAME EXPECTED ARGS...: exit status 0, nothing on stderr, stdout exact.
expect() {
    local name=$1 want=$2
    shift 2
    clip "$@"
    check_output "$name" "$want" "$WORK/out" "$WORK/err"
}

message snapshot_open_failed formats_not_retrieved
cant_list=$msg

started_all=$SECONDS

# --- many processes at once ---------------------------------------------------

# Each worker alternates PUTDATA of its own distinct files and GETDATA, and
# logs one line per command: "<command> ok|busy|none|hang|other".
PROCS=4
ROUNDS=${STRESS_ROUNDS:-300}
worker() {
    local p=$1 i line put_busy get_busy get_none
    message snapshot_open_failed format_not_available="Stress Data"
    get_none=$msg
    for ((i = 1; i <= ROUNDS; i++)); do
        local input=conc/in.$p.$i got=conc/got.$p.$i
        message place_open_failed put_data_failed="$input"
        put_busy=$msg
        message copy_open_failed get_data_failed="$got"
        get_busy=$msg
        out=$(timeout -k 2 30 "${RUN[@]}" PUTDATA "Stress Data" "$input" 2>&1; echo "x$?")
        put_ok "$input"
        case $out in
            "${msg}x0") line="put ok" ;;
            "${put_busy}x0") line="put busy" ;;
            *x124 | *x137) line="put hang" ;;
            *) line="put other $(printf '%q' "$out")" ;;
        esac
        echo "$line" >>"conc/log.$p"
        out=$(timeout -k 2 30 "${RUN[@]}" GETDATA "Stress Data" "$got" 2>&1; echo "x$?")
        get_ok "$got"
        case $out in
            "${msg}x0") line="get ok $got" ;;
            "${get_busy}x0") line="get busy" ;;
            # Only before the first PUTDATA lands, or when the listing met a busy clipboard.
            "${get_none}x0") line="get none" ;;
            *x124 | *x137) line="get hang" ;;
            *) line="get other $(printf '%q' "$out")" ;;
        esac
        echo "$line" >>"conc/log.$p"
    done
}

concurrency() {
    mkdir conc
    local p i
    for ((p = 1; p <= PROCS; p++)); do
        for ((i = 1; i <= ROUNDS; i++)); do
            # Mostly small files, every 50th one of 2 MiB to widen the windows.
            { printf 'process %d, file %d\n' "$p" "$i"; head -c $((i % 50 == 0 ? 2097152 : RANDOM)) /dev/urandom; } >"conc/in.$p.$i"
        done
    done
    local started=$SECONDS pids=()
    for ((p = 1; p <= PROCS; p++)); do
        worker "$p" &
        pids+=($!)
    done
    wait "${pids[@]}"
    local took=$((SECONDS - started))
    cat conc/log.* >conc/all
    local puts gets put_busy get_busy get_none hangs others
    puts=$(grep -c '^put ok' conc/all)
    gets=$(grep -c '^get ok' conc/all)
    put_busy=$(grep -c '^put busy' conc/all)
    get_busy=$(grep -c '^get busy' conc/all)
    get_none=$(grep -c '^get none' conc/all)
    hangs=$(grep -c ' hang' conc/all)
    others=$(grep -c ' other' conc/all)
    # Every exported file must be one of the inputs, byte for byte.
    sha256sum conc/in.* | cut -d' ' -f1 | sort -u >conc/inputs.sha
    local exported corrupt
    exported=$(awk '$2 == "ok" && $1 == "get" {print $3}' conc/all)
    corrupt=$(echo "$exported" | xargs -r sha256sum | awk 'NR == FNR {input[$1]; next} !($1 in input)' conc/inputs.sha - | wc -l)
    # Exports of another worker's input show that the workers really interleaved.
    local crossed
    # shellcheck disable=SC2016 # an awk program
    crossed=$(echo "$exported" | xargs -r awk 'FNR == 1 {split(FILENAME, name, "."); if ($2 != name[2] ",") n++; nextfile} END {print n + 0}')
    local commands=$((PROCS * ROUNDS * 2))
    echo "# concurrency: $PROCS processes x $ROUNDS PUTDATA + $ROUNDS GETDATA in $took s:" \
        "$puts PUTDATA and $gets GETDATA done, $put_busy + $get_busy + $get_none found the clipboard busy," \
        "$hangs hung, $others unexpected, $corrupt exported files not among the inputs," \
        "$crossed exported another worker's input"
    if [[ $hangs -eq 0 ]]; then pass "no command hangs among $commands"; else fail "no command hangs" "$(grep ' hang' conc/all | head -3)"; fi
    if [[ $others -eq 0 ]]; then pass "every command printed a known outcome"; else fail "every command printed a known outcome" "$(grep ' other' conc/all | head -3)"; fi
    if [[ $crossed -gt 0 ]]; then pass "workers read each other's data"; else fail "workers read each other's data"; fi
    if [[ $gets -gt 0 && $corrupt -eq 0 ]]; then pass "all $gets exported files are whole inputs"; else fail "exported files are whole inputs" "$corrupt of $gets are not"; fi
    # Waiting out the bounded retry is allowed, but it must stay rare.
    local gave_up=$((put_busy + get_busy + get_none))
    if [[ $gave_up -le $((commands / 20)) ]]; then
        pass "the busy clipboard was outwaited in all but $gave_up of $commands commands"
    else
        fail "the busy clipboard is outwaited" "$gave_up of $commands gave up"
    fi
    if flock -n "$CLIP/lock" true; then pass "the lock is free once the workers are done"; else fail "the lock is free once the workers are done"; fi
    get_ok final.bin
    expect "GETDATA after the workers" "$msg" GETDATA "Stress Data" final.bin
    if grep -qxF "$(sha256sum final.bin | cut -d' ' -f1)" conc/inputs.sha; then pass "the clipboard holds one whole input"; else fail "the clipboard holds one whole input"; fi
    rm -rf conc
}

# --- killed mid-way -------------------------------------------------------------

KILLS=200
# kill_round FORMAT FILE_A FILE_B COUNT [INSIDE]: COUNT PUTDATAs of FORMAT, each
# killed at random within the shortest time a whole PUTDATA took, alternating
# between the two files; after each, GETDATA must give what a whole PUTDATA of
# the old or the new file gives. With INSIDE, up to twice COUNT more until that
# many kills in all have landed while the lock was held (a busy machine
# stretches the unlocked part). Adds to the counters of kill_test.
kill_round() {
    local format=$1 count=$4 want=${5:-0} current=a next i started ms window=999999 pid delay
    local -A file=([a]=$2 [b]=$3)
    for i in b a; do
        put_ok "${file[$i]}"
        expect "PUTDATA $format of ${file[$i]} before the kills" "$msg" PUTDATA "$format" "${file[$i]}"
        get_ok "ref.$i"
        expect "GETDATA $format before the kills" "$msg" GETDATA "$format" "ref.$i"
    done
    for i in 1 2 3; do
        started=$(date +%s%N)
        "${RUN[@]}" PUTDATA "$format" "${file[$current]}" >/dev/null
        ms=$((($(date +%s%N) - started) / 1000000 + 1))
        [[ $ms -lt $window ]] && window=$ms
    done
    get_ok k.out
    local got_ok=$msg
    started=$SECONDS
    for ((i = 1; i <= count || (inside < want && i <= 3 * count); i++)); do
        kills=$((kills + 1))
        [[ $current == a ]] && next=b || next=a
        "${RUN[@]}" PUTDATA "$format" "${file[$next]}" >/dev/null 2>&1 &
        pid=$!
        delay=$((RANDOM * window / 32768))
        sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null && finished=$((finished + 1))
        # Only a lock holder writes the temporary contents: one left behind
        # means the process died holding the lock.
        compgen -G "$CLIP/contents.tmp.$pid*" >/dev/null && inside=$((inside + 1))
        flock -n "$CLIP/lock" true || held=$((held + 1))
        clip GETDATA "$format" k.out
        if [[ $status -ne 0 || $out != "$got_ok" ]]; then
            broken=$((broken + 1))
            echo "# after kill $i: status $status, $(printf '%q' "$out")"
        elif cmp -s k.out "ref.$current"; then
            old=$((old + 1))
        elif cmp -s k.out "ref.$next"; then
            new=$((new + 1))
            current=$next
        else
            corrupt=$((corrupt + 1))
        fi
    done
    echo "# kills: $((i - 1)) SIGKILLs within ${window} ms of a PUTDATA $format of ${file[a]} in $((SECONDS - started)) s"
    rm -f ref.a ref.b k.out
}

kill_test() {
    head -c $((16 * 1024 * 1024)) /dev/urandom >big.a
    head -c $((16 * 1024 * 1024)) /dev/urandom >big.b
    local old=0 new=0 corrupt=0 broken=0 held=0 inside=0 finished=0 kills=0
    kill_round CF_RIFF big.a big.b "$KILLS"
    local raw_old=$old raw_new=$new
    # Large raw blocks are linked into place, so the locked part of a raw
    # PUTDATA is short; a bitmap's pixels are still written while it is held.
    make_bmp pic.a 2048 2048
    make_bmp pic.b 2048 2048
    kill_round CF_BITMAP pic.a pic.b $((KILLS / 2)) 10
    echo "# kills: $((old + new)) of $kills: $old kept the old contents, $new had the new, $corrupt neither;" \
        "$inside died holding the lock, $finished finished first; lock left held $held times;" \
        "$broken following commands failed"
    if [[ $corrupt -eq 0 && $((old + new)) -eq $kills ]]; then pass "after $kills kills the clipboard held the old or the new contents, whole"; else fail "old or new contents after each kill" "$corrupt corrupt, $broken failed reads"; fi
    if [[ $broken -eq 0 ]]; then pass "the command after every kill works"; else fail "the command after every kill works" "$broken failed"; fi
    if [[ $held -eq 0 ]]; then pass "no kill left the lock held"; else fail "no kill left the lock held" "$held times"; fi
    # The kills must have hit the locked part of the command, or they prove little.
    if [[ $inside -ge 10 && $raw_old -gt 0 && $raw_new -gt 0 && $old -gt $raw_old && $new -gt $raw_new ]]; then pass "$inside kills landed while the lock was held"; else fail "kills landed inside the locked session" "$inside inside, $old old, $new new ($raw_old and $raw_new raw)"; fi
    put_ok big.a
    expect "PUTDATA after the kills" "$msg" PUTDATA CF_RIFF big.a
    if compgen -G "$CLIP/contents.tmp.*" >/dev/null; then fail "the next session removes what killed ones left" "$(ls "$CLIP")"; else pass "the next session removes what killed ones left"; fi

    # Another process holds the lock for $1 s; a command that meets it waits
    # about a second. Sets $holder and, after timed_expect, $ms.
    mkfifo held
    hold_lock() {
        (exec 9>"$CLIP/lock" && flock -n 9 && echo >held && exec sleep "$1") &
        holder=$!
        read -r _ <held
    }
    timed_expect() {
        local began
        began=$(date +%s%N)
        expect "$@"
        ms=$((($(date +%s%N) - began) / 1000000))
    }
    local holder ms
    listing 'CF_RIFF - [11]'
    hold_lock 0.75
    timed_expect "GETTYPES outwaits a lock held for 0.75 s" "$msg" GETTYPES
    if ((ms >= 700 && ms < 1000)); then pass "the lock was waited for ($ms ms)"; else fail "the lock was waited for" "$ms ms"; fi
    wait "$holder"
    hold_lock 60
    timed_expect "GETTYPES while another process holds the lock" "$cant_list" GETTYPES
    if ((ms >= 950 && ms < 3000)); then pass "GETTYPES gave up after about a second ($ms ms)"; else fail "GETTYPES gave up after about a second" "$ms ms"; fi
    # A holder killed with SIGKILL gives the lock back: flock dies with it.
    kill -9 "$holder"
    wait "$holder" 2>/dev/null
    expect "GETTYPES right after the holder was killed" "$msg" GETTYPES
    rm -f big.a big.b pic.a pic.b held
}

# --- hostile clipboard folder --------------------------------------------------

# The commands run against the folder at $XDG_RUNTIME_DIR/clipfile; each must
# fail with its open (or registration) failure.
hostile_commands() {
    local label=$1
    expect "$label: GETTYPES" "$cant_list" GETTYPES
    message snapshot_open_failed format_not_available=CF_TEXT
    expect "$label: GETDATA" "$msg" GETDATA CF_TEXT got.txt
    message snapshot_open_failed format_not_available=CF_BITMAP
    expect "$label: GETDATA CF_BITMAP" "$msg" GETDATA CF_BITMAP got.bmp
    message place_open_failed put_data_failed=text.txt
    expect "$label: PUTDATA" "$msg" PUTDATA CF_TEXT text.txt
    message place_open_failed put_data_failed=pic.bmp
    expect "$label: PUTDATA CF_BITMAP" "$msg" PUTDATA CF_BITMAP pic.bmp
    message register_failed="Never Registered" put_data_failed=text.txt
    expect "$label: PUTDATA of a new registered name" "$msg" PUTDATA "Never Registered" text.txt
    if [[ -e got.txt || -e got.bmp ]]; then fail "$label: no file exported"; else pass "$label: no file exported"; fi
}

fingerprint() { (cd "$1" && find . -printf '%p %m %u %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort); }

# hostile_case LABEL WATCHED-FOLDER SETUP...: runs SETUP, then the commands,
# while inotify watches the folder whose clipboard must stay untouched.
# ALLOW_DIR_OPEN=1 allows opening the folder itself (to inspect it).
hostile_case() {
    local label=$1 watched=$2 allow=$3
    fingerprint "$watched" >before.fp
    inotifywait -m --format '%e %f' -o events.log "$watched" 2>watch.err &
    local watcher=$!
    local i
    for ((i = 0; i < 100; i++)); do
        grep -q 'Watches established' watch.err 2>/dev/null && break
        sleep 0.05
    done
    hostile_commands "$label"
    sleep 0.2
    kill "$watcher"
    wait "$watcher" 2>/dev/null
    local touched
    if [[ $allow -eq 1 ]]; then
        touched=$(grep -v -E '^(OPEN|CLOSE_NOWRITE,CLOSE),ISDIR $' events.log)
    else
        touched=$(cat events.log)
    fi
    if [[ -z $touched ]]; then pass "$label: nothing in the folder was opened, read or written"; else fail "$label: folder untouched" "$touched"; fi
    fingerprint "$watched" >after.fp
    if cmp -s before.fp after.fp; then pass "$label: the folder is as it was"; else fail "$label: the folder is as it was" "$(diff before.fp after.fp | head -5)"; fi
    rm -f events.log watch.err before.fp after.fp
}

hostile_location() {
    if ! command -v inotifywait >/dev/null; then
        fail "hostile folder tests" "inotifywait (inotify-tools) is not installed"
        return
    fi
    printf 'secret clipboard text' >secret.txt
    printf 'harmless text' >text.txt
    make_bmp pic.bmp 3 2
    # A real clipboard, holding a registered format, for the cases to point at.
    mkdir -m 700 victim
    local victim=$WORK/victim/clipfile
    XDG_RUNTIME_DIR=$WORK/victim "${RUN[@]}" PUTDATA "Victim Format" secret.txt >/dev/null
    if [[ -f $victim/contents && -f $victim/formats ]]; then pass "the victim clipboard exists"; else fail "the victim clipboard exists"; fi

    local saved=$XDG_RUNTIME_DIR
    export XDG_RUNTIME_DIR=$WORK/hostile
    mkdir -m 700 "$XDG_RUNTIME_DIR"

    ln -s "$victim" "$XDG_RUNTIME_DIR/clipfile"
    hostile_case "folder is a symlink" "$victim" 0
    rm "$XDG_RUNTIME_DIR/clipfile"

    local mode
    for mode in 750 705 701 777; do
        cp -a "$victim" "$XDG_RUNTIME_DIR/clipfile"
        chmod "$mode" "$XDG_RUNTIME_DIR/clipfile"
        hostile_case "folder of mode $mode" "$XDG_RUNTIME_DIR/clipfile" 1
        rm -rf "$XDG_RUNTIME_DIR/clipfile"
    done

    if [[ $EUID -eq 0 ]] && id nobody >/dev/null 2>&1; then
        cp -a "$victim" "$XDG_RUNTIME_DIR/clipfile"
        chown -R nobody "$XDG_RUNTIME_DIR/clipfile"
        hostile_case "folder owned by another user" "$XDG_RUNTIME_DIR/clipfile" 1
        rm -rf "$XDG_RUNTIME_DIR/clipfile"
    else
        skip "folder owned by another user: needs root to give a folder away"
    fi

    printf 'not a folder' >"$XDG_RUNTIME_DIR/clipfile"
    hostile_commands "clipboard path is a file"
    if [[ $(cat "$XDG_RUNTIME_DIR/clipfile") == "not a folder" ]]; then pass "the file is unchanged"; else fail "the file is unchanged"; fi
    rm -f "$XDG_RUNTIME_DIR/clipfile" pic.bmp

    export XDG_RUNTIME_DIR=$saved
    rm -rf victim "$WORK/hostile"
}

# --- damaged clipboard files ------------------------------------------------

# damage FILE KIND: replaces one of the clipboard's files.
damage() {
    local path=$CLIP/$1
    case $2 in
        directory) rm -f "$path" && mkdir "$path" ;;
        fifo) rm -f "$path" && mkfifo "$path" ;;
        symlink) rm -f "$path" && ln -s "$WORK/outside" "$path" ;;
        garbage) head -c 3000 /dev/urandom >"$path" ;;
        truncated) [[ -s $path ]] && truncate -s $(($(stat -c %s "$path") / 2)) "$path" ;;
        oversized) truncate -s 1T "$path" ;;
    esac
}

damaged_files() {
    printf 'outside, not to be read or written' >outside
    cp outside outside.orig
    printf 'first text' >first.txt
    printf 'second text\0' >second.txt
    # file | kind | GETTYPES listing: kept, nameless, empty or busy
    local table
    table=$(cat <<'EOF'
contents|directory|empty
contents|fifo|empty
contents|symlink|empty
contents|garbage|empty
contents|truncated|empty
contents|oversized|empty
formats|directory|nameless
formats|fifo|nameless
formats|symlink|nameless
formats|garbage|nameless
formats|truncated|nameless
formats|oversized|nameless
lock|directory|busy
lock|fifo|kept
lock|symlink|busy
lock|garbage|kept
lock|oversized|kept
formats.lock|directory|kept
formats.lock|fifo|kept
formats.lock|symlink|kept
formats.lock|garbage|kept
contents.tmp.99999|garbage|kept
contents.tmp.99999|directory|kept
formats.tmp.99999|garbage|kept
EOF
    )
    local file kind listed id
    while IFS='|' read -r file kind listed; do
        local label="$file as $kind"
        rm -rf "$CLIP"
        clip PUTDATA "Damage Test" first.txt
        clip GETTYPES
        id=$(grep -ao 'Damage Test - \[[0-9]*\]' "$WORK/out" | tr -dc 0-9)
        damage "$file" "$kind"
        case $listed in
            kept) listing "Damage Test - [$id]" ;;
            nameless) listing "NULL - [$id]" ;;
            empty) message clipboard_empty ;;
            busy) msg=$cant_list ;;
        esac
        expect "$label: GETTYPES" "$msg" GETTYPES
        # The rest may succeed or fail, but only with their own messages, and
        # what they report as done must be so.
        clip GETDATA "Damage" got.txt
        get_ok got.txt
        if [[ $status -ne 0 || -s $WORK/err ]]; then
            fail "$label: GETDATA" "status $status, $(head -c 300 "$WORK/err")"
        elif [[ $out == "$msg" ]]; then
            expect_file "$label: GETDATA gives the text placed" got.txt first.txt
        elif [[ $out == *"Couldn't able"* || $out == *"is not available"* ]] && [[ ! -e got.txt ]]; then
            pass "$label: GETDATA reports its failure"
        else
            fail "$label: GETDATA" "status $status, $(printf '%q' "$out")" "$(head -c 300 "$WORK/err")"
        fi
        rm -f got.txt
        local name
        for name in CF_TEXT "Another Name"; do
            clip PUTDATA "$name" second.txt
            put_ok second.txt
            if [[ $status -ne 0 || -s $WORK/err ]]; then
                fail "$label: PUTDATA $name" "status $status, $(head -c 300 "$WORK/err")"
            elif [[ $out == "$msg" ]]; then
                clip GETDATA "$name" got.txt
                expect_file "$label: PUTDATA $name places the text" got.txt second.txt
            elif [[ $out == *"Couldn't able to transfer"* ]]; then
                pass "$label: PUTDATA $name reports its failure"
            else
                fail "$label: PUTDATA $name" "$(printf '%q' "$out")"
            fi
            rm -f got.txt
        done
        expect_file "$label: the symlink's target is untouched" outside outside.orig
    done <<<"$table"
    rm -rf "$CLIP" outside outside.orig first.txt second.txt
    put_ok second.txt
    printf 'second text\0' >second.txt
    expect "a fresh clipboard works after the damage" "$msg" PUTDATA CF_TEXT second.txt
    rm -f second.txt
}

# --- full disk and bad paths ---------------------------------------------------

bad_paths() {
    rm -rf "$CLIP"
    printf 'text that must survive\0' >keep.txt
    put_ok keep.txt
    expect "PUTDATA before the bad paths" "$msg" PUTDATA CF_TEXT keep.txt

    message output_write_failed get_data_failed=/dev/full
    expect "GETDATA CF_TEXT to /dev/full" "$msg" GETDATA CF_TEXT /dev/full
    cant_write nowhere/out.txt
    expect "GETDATA CF_TEXT into a missing folder" "$msg" GETDATA CF_TEXT nowhere/out.txt

    mkdir adir
    mkfifo afifo
    printf 'unreadable' >unreadable.txt
    chmod 000 unreadable.txt
    # Root reads any file: drop the capabilities that let it.
    local as_user=()
    # shellcheck disable=SC2054 # one argument, a list of capabilities
    if [[ $EUID -eq 0 ]]; then as_user=(setpriv --bounding-set -dac_override,-dac_read_search); fi
    local format input started
    for format in CF_TEXT CF_BITMAP "Bad Path Format"; do
        for input in adir afifo unreadable.txt; do
            cant_read "$input"
            started=$SECONDS
            if [[ $input == unreadable.txt ]]; then
                "${as_user[@]}" timeout -k 2 20 "${RUN[@]}" PUTDATA "$format" "$input" >"$WORK/out" 2>"$WORK/err"
                status=$?
                out=$(cat "$WORK/out"; echo x)
                out=${out%x}
                if [[ $status -eq 0 && ! -s $WORK/err && $out == "$msg" ]]; then pass "PUTDATA $format from an unreadable file"; else fail "PUTDATA $format from an unreadable file" "status $status, $(printf '%q' "$out")"; fi
            else
                expect "PUTDATA $format from $input" "$msg" PUTDATA "$format" "$input"
            fi
            [[ $((SECONDS - started)) -lt 5 ]] || fail "PUTDATA $format from $input took $((SECONDS - started)) s"
        done
    done
    get_ok kept.txt
    expect "GETDATA after the failed PUTDATAs" "$msg" GETDATA CF_TEXT kept.txt
    expect_file "the failed PUTDATAs kept the clipboard" kept.txt keep.txt
    if [[ -e $CLIP/formats ]]; then fail "no format was registered by the failures"; else pass "no format was registered by the failures"; fi

    make_bmp pic.bmp 5 4
    put_ok pic.bmp
    expect "PUTDATA CF_BITMAP before /dev/full" "$msg" PUTDATA CF_BITMAP pic.bmp
    message file_header_write_failed=/dev/full get_data_failed=/dev/full
    expect "GETDATA CF_BITMAP to /dev/full" "$msg" GETDATA CF_BITMAP /dev/full
    message bitmap_file_create_failed=nowhere/out.bmp get_data_failed=nowhere/out.bmp
    expect "GETDATA CF_BITMAP into a missing folder" "$msg" GETDATA CF_BITMAP nowhere/out.bmp
    rm -rf adir afifo unreadable.txt keep.txt kept.txt pic.bmp
}

full_disk() {
    mkdir small
    if ! mount -t tmpfs -o size=8m,mode=700 tmpfs small 2>mount.err; then
        skip "full disk: cannot mount a tmpfs here ($(cat mount.err)); run as root"
        rm -rf small mount.err
        return
    fi
    rm -f mount.err
    local saved=$XDG_RUNTIME_DIR
    export XDG_RUNTIME_DIR=$WORK/small
    local clip=$XDG_RUNTIME_DIR/clipfile
    head -c $((3 * 1024 * 1024)) /dev/urandom >old.bin
    head -c $((6 * 1024 * 1024)) /dev/urandom >new.bin
    put_ok old.bin
    expect "PUTDATA of 3 MiB on an 8 MiB disk" "$msg" PUTDATA "Disk Format" old.bin
    # The old contents stay until the new ones are whole: 3 + 6 MiB do not fit.
    message place_failed put_data_failed=new.bin
    expect "PUTDATA of 6 MiB more than the free space" "$msg" PUTDATA "Disk Format" new.bin
    make_bmp big.bmp 1024 1536
    message place_failed put_data_failed=big.bmp
    expect "PUTDATA CF_BITMAP of 6 MiB of pixels" "$msg" PUTDATA CF_BITMAP big.bmp
    get_ok got.bin
    expect "GETDATA after the failures" "$msg" GETDATA "Disk Format" got.bin
    expect_file "a full disk keeps the previous contents whole" got.bin old.bin
    if compgen -G "$clip/*.tmp.*" >/dev/null; then fail "no temporary file is left" "$(ls "$clip")"; else pass "no temporary file is left"; fi

    # Not a byte free: neither the clipboard nor the registered names change.
    dd if=/dev/zero of=small/filler bs=64k status=none 2>/dev/null
    message register_failed="Brand New Name" put_data_failed=new.bin
    expect "registration on a full disk" "$msg" PUTDATA "Brand New Name" new.bin
    printf 'x' >tiny.txt
    message empty_failed put_data_failed=tiny.txt
    expect "PUTDATA of 1 byte on a full disk" "$msg" PUTDATA CF_TEXT tiny.txt
    head -c $((2 * 1024 * 1024)) /dev/urandom >mid.bin
    message empty_failed put_data_failed=mid.bin
    expect "PUTDATA of a 2 MiB file block on a full disk" "$msg" PUTDATA CF_TEXT mid.bin
    listing 'Disk Format - [49152]'
    expect "GETTYPES on a full disk" "$msg" GETTYPES
    rm -f got.bin
    get_ok got.bin
    expect "GETDATA on a full disk" "$msg" GETDATA "Disk Format" got.bin
    expect_file "a full disk still holds the previous contents" got.bin old.bin
    rm -f small/filler
    put_ok tiny.txt
    expect "PUTDATA once space is back" "$msg" PUTDATA "Brand New Name" tiny.txt
    listing 'Brand New Name - [49153]'
    expect "the new name registered once space is back" "$msg" GETTYPES
    # A large block is a file of its own that becomes the contents: 3 MiB
    # held and 4 MiB placed fit on the 8 MiB disk side by side.
    put_ok old.bin
    expect "PUTDATA of 3 MiB again" "$msg" PUTDATA "Disk Format" old.bin
    head -c $((4 * 1024 * 1024)) /dev/urandom >new.bin
    put_ok new.bin
    expect "PUTDATA of 4 MiB next to 3 MiB on an 8 MiB disk" "$msg" PUTDATA "Disk Format" new.bin
    get_ok got.bin
    expect "GETDATA of the 4 MiB" "$msg" GETDATA "Disk Format" got.bin
    expect_file "the 4 MiB came back whole" got.bin new.bin

    umount small
    rmdir small
    export XDG_RUNTIME_DIR=$saved
    rm -f old.bin new.bin got.bin big.bmp tiny.txt mid.bin
}

for section in ${STRESS_SECTIONS:-concurrency kill_test hostile_location damaged_files bad_paths full_disk}; do
    started=$SECONDS
    echo "# --- $section"
    "$section"
    echo "# $section took $((SECONDS - started)) s"
done
echo "# all took $((SECONDS - started_all)) s"
report
