#!/bin/sh
# pg_server.sh start|stop FOLDER: a PostgreSQL 15 server of a test's own in
# FOLDER, made by initdb on its first start, run as the postgres user when
# called as root (the server refuses root), reachable only through a Unix
# socket in FOLDER: connect with "host=FOLDER port=5432 user=postgres".
# pg_server.sh start FOLDER "OPTIONS": server options after those, for
# example the benchmark's "-p PORT -c listen_addresses=127.0.0.1 -c fsync=on".
set -e
bin=/usr/lib/postgresql/15/bin
as_server() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
case "$1" in
start)
  chmod 777 "$2"
  [ -d "$2/data" ] || as_server $bin/initdb -D "$2/data" -U postgres -A trust -E UTF8 \
    --no-sync --no-instructions >/dev/null
  as_server $bin/pg_ctl -D "$2/data" -l "$2/log" -w -o \
    "-k $2 -p 5432 -c listen_addresses='' -c fsync=off $3" start >/dev/null ;;
stop)
  [ ! -f "$2/data/postmaster.pid" ] || as_server $bin/pg_ctl -D "$2/data" -m fast -w stop >/dev/null ;;
esac
