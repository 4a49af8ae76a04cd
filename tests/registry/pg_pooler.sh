#!/usr/bin/env bash
# pg_pooler.sh - runs a command with a connection pooler (PgBouncer, session
# mode) in front of the throwaway PostgreSQL server of pg_cluster.sh.
#
# Usage: pg_cluster.sh pg_pooler.sh COMMAND [ARG...]
#
# A line with many stations on one server may put a pooler in front of it,
# so that a run's connection is not a new server process. Starts PgBouncer
# listening only on a Unix socket in a fresh temporary directory, passing
# every database name through to the server in PGHOST as user talvek, and
# runs COMMAND with
#   TALVEK_TEST_PG_POOLED   a key/value connection string through the pooler
#                           (without dbname; add one as with TALVEK_TEST_PG)
#   TALVEK_TEST_PG_POOLER_VERSION   the pooler's version, as "1.18.0"
# beside pg_cluster.sh's variables, which still name the server itself.
# The pooler is stopped and the directory removed on every way out, failures
# and signals included.  Exit status: COMMAND's, or 77 (skipped) with the
# reason on standard error when no pooler can be had.
#
# Session mode is the one the registry works in: a station's run holds one
# server connection from its start to its end, as without a pooler. Each
# connection given back is reset (DISCARD ALL) before the next run has it.
set -euo pipefail
server=pg_pooler
# shellcheck source=SCRIPTDIR/../server_lib.sh
. "$(dirname "$0")/../server_lib.sh"
need_command "$@"

[ -n "${PGHOST:-}" ] || { echo "pg_pooler: run it under pg_cluster.sh" >&2; exit 2; }
bin=/usr/sbin/pgbouncer
[ -x "$bin" ] || skip "$bin not found (Debian package pgbouncer)"

# As root the pooler runs as the server's owner, who can reach its socket.
owner_when_root postgres

dir=$(mktemp -d /tmp/talvek-pooler-XXXXXX)
# shellcheck disable=SC2317  # reached through the trap
stop_server() {
    local pid
    pid=$(cat "$dir/pooler.pid" 2>/dev/null) || pid=
    [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true
}
guard_server

port=6432
cat >"$dir/pooler.ini" <<EOF
[databases]
* = host=$PGHOST user=talvek

[pgbouncer]
listen_addr =
unix_socket_dir = $dir
listen_port = $port
auth_type = trust
auth_file = $dir/users.txt
pool_mode = session
server_reset_query = DISCARD ALL
max_client_conn = 200
default_pool_size = 50
logfile = $dir/pooler.log
pidfile = $dir/pooler.pid
EOF
echo '"talvek" ""' >"$dir/users.txt"
[ "$owner" = "$(id -un)" ] || chown -R "$owner" "$dir"

started=1
# -d: it returns once it listens, having written its pid file.
if ! "${as_owner[@]}" "$bin" -d "$dir/pooler.ini" >"$dir/start.log" 2>&1; then
    cat "$dir/start.log" "$dir/pooler.log" >&2 2>/dev/null || true
    skip "the pooler did not start (see above)"
fi

export TALVEK_TEST_PG_POOLED="host=$dir port=$port user=talvek"
TALVEK_TEST_PG_POOLER_VERSION=$("$bin" --version | sed -n '1s/^PgBouncer //p')
export TALVEK_TEST_PG_POOLER_VERSION
run_command "$@"
