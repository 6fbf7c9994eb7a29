#!/bin/sh
# Makes (create) or removes (remove) the Wine prefix of one test run.
#   prefix.sh create|remove <prefix folder> [<wine command>]
set -eu
action=$1
WINEPREFIX=$2
wine=${3:-wine}
export WINEPREFIX
export WINEDEBUG=-all
# Nothing of the real user's: no menu entries, no links into their home.
export WINEDLLOVERRIDES=winemenubuilder.exe=d
export HOME="$WINEPREFIX.home"
wineserver=$(dirname "$(command -v "$wine")")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

case "$action" in
create)
    if [ -e "$WINEPREFIX" ]; then
        "$wineserver" -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    rm -rf "$HOME"
    mkdir -p "$HOME"
    "$(dirname "$(command -v "$wine")")/wineboot" -i
    "$wineserver" -w
    # What the tests rely on must be there.
    test -d "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
    test -d "$WINEPREFIX/drive_c/Program Files (x86)"
    ;;
remove)
    "$wineserver" -k 2>/dev/null || true
    # Wine keeps its server's lock in /tmp/wine-*/server-<device>-<inode of
    # the prefix>; it outlives the server, so it goes with the prefix.
    if [ -d "$WINEPREFIX" ]; then
        server=$(printf 'server-%x-%x' "0x$(stat -c %D "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
        for dir in /tmp/wine-*/"$server" /tmp/.wine-"$(id -u)"/"$server"; do
            [ -d "$dir" ] || continue
            rm -rf "$dir"
            rmdir "$(dirname "$dir")" 2>/dev/null || true
        done
    fi
    rm -rf "$WINEPREFIX" "$HOME"
    ;;
*)
    echo "usage: prefix.sh create|remove <prefix> [<wine>]" >&2
    exit 2
    ;;
esac
