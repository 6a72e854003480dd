#!/bin/sh
# Side-by-side timing of vantrove-cli against another PAR 2.0 command-line
# tool that takes par2's command line (c/v/r, -s, -b, -r, -t, -q).
# Run by hand, never in CI.
#
#   VANTROVE_BENCH_TURBO=/path/to/tool bench/vs_turbo.sh [BUILD_DIR] [JOBS...]
#
# JOBS are any of: a b c d (all by default)
#   a  1 GiB in 8 files of 128 MiB, -s768000: create -r10, verify, repair
#      (set made with -r15, one file deleted, 1 MiB of another overwritten)
#   b  2000 files, 200 MiB in all, each shorter than a block: create
#      -s768000 -r10, verify
#   c  one file of 5 GiB: create -s4000000 -r1, verify
#   d  64 MiB in 4 files, -b32768: create -r10, repair of 3 MiB overwritten
#      in one file
#
# Environment:
#   VANTROVE_BENCH_TURBO  the peer's path; without it the comparison is skipped
#   VANTROVE_BENCH_RUNS   counted runs of each command (default 3), A B A B ...
#   VANTROVE_BENCH_SCALE  divides every data size (default 1; 4 for a quick look)
#   VANTROVE_BENCH_CLASSIC a second peer with the same command line (e.g.
#                         /usr/bin/par2), run once per command after the
#                         others, for its peak memory only; a run is ended
#                         after VANTROVE_BENCH_CLASSIC_SECONDS (default 900),
#                         and its peak is then the peak until that moment
#   VANTROVE_BENCH_THREADS the peer's threads (default 2); vantrove-cli uses
#                         every core, so run this on a two-core machine or
#                         pin both with taskset
#   TMPDIR                where the data sets are made (removed at the end)
#
# Each job prints the medians of wall, CPU (user+sys) and peak resident memory
# of both tools and their ratios (ours / peer), together with the load average.
# Every run starts from the same state: damaged files are made afresh and
# created volumes removed before each run, outside the timed command, and
# everything written so far is flushed to disk (sync), so that no run pays
# for writing back what the run before it wrote.

set -eu

build=${1:-build}
[ $# -gt 0 ] && shift
jobs=${*:-a b c d}
cli=$(cd "$build" && pwd)/vantrove-cli
peer=${VANTROVE_BENCH_TURBO:-}
runs=${VANTROVE_BENCH_RUNS:-3}
scale=${VANTROVE_BENCH_SCALE:-1}
threads=${VANTROVE_BENCH_THREADS:-2}
classic=${VANTROVE_BENCH_CLASSIC:-}
classic_seconds=${VANTROVE_BENCH_CLASSIC_SECONDS:-900}

if [ ! -x "$cli" ]; then
    echo "no vantrove-cli in $build" >&2
    exit 2
fi
if [ -z "$peer" ]; then
    echo "VANTROVE_BENCH_TURBO is not set: comparison skipped"
    exit 0
fi
if [ ! -x "$peer" ]; then
    echo "VANTROVE_BENCH_TURBO=$peer is not an executable file: comparison skipped"
    exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vantrove-vs-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export HOME="$work/home" XDG_CACHE_HOME="$work/home/.cache" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME"

echo "processor: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; threads $threads; runs $runs; scale 1/$scale"
echo "peer: $peer"
[ -n "$classic" ] && echo "peak memory also against: $classic"

# make_file PATH BYTES SEED: pseudo-random, incompressible content.
make_file() {
    head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt -pass "pass:$3" -pbkdf2 2>/dev/null >"$1"
}

# time_one OUTFILE COMMAND...: appends "wall cpu peakKiB" of one run.
time_one() {
    out=$1
    shift
    status=0
    /usr/bin/time -f 'times %e %U %S %M' -o "$work/time.txt" "$@" >"$work/run.log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        echo "warning: exit status $status from: $*" >&2
        tail -n 3 "$work/run.log" >&2
    fi
    awk '$1 == "times" { printf "%.3f %.3f %d\n", $2, $3 + $4, $5 }' "$work/time.txt" >>"$out"
}

median() { # column of a file
    sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}

# compare NAME PREPARE OURS PEERS: PREPARE runs (untimed) before each run of
# either command; OURS and PEERS are command strings run in the job's folder.
compare() {
    name=$1 prepare=$2 ours=$3 theirs=$4
    : >"$work/ours.txt"
    : >"$work/peer.txt"
    i=0
    while [ "$i" -lt "$runs" ]; do
        sh -c "$prepare"
        sync
        time_one "$work/ours.txt" sh -c "$ours"
        sh -c "$prepare"
        sync
        time_one "$work/peer.txt" sh -c "$theirs"
        i=$((i + 1))
    done
    ow=$(median "$work/ours.txt" 1) oc=$(median "$work/ours.txt" 2) om=$(median "$work/ours.txt" 3)
    pw=$(median "$work/peer.txt" 1) pc=$(median "$work/peer.txt" 2) pm=$(median "$work/peer.txt" 3)
    awk -v n="$name" -v ow="$ow" -v oc="$oc" -v om="$om" -v pw="$pw" -v pc="$pc" -v pm="$pm" \
        -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
        printf "%-22s wall %7.2f s vs %7.2f s = %5.2f x | cpu %7.2f s vs %7.2f s = %5.2f x | peak %6.0f MiB vs %6.0f MiB = %5.2f x | load %s\n",
            n, ow, pw, ow / pw, oc, pc, (pc > 0 ? oc / pc : 0), om / 1024, pm / 1024, (pm > 0 ? om / pm : 0), load }'
    if [ -n "$classic" ]; then
        : >"$work/classic.txt"
        sh -c "$prepare"
        time_one "$work/classic.txt" timeout "$classic_seconds" sh -c "$classic ${theirs#"$peer "}"
        cm=$(median "$work/classic.txt" 3) cw=$(median "$work/classic.txt" 1)
        awk -v n="$name" -v om="$om" -v cm="$cm" -v cw="$cw" 'BEGIN {
            printf "%-22s peak %6.0f MiB vs %6.0f MiB of the second peer = %5.2f x (its wall %.1f s, one run)\n",
                n, om / 1024, cm / 1024, (cm > 0 ? om / cm : 0), cw }'
    fi
}

