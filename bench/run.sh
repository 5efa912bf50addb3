#!/usr/bin/env bash
# Benchmark of clipfile against a plain file copy: raw and bitmap PUTDATA and
# GETDATA next to `cp` of the same bytes in the same folder, GETTYPES next to
# /bin/true. Runs cold, as a user's command does: nothing fills memory first.
# Each case runs on a disk folder and on a tmpfs, in the same run. Run on
# demand (CI does not); prints a table and writes it to bench/RESULTS.md.
#
# Usage: bench/run.sh [-n RUNS] [-d DIR]... [--no-wine] [--warm] [--prebuilt DIR]
#   -n RUNS         timed runs per figure after one untimed run (default 7, at least 5)
#   -d DIR          a folder for the files, the clipboard folder and cp's target;
#                   repeat for more (default: build/ of this tree, then /dev/shm)
#   --no-wine       skip the Windows build under wine64
#   --warm          add rows for raw 512 MiB after filling memory once (bench_helper warm)
#   --prebuilt DIR  time DIR/clipfile and DIR/bench_helper instead of building them
#
# Needs: cmake, ninja and g++ (the host-release build), GNU time at
# /usr/bin/time (Debian package "time"), 4 GiB free in each folder and 3 GiB of
# available memory, 7 GiB when a folder is a tmpfs. Optional:
# g++-mingw-w64-x86-64-posix and wine64 for the Windows figures (first folder
# only). Installs nothing; a full run takes a few minutes.
set -u
export LC_ALL=C

cd "$(dirname "$0")/.." || exit 1
root=$PWD
runs=7
bases=()
wine_wanted=1
warm_wanted=0
prebuilt=
while [[ $# -gt 0 ]]; do
    case $1 in
        -n) runs=${2:-}; shift 2 ;;
        -d) bases+=("${2:-}"); shift 2 ;;
        --no-wine) wine_wanted=0; shift ;;
        --warm) warm_wanted=1; shift ;;
        --prebuilt) prebuilt=${2:-}; shift 2 ;;
        *) sed -n '8,15p' "$0" >&2; exit 2 ;;
    esac
done
if ! [[ $runs =~ ^[0-9]+$ ]] || ((runs < 5)); then
    echo "-n needs a number of at least 5" >&2
    exit 2
