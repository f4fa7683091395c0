# shellcheck shell=bash
# Sourced by scripts/test-on and scripts/test-package: minimal Debian roots made with mmdebstrap,
# kept in a cache outside the checkout that every checkout on this machine shares.
#
# $THERMOMETER_ROOTS (default /var/cache/thermometer/roots), for each release:
#   RELEASE/base/     the minimal root, `mmdebstrap --variant=apt`; never changed once made
#   RELEASE/dev/      base with what scripts/install-deps' build, test and package groups name
#   RELEASE/windows/  dev with install-deps' windows group too (trixie alone: scripts/test-windows)
#   RELEASE/run/      the last run's changes over a root (an overlay's upper layer): the copied
#                     tree and its builds; emptied when the next run of the same kind starts
#   RELEASE/*.made    when and how each root was made
#   RELEASE.lock      held by a run (flock), so that two runs of one release wait for each other
# Roots older than $THERMOMETER_ROOT_MAX_DAYS days (default 7) are made anew, so that a run
# tests the release as a user installs it that week; dev and windows are made anew when
# scripts/install-deps changes or the root under them is made anew.

roots_cache=${THERMOMETER_ROOTS:-/var/cache/thermometer/roots}
roots_max_days=${THERMOMETER_ROOT_MAX_DAYS:-7}
# Unset, mmdebstrap's own choice: Debian's archive with the release's updates and security suites,
# as a user's system has them.
roots_mirror=${THERMOMETER_MIRROR:-}
roots_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

roots_die() {
    echo "$(basename "$0"): $*" >&2
    exit 2
}

# Runs the calling script again through sudo unless it runs as root: making a root, chroot and
# mounts need it.
roots_need_root() {
    [[ $(id -u) -eq 0 ]] && return 0
    command -v sudo >/dev/null \
        || roots_die "needs root (mmdebstrap, chroot and mounts): run it as root, or install sudo"
    echo "$(basename "$0") needs root (mmdebstrap, chroot and mounts): running it through sudo" >&2
    local keep=THERMOMETER_ROOTS,THERMOMETER_ROOT_MAX_DAYS,THERMOMETER_MIRROR,TERM
    keep+=,THERMOMETER_WINDOWS_SOURCES,THERMOMETER_QT_CACHE # scripts/test-windows'
    exec sudo --preserve-env="$keep" "$0" "$@"
}

roots_check_release() {
    case "$1" in
    bookworm | trixie | forky) ;;
    *) roots_die "unknown release '$1' (bookworm, trixie or forky)" ;;
    esac
}

# Takes RELEASE's lock on a new descriptor, held until the calling shell ends.
roots_lock() {
    local release=$1 fd
    mkdir -p "$roots_cache"
    exec {fd}>"$roots_cache/$release.lock"
    if ! flock -n "$fd"; then
        echo "== waiting for another run on $release to finish" >&2
        flock "$fd"
    fi
}

# Deletes a root or run directory, never while anything is mounted under it.
roots_remove() {
    local dir
    dir=$(realpath -m "$1")
    [[ -e "$dir" ]] || return 0
    local mounts
    mounts=$(findmnt -rn -o TARGET) # whole, then grep: an early grep -q would fail the pipe
    if grep -qE "^$dir(/|$)" <<<"$mounts"; then
        roots_die "refusing to delete $dir: something is mounted under it"
    fi
    rm -rf --one-file-system "$dir"
}

# Seconds since FILE was last written, or a very large number when it is missing.
roots_age() {
    if [[ -e "$1" ]]; then
        echo $(($(date +%s) - $(stat -c %Y "$1")))
    else
        echo 999999999
    fi
}

# Testing may already be signed with a key that came after this machine's keyring (a Debian 12
# host's debian-archive-keyring knows the keys up to trixie's). Stable's keyring package learns
# the next release's keys first, in a point release: for forky, take it from the trixie root,
# itself made with keys this machine trusts, and give it to mmdebstrap beside the machine's own.
roots_forky_keyrings() {
    local keys="$roots_cache/forky/keyrings"
    mkdir -p "$keys"
    (
        roots_lock trixie
        roots_base trixie
        cp "$roots_cache/trixie/base/usr/share/keyrings/debian-archive-keyring.gpg" \
            "$keys/trixie-debian-archive-keyring.gpg"
    )
}

