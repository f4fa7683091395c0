#!/usr/bin/env bash
# Validates the metainfo as software centres read it, with appstreamcli's pedantic checks, and
# fails on every note it makes but those below, and when the validator itself does not run.
# Usage: metainfo_valid.sh FILE           the metainfo file alone
#        metainfo_valid.sh --tree PREFIX  an installed tree: the metainfo and the desktop entry
#                                         that it launches
set -euo pipefail

# The notes allowed, as "tag hint" (hint * for any), and why:
allowed=(
    # AppStream 1.x asks for a home page; the project has no public one, and a made-up address
    # would send software centres' users nowhere.
    "url-homepage-missing *"
    # AppStream 0.16 (Debian 12) predates <developer>, which 1.x asks for (developer-info-missing
    # without it) in place of <developer_name>.
    "unknown-tag developer"
)

if [[ "${1:-}" == "--tree" ]]; then
    command=(validate-tree --no-net --pedantic "$2")
else
    command=(validate --no-net --pedantic "$1")
fi

status=0
report=$(appstreamcli "${command[@]}" 2>&1) || status=$?
# 0 passed, 3 failed on a note. Another status, or a report without its verdict (appstreamcli
# 0.16 says a missing file "does not exist" and exits 0), is the validator not running.
if [[ $status -ne 0 && $status -ne 3 ]] \
    || ! grep -Eq 'Validation (was successful|failed)' <<<"$report"; then
    echo "FAIL: appstreamcli ${command[*]} did not run (status $status):" >&2
    echo "$report" >&2
    exit 1
fi

# One "tag hint" line per note: "W: net.halfdegree.thermometer:~: url-homepage-missing".
notes=$(sed -nE 's/^ *[EWIP]: [^ ]+ ([^ ]+)( (.*))?$/\1 \3/p' <<<"$report")
if [[ $status -eq 3 && -z "$notes" ]]; then
    echo "FAIL: appstreamcli failed the metainfo without a note:" >&2
    echo "$report" >&2
    exit 1
fi

failures=0
while read -r tag hint; do
    [[ -n "$tag" ]] || continue
    ok=false
    for entry in "${allowed[@]}"; do
        read -r allowed_tag allowed_hint <<<"$entry"
        if [[ "$tag" == "$allowed_tag" && ("$allowed_hint" == "*" || "$hint" == "$allowed_hint") ]]
        then
            ok=true
        fi
    done
    if $ok; then
        echo "allowed: $tag $hint"
    else
        echo "FAIL: $tag $hint" >&2
        failures=$((failures + 1))
    fi
done <<<"$notes"

if [[ $failures -ne 0 ]]; then
    echo "$report" >&2
    exit 1
fi
echo "valid ($(appstreamcli --version))"