fi
if ((${#bases[@]} == 0)); then
    mkdir -p "$root/build"
    bases=("$root/build")
    [[ -d /dev/shm && -w /dev/shm ]] && bases+=(/dev/shm)
fi

die() { echo "bench: $*" >&2; exit 1; }

if ! /usr/bin/time -f %M -o /dev/null true 2>/dev/null; then
    die "GNU time is needed at /usr/bin/time (apt-get install time)"
fi
for tool in cmake ninja g++ cp cmp head awk sort; do
    command -v "$tool" >/dev/null || die "$tool is needed"
done
((BASH_VERSINFO[0] >= 5)) || die "bash 5 is needed (EPOCHREALTIME)"

mingw=$(command -v x86_64-w64-mingw32-g++-posix)
find_wine_tool() {
    command -v "$1" 2>/dev/null || { [[ -x /usr/lib/wine/$1 ]] && echo "/usr/lib/wine/$1"; }
}
wine=$(find_wine_tool wine64)
wineserver=$(find_wine_tool wineserver)
use_wine=0
if ((wine_wanted)); then
    if [[ -n $mingw && -n $wine && -n $wineserver ]]; then
        use_wine=1
    else
        echo "bench: x86_64-w64-mingw32-g++-posix, wine64 or wineserver missing: no Windows figures" >&2
    fi
fi

# --- builds -----------------------------------------------------------------

if [[ -n $prebuilt ]]; then
    host_exe=$(cd "$prebuilt" && pwd)/clipfile
    host_helper=$(cd "$prebuilt" && pwd)/bench_helper
    [[ -x $host_exe && -x $host_helper ]] || die "$prebuilt has no clipfile and bench_helper"
else
    echo "# building the host-release preset" >&2
    if ! cmake --preset host-release >/dev/null ||
        ! cmake --build --preset host-release -j2 --target clipfile bench_helper >/dev/null; then
        die "the host-release build failed"
    fi
    host_exe=$root/build/host-release/clipfile
    host_helper=$root/build/host-release/bench_helper
fi
if ((use_wine)); then
    echo "# building the mingw-x64-release preset" >&2
    if ! cmake --preset mingw-x64-release >/dev/null ||
        ! cmake --build --preset mingw-x64-release -j2 --target clipfile bench_helper >/dev/null; then
        die "the Windows build failed"
    fi
    win_exe=$root/build/mingw-x64-release/clipfile.exe
    win_helper=$root/build/mingw-x64-release/bench_helper.exe
fi

work=
cleanup() {
    if ((use_wine)) && [[ -n ${WINEPREFIX:-} ]]; then
        timeout 10 "$wineserver" -k 2>/dev/null
        unset WINEPREFIX
    fi
    [[ -n $work ]] && rm -rf "$work"
    work=
}
trap cleanup EXIT

# --- measuring --------------------------------------------------------------

# Runs a command with no input and its output in $work/out; sets took_us to
# the wall time in microseconds and status to the exit status.
timed() {
    local start end
    start=$EPOCHREALTIME
    "$@" </dev/null >"$work/out" 2>"$work/err"
    status=$?
    end=$EPOCHREALTIME
    took_us=$((10#${end/./} - 10#${start/./}))
}

# The same, under GNU time; sets peak_kib to the peak resident set size.
measured_memory() {
    /usr/bin/time -f %M -o "$work/peak" "$@" </dev/null >"$work/out" 2>"$work/err"
    status=$?
    peak_kib=$(tail -n 1 "$work/peak")
}

median() {
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# The fastest and the slowest of the runs, in microseconds: "min max".
spread() { printf '%s\n' "$@" | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo, hi }'; }

# Output check of the last clipfile run: the success line, nothing else wrong.
succeeded() { [[ $status -eq 0 ]] && grep -aq 'Successfully' "$work/out"; }

failures=()
note_failure() { failures+=("$1: $(tr -d '\r' <"$work/out" | tr -s '\n' ' ' | head -c 200)"); }

# Result rows: build|case|bytes|tool_us|ref_us|ref name|peak_kib|target kind|"min max" of tool_us
rows=()

# One PUTDATA/GETDATA pair of a format against cp of the same input file:
# bench_pair BUILD LABEL FORMAT INPUT BYTES EXE... (EXE may be "wine64 x.exe").
bench_pair() {
    local build=$1 label=$2 format=$3 input=$4 bytes=$5
    shift 5
    local -a exe=("$@") put=() get=() copy=() put_peak=() get_peak=()
    local i ok=1 kind=raw
    [[ $format == CF_BITMAP ]] && kind=bmp
    echo "# $build: $label" >&2
    for ((i = 0; i <= runs; ++i)); do
        timed cp "$input" cp.out
        ((i > 0)) && copy+=("$took_us")
        timed "${exe[@]}" PUTDATA "$format" "$input"
        succeeded || { ok=0; note_failure "$build PUTDATA $label"; break; }
        ((i > 0)) && put+=("$took_us")
        timed "${exe[@]}" GETDATA "$format" get.out
        succeeded || { ok=0; note_failure "$build GETDATA $label"; break; }
        ((i > 0)) && get+=("$took_us")
    done
    if ((ok)) && ! cmp -s "$files/$input" "$files/get.out"; then
        failures+=("$build $label: GETDATA did not give back the bytes placed")
    fi
    for ((i = 0; ok && i < runs; ++i)); do
        measured_memory "${exe[@]}" PUTDATA "$format" "$input"
        succeeded || { ok=0; note_failure "$build PUTDATA $label under GNU time"; break; }
        put_peak+=("$peak_kib")
        measured_memory "${exe[@]}" GETDATA "$format" get.out
        succeeded || { ok=0; note_failure "$build GETDATA $label under GNU time"; break; }
        get_peak+=("$peak_kib")
    done
    rm -f "$files/get.out" "$files/cp.out"
    if ((!ok)); then
        rows+=("$build|PUTDATA $label|$bytes|-|-|cp|-|failed|-")
        rows+=("$build|GETDATA $label|$bytes|-|-|cp|-|failed|-")
        return
    fi
    local copy_us
    copy_us=$(median "${copy[@]}")
    rows+=("$build|PUTDATA $label|$bytes|$(median "${put[@]}")|$copy_us|cp|$(median "${put_peak[@]}")|${kind}put|$(spread "${put[@]}")")
    rows+=("$build|GETDATA $label|$bytes|$(median "${get[@]}")|$copy_us|cp|$(median "${get_peak[@]}")|${kind}get|$(spread "${get[@]}")")
    printf '#   %s\n' "${rows[@]: -2}" >&2
}

# GETTYPES on the ten formats bench_helper places, against a reference
# program started the same way: bench_gettypes BUILD HELPER REFNAME REF... -- EXE...
bench_gettypes() {
    local build=$1 helper=$2 ref_name=$3
    shift 3
    local -a ref_cmd=() exe=() tool=() ref=()
    while [[ $1 != -- ]]; do ref_cmd+=("$1"); shift; done
    shift
    exe=("$@")
    local i count n=$((runs < 21 ? 21 : runs))
    echo "# $build: GETTYPES" >&2
    # The helper starts the way clipfile does: the launcher, if any, first.
    timed "${exe[@]:0:$#-1}" "$helper" formats
    timed "${exe[@]}" GETTYPES
    count=$(grep -acE ' - \[[0-9]+\]' "$work/out")
    if [[ $count != 10 ]]; then
        failures+=("$build GETTYPES: $count formats listed instead of 10")
        rows+=("$build|GETTYPES, 10 formats|0|-|-|$ref_name|-|failed|-")
        return
    fi
    for ((i = 0; i <= n; ++i)); do
        timed "${ref_cmd[@]}"
        ((i > 0)) && ref+=("$took_us")
        timed "${exe[@]}" GETTYPES
        ((i > 0)) && tool+=("$took_us")
    done
    measured_memory "${exe[@]}" GETTYPES
    rows+=("$build|GETTYPES, 10 formats ($n runs)|0|$(median "${tool[@]}")|$(median "${ref[@]}")|$ref_name|$peak_kib|types|$(spread "${tool[@]}")")
    printf '#   %s\n' "${rows[-1]}" >&2
}

raw_sizes=(1 64 512)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
thp=$(sed -n 's/.*\[\(.*\)\].*/\1/p' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null)
started=$SECONDS
stores=()
warm_us=
for base in "${bases[@]}"; do
    work=$(mktemp -d "$base/clipfile-bench.XXXXXX") || die "cannot create a folder in $base"
    files=$work/files
    mkdir -p "$files" "$work/runtime"
    chmod 700 "$work/runtime"
    export XDG_RUNTIME_DIR=$work/runtime
    # The portable clipboard, even on a desktop.
    export CLIPFILE_CLIPBOARD=portable
    avail_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
    ((avail_kib > 4 * 1024 * 1024)) || die "$base has less than 4 GiB free"
    fs_type=$(stat -f -c %T "$work")
    [[ $fs_type == ext2/ext3 ]] && fs_type=$(findmnt -n -o FSTYPE -T "$work" 2>/dev/null || echo ext4)
    fs_mount=$(df -P "$work" | awk 'NR == 2 { print $6 }')
    # Files on a tmpfs live in memory too: inputs, copies and the clipboard.
    needed_gib=3
    [[ $fs_type == tmpfs ]] && needed_gib=7
    available_kib=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
    ((${available_kib:-0} > needed_gib * 1024 * 1024)) || die "less than $needed_gib GiB of memory available"
    stores+=("$fs_type: a folder under $base, mounted on $fs_mount")
    # Every command runs in $files, started straight from this shell.
    cd "$files" || die "cannot enter $files"

    echo "# $fs_type: writing the input files" >&2
    for mib in "${raw_sizes[@]}"; do
        head -c "${mib}M" /dev/urandom >"$files/raw$mib.bin" || die "cannot write raw$mib.bin"
    done
    "$host_helper" bmp 8192 8192 "$files/picture.bmp" || die "cannot write picture.bmp"
    bmp_bytes=$(stat -c %s "$files/picture.bmp")

    host="host, $fs_type"
    for mib in "${raw_sizes[@]}"; do
        bench_pair "$host" "raw $mib MiB" "Bench Raw" "raw$mib.bin" $((mib * 1024 * 1024)) "$host_exe"
    done
    bench_pair "$host" "CF_BITMAP 8192x8192x32" CF_BITMAP picture.bmp "$bmp_bytes" "$host_exe"
    bench_gettypes "$host" "$host_helper" /bin/true /bin/true -- "$host_exe"

    if ((warm_wanted)); then
        # Memory the runs will take, filled once first: see WarmMemory in bench_helper.
        available_kib=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
        warm_mib=$(((${available_kib:-0} / 1024) - 1024))
        ((warm_mib > 6144)) && warm_mib=6144
        echo "# filling $warm_mib MiB of memory once" >&2
        timed "$host_helper" warm "$warm_mib"
        ((status == 0)) || die "bench_helper warm $warm_mib failed"
        warm_us=$took_us
        bench_pair "$host" "raw 512 MiB, after a warm fill" "Bench Raw" raw512.bin $((512 * 1024 * 1024)) "$host_exe"
    fi

    if ((use_wine)) && [[ $base == "${bases[0]}" ]]; then
        export WINEPREFIX=$work/wineprefix WINEDEBUG=-all
        unset DISPLAY WAYLAND_DISPLAY
        mkdir -p "$WINEPREFIX"
        echo "# starting Wine" >&2
        if timeout -k 5 20 "$wineserver" -p &&
            timeout -k 5 120 "$wine" wineboot -i </dev/null >/dev/null 2>&1 &&
            timeout -k 5 60 "$wine" "$win_exe" </dev/null >/dev/null 2>&1; then
            # A Wine process that hangs ends the run's figure, not the benchmark.
            launch=(timeout -k 5 300 "$wine")
            for mib in "${raw_sizes[@]}"; do
                bench_pair "wine64, $fs_type" "raw $mib MiB" "Bench Raw" "raw$mib.bin" $((mib * 1024 * 1024)) \
                    "${launch[@]}" "$win_exe"
            done
            bench_pair "wine64, $fs_type" "CF_BITMAP 8192x8192x32" CF_BITMAP picture.bmp "$bmp_bytes" "${launch[@]}" "$win_exe"
            bench_gettypes "wine64, $fs_type" "$win_helper" "no-op .exe under wine64" "${launch[@]}" "$win_helper" -- \
                "${launch[@]}" "$win_exe"
        else
            failures+=("wine64: Wine did not start in $WINEPREFIX")
        fi
    fi
    cd "$root" || die "cannot return to $root"
    cleanup
done
elapsed=$((SECONDS - started))

# --- report -----------------------------------------------------------------

# Targets apply to the host build only; the Windows figures are reported.
table() {
    printf '%s\n' "${rows[@]}" | awk -F'|' '
    function ms(us) { return us >= 10000 ? sprintf("%.1f ms", us / 1000) : sprintf("%.2f ms", us / 1000) }
    function verdict(ok) { return ok ? "met" : "**missed**" }
    BEGIN {
        print "| build, store | case | clipfile | fastest - slowest | reference | ratio | time target | peak RSS | RSS / data | memory target |"
        print "|---|---|---:|---:|---:|---:|---|---:|---:|---|"
    }
    {
        build = $1; name = $2; bytes = $3; tool = $4; ref = $5; refname = $6; peak = $7; kind = $8
        split($9, range, " ")
        if (kind == "failed") {
            printf "| %s | %s | failed | | | | | | | |\n", build, name
            next
        }
        ratio = tool / ref
        host = build ~ /^host/
        ttarget = "-"; mtarget = "-"
        if (kind ~ /^raw/ && (bytes >= 512 * 1048576 || bytes <= 1048576)) ttarget = "<= 1.2 x cp"
        if (kind ~ /^bmp/) ttarget = "<= 2 x cp"
        if (kind == "types") ttarget = "<= 3 ms"
        if (kind ~ /^raw/ && bytes >= 64 * 1048576) mtarget = "<= 1.1"
        # A bitmap keeps one buffer of its pixels, and no second one.
        if (kind ~ /^bmp/) mtarget = "<= 1.1"
        memratio = bytes > 0 ? peak * 1024 / bytes : 0
        if (ttarget != "-") {
            if (!host) ttarget = ttarget " (host only)"
            else if (kind == "types") ttarget = ttarget ": " verdict(tool <= 3000)
            else ttarget = ttarget ": " verdict(ratio <= (kind ~ /^bmp/ ? 2 : 1.2))
        }
        if (mtarget != "-") {
            if (!host) mtarget = mtarget " (host only)"
            else mtarget = mtarget ": " verdict(memratio <= 1.1)
        }
        shown = "-"
        if (bytes > 0) shown = sprintf("%.2f", memratio)
        printf "| %s | %s | %s | %s - %s | %s %s | %.2f | %s | %.1f MiB | %s | %s |\n", build, name,
            ms(tool), ms(range[1]), ms(range[2]), refname, ms(ref), ratio, ttarget, peak / 1024, shown,
            mtarget
    }'
}

cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
os=$(sed -n 's/^PRETTY_NAME="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' /etc/os-release 2>/dev/null)
compiler=$(g++ --version | head -n 1)
wine_version=
((use_wine)) && wine_version=$("$wine" --version 2>/dev/null)

results_new=$(mktemp)
x11_kept=$(mktemp)
{
    echo "# Benchmark results"
    echo
    echo "Written by \`bench/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'): cold runs (no memory filled"
    echo "beforehand), medians of $runs timed runs after one untimed run of the same command (GETTYPES:"
    echo "medians of $((runs < 21 ? 21 : runs)) runs), $elapsed s in all."
    echo
    echo "- Machine: ${cpu:-unknown CPU}, $(nproc) cores available, $memory, Linux $(uname -r), ${os:-unknown OS}; load average at the start: $load_before."
    echo "- Host build: preset \`host-release\` (Release, $compiler), portable clipboard."
    if ((use_wine)); then
        echo "- Windows build: \`build/bench-mingw-x64\` (MinGW x86_64, Release) under wine64 ($wine_version), Wine's own clipboard with no display; its figures are reported, the targets apply to the host build."
    else
        echo "- Windows build: not measured."
    fi
    echo "- Memory: transparent huge pages \`${thp:-unavailable}\`; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
    if [[ -n $warm_us ]]; then
        echo "- Rows \"after a warm fill\": $warm_mib MiB were taken, filled and given back once through clipfile's allocator first, in $((warm_us / 1000)) ms; every other row is cold."
    fi
    echo "- Input files, clipboard folder and cp's target share one folder per store:"
    printf '  - %s\n' "${stores[@]}"
    echo "- Time: wall time of the command started from bash; clipfile: the median, then the fastest and the slowest of its timed runs. Ratio: clipfile's median over the reference's median from the same runs (cp of the same input file; /bin/true, or under Wine a no-op program, for GETTYPES). Peak RSS: GNU time's maximum resident set size; RSS / data: that over the bytes moved."
    echo
    table
    if ((${#failures[@]} > 0)); then
        echo
        echo "Failures:"
        echo
        printf -- '- %s\n' "${failures[@]}"
    fi
} >"$results_new"
# bench/x11.sh writes a section of its own, kept as it is.
sed -n '/^<!-- x11 benchmark: begin -->$/,/^<!-- x11 benchmark: end -->$/p' \
    "$root/bench/RESULTS.md" 2>/dev/null >"$x11_kept"
cat "$results_new"
{
    cat "$results_new"
    if [[ -s $x11_kept ]]; then
        echo
        cat "$x11_kept"
    fi
} >"$root/bench/RESULTS.md"
rm -f "$results_new" "$x11_kept"
((${#failures[@]} == 0))
