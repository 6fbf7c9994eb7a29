#!/bin/sh
# Installs a build into throw-away prefixes and checks the systemd user unit and
# the autostart entry that land there.
#   check_install.sh install  <build dir> <cmake>   what is installed where, and the paths inside
#   check_install.sh validate <build dir> <cmake>   desktop-file-validate and systemd-analyze verify
# Exit 77 means skipped.
set -eu

mode=$1
build=$2
cmake=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Exactly this line must be in the file.
has_line() {
    grep -Fxq -- "$2" "$1" || fail "$1 lacks the line: $2"
}

# A prefix with a blank, as in a home folder with one.
prefix="$work/the prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
binary="$prefix/bin/zanfiroWebLauncher"
unit="$prefix/share/systemd/user/zanfiroWebLauncher.service"
entry="$prefix/etc/xdg/autostart/zanfiroWebLauncher.desktop"

case "$mode" in
install)
    [ -x "$binary" ] || fail "no executable $binary"
    [ -f "$unit" ] || fail "no unit $unit"
    [ -f "$entry" ] || fail "no autostart entry $entry"
    has_line "$unit" "ExecStart=\"$binary\""
    has_line "$unit" "ExecStop=\"$binary\" -kill"
    has_line "$unit" "Restart=on-failure"
    has_line "$unit" "KillMode=process"
    has_line "$entry" "Exec=\"$binary\""

    # A packager's install: prefix /usr into a staging folder. The files name
    # the final path, never the staging one, and the autostart entry goes to
    # /etc/xdg/autostart.
    stage="$work/stage"
    DESTDIR="$stage" "$cmake" --install "$build" --prefix /usr >/dev/null
    [ -x "$stage/usr/bin/zanfiroWebLauncher" ] || fail "no staged binary"
    has_line "$stage/usr/share/systemd/user/zanfiroWebLauncher.service" 'ExecStart="/usr/bin/zanfiroWebLauncher"'
    has_line "$stage/etc/xdg/autostart/zanfiroWebLauncher.desktop" 'Exec="/usr/bin/zanfiroWebLauncher"'
    if grep -rqF "$stage" "$stage/usr/share" "$stage/etc"; then fail "the staging folder leaked into a file"; fi

    # Characters that mean something in the two formats.
    odd="$work/100% \$HOME"
    "$cmake" --install "$build" --prefix "$odd" >/dev/null
    has_line "$odd/share/systemd/user/zanfiroWebLauncher.service" "ExecStart=\"$work/100%% \$\$HOME/bin/zanfiroWebLauncher\""
    has_line "$odd/etc/xdg/autostart/zanfiroWebLauncher.desktop" "Exec=\"$work/100%% \\\\\$HOME/bin/zanfiroWebLauncher\""
    echo "installed files and their paths are right"
    ;;
validate)
    checked=0
    if command -v desktop-file-validate >/dev/null 2>&1; then
        desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
        echo "desktop-file-validate: ok"
        checked=$((checked + 1))
    else
        echo "desktop-file-validate not found: the autostart entry is not validated"
    fi
    if command -v systemd-analyze >/dev/null 2>&1; then
        # Offline check of the unit file: syntax, known settings, and that the
        # commands it names exist and are executable.
        out=$(systemd-analyze verify --man=no "$unit" 2>&1) || fail "systemd-analyze verify rejects $unit: $out"
        if printf '%s\n' "$out" | grep -F "zanfiroWebLauncher.service" | grep -qv "^$"; then
            fail "systemd-analyze verify complains about the unit: $out"
        fi
        echo "systemd-analyze verify: ok"
        checked=$((checked + 1))
    else
        echo "systemd-analyze not found: the systemd unit is not validated"
    fi
    [ "$checked" -gt 0 ] || exit 77
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
