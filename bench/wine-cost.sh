#!/usr/bin/env bash
# What the program costs under Wine beside its Linux build and beside the benchmark's naive program
# built for Windows, side by side on one machine: each reads the simulated sensor at 3840
# readings a second, one byte per write, shown on the same X server; CPU is read from /proc over
# a window of several seconds, for the Windows builds their process and Wine's server together
# (the server waits and reads for them). Several runs, the order turning; prints each run and the
# medians.
#
# Usage (under the Wine bed: scripts/test-windows --shell, or tests/wine/bed COMMAND):
#   bench/wine-cost.sh [BUILD] [--runs N] [--seconds S] [--idle]
#   BUILD: a Linux build configured with -DTHERMOMETER_WINDOWS_PROGRAM_DIR (as for
#   tst_faults_windows): its tests/thermometer-faults and the Windows build's
#   thermometer-faults.exe (and bench/thermometer-naive.exe beside its tests/, built with
#   -DTHERMOMETER_BENCH=ON) are measured, fed by its tools/sensor_sim/thermometer-sensor. Without
#   it, both are built in Release first, in build-wine-cost/ (Qt for Windows from
#   THERMOMETER_QT_WINDOWS, default /opt/qt-windows, where scripts/test-windows puts it).
#   --runs N (default 5), --seconds S measured per run (default 10).
#   --idle: the port open and nothing arriving, instead of the sensor's stream.
#   --before EXE: another Windows build of the program (an earlier commit's
#   thermometer-faults.exe, its port the same COM port) measured in every run too, beside the rest.
# The bed gives it the modem-line library, WINEPATH, an X server, and a /dev without ttyS*
# (Wine makes each a COM port). Needs xdotool.
set -euo pipefail
trap 'echo "wine-cost: failed at line $LINENO" >&2' ERR

build=
if [[ $# -gt 0 && "$1" != --* ]]; then
    build=$1
    shift
fi
runs=5
seconds=10
before_program=
rate=3840
while [[ $# -gt 0 ]]; do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    # A reading every 1000 s: the port is open and quiet throughout.
    --idle) rate=0.001; shift ;;
    --before) before_program=$(realpath "$2"); shift 2 ;;
    *) echo "wine-cost: unknown option $1" >&2; exit 2 ;;
    esac
done

if compgen -G '/dev/ttyS*' >/dev/null || [[ -z "${THERMOMETER_WINE_BED:-}" ]]; then
    echo "wine-cost: run it under tests/wine/bed (a /dev without ttyS*, which Wine makes COM ports)" >&2
    exit 2
fi

if [[ -z "$build" ]]; then
    checkout=$(cd "$(dirname "$0")/.." && pwd)
    qt=${THERMOMETER_QT_WINDOWS:-/opt/qt-windows}
    build=$checkout/build-wine-cost/linux
    windows_build=$checkout/build-wine-cost/windows
    echo "== both builds in Release: $windows_build (Qt $qt), $build" >&2
    cmake -G Ninja -S "$checkout" -B "$windows_build" -DCMAKE_BUILD_TYPE=Release \
        -DTHERMOMETER_BENCH=ON -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" >/dev/null
    cmake --build "$windows_build" -j2 --target thermometer-faults thermometer-naive >/dev/null
    cmake -G Ninja -S "$checkout" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DTHERMOMETER_WINDOWS_PROGRAM_DIR="$windows_build/tests" >/dev/null
    cmake --build "$build" -j2 --target thermometer-faults thermometer-sensor >/dev/null
fi

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
linux_program=$build/tests/thermometer-faults
link=$build/tests/faults-port
sensor=$build/tools/sensor_sim/thermometer-sensor
windows_program=$(cache THERMOMETER_WINDOWS_PROGRAM_DIR)/thermometer-faults.exe
naive_program=$(cache THERMOMETER_WINDOWS_PROGRAM_DIR)/../bench/thermometer-naive.exe
com_port=$(cache THERMOMETER_FAULTS_COM_PORT)
preload=$THERMOMETER_WINE_BED/lib/libmodemlines.so
for file in "$linux_program" "$sensor" "$windows_program" "$naive_program" "$preload" \
    ${before_program:+"$before_program"}; do
    [[ -f "$file" ]] || { echo "wine-cost: missing $file" >&2; exit 2; }
done

prefix=$(mktemp -d)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
wine_env() { LD_PRELOAD=$preload "$@"; }

sensor_pid=
program_pid=
finish() {
    [[ -n "$program_pid" ]] && kill "$program_pid" 2>/dev/null
    [[ -n "$sensor_pid" ]] && kill "$sensor_pid" 2>/dev/null
    wine_env wineserver -k 2>/dev/null || true
    wine_env wineserver -w 2>/dev/null || true
    rm -rf "$prefix"
}
trap finish EXIT

echo "== a Wine prefix with $com_port standing for $link" >&2
wine_env wine wineboot -i >/dev/null 2>&1
wine_env wine reg add 'HKLM\Software\Wine\Ports' /v "$com_port" /t REG_SZ /d "$link" /f >/dev/null
wine_env wineserver -k || true
wine_env wineserver -w

# CPU time of the processes given, user and system, in clock ticks.
ticks() {
    local pid sum=0 fields
    for pid in "$@"; do
        # One that has ended since counts nothing.
        read -ra fields 2>/dev/null <"/proc/$pid/stat" || continue
        # After "pid (comm)": the command holds no blank here; utime and stime are fields 14, 15.
        sum=$((sum + fields[13] + fields[14]))
    done
    echo "$sum"
}

# The prefix's wineserver, and Wine's own other processes in it (services, explorer...).
prefix_pids() {
    local want=$1 pid comm
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        [[ "$pid" == "$program_pid" || "$pid" == "$sensor_pid" ]] && continue
        { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix" \
            || continue
        comm=$(cat "/proc/$pid/comm" 2>/dev/null) || continue
        case "$want:$comm" in
        server:wineserver*) echo "$pid" ;;
        others:wineserver*) ;;
        others:*) echo "$pid" ;;
        esac
    done
}

