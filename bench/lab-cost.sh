#!/usr/bin/env bash
# What the program costs on the kernel's own serial drivers, beside the naive program (one text
# update per byte, bench/labnaive.cpp), in the lab's guest: both read the simulated sensor at
# 3840 readings a second through the 16550A (ttyS1) and through the FTDI adapter (ttyUSB0), on
# the same X server, alternating run by run. CPU (user and system) and wake-ups (context
# switches of all its threads) come from /proc over S seconds. The guest is emulated: its
# seconds are not a PC's, so the ratios are the result.
#
# Runs in the guest only (scripts/test-lab --bench), which gives it the control line:
#   bench/lab-cost.sh BUILD CONTROL [RUNS] [SECONDS]   (defaults 3 runs, 10 s)
set -euo pipefail
build=$1
control=$2
runs=${3:-3}
seconds=${4:-10}
grep -q thermometer.lab= /proc/cmdline || { echo "lab-cost: only in the lab's guest" >&2; exit 2; }
exec 3<>"$control"

ask() {
    local reply
    echo "$*" >&3
    read -r reply <&3
    [[ "$reply" == ok* ]] || { echo "lab-cost: $* -> $reply" >&2; exit 1; }
}
ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
wakeups() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s}'; }

# measure WHICH DEVICE LINE: prints CPU in % of a core and wake-ups a second.
measure() {
    local which=$1 device=$2 line=$3 pid
    if [[ "$which" == program ]]; then
        QT_QPA_PLATFORM=xcb "$build/tests/lab/thermometer-lab" 2>/dev/null &
    else
        QT_QPA_PLATFORM=xcb "$build/tests/lab/thermometer-lab-naive" "$device" 2>/dev/null &
    fi
    pid=$!
    for _ in $(seq 600); do
        ls -l "/proc/$pid/fd" 2>/dev/null | grep -q " $device\$" && break
        sleep 0.1
    done
    ask feed "$line" --rate 3840
    sleep 2
    local t0 w0 t1 w1
    t0=$(ticks "$pid") w0=$(wakeups "$pid")
    sleep "$seconds"
    t1=$(ticks "$pid") w1=$(wakeups "$pid")
    ask stop "$line"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    awk -v t=$((t1 - t0)) -v w=$((w1 - w0)) -v s="$seconds" -v hz="$(getconf CLK_TCK)" \
        'BEGIN {printf "%.1f %.0f\n", 100 * t / hz / s, w / s}'
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "# line run program_cpu% program_wakeups/s naive_cpu% naive_wakeups/s"
for line in uart usb; do
    if [[ "$line" == uart ]]; then
        device=/dev/ttyS1
        ask unplug # the program would choose the adapter
    else
        device=/dev/ttyUSB0
        ask plug
        for _ in $(seq 300); do [[ -e $device ]] && break; sleep 0.1; done
        udevadm settle
    fi
    results=()
    for run in $(seq "$runs"); do
        if ((run % 2)); then
            program=$(measure program "$device" "$line")
            naive=$(measure naive "$device" "$line")
        else
            naive=$(measure naive "$device" "$line")
            program=$(measure program "$device" "$line")
        fi
        echo "$line $run $program $naive"
        results+=("$program $naive")
    done
    printf '%s\n' "${results[@]}" >"/tmp/lab-cost-$line"
done
echo "# medians, and the program's share of the naive program's"
for line in uart usb; do
    cpu=$(awk '{print $1}' "/tmp/lab-cost-$line" | median)
    wake=$(awk '{print $2}' "/tmp/lab-cost-$line" | median)
    ncpu=$(awk '{print $3}' "/tmp/lab-cost-$line" | median)
    nwake=$(awk '{print $4}' "/tmp/lab-cost-$line" | median)
    awk -v l="$line" -v c="$cpu" -v w="$wake" -v nc="$ncpu" -v nw="$nwake" 'BEGIN {
        printf "%s: program %.1f%% CPU, %.0f wake-ups/s; naive %.1f%%, %.0f/s; CPU %s, wake-ups %s\n",
            l, c, w, nc, nw, (nc > 0 ? sprintf("%.2f", c / nc) : "n/a"),
            (nw > 0 ? sprintf("%.2f", w / nw) : "n/a")}'
done
