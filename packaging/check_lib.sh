# shellcheck shell=sh
# check_lib.sh - the checks of the packaging tests (package_test.sh,
# rehearsal_test.sh), sourced by them: a count of checks and failures, each
# failure printed as "FAIL: what", a scratch directory removed on every way
# out, and the closing count, whose status is the test's.

checks=0
failures=0

ok() { checks=$((checks + 1)); }

bad() {
    checks=$((checks + 1))
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
}

check() { # check DESCRIPTION COMMAND...
    what=$1
    shift
    if "$@"; then ok; else bad "$what"; fi
}

# scratch NAME: a fresh directory /tmp/talvek-NAME-XXXXXX in $tmp, removed
# when the test ends, a signal included.
scratch() {
    tmp=$(mktemp -d "/tmp/talvek-$1-XXXXXX") || exit 1
    trap 'cd / && rm -rf "$tmp"' EXIT
    trap 'exit 1' HUP INT TERM
}

# preload_shim SHIM: the sleep shim, when built, preloaded into the programs
# started from here on, so that TALVEK's one-second waits return at once.
preload_shim() {
    if [ -n "$1" ] && [ -f "$1" ]; then
        LD_PRELOAD=$1
        ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
        export LD_PRELOAD ASAN_OPTIONS
    fi
}

# summary NAME: the count; its status is 0 when every check passed.
summary() {
    echo "$1: $((checks - failures)) passed, $failures failed"
    [ "$failures" -eq 0 ]
}
