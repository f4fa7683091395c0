#!/usr/bin/env bash
# Builds the .deb from a build directory and checks what dpkg will see: the Qt runtime
# libraries among its dependencies, and the program and its desktop files under /usr.
# Usage: package_depends.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
id=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 \
    || { cat "$out/cpack.log" >&2; exit 1; }
debs=("$out"/*.deb)
[[ -f "${debs[0]}" && ${#debs[@]} -eq 1 ]] || { echo "FAIL: expected one .deb in $out" >&2; exit 1; }
deb=${debs[0]}

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6serialport6; do
    # Names are separated by ", " and may carry a version: "libqt6widgets6 (>= 6.1.2)".
    grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library: $depends"
done
[[ -n "$(dpkg-deb -f "$deb" Maintainer)" ]] || fail "no Maintainer"
[[ "$(dpkg-deb -f "$deb" Package)" == thermometer ]] || fail "the package is not named thermometer"
# Linked against this release's libraries, the package says so in its name.
debian=$(. /etc/os-release && if [[ "${ID:-}" == debian ]]; then echo "${VERSION_ID:-}"; fi)
if [[ -n "$debian" && "$(basename "$deb")" != *"~deb${debian}_"* ]]; then
    fail "$(basename "$deb") does not name Debian $debian"
fi

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/thermometer "./usr/share/applications/$id.desktop" \
    "./usr/share/icons/hicolor/scalable/apps/$id.svg" "./usr/share/metainfo/$id.metainfo.xml"; do
    grep -qx -- "$path" <<<"$contents" || fail "the package lacks $path"
done

if [[ $failures -ne 0 ]]; then
    echo "$failures failed" >&2
    exit 1
fi
echo "$(basename "$deb"): Depends: $depends"
