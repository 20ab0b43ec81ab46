#!/bin/sh
# Installs the packages as a user would and has each installed program, on the X
# server that DISPLAY names, store a scanned count in the user's data folder:
# - the Debian package with apt-get, its menu entry and metainfo validated, the
#   program started as /usr/bin/quillmarch with a temporary HOME; then removed;
# - the Windows installer under Wine, silently (/S), in a Wine prefix of its own,
#   for the user, into the user's programs folder with a Start-menu shortcut; then
#   uninstalled silently.
# Removing either takes the program and leaves the count. Run as root, on a machine
# without the Debian package, which it leaves without it.
#   xvfb-run -a tests/packaging/check-packages.sh PACKAGE.deb SETUP.exe WORK-FOLDER
set -eu
deb=$(realpath "$1")
setup=$(realpath "$2")
work=$(realpath -m "$3")
fail() { echo "check-packages.sh: $*" >&2; exit 1; }
# Starts the program given, scans a count into its window, and waits for it in the stock.mdb of folder $data.
count() {
    "$@" < /dev/null > "$work/output.txt" 2>&1 &
    program=$!
    timeout 120 xdotool search --sync --onlyvisible --limit 1 --name '^Quillmarch::Main$' windowfocus --sync
    for label in ROW:A FINLOC CODE-1 QTY:5; do xdotool type --delay 20 "$label"; xdotool key Return; done
    for _ in $(seq 50); do [ "$(stored)" = "1|A|CODE-1|5" ] && return; sleep 0.2; done
    fail "the scanned count was stored in $data as '$(stored)'"
}
stored() { sqlite3 -readonly "$data/stock.mdb" "SELECT id, Location, StockCode, Quantity FROM Stock" 2> /dev/null; }
kept() { [ "$(stored)" = "1|A|CODE-1|5" ] || fail "$1 took the count"; }
dpkg-query -W quillmarch > /dev/null 2>&1 && fail "quillmarch is installed already; it is left as it is"
rm -rf "$work"
mkdir -p "$work"
export HOME="$work" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset XDG_DATA_HOME XDG_CONFIG_HOME
program=""
trap 'set +e; kill $program 2> /dev/null; apt-get remove -y -qq quillmarch > /dev/null 2>&1; wineserver -k 2> /dev/null; true' EXIT

apt-get install -y -qq "$deb" > /dev/null
desktop-file-validate /usr/share/applications/example.quillmarch.Quillmarch.desktop
appstreamcli validate --no-net /usr/share/metainfo/example.quillmarch.Quillmarch.metainfo.xml > /dev/null
data=$HOME/.local/share/quillmarch
count /usr/bin/quillmarch --mute
kill $program
wait $program 2> /dev/null || true
apt-get remove -y -qq quillmarch > /dev/null
[ ! -e /usr/bin/quillmarch ] || fail "removing the package left /usr/bin/quillmarch"
kept "removing the package"

wineboot --init > /dev/null 2>&1
folder() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')"; }
programs="$(folder LOCALAPPDATA)/Programs/Quillmarch"
shortcut="$(folder APPDATA)/Microsoft/Windows/Start Menu/Programs/Quillmarch.lnk"
data="$(folder LOCALAPPDATA)/Quillmarch"
wine "$setup" /S
[ -f "$shortcut" ] || fail "the installer made no Start-menu shortcut"
count wine "$programs/quillmarch.exe"
wineserver -k
# The uninstaller runs from a copy of itself, which wineserver -w waits for.
wine "$programs/Uninstall.exe" /S
wineserver -w
[ ! -e "$programs" ] || fail "the uninstaller left $(ls "$programs")"
[ ! -e "$shortcut" ] || fail "the uninstaller left the shortcut"
kept "the uninstaller"
echo "The Debian package and the Windows installer installed a program that stored a scanned count in the user's data folder; removing them left it."
