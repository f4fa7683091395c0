#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks that each file lands where a desktop looks
# for it, that the files name each other consistently, and that nothing else is installed.
# Usage: install_layout.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
id=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

expected=$(printf '%s\n' \
    bin/thermometer \
    "share/applications/$id.desktop" \
    share/doc/thermometer/LICENSE \
    "share/icons/hicolor/scalable/apps/$id.svg" \
    "share/metainfo/$id.metainfo.xml" | sort)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
if [[ "$actual" != "$expected" ]]; then
    fail "installed files differ from the expected set:"
    diff <(echo "$expected") <(echo "$actual") >&2 || true
fi

[[ -x "$prefix/bin/thermometer" ]] || fail "bin/thermometer is not executable"

desktop="$prefix/share/applications/$id.desktop"
if [[ -f "$desktop" ]]; then
    # The desktop finds the icon by this name in the icon theme, and runs Exec from PATH.
    grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's Icon is not $id"
    grep -qx "Exec=thermometer" "$desktop" || fail "the desktop entry does not run thermometer"
fi

icon="$prefix/share/icons/hicolor/scalable/apps/$id.svg"
if [[ -f "$icon" ]]; then
    xmllint --noout "$icon" || fail "the icon is not well-formed XML"
    grep -q '<svg' "$icon" || fail "the icon is not an SVG image"
fi

# Checks that the metainfo's launchable names a desktop entry present in the same tree.
"$(dirname "$0")/metainfo_valid.sh" --tree "$prefix" >/dev/null || fail "the tree's metainfo"

if [[ $failures -ne 0 ]]; then
    echo "$failures failed" >&2
    exit 1
fi
echo "installed layout under $prefix is as expected"
