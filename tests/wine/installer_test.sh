#!/usr/bin/env bash
# Installs the Windows installer silently into a fresh Wine prefix, checks what it put where,
# starts the installed program as a user would on a simulated sensor (COM5, the only serial port
# listed), checks that it takes the sensor's readings and shows one, then uninstalls silently and
# checks that nothing is left. Run as root inside the Debian 13 root for Windows work, entered
# with a /dev of its own (scripts/lib/enter-root --private-dev): Wine turns every /dev/ttyS* it
# sees into a COM port, and on this machine /dev/ttyS0 is the system console.
# Usage: installer_test.sh INSTALLER.exe [OUTPUT-DIR]   (screenshots and logs go to OUTPUT-DIR)
set -euo pipefail
installer=$(realpath "$1")
out=$(realpath -m "${2:-$(mktemp -d)}")
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# A failure that lets the test go on to the uninstall, which is worth knowing about either way.
failed=
fail_on() {
    echo "FAIL: $*" >&2
    failed=1
}

devices=$(cd /dev && echo *)
[[ "$devices" == "fd null ptmx pts random shm tty urandom zero" ]] \
    || fail "refusing to start Wine: /dev holds '$devices' (enter-root --private-dev gives it its own)"
[[ -f "$installer" ]] || fail "no installer at $installer"

work=$(mktemp -d)
line=/run/thermometer-installer # where COM5 and the sensor's end of the line are
mkdir -p "$line"
pids=()
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "${pids[@]}" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The pty has no modem lines, and Wine's wait for serial events gives up without them.
cc -shared -fPIC -O2 -o "$work/modemlines.so" "$here/modemlines.c" -ldl
export LD_PRELOAD="$work/modemlines.so"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The installed program must find every DLL in its own folder, as on a machine without Qt.
unset WINEPATH

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

wineboot -i >"$out/wineboot.log" 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$line/COM5" /f >/dev/null
wineserver -k # the ports are read when the next wineserver starts
wineserver -w
listed=$(wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' | tr -d '\r' \
    | awk '$2 == "REG_SZ" { print $3 }' | xargs)
[[ "$listed" == COM5 ]] || fail "Wine lists the serial ports '$listed', not COM5 alone"

echo "== install: $(basename "$installer") /S"
started=$SECONDS
wine "$installer" /S
wineserver -w
echo "installed in $((SECONDS - started)) s"
dir="$WINEPREFIX/drive_c/Program Files/Thermometer"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Thermometer"
for file in bin/thermometer.exe bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll \
    bin/Qt6SerialPort.dll bin/libstdc++-6.dll bin/libgcc_s_seh-1.dll bin/libwinpthread-1.dll \
    bin/platforms/qwindows.dll LICENSE.txt licenses/Qt.txt licenses/Qt-third-party.txt \
    licenses/LGPL-3.0-only.txt licenses/GPL-3.0-only.txt licenses/GPL-2.0-only.txt \
    Uninstall.exe; do
    [[ -f "$dir/$file" ]] || fail "the installer did not install $file"
done
compgen -G "$dir/bin/styles/*.dll" >/dev/null || fail "the installer installed no style plugin"
[[ -f "$menu/Thermometer.lnk" ]] || fail "no Start menu entry in $menu"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Thermometer'
wine reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1 \
    || fail "Windows does not list the program as installed ($uninstall_key)"
echo "installed: $(find "$dir" -type f | wc -l) files, $(du -sh "$dir" | cut -f1)"

# The sensor: a pty pair, COM5 at one end and the test at the other.
socat pty,raw,echo=0,link="$line/COM5" pty,raw,echo=0,link="$line/sensor" 2>"$out/socat.log" &
pids+=($!)
for _ in $(seq 50); do [[ -L "$line/COM5" && -L "$line/sensor" ]] && break; sleep 0.1; done
[[ -L "$line/sensor" ]] || fail "socat made no pseudo-terminals: $(cat "$out/socat.log")"

echo "== the installed program on COM5"
wine 'C:\Program Files\Thermometer\bin\thermometer.exe' >"$out/program.log" 2>&1 &
pids+=($!)
window=
for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name '^Thermometer$' 2>/dev/null | head -n 1) || true
    [[ -n "$window" ]] && break
    sleep 0.1
done
# The temperature box, inside its frame, as laid out in the window's client area; the pixels of
# text in it (darker than a light grey): none while it is empty, some 50 for "25 C", at most 13
# for the text cursor.
box=51x13+115+19
dark() {
    import -window "$window" "$out/$1.png"
    convert "$out/$1.png" -crop "$box" +repage -colorspace Gray -threshold 75% \
        -format '%[fx:round(w*h*(1-mean))]' info:
}
# 256 KiB of readings of 25 degrees (one byte, twice the temperature): more than the ptys and
# socat hold, so that writing them ends only if the program reads them.
head -c $((256 * 1024)) /dev/zero | tr '\0' '\062' >"$work/readings"
if [[ -z "$window" ]]; then
    fail_on "the program showed no window: $(cat "$out/program.log")"
else
    sleep 1
    before=$(dark before)
    started=$(date +%s%N)
    if timeout 20 dd if="$work/readings" of="$line/sensor" bs=4096 status=none; then
        echo "the program took 262144 bytes in $((($(date +%s%N) - started) / 1000000)) ms"
        sleep 1
        after=$(dark after)
        echo "text pixels in the temperature box: $before before the readings, $after after"
        ((after >= before + 30)) || fail_on "the temperature box shows no reading ($out/after.png)"
        xdotool search --onlyvisible --name '^Thermometer$' >/dev/null \
            || fail_on "the program's window is gone"
    else
        fail_on "the program did not take the readings"
    fi
fi
if grep -q '^thermometer:' "$out/program.log"; then
    fail_on "the program reported: $(tr -d '\r' <"$out/program.log")"
fi
wineserver -k
wineserver -w

echo "== uninstall: Uninstall.exe /S"
wine 'C:\Program Files\Thermometer\Uninstall.exe' /S
wineserver -w # the uninstaller runs on from a copy of itself and ends before it is done
[[ ! -e "$dir" ]] || fail "left behind in Program Files: $(cd "$dir" && find . | head)"
[[ ! -e "$menu" ]] || fail "the Start menu entry is left behind"
if wine reg query "$uninstall_key" >/dev/null 2>&1; then
    fail "Windows still lists the program as installed"
fi
echo "uninstalled without a trace"
[[ -z "$failed" ]] || fail "the installed program did not show the sensor's readings (above)"
echo "PASS: installed, showed a reading from COM5, uninstalled without a trace"
