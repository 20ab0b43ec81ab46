#!/bin/sh
# Starts the program of the Windows release folder under Wine, on the X server
# that DISPLAY names, as an operator would, from a folder named beyond ASCII:
# it answers --version; on its first start, without the team store's DLLs, it
# makes stock.mdb and stores a scanned count; a stock.mdb that is no database it
# refuses with its box, the error line and status 1, leaving the file as it was;
# it counts a scanned count into a PostgreSQL server over TLS, the server's
# certificate checked against the authority's in %APPDATA%\postgresql\root.crt
# and the password taken from pgpass.conf there, which psql then reads; a count
# psql stores shows in its list at once, where it edits it; it exports them, into
# a file named beyond ASCII, as another station that logs in with the client
# certificate there. Each scan's tone is heard, apart, on a sound device at
# 44.1 kHz for the file and at 48 kHz for the server.
#   xvfb-run -a cmake/check-windows-release.sh RELEASE-FOLDER WORK-FOLDER
set -eu
release=$(realpath "$1")
work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")/.." && pwd)
fail() {
    echo "check-windows-release.sh: $*" >&2
    exit 1
}

rm -rf "$work"
folder="$work/Größe-数量 count"
postgres="$work/postgres"
mkdir -p "$folder" "$work/runtime"
chmod 700 "$work/runtime"
cp -r "$release/." "$folder"
export HOME="$work" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/runtime" PULSE_SERVER="unix:$work/pulse.socket"
sound=""
trap 'wineserver -k 2> /dev/null || true; kill $sound 2> /dev/null || true
    "$here/tests/support/postgres-fixture.sh" stop "$postgres"' EXIT

# Wine's Windows audio plays into a sound server of the check's own, on a device
# that plays into nothing at RATE, whose sound is recorded into at$RATE.raw.
listen() {
    [ -z "$sound" ] || { kill $sound && wait $sound || true; }
    pulseaudio --daemonize=no -n --exit-idle-time=-1 --use-pid-file=no --log-level=error \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$work/pulse.socket" \
        --load="module-null-sink sink_name=device rate=$1" &
    sound=$!
    for _ in $(seq 100); do pactl info > /dev/null 2>&1 && break; sleep 0.2; done
    parec --device=device.monitor --raw --format=s16le --channels=1 --rate=8000 > "$work/at$1.raw" &
    sound="$sound $!"
    rate=$1
}
# The tones recorded: runs of sound 150 ms apart (a busy machine may break one up).
tones() {
    od -An -v -td2 -w2 "$work/at$rate.raw" | awk 'BEGIN { quiet = 1200 }
        { if ($1 > 300 || $1 < -300) { if (quiet >= 1200) n++; quiet = 0 } else quiet++ } END { print n + 0 }'
}
# Waits until COUNT tones were heard, and as long again as the longest tone lasts.
heard() {
    for _ in $(seq 50); do [ "$(tones)" -ge "$1" ] && break; sleep 0.2; done
    [ "$(tones)" -eq "$1" ] || fail "$(tones) tones were heard at $rate Hz, not $1"
    sleep 0.4
}
# Types each label into the window, ended with Enter, as a keyboard-wedge scanner
# does, and hears its tone before the next.
scan() {
    for label in "$@"; do
        count=$(($(tones) + 1))
        xdotool type --delay 20 "$label"
        xdotool key Return
        heard $count
    done
}
start() {
    title=$1
    shift
    wine quillmarch.exe "$@" < /dev/null > "$work/output.txt" 2>&1 &
    program=$!
    # Windows that Wine makes and drops again as it starts may come and go meanwhile.
    for _ in $(seq 600); do
        window=$(xdotool search --onlyvisible --name "$title" 2> /dev/null | head -n 1)
        [ -n "$window" ] && xdotool windowfocus --sync "$window" 2> /dev/null && return
        sleep 0.2
    done
    fail "no window '$title'"
}
# The first value of the query that turns up within ten seconds.
poll() {
    for _ in $(seq 50); do
        value=$("$@" 2> /dev/null) && [ -n "$value" ] && break
        sleep 0.2
    done
    echo "$value"
}

listen 44100
wineboot --init > /dev/null 2>&1
cd "$folder"

wine quillmarch.exe --version < /dev/null | grep -q "^Quillmarch Version: " || fail "no answer to --version"

