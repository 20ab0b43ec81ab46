#!/bin/sh
# Runs a Qt Test program of the Windows build under Wine; the Windows build made
# on Linux runs every test through it (CTest's emulator, see windows.cmake):
#   wine-test.sh HOME DLL-FOLDER... -- PROGRAM [ARGUMENT...]
# HOME keeps Wine's files (made on the first run); the DLL folders are put on the
# program's path. Run as root, it runs the program as the user nobody, since Wine
# lets root write read-only files; where nobody cannot reach the build, as root
# without the power to override file permissions.
set -eu
home=$1 dlls=""
shift
while [ "$1" != "--" ]; do dlls="$dlls${dlls:+;}Z:$1" && shift; done
program=$2
shift 2

# Wine hands the program no QT_ variable of the environment, but a WINEQT_ one as QT_.
for name in $(env | sed -n 's/^\(QT_[A-Za-z0-9_]*\)=.*/\1/p'); do eval "export WINE$name=\"\$$name\""; done
# The offscreen platform's fonts: Wine's own (package fonts-wine), Tahoma among them.
export WINEQT_QPA_FONTDIR="${WINEQT_QPA_FONTDIR:-Z:/usr/share/wine/fonts}"
export WINEPATH="$dlls" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

as="" user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    as="setpriv --reuid=65534 --regid=65534 --clear-groups" user=nobody
    $as test -r "$program" || as="setpriv --bounding-set=-dac_override" user=$(id -un)
fi
export HOME="$home/$user" WINEPREFIX="$home/$user/prefix"
mkdir -p "$HOME"
[ "$user" = nobody ] && chown 65534:65534 "$HOME"
# The first run makes Wine's files; one at a time, should tests run side by side.
$as flock "$HOME/made" sh -c '[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1'

# Qt Test writes nothing to Wine's console: its results go to a file, shown afterwards.
results="$HOME/$(basename "$program" .exe)-$$.txt" status=0
$as wine "$program" "$@" -o "$results,txt" </dev/null || status=$?
cat "$results" 2>/dev/null || echo "wine-test.sh: $program left no results (status $status)"
rm -f "$results"
exit $status
