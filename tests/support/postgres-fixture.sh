#!/bin/sh
# The tests' PostgreSQL servers, each a CTest fixture (tests/CMakeLists.txt):
#   postgres-fixture.sh start FOLDER    makes a server in FOLDER and starts it
#   postgres-fixture.sh stop FOLDER     stops it, as the administrator does
#   postgres-fixture.sh crash FOLDER    stops it at once, as a crash does
#   postgres-fixture.sh restart FOLDER  starts it again, as it was, on its port
# It listens on 127.0.0.1, at a free port written to FOLDER/port, with TLS (a
# throwaway certificate for localhost and 127.0.0.1, FOLDER/ca.crt, which is its own
# CA, and whose key FOLDER/ca.key signs client certificates), and on a socket in FOLDER
# (in a folder of /tmp where FOLDER's path is too long for a socket), the folder
# written to FOLDER/sockets.
# Roles: the superuser postgres, without a password; counter, with the password
# s3cret that FOLDER/pgpass holds (a wrong one for the database mistyped);
# station, by a client certificate over TCP. Run as root, the server runs as nobody.
set -eu
action=$1 folder=$(realpath -m "$2")
bin=$(ls -d /usr/lib/postgresql/*/bin 2> /dev/null | sort -V | tail -n 1)
PATH=${bin:+$bin:}$PATH
as=""
[ "$(id -u)" -eq 0 ] && as="setpriv --reuid=65534 --regid=65534 --clear-groups"

stop() {
    # A backend that a test froze (SIGSTOP) and did not let go would hold up the shutdown.
    [ ! -f "$folder/data/postmaster.pid" ] || pkill -CONT -P "$(head -n 1 "$folder/data/postmaster.pid")" || true
    [ ! -f "$folder/data/postmaster.pid" ] || $as pg_ctl stop -D "$folder/data" -m "$1" -s
    sockets=$(cat "$folder/sockets" 2> /dev/null || true)
    [ -z "$sockets" ] || [ "$sockets" = "$folder" ] || rm -rf "$sockets"
}
serve() {
    $as pg_ctl start -D "$folder/data" -l "$folder/server.log" -w -s -o "-p $1 -k $sockets \
        -c listen_addresses=127.0.0.1 -c ssl=on -c ssl_cert_file=$folder/ca.crt -c ssl_key_file=$folder/ca.key \
        -c ssl_ca_file=$folder/ca.crt -c fsync=off -c full_page_writes=off"
}
case $action in
stop) stop fast; exit ;;
crash) exec $as pg_ctl stop -D "$folder/data" -m immediate -s ;;
restart)
    sockets=$(cat "$folder/sockets")
    $as mkdir -p "$sockets"
    serve "$(cat "$folder/port")"; exit
    ;;
esac

[ ! -f "$folder/sockets" ] || stop immediate || true
rm -rf "$folder"
mkdir -p "$folder"
cd "$folder"
sockets=$folder
[ ${#folder} -le 80 ] || sockets=$(mktemp -d /tmp/quillmarch-postgres-XXXXXX)
echo "$sockets" > sockets
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout ca.key -out ca.crt 2> /dev/null
printf '*:*:mistyped:counter:s3cret-not\n*:*:*:counter:s3cret\n' > pgpass
chmod 600 ca.key pgpass
[ -n "$as" ] && chown -R 65534:65534 "$folder" "$sockets"
$as test -w "$folder" || { echo "postgres-fixture.sh: the user nobody cannot reach $folder" >&2; exit 1; }
$as initdb -D data -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 --no-sync > initdb.log
cat > data/pg_hba.conf << EOF
local all counter scram-sha-256
local all all trust
hostssl all counter 127.0.0.1/32 scram-sha-256
hostssl all station 127.0.0.1/32 cert
hostssl all postgres 127.0.0.1/32 trust
EOF
# A free port: the server refuses one in use (another engineer's tests, say), and the next is tried.
for _ in $(seq 20); do
    port=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 30000))
    serve "$port" && break
    port=""
done
[ -n "$port" ] || { cat server.log >&2; exit 1; }
psql -h "$sockets" -p "$port" -U postgres -d postgres -q -v ON_ERROR_STOP=1 \
    -c "CREATE ROLE counter LOGIN PASSWORD 's3cret'" -c "CREATE ROLE station LOGIN"
echo "$port" > port
