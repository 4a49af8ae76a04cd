# shellcheck shell=bash
# server_lib.sh - what the scripts that run a command against a throwaway
# server of their own share (registry/pg_cluster.sh, feed/rabbitmq_broker.sh):
# the skip, the unprivileged owner when run as root, the stop on every way
# out and the run of the command.  Sourced by bash under set -euo pipefail,
# with "server" set to the script's name (without .sh) for its messages.
#
# The script, in this order:
#   need_command "$@"      usage error (status 2) when no COMMAND is given
#   skip REASON            whenever no server can be had: status 77, the
#                          reason on standard error
#   owner_when_root USER   as root, the server runs as USER, or as "nobody"
#                          where USER is missing: sets owner and as_owner
#                          (the prefix of every server command)
#   guard_server           once "dir" (the server's temporary directory) is
#                          made and stop_server is defined: on every way
#                          out, failures and signals included, the command
#                          is stopped, then the server (once started=1) from
#                          /, and dir is removed
#   started=1              set before the server's start command
#   run_command "$@"       runs COMMAND from the caller's directory and
#                          exits with its status

# server, dir and stop_server are the script's; owner and as_owner are for it.
# shellcheck disable=SC2154,SC2034

here=$(pwd)
owner=$(id -un)
as_owner=()
started=0
child=

skip() {
    echo "$server: SKIPPED: $*" >&2
    exit 77
}

need_command() {
    [ $# -ge 1 ] || { echo "usage: $server.sh COMMAND [ARG...]" >&2; exit 2; }
}

# The servers refuse to run as root, or should not, and CI runs as root.
owner_when_root() {
    [ "$(id -u)" -eq 0 ] || return 0
    if id "$1" >/dev/null 2>&1; then owner=$1; else owner=nobody; fi
    command -v runuser >/dev/null 2>&1 || skip "running as root and runuser is missing"
    as_owner=(runuser -u "$owner" --)
}

# shellcheck disable=SC2317  # reached through the trap
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    [ -z "$child" ] || kill -TERM "$child" 2>/dev/null || true
    [ "$started" -eq 0 ] || (cd / && stop_server)
    rm -rf -- "$dir"
    exit "$status"
}

guard_server() {
    trap cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
    # A killed harness (SIGKILL from a test timeout) runs no trap, and a
    # server that detaches leaves our process group: a detached watchdog
    # stops it once we are gone.
    local watch_pid=$$
    (
        cd / && trap '' INT TERM HUP
        while kill -0 "$watch_pid" 2>/dev/null; do sleep 1; done
        if [ -d "$dir" ]; then
            stop_server
            rm -rf -- "$dir"
        fi
    ) </dev/null >/dev/null 2>&1 &
    disown
}

run_command() {
    cd "$here" || exit
    # In the background, so that a signal to the harness is acted on at once
    # instead of after the command ends.
    "$@" &
    child=$!
    local status=0
    wait "$child" || status=$?
    child=
    exit "$status"
}