mib=1048576
T="-t$threads"

for job in $jobs; do
    d="$work/$job"
    mkdir -p "$d"
    cd "$d"
    case $job in
    a)
        size=$((128 * mib / scale))
        files=""
        for i in 0 1 2 3 4 5 6 7; do
            make_file "f$i.bin" "$size" "a$i"
            files="$files f$i.bin"
        done
        compare "a create -r10" "rm -f $d/set*.par2 $d/set*.PAR2" \
            "$cli create -s768000 -r10 -o $d/set $files" \
            "$peer c -q $T -s768000 -r10 set.par2 $files"
        rm -f "$d"/set*.par2 "$d"/set*.PAR2
        "$cli" create -s768000 -r15 -o "$d/set" $files >/dev/null
        mkdir -p keep
        cp f1.bin keep/
        compare "a verify" "rm -rf $XDG_CACHE_HOME/Vantrove" "$cli verify $d/set.par2" "$peer v -q $T set.par2"
        damage="rm -rf $XDG_CACHE_HOME/Vantrove $d/f0.bin $d/*.bin.*; cp $d/keep/f1.bin $d/f1.bin; \
            dd if=/dev/zero of=$d/f1.bin bs=4096 seek=$((size / 8192)) count=$((256 / scale)) conv=notrunc status=none"
        compare "a repair" "$damage" "$cli repair --no-trash $d/set.par2" "$peer r -q $T set.par2"
        ;;
    b)
        i=0
        # 2000 files of 104857 bytes on average, between about 50 and 150 KiB.
        while [ "$i" -lt 2000 ]; do
            make_file "s$i.bin" $(((52429 + (i * 7919) % 104857) / scale)) "b$i"
            i=$((i + 1))
        done
        compare "b create -r10" "rm -f $d/set*.par2 $d/set*.PAR2" \
            "$cli create -s768000 -r10 -o $d/set s*.bin" \
            "$peer c -q $T -s768000 -r10 set.par2 s*.bin"
        rm -f "$d"/set*.par2 "$d"/set*.PAR2
        "$cli" create -s768000 -r10 -o "$d/set" s*.bin >/dev/null
        compare "b verify" "rm -rf $XDG_CACHE_HOME/Vantrove" "$cli verify $d/set.par2" "$peer v -q $T set.par2"
        ;;
    c)
        make_file big.bin $((5120 * mib / scale)) c
        compare "c create -r1" "rm -f $d/set*.par2 $d/set*.PAR2" \
            "$cli create -s4000000 -r1 -o $d/set big.bin" \
            "$peer c -q $T -s4000000 -r1 set.par2 big.bin"
        rm -f "$d"/set*.par2 "$d"/set*.PAR2
        "$cli" create -s4000000 -r1 -o "$d/set" big.bin >/dev/null
        compare "c verify" "rm -rf $XDG_CACHE_HOME/Vantrove" "$cli verify $d/set.par2" "$peer v -q $T set.par2"
        ;;
    d)
        size=$((16 * mib / scale))
        for i in 0 1 2 3; do make_file "g$i.bin" "$size" "d$i"; done
        compare "d create -r10" "rm -f $d/set*.par2 $d/set*.PAR2" \
            "$cli create -b32768 -r10 -o $d/set g0.bin g1.bin g2.bin g3.bin" \
            "$peer c -q $T -b32768 -r10 set.par2 g0.bin g1.bin g2.bin g3.bin"
        rm -f "$d"/set*.par2 "$d"/set*.PAR2
        "$cli" create -b32768 -r10 -o "$d/set" g0.bin g1.bin g2.bin g3.bin >/dev/null
        mkdir -p keep
        cp g2.bin keep/
        damage="rm -rf $XDG_CACHE_HOME/Vantrove $d/*.bin.*; cp $d/keep/g2.bin $d/g2.bin; \
            dd if=/dev/zero of=$d/g2.bin bs=4096 seek=$((size / 16384)) count=$((768 / scale)) conv=notrunc status=none"
        compare "d repair" "$damage" "$cli repair --no-trash $d/set.par2" "$peer r -q $T set.par2"
        ;;
    *)
        echo "unknown job $job" >&2
        ;;
    esac
    cd "$work"
    rm -rf "$d"
done
