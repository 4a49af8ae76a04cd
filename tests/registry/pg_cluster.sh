#!/usr/bin/env bash
# pg_cluster.sh - runs a command against a throwaway PostgreSQL server.
#
# Usage: pg_cluster.sh COMMAND [ARG...]
#
# Creates a cluster in a fresh temporary directory, starts it listening only
# on a Unix socket in that directory (no TCP port, so parallel runs never
# collide), runs COMMAND with
#   TALVEK_TEST_PG   a key/value connection string to the database "talvek"
#   PGHOST, PGUSER, PGDATABASE   the same, for psql and libpq defaults
#   TALVEK_TEST_PG_CTL   the server's pg_ctl command (as its owner, with -D and -l)
# and stops the server (continuing its processes first, should a test have
# stopped them) and removes the directory on every way out, failures and
# signals included.  Exit status: COMMAND's, or 77 (skipped) with the
# reason on standard error when no server can be had.
#
# The server refuses to run as root, and CI runs as root: then the cluster
# belongs to the system user "postgres" (made by the Debian package), or to
# "nobody" where that user is missing.
#
# PG_CLUSTER_OPTIONS: extra "-c name=value" server settings.  The default
# turns fsync off, as nothing here needs to survive a crash of the machine.
set -euo pipefail
server=pg_cluster
# shellcheck source=SCRIPTDIR/../server_lib.sh
. "$(dirname "$0")/../server_lib.sh"
need_command "$@"

bindir=
for d in /usr/lib/postgresql/*/bin; do
    [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ] && bindir=$d
done
[ -n "$bindir" ] || skip "initdb/pg_ctl not found under /usr/lib/postgresql/*/bin (Debian package postgresql)"

owner_when_root postgres

# /tmp rather than $TMPDIR: the owner must be able to reach the directory,
# and a socket path may not exceed 107 bytes.
dir=$(mktemp -d /tmp/talvek-pg-XXXXXX)
data=$dir/data
log=$dir/server.log
# shellcheck disable=SC2317  # reached through the trap
stop_server() {
    # A test may have stopped the server's processes (SIGSTOP, a frozen
    # server): they must run again to hear the stop.
    local pm
    pm=$(head -n 1 "$data/postmaster.pid" 2>/dev/null) || pm=
    if [ -n "$pm" ]; then
        kill -CONT "$pm" 2>/dev/null || true
        pkill -CONT -P "$pm" 2>/dev/null || true
    fi
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$data" -m immediate -w stop >/dev/null 2>&1 || true
}
guard_server

[ "$owner" = "$(id -un)" ] || chown "$owner" "$dir"
chmod 0700 "$dir"
# The owner may not be allowed into the caller's directory.
cd "$dir"

if ! "${as_owner[@]}" "$bindir/initdb" -D "$data" -U talvek -A trust -E UTF8 \
        --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log" >&2
    skip "initdb failed (see above)"
fi

options=${PG_CLUSTER_OPTIONS:--c fsync=off -c synchronous_commit=off -c full_page_writes=off}
# Marked before the start: a signal during pg_ctl is acted on after it returns.
started=1
if ! "${as_owner[@]}" "$bindir/pg_ctl" -D "$data" -l "$log" -w -t 60 \
        -o "-c listen_addresses='' -c unix_socket_directories=$dir -c max_connections=100 $options" \
        start >/dev/null 2>&1; then
    cat "$log" >&2 || true
    skip "the server did not start (see above)"
fi

"${as_owner[@]}" "$bindir/createdb" -h "$dir" -U talvek talvek ||
    { echo "pg_cluster: createdb failed" >&2; exit 1; }

export PGHOST=$dir PGUSER=talvek PGDATABASE=talvek
export TALVEK_TEST_PG="host=$dir user=talvek dbname=talvek"
# For tests that stop and start the server under a client: pg_ctl with its
# data directory and log ("restart" starts a stopped server with the options above).
export TALVEK_TEST_PG_CTL="${as_owner[*]} $bindir/pg_ctl -D $data -l $log"
run_command "$@"