# Counting into the file needs neither libpq nor OpenSSL.
mkdir "$work/team-store"
mv libpq.dll libssl-3-x64.dll libcrypto-3-x64.dll "$work/team-store"
start '^Quillmarch::Main$'
scan ROW:A FINLOC CODE-1 QTY:5
counts=$(poll sqlite3 -readonly stock.mdb "SELECT id, Location, StockCode, Quantity FROM Stock")
[ "$counts" = "1|A|CODE-1|5" ] || fail "the scanned count was stored as '$counts'"
wineserver -k


rm -f stock.mdb
head -c 4096 /dev/zero | tr '\000' x > stock.mdb
cp stock.mdb "$work/foreign.mdb"
start '^Quillmarch$'
heard 5
xdotool key Escape
wait "$program" && status=0 || status=$?
[ "$status" -eq 1 ] || fail "a foreign stock.mdb ended the program with status $status"
grep -q "^quillmarch: Error 26: .*stock.mdb is not a Quillmarch stock database" "$work/output.txt" \
    || fail "no error line: $(cat "$work/output.txt")"
cmp -s stock.mdb "$work/foreign.mdb" || fail "the foreign stock.mdb was changed"

# The team store: a server of the check's own (the tests' fixture), and libpq's
# files where Windows keeps them for the user.
listen 48000
mv "$work/team-store/"*.dll .
"$here/tests/support/postgres-fixture.sh" start "$postgres"
port=$(cat "$postgres/port")
sql() { psql -h "$(cat "$postgres/sockets")" -p "$port" -U postgres -d count -At -q -v ON_ERROR_STOP=1 -c "$1"; }
psql -h "$(cat "$postgres/sockets")" -p "$port" -U postgres -d postgres -q -c "CREATE DATABASE count OWNER counter"
appdata=$(winepath -u "$(wine cmd /c echo %APPDATA% < /dev/null | tr -d '\r')")/postgresql
mkdir -p "$appdata"
cp "$postgres/ca.crt" "$appdata/root.crt"
printf 'localhost:%s:count:counter:s3cret\n' "$port" > "$appdata/pgpass.conf"
openssl req -newkey rsa:2048 -nodes -subj /CN=station -keyout "$appdata/postgresql.key" -out "$work/station.csr" \
    2> /dev/null
openssl x509 -req -in "$work/station.csr" -CA "$postgres/ca.crt" -CAkey "$postgres/ca.key" -days 2 \
    -out "$appdata/postgresql.crt" 2> /dev/null
rm -f stock.mdb
start '^Quillmarch::Main$' --store "postgresql://counter@localhost:$port/count?sslmode=verify-full"
scan ROW:B FINLOC CODE-9 QTY:7
counts=$(poll sql 'SELECT id, "Location", "StockCode", "Quantity" FROM "Stock"')
[ "$counts" = "1|B|CODE-9|7" ] || fail "the count scanned into the server was stored as '$counts'"
# A count that psql stores shows in the station's list within a second, as the
# README says: its last row, which the operator opens and saves with another quantity.
sql "INSERT INTO \"Stock\" (\"Location\", \"StockCode\", \"Quantity\") VALUES ('C', 'PSQL-1', '3')"
sleep 1
xdotool key shift+Tab End F2
timeout 60 xdotool search --sync --onlyvisible --limit 1 --name '^Quillmarch::StockItem::Edit$' windowfocus --sync \
    || fail "no item editor"
xdotool key Tab Tab ctrl+a type 4
xdotool key Tab Tab Tab space
counts=$(poll sql 'SELECT "Quantity" FROM "Stock" WHERE id = 2 AND "Quantity" = '"'4'")
[ "$counts" = 4 ] || fail "the count psql stored did not reach the station's list: $(sql 'TABLE "Stock"')"
wineserver -k
[ ! -e stock.mdb ] || fail "a station counting into the server made stock.mdb"

sql 'GRANT SELECT ON "Stock" TO station'
wine quillmarch.exe --store "postgresql://station@localhost:$port/count?sslmode=verify-full" --export station-Größe.csv \
    < /dev/null > "$work/output.txt" 2>&1 || fail "--export as the certified station failed: $(cat "$work/output.txt")"
printf 'id,Location,StockCode,Quantity\r\n1,B,CODE-9,7\r\n2,C,PSQL-1,4\r\n' | cmp -s - station-Größe.csv \
    || fail "--export as the certified station wrote '$(cat station-Größe.csv 2>&1)'"
echo "The Windows release folder's program started, counted into its file and into a server over TLS, exported,"
echo "refused a foreign file and was heard at every scan, at 44.1 and at 48 kHz, under Wine."
