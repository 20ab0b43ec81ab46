#!/bin/sh
# Starts the program of the Windows release folder under Wine, on the X server
# that DISPLAY names, as an operator would, from a folder named beyond ASCII:
# it answers --version; on its first start it makes stock.mdb and stores a
# scanned count, heard as its tones, which --export writes to a file named beyond
# ASCII; a stock.mdb that is no database it refuses with its box, the error line
# and status 1, leaving the file as it was.
#   xvfb-run -a cmake/check-windows-release.sh RELEASE-FOLDER WORK-FOLDER
set -eu
release=$(realpath "$1")
work=$(realpath -m "$2")
fail() {
    echo "check-windows-release.sh: $*" >&2
    exit 1
}

rm -rf "$work"
folder="$work/Größe-数量 count"
mkdir -p "$folder"
cp -r "$release/." "$folder"
export HOME="$work" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
# Wine's Windows audio plays into ALSA, whose device here writes what it plays to a file.
played="$work/played.raw"
printf 'pcm.!default { type file slave.pcm null file "%s" format raw }\n' "$played" > "$HOME/.asoundrc"
wineboot --init > /dev/null 2>&1
cd "$folder"
trap 'wineserver -k 2> /dev/null || true' EXIT

version=$(wine quillmarch.exe --version < /dev/null)
case $version in
"Quillmarch Version: "*) ;;
*) fail "--version printed '$version'" ;;
esac

heard() { [ -f "$played" ] && [ -n "$(tr -d '\000' < "$played" | head -c 1)" ]; }
# Types each label into the window, ended with Enter, as a keyboard-wedge scanner does.
scan() {
    for label in "$@"; do
        xdotool type --delay 20 "$label"
        xdotool key Return
    done
}
start() {
    wine quillmarch.exe < /dev/null > "$work/output.txt" 2>&1 &
    program=$!
    window=$(timeout 120 xdotool search --sync --onlyvisible --name "$1" | head -n 1) || fail "no window '$1'"
    xdotool windowfocus --sync "$window"
}

start '^Quillmarch::Main$'
scan ROW:A FINLOC CODE-1 QTY:5
counts=""
for _ in $(seq 50); do
    counts=$(sqlite3 -readonly stock.mdb "SELECT id, Location, StockCode, Quantity FROM Stock" 2> /dev/null || true)
    [ -n "$counts" ] && break
    sleep 0.2
done
[ "$counts" = "1|A|CODE-1|5" ] || fail "the scanned count was stored as '$counts'"
for _ in $(seq 50); do heard && break; sleep 0.2; done
heard || fail "no tone was played"
wineserver -k

printf 'id,Location,StockCode,Quantity\r\n1,A,CODE-1,5\r\n' > "$work/expected.csv"
wine quillmarch.exe --export counts-Größe.csv < /dev/null > "$work/output.txt" 2>&1 \
    || fail "--export failed: $(cat "$work/output.txt")"
cmp -s counts-Größe.csv "$work/expected.csv" || fail "--export wrote '$(cat counts-Größe.csv 2>&1)'"

rm -f stock.mdb "$played"
head -c 4096 /dev/zero | tr '\000' x > stock.mdb
cp stock.mdb "$work/foreign.mdb"
start '^Quillmarch$'
xdotool key Escape
status=0
wait "$program" || status=$?
[ "$status" -eq 1 ] || fail "a foreign stock.mdb ended the program with status $status"
grep -q "^quillmarch: Error 26: .*stock.mdb is not a Quillmarch stock database" "$work/output.txt" \
    || fail "no error line: $(cat "$work/output.txt")"
cmp -s stock.mdb "$work/foreign.mdb" || fail "the foreign stock.mdb was changed"
heard || fail "the refused tone was not played"
echo "The Windows release folder's program started, counted, was heard, exported and refused a foreign file under Wine."