# measure linux|windows|naive: sets cpu, server and others (% of one core: the program, Wine's server,
# Wine's other processes) and counter (what the counter box showed at the end).
measure() {
    local subject=$1 log window t0 p0 s0 o0 t1 p1 s1 o1
    local -a servers=() others_pids=()
    log=$(mktemp)
    rm -f "$link"
    "$sensor" --link "$link" --rate "$rate" >/dev/null 2>&1 &
    sensor_pid=$!
    for _ in $(seq 50); do [[ -e "$link" ]] && break; sleep 0.1; done
    local title='^Thermometer$'
    if [[ $subject == linux ]]; then
        QT_QPA_PLATFORM=xcb "$linux_program" 2>"$log" &
    elif [[ $subject == windows || $subject == before ]]; then
        local exe=$windows_program
        [[ $subject == before ]] && exe=$before_program
        # Not through a function: $! must be the program's own process (wine execs into it).
        LD_PRELOAD=$preload wine "$exe" 2>"$log" &
    else
        # It ends by itself, well after the measured window.
        LD_PRELOAD=$preload wine "$naive_program" "$com_port" $((seconds + 6)) 2>"$log" &
        title='^Baseline$'
    fi
    program_pid=$!
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "$title" | head -1)
    [[ -n "$window" ]] || { echo "wine-cost: no window from $subject: $(cat "$log")" >&2; exit 1; }
    # Past start-up, and what the first readings set going.
    sleep 3
    if [[ $subject != linux ]]; then
        mapfile -t servers < <(prefix_pids server)
        mapfile -t others_pids < <(prefix_pids others)
        [[ ${#servers[@]} -eq 1 ]] || { echo "wine-cost: ${#servers[@]} wineservers" >&2; exit 1; }
    fi
    t0=$(date +%s%N) p0=$(ticks "$program_pid") s0=$(ticks "${servers[@]}")
    o0=$(ticks "${others_pids[@]}")
    sleep "$seconds"
    t1=$(date +%s%N) p1=$(ticks "$program_pid") s1=$(ticks "${servers[@]}")
    o1=$(ticks "${others_pids[@]}")
    if [[ ${#others_pids[@]} -gt 0 ]]; then
        local pid
        for pid in "${others_pids[@]}"; do
            printf '%s:%s ' "$(cat "/proc/$pid/comm" 2>/dev/null)" "$(ticks "$pid")"
        done >&2
        echo "(Wine's other processes: CPU ticks since they started)" >&2
    fi
    [[ $subject == naive ]] || xdotool windowfocus --sync "$window" key alt+x
    if ! wait "$program_pid"; then
        echo "wine-cost: $subject ended with a failure: $(cat "$log")" >&2
        exit 1
    fi
    program_pid=
    kill "$sensor_pid"
    wait "$sensor_pid" 2>/dev/null || true
    sensor_pid=
    if [[ $subject != linux ]]; then
        wine_env wineserver -k 2>/dev/null || true
        wine_env wineserver -w
    fi
    if grep -q 'Run-time error' "$log"; then
        echo "wine-cost: $subject reported: $(cat "$log")" >&2
        exit 1
    fi
    counter=$(sed -n 's/^counter shown at exit: //p' "$log" | tr -d '\r')
    rm -f "$log"
    local hz
    hz=$(getconf CLK_TCK)
    read -r cpu server others < <(awk -v ns=$((t1 - t0)) -v hz="$hz" -v p=$((p1 - p0)) \
        -v s=$((s1 - s0)) -v o=$((o1 - o0)) \
        'BEGIN { t = ns / 1e9 / 100; printf "%.2f %.2f %.2f\n", p / hz / t, s / hz / t, o / hz / t }')
}

# The median of the numbers on standard input ("-", none to be had, left out).
median() {
    { grep -v '^-$' || true; } | sort -g | awk '{ v[NR] = $1 }
        END { if (NR == 0) print "-"; else print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

what=$([[ $rate == 3840 ]] && echo "3840 readings/s, one byte per write" || echo "idle: port open, nothing arriving")
echo "== $what; $runs runs of $seconds s, after 3 s of warm-up" >&2
echo "CPU, % of one core; counters: what each counter box showed at the end" >&2
printf '%-4s %-10s %-14s %-15s %-15s %-16s %-6s %-13s %-8s %s\n' run Linux Wine:program \
    Wine:wineserver Wine:together Wine:its_others ratio naive:together /naive counters
linux_all=() wine_all=() ratios=() naive_all=() naive_ratios=() before_all=() before_ratios=()
subjects=(linux windows naive ${before_program:+before})
for run in $(seq "$runs"); do
    # The order turns, so that none always meets the machine warmer.
    shift_by=$(((run - 1) % ${#subjects[@]}))
    order=("${subjects[@]:shift_by}" "${subjects[@]:0:shift_by}")
    for subject in "${order[@]}"; do
        measure "$subject"
        case $subject in
        linux) linux_cpu=$cpu linux_counter=$counter ;;
        windows) wine_cpu=$cpu wine_server=$server wine_others=$others wine_counter=$counter ;;
        naive) naive_total=$(awk -v p="$cpu" -v s="$server" 'BEGIN { printf "%.2f", p + s }')
            naive_counter=$counter ;;
        before) before_total=$(awk -v p="$cpu" -v s="$server" 'BEGIN { printf "%.2f", p + s }')
            before_counter=$counter ;;
        esac
    done
    if [[ -n "$before_program" ]]; then
        before_ratio=$(awk -v b="$before_total" -v n="$naive_total" \
            'BEGIN { print (n > 0 ? sprintf("%.3f", b / n) : "-") }')
        printf '     before: Wine (program + wineserver) %s %%, /naive %s, counter %s\n' \
            "$before_total" "$before_ratio" "$before_counter"
        before_all+=("$before_total") before_ratios+=("$before_ratio")
    fi
    read -r wine_total ratio naive_ratio < <(awk -v p="$wine_cpu" -v s="$wine_server" \
        -v l="$linux_cpu" -v n="$naive_total" 'BEGIN { printf "%.2f %s %s\n", p + s,
            (l > 0 ? sprintf("%.1f", (p + s) / l) : "-"), (n > 0 ? sprintf("%.3f", (p + s) / n) : "-") }')
    printf '%-4s %-10s %-14s %-15s %-15s %-16s %-6s %-13s %-8s %s\n' "$run" "$linux_cpu" \
        "$wine_cpu" "$wine_server" "$wine_total" "$wine_others" "$ratio" "$naive_total" \
        "$naive_ratio" "$linux_counter, $wine_counter, $naive_counter"
    linux_all+=("$linux_cpu") wine_all+=("$wine_total") ratios+=("$ratio")
    naive_all+=("$naive_total") naive_ratios+=("$naive_ratio")
done
printf 'median of %s runs: Linux %s %%, Wine (program + wineserver) %s %%, Wine / Linux %s\n' \
    "$runs" "$(printf '%s\n' "${linux_all[@]}" | median)" \
    "$(printf '%s\n' "${wine_all[@]}" | median)" "$(printf '%s\n' "${ratios[@]}" | median)"
printf '  the naive program under Wine (program + wineserver) %s %%, Thermometer / naive %s\n' \
    "$(printf '%s\n' "${naive_all[@]}" | median)" "$(printf '%s\n' "${naive_ratios[@]}" | median)"
if [[ -n "$before_program" ]]; then
    printf '  before (%s) under Wine (program + wineserver) %s %%, before / naive %s\n' \
        "$before_program" "$(printf '%s\n' "${before_all[@]}" | median)" \
        "$(printf '%s\n' "${before_ratios[@]}" | median)"
fi