# Makes RELEASE's minimal root unless a recent one exists. The caller holds RELEASE's lock.
roots_base() {
    local release=$1
    local dir="$roots_cache/$release"
    local stamp="$dir/base.made"
    if [[ -d "$dir/base" && $(roots_age "$stamp") -lt $((roots_max_days * 86400)) ]]; then
        return 0
    fi
    echo "== making a minimal $release root in $dir/base (mmdebstrap --variant=apt)" >&2
    mkdir -p "$dir"
    local options=(--variant=apt)
    # Testing's Release file on the mirror can be past its Valid-Until date (a mirror that lags,
    # or a snapshot): accepted for testing alone, where only a build is at stake. The option
    # stays in the root's apt configuration, for its own apt-get update.
    if [[ "$release" == forky ]]; then
        options+=(--aptopt='Acquire::Check-Valid-Until "false"')
        roots_forky_keyrings
        options+=(--keyring="$roots_cache/forky/keyrings" --keyring=/etc/apt/trusted.gpg.d)
        [[ -f /usr/share/keyrings/debian-archive-keyring.gpg ]] \
            && options+=(--keyring=/usr/share/keyrings/debian-archive-keyring.gpg)
    fi
    roots_remove "$dir/base.new"
    local started=$SECONDS
    local mirror=()
    [[ -n "$roots_mirror" ]] && mirror=("$roots_mirror")
    mmdebstrap "${options[@]}" "$release" "$dir/base.new" "${mirror[@]}" >&2
    rm -f "$stamp" "$dir/dev.made"
    roots_remove "$dir/base"
    mv "$dir/base.new" "$dir/base"
    printf 'mmdebstrap %s %s %s\nin %d s on %s\n' "${options[*]}" "$release" "${mirror[*]}" \
        $((SECONDS - started)) "$(date -u)" >"$stamp"
    echo "== made the $release root in $((SECONDS - started)) s" >&2
}

# Makes RELEASE's root NAME, the root FROM with the packages of scripts/install-deps' GROUPS,
# unless a current one exists: newer than FROM and made with this install-deps. The caller holds
# RELEASE's lock. CHECKOUT gives scripts/install-deps; WHAT names the root in messages.
# Usage: roots_layer RELEASE CHECKOUT NAME FROM WHAT GROUP...
roots_layer() {
    local release=$1 checkout=$2 name=$3 from=$4 what=$5
    shift 5
    local dir="$roots_cache/$release"
    local deps
    deps="install-deps $(sha256sum <"$checkout/scripts/install-deps" | cut -d' ' -f1)"
    if [[ -d "$dir/$name" && -f "$dir/$name.made" && "$dir/$name.made" -nt "$dir/$from.made" ]] \
        && [[ "$(head -n 1 "$dir/$name.made")" == "$deps" ]]; then
        return 0
    fi
    echo "== making the $release $what in $dir/$name (apt's output in $name.log)" >&2
    local started=$SECONDS
    roots_remove "$dir/$name.new"
    cp -a "$dir/$from" "$dir/$name.new"
    # The checkout's own list of packages, passed as a script so that nothing of it stays behind.
    local script
    script=$(cat "$checkout/scripts/install-deps")
    if ! {
        "$roots_lib/enter-root" "$dir/$name.new" /bin/bash -c "$script" install-deps "$@" \
            && "$roots_lib/enter-root" "$dir/$name.new" apt-get clean
    } >"$dir/$name.log" 2>&1; then
        tail -n 20 "$dir/$name.log" >&2
        roots_die "could not install the packages into the $release $what (see $dir/$name.log)"
    fi
    rm -f "$dir/$name.made"
    roots_remove "$dir/$name"
    mv "$dir/$name.new" "$dir/$name"
    printf '%s\nin %d s on %s\n' "$deps" $((SECONDS - started)) "$(date -u)" >"$dir/$name.made"
    echo "== made the $release $what in $((SECONDS - started)) s" >&2
}

# Makes RELEASE's development root (base and the packages for building, testing and packaging)
# unless a current one exists. The caller holds RELEASE's lock. CHECKOUT gives
# scripts/install-deps.
roots_dev() {
    roots_base "$1"
    roots_layer "$1" "$2" dev base "development root" build test package
}

# Makes RELEASE's root for the Windows build (dev and install-deps' windows group) unless a
# current one exists. The caller holds RELEASE's lock. CHECKOUT gives scripts/install-deps.
roots_windows() {
    roots_dev "$1" "$2"
    roots_layer "$1" "$2" windows dev "root for Windows work" windows
}

# Empties RELEASE's run directory NAME (test, package): the last such run's changes.
roots_new_run() {
    local dir="$roots_cache/$1/run/$2"
    roots_remove "$dir"
    mkdir -p "$dir"
}

# Makes the directories of an overlay in RELEASE's run directory NAME and prints them: upper
# (this run's changes), work, and the root as the run sees it.
roots_overlay() {
    local run="$roots_cache/$1/run/$2"
    mkdir -p "$run/upper" "$run/work" "$run/root"
    echo "$run/upper" "$run/work" "$run/root"
}

# Copies the sources of the git checkout CHECKOUT into DEST: tracked files as the working tree
# has them, and untracked files that .gitignore does not exclude; never build directories.
roots_copy_tree() {
    local checkout=$1 dest=$2
    # safe.directory: through sudo, root reads a checkout that another user owns.
    git -c safe.directory='*' -C "$checkout" rev-parse --show-toplevel >/dev/null 2>&1 \
        || roots_die "$checkout is not a git checkout: test-on copies the files git knows"
    mkdir -p "$dest"
    git -c safe.directory='*' -C "$checkout" ls-files -z --cached --others --exclude-standard \
        | while IFS= read -r -d '' file; do
            [[ "$file" == build*/* ]] && continue
            [[ -e "$checkout/$file" || -L "$checkout/$file" ]] && printf '%s\0' "$file"
        done \
        | tar -C "$checkout" --null --no-recursion -T - -cf - | tar -C "$dest" -xf -
}
