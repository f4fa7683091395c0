#!/usr/bin/env bash
# Validates the metainfo as software centres read it, with appstreamcli's pedantic checks: fails
# on every note but those allowed below, and when the validator itself does not run.
# Usage: metainfo_valid.sh FILE           the metainfo file alone
#        metainfo_valid.sh --tree PREFIX  an installed tree: the metainfo and the desktop entry
#                                         that it launches
set -euo pipefail

# The notes allowed, and why:
# - url-homepage-missing (AppStream 1.x): the project has no public home page, and a made-up
#   address would send software centres' users nowhere;
# - unknown-tag developer (AppStream 0.16, Debian 12): it predates <developer>, which 1.x asks
#   for (developer-info-missing without it).
allowed=' (url-homepage-missing|unknown-tag developer)( |$)'

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

# One line a note: "W: net.halfdegree.thermometer:~: url-homepage-missing".
notes=$(grep -E '^ *[EWIP]: ' <<<"$report" || true)
if [[ $status -eq 3 && -z "$notes" ]]; then
    echo "FAIL: appstreamcli failed the metainfo without a note:" >&2
    echo "$report" >&2
    exit 1
fi
if grep -Ev "$allowed" <<<"$notes" | grep -q .; then
    echo "FAIL: notes beyond those allowed:" >&2
    echo "$report" >&2
    exit 1
fi
echo "valid ($(appstreamcli --version)); allowed notes:${notes:+$'\n'}$notes"
