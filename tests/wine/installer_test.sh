#!/usr/bin/env bash
# Installs the Windows installer silently into a fresh Wine prefix, for everyone and then for the
# current user alone (twice, the second replacing the first), and checks each time what it put
# where: the program's folder, Start menu entry and entry in the list of installed programs of
# that kind, the icon and version details of the program, its uninstaller and the installer.
# Each time it starts the installed program as a user would on a simulated sensor (COM5, the
# only serial port listed), in one of Qt's two Windows styles, checks that it takes the sensor's
# readings and shows one, then uninstalls silently and checks that nothing is left. Run as root
# inside the Debian 13 root for Windows work, entered with a /dev of its own
# (scripts/lib/enter-root --private-dev): Wine turns every /dev/ttyS* it sees into a COM port,
# and on this machine /dev/ttyS0 is the system console.
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

# Xvfb picks a free display itself: X's abstract sockets are the machine's, not the root's, so a
# number chosen here may be another server's. -noreset: no reset while Wine's desktop connects.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$out/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
[[ -s "$work/display" ]] || fail "Xvfb did not start: $(cat "$out/xvfb.log")"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

wineboot -i >"$out/wineboot.log" 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$line/COM5" /f >/dev/null
wineserver -k # the ports are read when the next wineserver starts
wineserver -w
listed=$(wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' | tr -d '\r' \
    | awk '$2 == "REG_SZ" { print $3 }' | xargs)
[[ "$listed" == COM5 ]] || fail "Wine lists the serial ports '$listed', not COM5 alone"

release=$(basename "$installer" | sed -n 's/^thermometer-\([0-9.]*\)-win64\.exe$/\1/p')
[[ -n "$release" ]] || fail "the installer's name $(basename "$installer") gives no version"

# reg_value KEY NAME: a value in Wine's registry, empty when it is not there.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# unix_path WINDOWS-PATH
unix_path() {
    realpath -m "$(winepath -u "$1" 2>/dev/null)"
}
# icon_sizes FILE: the sizes of the images in the first icon of FILE's resources.
icon_sizes() {
    local name
    name=$(wrestool --list --type=14 "$1" | sed -n "1s/.*--name=\([^ ]*\).*/\1/p" | tr -d "'")
    [[ -n "$name" ]] || return 0
    wrestool --extract --type=14 --name="$name" "$1" >"$work/icon.ico"
    icotool --list "$work/icon.ico" | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | sort -nu | xargs
}
# version_string FILE KEY: a text of FILE's version details (UTF-16, key then value).
version_string() {
    wrestool --extract --raw --type=16 "$1" | strings -el | awk -v key="$2" 'found { print; exit }
        $0 == key { found = 1 }'
}
# fixed_version FILE: the file version in FILE's version details as numbers, which Explorer
# shows: the four 16-bit halves after the details' signature 0xfeef04bd.
fixed_version() {
    local offset
    wrestool --extract --raw --type=16 "$1" >"$work/version.bin"
    offset=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$work/version.bin" | head -n 1 | cut -d: -f1)
    [[ -n "$offset" ]] || return 0
    od -An -tu2 -j $((offset + 8)) -N 8 "$work/version.bin" | awk '{ print $2 "." $1 "." $4 "." $3 }'
}

# The installer itself: its icon, and "highest" in its manifest, so that it runs without an
# administrator for a user who is none.
sizes="16 24 32 48 64 256"
[[ "$(icon_sizes "$installer")" == "$sizes" ]] \
    || fail "the installer's icon has the sizes '$(icon_sizes "$installer")', not '$sizes'"
level=$(wrestool --extract --raw --type=24 "$installer" | grep -o 'level="[A-Za-z]*"' || true)
[[ "$level" == 'level="highestAvailable"' ]] || fail "the installer's manifest asks for $level"

installed=(bin/thermometer.exe bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll
    bin/Qt6SerialPort.dll bin/libstdc++-6.dll bin/libgcc_s_seh-1.dll bin/libwinpthread-1.dll
    bin/platforms/qwindows.dll LICENSE.txt licenses/Qt.txt licenses/Qt-third-party.txt
    licenses/LGPL-3.0-only.txt licenses/GPL-3.0-only.txt licenses/GPL-2.0-only.txt Uninstall.exe)
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Thermometer'
user_data=$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
user_roaming=$(wine cmd /c 'echo %APPDATA%' | tr -d '\r')

# install KIND: installs silently for AllUsers or the CurrentUser, and checks where everything
# went: the folder, the Start menu entry, the entry in that kind's list of installed programs,
# and nothing in the other kind's. Sets dir, menu, key.
install() {
    local kind=$1 programs other
    if [[ "$kind" == AllUsers ]]; then
        programs="$WINEPREFIX/drive_c/Program Files"
        menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Thermometer.lnk"
        key="HKLM\\$uninstall_key" other="HKCU\\$uninstall_key"
    else
        programs="$(unix_path "$user_data")/Programs"
        menu="$(unix_path "$user_roaming")/Microsoft/Windows/Start Menu/Programs/Thermometer.lnk"
        key="HKCU\\$uninstall_key" other="HKLM\\$uninstall_key"
    fi
    echo "== install for $kind: $(basename "$installer") /S /$kind"
    local started=$SECONDS
    wine "$installer" /S "/$kind"
    wineserver -w
    echo "installed in $((SECONDS - started)) s"
    dir=$(unix_path "$(reg_value "$key" InstallLocation)")
    [[ "$dir" == "$(realpath -m "$programs/Thermometer")" ]] \
        || fail "installed for $kind in '$dir', not in $programs/Thermometer"
    local file
    for file in "${installed[@]}"; do
        [[ -f "$dir/$file" ]] || fail "the installer did not install $file"
    done
    compgen -G "$dir/bin/styles/*.dll" >/dev/null || fail "the installer installed no style plugin"
    [[ -f "$menu" ]] || fail "no Start menu entry at $menu"
    ! wine reg query "$other" >/dev/null 2>&1 || fail "an install for $kind wrote $other"

    # The list of installed programs shows the version, publisher, icon and size; Explorer's
    # Details tab the program's icon and version details.
    local exe="$dir/bin/thermometer.exe" copyright company
    copyright=$(grep -m 1 '^Copyright ' "$dir/LICENSE.txt" | tr -d '\r')
    company=$(version_string "$exe" CompanyName)
    local -A expected=([DisplayName]=Thermometer [DisplayVersion]="$release" [Publisher]="$company"
        [DisplayIcon]="$(reg_value "$key" InstallLocation)\\bin\\thermometer.exe,0")
    local name
    for name in "${!expected[@]}"; do
        [[ "$(reg_value "$key" "$name")" == "${expected[$name]}" ]] \
            || fail "$key: $name is '$(reg_value "$key" "$name")', not '${expected[$name]}'"
    done
    (($(reg_value "$key" EstimatedSize) > 1000)) || fail "$key: EstimatedSize is too small"
    [[ "$(icon_sizes "$exe")" == "$sizes" ]] \
        || fail "thermometer.exe's icon has the sizes '$(icon_sizes "$exe")', not '$sizes'"
    [[ "$(icon_sizes "$dir/Uninstall.exe")" == "$sizes" ]] || fail "the uninstaller has no icon"
    expected=([ProductName]=Thermometer [FileVersion]="$release" [ProductVersion]="$release"
        [LegalCopyright]="$copyright" [OriginalFilename]=thermometer.exe)
    for name in "${!expected[@]}"; do
        [[ "$(version_string "$exe" "$name")" == "${expected[$name]}" ]] \
            || fail "thermometer.exe's $name is '$(version_string "$exe" "$name")', not '${expected[$name]}'"
    done
    [[ -n "$company" && -n "$(version_string "$exe" FileDescription)" ]] \
        || fail "thermometer.exe's version details name no company or description"
    [[ "$(fixed_version "$exe")" == "$release.0" ]] \
        || fail "thermometer.exe's file version is '$(fixed_version "$exe")', not $release.0"
    echo "installed: $(find "$dir" -type f | wc -l) files, $(du -sh "$dir" | cut -f1)"
}

# uninstall: the silent uninstall that the list of installed programs names, then nothing left.
uninstall() {
    local quiet exe
    quiet=$(reg_value "$key" QuietUninstallString)
    exe=${quiet#\"}
    exe=${exe%%\"*}
    echo "== uninstall: $quiet"
    # shellcheck disable=SC2086 # the switches after the program's quoted path
    wine "$exe" ${quiet##*\"}
    wineserver -w # the uninstaller runs on from a copy of itself and ends before it is done
    [[ ! -e "$dir" ]] || fail "left behind: $(cd "$dir" && find . | head)"
    [[ ! -e "$menu" ]] || fail "the Start menu entry is left behind"
    ! wine reg query "$key" >/dev/null 2>&1 || fail "Windows still lists the program ($key)"
    echo "uninstalled without a trace"
}

# The sensor: a pty pair, COM5 at one end and the test at the other.
socat pty,raw,echo=0,link="$line/COM5" pty,raw,echo=0,link="$line/sensor" 2>"$out/socat.log" &
pids+=($!)
for _ in $(seq 50); do [[ -L "$line/COM5" && -L "$line/sensor" ]] && break; sleep 0.1; done
[[ -L "$line/sensor" ]] || fail "socat made no pseudo-terminals: $(cat "$out/socat.log")"

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

# run_program STYLE: the installed program as a user starts it, in one of Qt's Windows styles,
# recording (Alt+T) while the sensor's readings come; screenshots STYLE-before.png and
# STYLE-recording.png.
run_program() {
    local style=$1 log="$out/program-$1.log"
    echo "== the installed program on COM5, style $style"
    WINEQT_FORCE_STDERR_LOGGING=1 wine "$dir/bin/thermometer.exe" -style "$style" >"$log" 2>&1 &
    pids+=($!)
    window=
    # The first window in a new prefix, on a machine new to Wine, takes far longer than any
    # later one (Wine's caches, the DLLs read from disk): up to four minutes, and said how long.
    local waited=$SECONDS
    for _ in $(seq 2400); do
        window=$(xdotool search --onlyvisible --name '^Thermometer$' 2>/dev/null | head -n 1) \
            || true
        [[ -n "$window" ]] && break
        sleep 0.1
    done
    if [[ -z "$window" ]]; then
        fail_on "the program showed no window in $((SECONDS - waited)) s: $(tr -d '\r' <"$log")"
    else
        echo "the program showed its window after $((SECONDS - waited)) s"
        sleep 1
        local before after started
        before=$(dark "$style-before")
        # No window manager here: the window takes the keyboard once it is focused.
        xdotool windowfocus --sync "$window"
        xdotool key alt+t
        started=$(date +%s%N)
        if timeout 20 dd if="$work/readings" of="$line/sensor" bs=4096 status=none; then
            echo "the program took 262144 bytes in $((($(date +%s%N) - started) / 1000000)) ms"
            sleep 1
            after=$(dark "$style-recording")
            echo "text pixels in the temperature box: $before before the readings, $after after"
            ((after >= before + 30)) \
                || fail_on "the temperature box shows no reading ($out/$style-recording.png)"
            xdotool search --onlyvisible --name '^Thermometer$' >/dev/null \
                || fail_on "the program's window is gone"
        else
            fail_on "the program did not take the readings"
        fi
    fi
    if grep -q '^thermometer:' "$log"; then
        fail_on "the program reported: $(tr -d '\r' <"$log")"
    fi
    if grep -qi 'invalid style' "$log"; then
        fail_on "Qt did not take the style $style: $(tr -d '\r' <"$log")"
    fi
    wineserver -k
    wineserver -w
}

install AllUsers
run_program windowsvista
uninstall
install CurrentUser
# Installing again replaces the install of the same kind, which its own uninstaller removes.
install CurrentUser
run_program windows11
uninstall
[[ -z "$failed" ]] || fail "the installed program did not show the sensor's readings (above)"
echo "PASS: installed for everyone and for the user alone, showed a reading from COM5 in both" \
    "Windows styles, uninstalled without a trace"
