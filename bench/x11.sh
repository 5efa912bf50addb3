#!/usr/bin/env bash
# Benchmark of the X11 clipboard against xclip on an Xvfb of its own: random
# bytes put (until a reader holds every byte) and got, and the peak memory of
# clipfile's selection server. Run on demand (CI does not); prints a table and
# writes it into its own section of bench/RESULTS.md.
#
# Usage: bench/x11.sh [-n RUNS] [-m MIB] [-b CLIPFILE]
#   -n RUNS      timed runs of each case, each with new processes (default 5)
#   -m MIB       size of the data (default 256)
#   -b CLIPFILE  the clipfile to time (default: the host-release preset's,
#                built first)
#
# Needs: Xvfb, xclip, cmake, ninja and g++; twice the data's size free under
# /dev/shm (else /tmp). Installs nothing.
set -u
export LC_ALL=C
cd "$(dirname "$0")/.." || exit 1
root=$PWD
source tests/check_lib.sh

runs=5
mib=256
clipfile=
while [[ $# -gt 0 ]]; do
    case $1 in
        -n) runs=${2:-}; shift 2 ;;
        -m) mib=${2:-}; shift 2 ;;
        -b) clipfile=${2:-}; shift 2 ;;
        *) sed -n '7,11p' "$0" >&2; exit 2 ;;
    esac
done
die() { echo "bench: $*" >&2; exit 1; }
[[ $runs =~ ^[0-9]+$ ]] && ((runs >= 5)) || die "-n needs a number of at least 5"
[[ $mib =~ ^[0-9]+$ ]] && ((mib >= 1)) || die "-m needs a number of MiB"
for tool in Xvfb xclip; do command -v "$tool" >/dev/null || die "$tool is needed"; done
if [[ -z $clipfile ]]; then
    { cmake --preset host-release && cmake --build --preset host-release -j2 --target clipfile; } >/dev/null ||
        die "the host-release build failed"
    clipfile=build/host-release/clipfile
fi
clipfile=$(realpath "$clipfile")

base=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
work=$(mktemp -d "$base/clipfile-x11-bench.XXXXXX")
xvfb_pid=
cleanup() {
    local pid
    if [[ -n $xvfb_pid ]]; then
        for pid in $(x11_servers) $(owners); do kill "$pid" 2>/dev/null; done
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
start_xvfb 60 79 || die "no free display from :60 to :79 for Xvfb"
export CLIPFILE_CLIPBOARD=x11 XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$work" || exit 1
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

head -c $((mib << 20)) /dev/urandom >data.bin
target=application/x-bench

# xclip -i forks an owner and returns once it holds the selection, as
# PUTDATA does; the owners carry this tag so that only they are ended.
tag=clipfile-x11-bench-$$
owners() {
    local pid
    for pid in $(pgrep -x xclip); do
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "BENCH_TAG=$tag" && echo "$pid"
    done
}
xclip_put() { BENCH_TAG=$tag xclip -selection clipboard -t "$target" -i data.bin </dev/null >/dev/null 2>&1; }
xclip_get() { xclip -selection clipboard -t "$target" -o </dev/null >got.bin 2>/dev/null; }
clip_put() { "$clipfile" PUTDATA "$target" data.bin </dev/null >out.txt 2>&1 && grep -q Successfully out.txt; }
clip_get() { "$clipfile" GETDATA "$target" got.bin </dev/null >out.txt 2>&1 && grep -q Successfully out.txt; }
# Ends every owner and server and waits until they have stopped running.
release_all() {
    local pid i
    for pid in $(x11_servers) $(owners); do kill "$pid" 2>/dev/null; done
    for ((i = 0; i < 500; i++)); do
        [[ -z $(x11_servers)$(owners) ]] && return
        sleep 0.01
    done
    die "the owners did not end"
}

ms_since() {
    local now=$EPOCHREALTIME
    echo $(((${now/./} - ${1/./}) / 1000))
}
# timed NAME STEP...: runs the steps in order, each must succeed, and adds
# the milliseconds they took to times_NAME; the reader's file must then hold
# every byte.
declare -A times
hwm=()
timed() {
    local name=$1 step started
    shift
    rm -f got.bin
    started=$EPOCHREALTIME
    for step in "$@"; do
        $step || die "$name: $step failed"
    done
    times[$name]+=" $(ms_since "$started")"
    cmp -s got.bin data.bin || die "$name: the reader did not get every byte"
}

for ((run = 1; run <= runs; run++)); do
    release_all
    timed "put clipfile" clip_put xclip_get
    server=$(x11_servers)
    hwm+=("$(sed -n 's/^VmHWM:[^0-9]*\([0-9]*\).*/\1/p' "/proc/$server/status")")
    release_all
    timed "put xclip" xclip_put xclip_get
    release_all
    timed "hand-over clipfile" clip_put clip_get
    release_all
    timed "hand-over xclip" xclip_put xclip_get
    release_all
    xclip_put || die "xclip could not take the clipboard"
    timed "get clipfile" clip_get
    timed "get xclip" xclip_get
done
release_all
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# stats "MS MS ...": median, fastest, slowest.
stats() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)], v[1], v[NR] }'; }
fmt_s() { awk -v ms="$1" 'BEGIN { printf "%.2f s", ms / 1000 }'; }

