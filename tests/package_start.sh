#!/usr/bin/env bash
# Starts the installed package's program as a user would, on the offscreen platform, with a
# pseudo-terminal for its sensor, writes readings into it, and checks that the program takes them
# and stays up. Run as root by scripts/test-package in a clean root where the package, built
# with THERMOMETER_FIRST_SERIAL_PORT=/run/thermometer-pkgtest/port, and socat are installed.
# Usage: package_start.sh
set -euo pipefail
dir=/run/thermometer-pkgtest
port=$dir/port
program=/usr/bin/thermometer

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The program must open the link below and nothing else: a program that chose its own port here
# could open the machine's console.
[[ -x "$program" ]] || fail "the package did not install $program"
# The program holds the device as UTF-16 text (QStringLiteral).
utf16=$(sed 's/./&\\x00/g' <<<"$port")
grep -qaP "$utf16" "$program" || fail "$program is not built to open $port"

mkdir -p "$dir"
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT

# 1 MiB of readings: far more than the two terminals and socat hold (some 150 KiB), so that
# writing them ends only if the program reads them.
readings=$(mktemp)
head -c $((1024 * 1024)) /dev/urandom >"$readings"

# Two linked pseudo-terminals: the program's port, and a feed that socat copies into it.
socat pty,raw,echo=0,link="$port" pty,raw,echo=0,link="$dir/feed" 2>"$dir/socat.log" &
pids+=($!)
for _ in $(seq 50); do [[ -L "$port" && -L "$dir/feed" ]] && break; sleep 0.1; done
[[ -L "$port" && -L "$dir/feed" ]] || fail "socat made no pseudo-terminals: $(cat "$dir/socat.log")"
tty=$(readlink -f "$port")
[[ "$tty" == /dev/pts/* ]] || fail "$port is $tty, not a pseudo-terminal"

"$program" 2>"$dir/stderr" &
app=$!
pids+=("$app")
opened=false
for _ in $(seq 100); do
    for fd in /proc/"$app"/fd/*; do
        [[ "$(readlink "$fd" 2>/dev/null)" == "$tty" ]] && opened=true
    done
    $opened && break
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
$opened || fail "the program did not open $tty: $(cat "$dir/stderr")"

started=$(date +%s%N)
timeout 30 dd if="$readings" of="$dir/feed" bs=4096 status=none \
    || fail "the program did not take the readings: $(cat "$dir/stderr")"
milliseconds=$((($(date +%s%N) - started) / 1000000))
echo "the program took $(stat -c %s "$readings") bytes in $milliseconds ms"

sleep 2
kill -0 "$app" 2>/dev/null || fail "the program ended: $(cat "$dir/stderr")"
if grep -q 'Run-time error' "$dir/stderr"; then
    fail "the program reported an error: $(cat "$dir/stderr")"
fi
kill "$app"
wait "$app" 2>/dev/null || true
echo "the installed program ran on $tty and stayed up"
