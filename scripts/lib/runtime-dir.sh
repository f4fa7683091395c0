# Sourced by the scripts that run the program or its tests. A headless session (CI, su, a
# container) has no runtime directory, and Qt would warn about it in every run: give this run one
# of its own, removed when the script ends.
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