rows=()
for case in put get hand-over; do
    read -r mine fastest slowest <<<"$(stats "${times[$case clipfile]}")"
    read -r theirs _ _ <<<"$(stats "${times[$case xclip]}")"
    ratio=$(awk -v a="$mine" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
    met=$(awk -v r="$ratio" 'BEGIN { print (r <= 0.5 ? "met" : "not met") }')
    rows+=("| $case $mib MiB | $(fmt_s "$mine") | $(fmt_s "$fastest") - $(fmt_s "$slowest") | $(fmt_s "$theirs") | $ratio | <= 0.5: $met |")
done
read -r peak low high <<<"$(stats "${hwm[*]}")"
per_data=$(awk -v k="$peak" -v m="$mib" 'BEGIN { printf "%.2f", k / 1024 / m }')
met=$(awk -v r="$per_data" 'BEGIN { print (r <= 1.1 ? "met" : "not met") }')
rows+=("| server peak RSS | $((peak / 1024)) MiB | $((low / 1024)) - $((high / 1024)) MiB | - | $per_data x data | <= 1.1 x data: $met |")

section=$(
    echo "## X11 clipboard against xclip"
    echo
    echo "Written by \`bench/x11.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'): $mib MiB of random bytes under"
    echo "\`$target\` on an Xvfb of its own, medians of $runs runs, each with new processes."
    echo
    echo "- Machine: $(nproc) cores available, $(uname -sr); load average $load_before at the start, $load_after at the end."
    echo "- clipfile: \`${clipfile#"$root"/}\`; xclip $(xclip -version 2>&1 | sed -n 's/^xclip version //p')."
    echo "- put: \`clipfile PUTDATA\` (or \`xclip -i\`, which forks its owner) and then \`xclip -o\` until the reader"
    echo "  holds every byte; get: with \`xclip -i\` the owner, \`clipfile GETDATA\` or \`xclip -o\`. Both readers write"
    echo "  to a file beside the data (under $base); hand-over: each tool puts and then reads back"
    echo "  with its own reader (\`PUTDATA\` then \`GETDATA\`, \`xclip -i\` then \`xclip -o\`)."
    echo "  Ratio: clipfile's median over xclip's."
    echo "- Server peak RSS: VmHWM of clipfile's selection server once the reader has every byte."
    echo
    echo "| case | clipfile | fastest - slowest | xclip | ratio | target |"
    echo "|---|---:|---:|---:|---:|---|"
    printf '%s\n' "${rows[@]}"
)
echo "$section"

# Only this section of the file is replaced.
results=$root/bench/RESULTS.md
begin='<!-- x11 benchmark: begin -->'
end='<!-- x11 benchmark: end -->'
{
    if grep -qxF "$begin" "$results" 2>/dev/null; then
        sed "/^$begin\$/,\$d" "$results"
    else
        cat "$results" 2>/dev/null
        echo
    fi
    echo "$begin"
    echo "$section"
    echo "$end"
    if grep -qxF "$end" "$results" 2>/dev/null; then sed "1,/^$end\$/d" "$results"; fi
} >"$work/results.md"
cp "$work/results.md" "$results"
