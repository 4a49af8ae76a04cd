#!/bin/bash
# Tests of the station kovripmi against a stand-in client (ipmitool or
# ipmi-raw) that records its arguments and prints a given reply: which
# command line and client config each kovripmi.conf yields, that the caller's
# words arrive unchanged (no shell evaluation), that the reply and exit
# status keep TALVEK's contract, and what kovripmi.log keeps of a failure.
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
# environment into $work/env, the file named by --config-file into
# $work/config and its kind into $work/cfgtype, then the error text FAKE_ERR
# and the reply FAKE_OUT (printf %b) and the exit status FAKE_RC.
fake=$work/fake-client
cat > "$fake" <<'FAKE'
#!/bin/bash
printf '%s\n' "$@" > "$FAKE_DIR/args"
printf '%s' "${IPMI_PASSWORD-<unset>}" > "$FAKE_DIR/env"
for ((i = 1; i < $#; i++)); do
    j=$((i + 1))
    [ "${!i}" = --config-file ] && stat -L -c %F "${!j}" > "$FAKE_DIR/cfgtype" && cat "${!j}" > "$FAKE_DIR/config"
done
printf '%b' "${FAKE_ERR-}" >&2
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
# kovripmi.log starts empty.
log=$station/kovripmi.log
in_station() { (cd "$station" && PATH="$work/bin:$PATH" ./kovripmi "$@"); }
run() {
    local conf=$1 out=$2 rc=$3
    shift 3
    rm -f "$station/kovripmi.conf" "$log" "$work"/args "$work"/env "$work"/config
    if [ "$conf" != - ]; then
        printf '%b' "$conf" > "$station/kovripmi.conf"
        printf 'ipmitool=%s\nipmi-raw=%s\n' "$fake" "$fake" >> "$station/kovripmi.conf"
    else
        # No config file: the stand-in must still be the one found.
        mkdir -p "$work/bin"
        ln -sf "$fake" "$work/bin/ipmitool"
    fi
    got=$(FAKE_OUT=$out FAKE_RC=$rc in_station "$@" 2> "$work/stderr"; echo "rc=$?")
    status=${got##*rc=}
    got=${got%rc=*}
    got=${got%$'\n'}
    args=$(tr '\n' ' ' 2>/dev/null < "$work/args")
    args=${args% }
}

lan='interface=lanplus\nhost=127.0.0.1\nport=9623\nuser=admin\npassword=pw\n'
fi='client=freeipmi\n'

# Command lines: config text | caller's words | stand-in's arguments.
rows=(
    "-|raw 0x06 0x01|-I open raw 0x06 0x01"
    "interface=open\n|raw 0x3a 0xa1 1|-I open raw 0x3a 0xa1 1"
    "$lan|raw 0x06 0x01|-I lanplus -E -C 3 -U admin -H 127.0.0.1 -p 9623 -N 1 -R 1 raw 0x06 0x01"
    "  interface = lanplus \r\n# note\n\thost=10.1.2.3\r\ncipher=17\ntimeout=3\nretries=2\n|raw 6 1|-I lanplus -C 17 -H 10.1.2.3 -p 623 -N 3 -R 2 raw 6 1"
    "interface=lan\nhost=h\n|raw 6 1|-I lan -H h -p 623 -N 1 -R 1 raw 6 1"
    "-|raw 0x3a 0xa0 0 2 171 060 086 00 0x0a|-I open raw 0x3a 0xa0 0 2 171 60 86 0 0x0a"
    "-|mc info|-I open mc info"
    "$fi|raw 0x06 0x01|--config-file /dev/fd/3 0 06 01"
    "${fi}workarounds=opensesspriv,idzero\n$lan|raw 0x3a 0xa0 0 2 171 060 0X0A 0|--config-file /dev/fd/3 -W opensesspriv,idzero -h 127.0.0.1:9623 0 3a a0 00 02 ab 3c 0A 00"
    "${fi}interface=lan\nhost=h\n|raw 6 1|--config-file /dev/fd/3 -h h 0 06 01"
)
for row in "${rows[@]}"; do
    IFS='|' read -r conf words want <<< "$row"
    out=' 00\n'
    [[ $conf == *client=freeipmi* ]] && out='rcvd: 01 00 \n'
    # shellcheck disable=SC2086  # the caller's words are blank-separated here
    run "$conf" "$out" 0 $words
    [ "$status" = 0 ] || fail "$words with [$conf]: exit $status ($(cat "$work/stderr"))"
    [ "$args" = "$want" ] || fail "$words with [$conf]: client got [$args], expected [$want]"
    [ -e "$log" ] && fail "$words with [$conf]: a success was logged"
done

# ipmi-raw's settings reach it through a pipe, password quoted; ipmitool's
# -N/-R become the session and retransmission timeouts.
rows=(
    "$fi$lan|username \"admin\"\npassword \"pw\"\nprivilege-level ADMIN\ndriver-type LAN_2_0\ncipher-suite-id 3\nsession-timeout 2000\nretransmission-timeout 1000\n"
    "${fi}interface=lan\nhost=h\npassword=a b#c\ntimeout=3\nretries=0\n|password \"a b#c\"\nprivilege-level ADMIN\ndriver-type LAN\nsession-timeout 3000\nretransmission-timeout 1500\n"
)
for row in "${rows[@]}"; do
    IFS='|' read -r conf want <<< "$row"
    run "$conf" 'rcvd: 01 00 \n' 0 raw 6 1
    [ "$(cat "$work/config")" = "$(printf '%b' "$want")" ] ||
        fail "config [$conf] gave ipmi-raw [$(cat "$work/config")]"
    [ "$(cat "$work/cfgtype")" = fifo ] || fail "ipmi-raw's config is a $(cat "$work/cfgtype"), not a pipe"
    [[ $args == *pw* || $args == *'a b'* ]] && fail "the password shows in ipmi-raw's arguments: $args"
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

# Reply and exit status: config | stand-in output | stand-in status |
# stdout | status.  ipmi-raw echoes the command and the completion code and
# exits 0 whatever the code.
rows=(
    "-| 20 81 01\n|0| 20 81 01|0"
    "-| 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\n 11 12\n|0| 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12|0"
    "-|\n|0||0"
    "-||1||1"
    "-| 01\n|2| 01|2"
    "$fi|rcvd: 01 00 20 81 0A \n|0| 20 81 0a|0"
    "$fi|rcvd: A0 00 \n|0||0"
    "$fi|rcvd: A1 CC \n|0||1"
    "$fi|garbage\n|0||1"
    "$fi||1||1"
)
for row in "${rows[@]}"; do
    IFS='|' read -r conf out rc want want_status <<< "$row"
    run "$conf" "$out" "$rc" raw 0x06 0x01
    [ "$got" = "$want" ] || fail "reply [$out]: stdout [$got], expected [$want]"
    [ "$status" = "$want_status" ] || fail "reply [$out] rc $rc: exit $status"
done

# A completion code other than 0 is an empty reply line, and the reason on
# standard error in lower case, as ipmitool writes it.
run "$fi" 'rcvd: A1 CC \n' 0 raw 0x3a 0xa1 0
[ "$(cat "$work/stderr")" = "kovripmi: the BMC answered with completion code 0xcc" ] ||
    fail "completion code 0xCC: stderr [$(cat "$work/stderr")]"

# A reply is always one line ending in a newline, also when empty.
rm -f "$station/kovripmi.conf"
[ "$(FAKE_OUT='\n' in_station raw 6 1 | od -An -c | tr -d ' ')" = '\n' ] || fail "an empty reply is not a single newline"

# Refusals: broken configurations and requests ipmi-raw cannot carry fail
# with a message on stderr, run no client, and a raw request is logged.
rows=(
    'colour=blue\n|raw 6 1'
    'interface=serial\n|raw 6 1'
    'interface=lanplus\n|raw 6 1'
    'interface=lanplus\nhost=h\nport=x\n|raw 6 1'
    'no equals sign\n|raw 6 1'
    'client=other\n|raw 6 1'
    'workarounds=opensesspriv\n|raw 6 1'
    "${fi}workarounds=a;b\n|raw 6 1"
    "${fi}interface=lan\nhost=h\npassword=a\"b\n|raw 6 1"
    "$fi|raw 0x3a 0xa1 256"
    "$fi|raw 0x3a 0xa1 0x1g"
    "$fi|raw 0x06"
    "$fi|mc info"
)
for row in "${rows[@]}"; do
    IFS='|' read -r conf words <<< "$row"
    # shellcheck disable=SC2086  # the caller's words are blank-separated here
    run "$conf" 'rcvd: 01 00 \n' 0 $words
    [ "$status" = 0 ] && fail "[$conf] $words was accepted"
    [ -s "$work/stderr" ] || fail "[$conf] $words failed without a message"
    [ -e "$work/args" ] && fail "[$conf] $words still ran the client"
    if [[ $words == raw* ]] && ! grep -qF -- "$(head -n 1 "$work/stderr")" "$log" 2> /dev/null; then
        fail "[$conf] $words: kovripmi.log lacks the refusal"
    fi
done

# A failed request is logged with its time stamp, command, status and the
# client's error text, which still reaches stderr.
FAKE_ERR='Unable to send RAW command (rsp=0xc1)\nInvalid command\n' run - '\n' 1 raw 0x3a 0xa1 0
grep -q 'rsp=0xc1' "$work/stderr" || fail "the client's error text did not reach stderr"
want='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \./kovripmi raw 0x3a 0xa1 0 -> exit 1 \(ipmitool\)
    Unable to send RAW command \(rsp=0xc1\)
    Invalid command$'
[[ $(cat "$log") =~ $want ]] || fail "kovripmi.log is [$(cat "$log")]"

# The log keeps its last 1 MiB, cut where an entry starts.
old=$(printf '2026-01-01 00:00:00 ./kovripmi raw 6 1 -> exit 1 (ipmitool)\n    old %0100d\n' 0)
for ((i = 0; i < 6500; i++)); do printf '%s\n' "$old"; done > "$log"
FAKE_RC=1 in_station raw 0x06 0x02 > /dev/null 2>&1
size=$(wc -c < "$log")
if [ "$size" -gt 1048576 ] || [ "$size" -lt 1048000 ]; then fail "kovripmi.log holds $size bytes"; fi
head -n 1 "$log" | grep -q '^2026-01-01 ' || fail "kovripmi.log starts inside an entry: $(head -n 1 "$log")"
tail -n 2 "$log" | grep -q 'raw 0x06 0x02 -> exit 1' || fail "the newest entry was not kept"

# A client missing altogether: status 127, and the log says which.
for client in ipmitool freeipmi; do
    printf 'client=%s\nipmitool=%s\nipmi-raw=%s\n' "$client" "$work/none" "$work/none" > "$station/kovripmi.conf"
    rm -f "$log"
    (cd "$station" && ./kovripmi raw 6 1 > /dev/null 2>&1)
    [ $? -eq 127 ] || fail "a missing $client does not give status 127"
    grep -q "$work/none not found" "$log" 2> /dev/null || fail "a missing $client was not logged"
done

if [ "$failures" -ne 0 ]; then
    echo "station kovripmi: $failures check(s) failed"
    exit 1
fi
echo "station kovripmi: passed"
