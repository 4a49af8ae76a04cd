#!/bin/bash
# Tests of the station kovripmi against a stand-in ipmitool that records its
# arguments and prints a given reply: which ipmitool command line each
# kovripmi.conf yields, that the caller's words arrive unchanged (no shell
# evaluation), and that the reply and exit status keep TALVEK's contract.
#
#   station_test.sh STATION_KOVRIPMI

set -u
kovripmi=${1:?station kovripmi}

work=$(mktemp -d "${TMPDIR:-/tmp}/station.XXXXXX")
trap 'rm -rf "$work"' EXIT
station=$work/station
mkdir -p "$station"
cp "$kovripmi" "$station/kovripmi"
chmod +x "$station/kovripmi"

# The stand-in: one argument a line into $work/args, the password from the
# environment into $work/env, then the reply in FAKE_OUT (printf %b) and
# the exit status FAKE_RC.
fake=$work/fake-ipmitool
cat > "$fake" <<'FAKE'
#!/bin/bash
printf '%s\n' "$@" > "$FAKE_DIR/args"
printf '%s' "${IPMI_PASSWORD-<unset>}" > "$FAKE_DIR/env"
printf '%b' "${FAKE_OUT-}"
exit "${FAKE_RC:-0}"
FAKE
chmod +x "$fake"
export FAKE_DIR=$work

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run CONF OUT RC ARGS...: writes kovripmi.conf (none when CONF is "-"),
# runs "./kovripmi ARGS" in the station directory with the stand-in
# answering OUT and RC; leaves stdout in $got, the exit status in $status
# and the stand-in's arguments (blank-joined, one line) in $args.
run() {
    local conf=$1 out=$2 rc=$3
    shift 3
    rm -f "$station/kovripmi.conf" "$work/args" "$work/env"
    if [ "$conf" != - ]; then
        printf '%b' "$conf" > "$station/kovripmi.conf"
        printf 'ipmitool=%s\n' "$fake" >> "$station/kovripmi.conf"
    else
        # No config file: the stand-in must still be the one found.
        mkdir -p "$work/bin"
        ln -sf "$fake" "$work/bin/ipmitool"
    fi
    got=$(cd "$station" && PATH="$work/bin:$PATH" FAKE_OUT=$out FAKE_RC=$rc \
        ./kovripmi "$@" 2> "$work/stderr"; echo "rc=$?")
    status=${got##*rc=}
    got=${got%rc=*}
    got=${got%$'\n'}
    args=$(tr '\n' ' ' 2>/dev/null < "$work/args")
    args=${args% }
}

lan='interface=lanplus\nhost=127.0.0.1\nport=9623\nuser=admin\npassword=pw\n'

# Command lines: config text | caller's words | stand-in's arguments.
rows=(
    "-|raw 0x06 0x01|-I open raw 0x06 0x01"
    "interface=open\n|raw 0x3a 0xa1 1|-I open raw 0x3a 0xa1 1"
    "$lan|raw 0x06 0x01|-I lanplus -E -C 3 -U admin -H 127.0.0.1 -p 9623 -N 1 -R 1 raw 0x06 0x01"
    "  interface = lanplus \r\n# note\n\thost=10.1.2.3\r\ncipher=17\ntimeout=3\nretries=2\n|raw 6 1|-I lanplus -C 17 -H 10.1.2.3 -p 623 -N 3 -R 2 raw 6 1"
    "interface=lan\nhost=h\n|raw 6 1|-I lan -H h -p 623 -N 1 -R 1 raw 6 1"
    "-|raw 0x3a 0xa0 0 2 171 060 086 00 0x0a|-I open raw 0x3a 0xa0 0 2 171 60 86 0 0x0a"
    "-|mc info|-I open mc info"
)
for row in "${rows[@]}"; do
    IFS='|' read -r conf words want <<< "$row"
    # shellcheck disable=SC2086  # the caller's words are blank-separated here
    run "$conf" ' 00\n' 0 $words
    [ "$status" = 0 ] || fail "$words with [$conf]: exit $status ($(cat "$work/stderr"))"
    [ "$args" = "$want" ] || fail "$words with [$conf]: ipmitool got [$args], expected [$want]"
done

# The password travels in the environment, never on the command line.
run "$lan" '' 0 raw 6 1
[ "$(cat "$work/env")" = pw ] || fail "IPMI_PASSWORD is [$(cat "$work/env")]"
[[ $args == *pw* ]] && fail "the password shows in ipmitool's arguments: $args"

# The caller's words arrive as they are: no globbing, no evaluation.
# shellcheck disable=SC2016  # the dollar sign is meant literally
run - '' 0 raw '$(touch pwned)' '*' 'a b' ';'
# shellcheck disable=SC2016
[ "$(sed -n 4,7p "$work/args" | tr '\n' '|')" = '$(touch pwned)|*|a b|;|' ] ||
    fail "words were changed: $(cat "$work/args")"
[ -e "$station/pwned" ] && fail "a caller's word was evaluated"

# Reply and exit status: stand-in output | stand-in status | stdout | status.
rows=(
    " 20 81 01\n|0| 20 81 01|0"
    " 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\n 11 12\n|0| 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12|0"
    "\n|0||0"
    "|1||1"
    " 01\n|2| 01|2"
)
for row in "${rows[@]}"; do
    IFS='|' read -r out rc want want_status <<< "$row"
    run - "$out" "$rc" raw 0x06 0x01
    [ "$got" = "$want" ] || fail "reply [$out]: stdout [$got], expected [$want]"
    [ "$status" = "$want_status" ] || fail "reply [$out] rc $rc: exit $status"
done

# A reply is always one line ending in a newline, also when empty.
[ "$(cd "$station" && PATH="$work/bin:$PATH" FAKE_OUT='\n' ./kovripmi raw 6 1 | od -An -c | tr -d ' ')" = '\n' ] ||
    fail "an empty reply is not a single newline"

# Broken configurations fail the request with a message on stderr.
for conf in 'colour=blue\n' 'interface=serial\n' 'interface=lanplus\n' \
    'interface=lanplus\nhost=h\nport=x\n' 'no equals sign\n'; do
    run "$conf" ' 00\n' 0 raw 6 1
    [ "$status" = 0 ] && fail "config [$conf] was accepted"
    [ -s "$work/stderr" ] || fail "config [$conf] failed without a message"
    [ -e "$work/args" ] && fail "config [$conf] still ran ipmitool"
done

# ipmitool missing altogether.
printf 'ipmitool=%s\n' "$work/none" > "$station/kovripmi.conf"
(cd "$station" && ./kovripmi raw 6 1 > /dev/null 2>&1)
[ $? -eq 127 ] || fail "a missing ipmitool does not give status 127"

if [ "$failures" -ne 0 ]; then
    echo "station kovripmi: $failures check(s) failed"
    exit 1
fi
echo "station kovripmi: passed"
