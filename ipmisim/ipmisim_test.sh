#!/bin/bash
# Integration tests: the real TALVEK binary, the station kovripmi and an
# IPMI client (ipmitool or FreeIPMI's ipmi-raw) against OpenIPMI's BMC
# simulator with the kovr_oem module.
#
#   ipmisim_test.sh CASE CLIENT TALVEK_BIN MODULE STATION_KOVRIPMI [SLEEP_SHIM [SETUP]]
#
# Every case runs against both clients (CLIENT ipmitool or freeipmi, written
# to the station's kovripmi.conf); ipmitool also serves as the independent
# observer of what the BMC holds.  SETUP is talvek-station-setup, for the
# "check" case.
# Each case starts its own simulator on a free loopback port, lays out a
# station directory in a temporary directory, runs TALVEK there and checks
# its output, exit status and result record as well as what the simulated
# BMC received and holds afterwards.  The simulator is always stopped on
# exit.  SLEEP_SHIM, when given, is preloaded into TALVEK so that its
# one-second pauses return at once.
#
# Exit status: 0 passed, 1 failed, 77 skipped (tools or module missing).

# Functions are called by name (case_*) and from traps.
# shellcheck disable=SC2317
set -u

case_name=${1:?case}
client=${2:?client}
talvek_bin=${3:?TALVEK binary}
module=${4-}
station_kovripmi=${5:?station kovripmi}
sleep_shim=${6-}
setup=${7-}

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=simlib.sh
. "$here/simlib.sh"

skip() {
    echo "SKIPPED: $*"
    exit 77
}

for tool in ipmi_sim ipmitool; do
    command -v "$tool" > /dev/null 2>&1 ||
        skip "$tool not installed (Debian packages openipmi and ipmitool)"
done
if [ "$client" = freeipmi ] && ! command -v ipmi-raw > /dev/null 2>&1; then
    skip "ipmi-raw not installed (Debian package freeipmi-tools)"
fi
if [ -z "$module" ] || [ ! -f "$module" ]; then
    skip "kovr_oem module not built (OpenIPMI headers missing at configure time: Debian package libopenipmi-dev)"
fi
[ -x "$talvek_bin" ] || { echo "FAIL: $talvek_bin is missing"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ipmisim.XXXXXX")
station=$work/station
failures=0

cleanup() {
    sim_stop
    if [ "$failures" -eq 0 ] || [ -z "${KEEP_IPMISIM_DIR-}" ]; then
        rm -rf "$work"
    else
        echo "kept $work"
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

OUT=$work/talvek.out
RC=0

# run_talvek [--stdin TEXT] ARGS...: runs TALVEK in the station directory.
run_talvek() {
    local input=
    if [ "${1-}" = --stdin ]; then
        input=$2
        shift 2
    fi
    local preload=()
    if [ -n "$sleep_shim" ]; then
        preload=(env "LD_PRELOAD=$sleep_shim"
            "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
    fi
    echo "--- TALVEK $*"
    if [ -n "$input" ]; then
        (cd "$station" && printf '%s' "$input" | "${preload[@]}" ./TALVEK "$@") > "$OUT" 2>&1
    else
        (cd "$station" && "${preload[@]}" ./TALVEK "$@" < /dev/null) > "$OUT" 2>&1
    fi
    RC=$?
}

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

expect_status() {
    [ "$RC" -eq "$1" ] || fail "exit status $RC, expected $1"
}

# expect_line TEXT: the output has a line (ended by "\n") that is exactly
# TEXT; printf %b escapes such as \r and \033 are honoured.
expect_line() {
    local want
    want=$(printf '%b' "$1")
    grep -F -x -q -- "$want" "$OUT" || fail "output lacks the line '$1'"
}

# expect_text TEXT: TEXT (printf %b escapes) is somewhere in one line.
expect_text() {
    local want
    want=$(printf '%b' "$1")
    grep -F -q -- "$want" "$OUT" || fail "output lacks '$1'"
}

expect_no_text() {
    local want
    want=$(printf '%b' "$1")
    if grep -F -q -- "$want" "$OUT"; then fail "output has '$1'"; fi
}

PASS_LINE='\033[1;32m #######      ####      ######     ###### \r'
FAIL_LINE='\033[1;31m ########     ####        ###     ##      \r'

# expect_record TEXT: TALVEK.txt holds exactly TEXT (printf %b escapes).
expect_record() {
    local want got
    want=$(printf '%b' "$1" | od -An -c)
    got=$(od -An -c < "$station/TALVEK.txt" 2>/dev/null)
    [ "$want" = "$got" ] || fail "TALVEK.txt is [$(cat -A "$station/TALVEK.txt" 2>&1)], expected [$1]"
}

# expect_bmc_mac POS HEX12: the simulated BMC reports that MAC for the port.
expect_bmc_mac() {
    local want got
    want=$(echo "$2" | tr 'A-F' 'a-f' | sed 's/../ &/g')
    got=$(sim_ipmitool raw 0x3a 0xa1 "$1" 2>&1)
    [ "$got" = "$want" ] || fail "BMC port $1 reports [$got], expected [$want]"
}

# expect_writes LINE...: the requests that change the BMC (Fast Set MAC,
# Cold Reset) that reached it since the last call, in order.
log_mark=0
expect_writes() {
    local want got
    want=$(printf '%s\n' "$@")
    [ $# -eq 0 ] && want=
    got=$(tail -n +$((log_mark + 1)) "$SIM_LOG" | grep -E '^(set|cold_reset)')
    [ "$want" = "$got" ] || fail "BMC writes were [$got], expected [$want]"
    log_mark=$(wc -l < "$SIM_LOG")
}

start_bmc() {
    sim_start "$work/sim" "$module" "$@" || { echo "FAIL: simulator did not start"; failures=1; exit 1; }
    sim_station "$station" "$talvek_bin" "$station_kovripmi" "$client"
    log_mark=0
}

# kovripmi REQUEST...: the station's ./kovripmi; stdout in $got, stderr in
# $err, exit status in $RC.
kovripmi() {
    got=$(cd "$station" && ./kovripmi "$@" 2> "$work/kovripmi.err" < /dev/null)
    RC=$?
    err=$(cat "$work/kovripmi.err")
}

# expect_logged N: kovripmi.log holds N entries, each with error text.
expect_logged() {
    local entries texts
    entries=$(grep -c '^[0-9]' "$station/kovripmi.log" 2> /dev/null)
    texts=$(grep -c '^    [^ ]' "$station/kovripmi.log" 2> /dev/null)
    if [ "${entries:-0}" -ne "$1" ] || [ "${texts:-0}" -lt "$1" ]; then
        fail "kovripmi.log has ${entries:-0} entries with ${texts:-0} text lines, expected $1: $(cat "$station/kovripmi.log" 2>&1)"
    fi
}

# --- cases -----------------------------------------------------------------

# Both ports from the command line: one Fast Set MAC with position 2, PASS,
# the record, and the BMC holds the new MACs.
case_two_ports() {
    start_bmc 02AB3C000001 02AB3C000002 0x01 0x25 0x39 0x30 0x00 0x00
    printf 'earlier\n' > "$station/TALVEK.txt"
    run_talvek 1=02AB3C5601A1 2=02AB3C5601A2
    expect_status 0
    expect_line 'TALVEK V0.37'
    expect_line 'BMC Revision = 1.25.12345\r'
    expect_line 'INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000'
    expect_line 'eth0 not equal'
    expect_line 'eth1 not equal'
    expect_line 'Set eth0 and eth1 Mac Address Success!'
    expect_line 'The 1st MAC = 02-AB-3C-56-01-A1'
    expect_line 'The 2nd MAC = 02-AB-3C-56-01-A2'
    expect_line "$PASS_LINE"
    expect_no_text "$FAIL_LINE"
    expect_record 'P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n'
    expect_writes "set 2 02AB3C5601A1 02AB3C5601A2"
    expect_bmc_mac 0 02AB3C5601A1
    expect_bmc_mac 1 02AB3C5601A2
}

# A port that already holds its MAC is never rewritten.
case_port_already_right() {
    start_bmc 02AB3C5601A1 02AB3C000002
    run_talvek 1=02AB3C5601A1 2=02AB3C5601A2
    expect_status 0
    expect_line 'eth0 MAC is same with original MAC'
    expect_line 'eth1 not equal'
    expect_line 'Set eth1 Mac Address Success!'
    expect_line "$PASS_LINE"
    expect_record 'P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n'
    expect_writes "set 1 02AB3C5601A2"

    # Run again: both right now, nothing is written.
    run_talvek 1=02AB3C5601A1 2=02AB3C5601A2
    expect_status 0
    expect_line 'eth0 eth1 original MAC and new MAC are the SAME.'
    expect_line "$PASS_LINE"
    expect_writes

    # One port alone, already right: no write either, one-port record.
    run_talvek 1=02AB3C5601A1
    expect_status 0
    expect_no_text 'Mac Address Success'
    expect_record 'P\neth0:02AB3C5601A1\n'
    expect_writes
    expect_bmc_mac 0 02AB3C5601A1
    expect_bmc_mac 1 02AB3C5601A2
}

# A MAC outside the allow-list: refused before anything reaches the BMC.
case_refused_mac() {
    start_bmc 02AB3C000001 02AB3C000002
    run_talvek 1=02AB3D5601A1 2=02AB3C5601A2
    expect_status 1
    expect_line 'Error! Mac 02-AB-3D-56-01-A1 is invalid.'
    expect_line "$FAIL_LINE"
    expect_no_text "$PASS_LINE"
    expect_record 'N\n'
    expect_writes
    grep -q '^get' "$SIM_LOG" && fail "the BMC was asked for MACs before the refusal"
    expect_bmc_mac 0 02AB3C000001
    expect_bmc_mac 1 02AB3C000002
}

# Offset mode: eth1 = eth0 + 1, with the carry into the next byte.
case_offset_mode() {
    start_bmc 02AB3C5601FF 02AB3C000002
    run_talvek U=1
    expect_status 0
    expect_line 'Get eth00 Mac Address success.\r'
    expect_line 'The 1st MAC = 02-AB-3C-56-01-FF\r'
    expect_line 'Set eth01 Mac Address Success.'
    expect_line 'The 2nd MAC = 02-AB-3C-56-02-00'
    expect_line "$PASS_LINE"
    expect_record 'P\neth0:02AB3C5601FF\neth1:02AB3C560200\n'
    expect_writes "set 1 02AB3C560200"
    expect_bmc_mac 0 02AB3C5601FF
    expect_bmc_mac 1 02AB3C560200
}

# MACs from TALVEK1.DAT and TALVEK2.DAT (lower case, CRLF line end).
case_dat_files() {
    start_bmc 02AB3C000001 02AB3C000002
    printf '02ab3c5601a1\r\n' > "$station/TALVEK1.DAT"
    printf '02AB3C5601A2\n' > "$station/TALVEK2.DAT"
    run_talvek 1 2 T
    expect_status 0
    expect_no_text 'Please scan'
    expect_line "$PASS_LINE"
    expect_record 'P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n'
    expect_writes "set 2 02AB3C5601A1 02AB3C5601A2"
    expect_bmc_mac 0 02AB3C5601A1
    expect_bmc_mac 1 02AB3C5601A2
}

# Keyboard entry from a pipe, as a bar-code scanner would type it.
case_keyboard_pipe() {
    start_bmc 02AB3C000001 02AB3C000002
    run_talvek --stdin '02AB3C5601A1' 1
    expect_status 0
    expect_line 'Please scan the 1st bar code... (ESC to exit) 02-AB-3C-56-01-A1'
    expect_line 'Set eth0 Mac Address Success!'
    expect_line "$PASS_LINE"
    expect_record 'P\neth0:02AB3C5601A1\n'
    expect_writes "set 0 02AB3C5601A1"
    expect_bmc_mac 0 02AB3C5601A1
    expect_bmc_mac 1 02AB3C000002

    # Two scans with the scanner's line ends; the second port is changed.
    run_talvek --stdin $'02AB3C5601A1\n02ab3c5601b2\n' 1 2
    expect_status 0
    expect_line 'Please scan the 2nd bar code... (ESC to exit) 02-ab-3c-56-01-b2'
    expect_line "$PASS_LINE"
    expect_record 'P\neth0:02AB3C5601A1\neth1:02AB3C5601B2\n'
    expect_writes "set 1 02AB3C5601B2"
    expect_bmc_mac 1 02AB3C5601B2
}

# "reboot": a Cold Reset after the write, then the 70-second countdown,
# which the simulator ends at count 30 by answering the second poll.
case_reboot() {
    start_bmc 02AB3C000001 02AB3C000002
    run_talvek 1=02AB3C5601A1 2=02AB3C5601A2 reboot
    expect_status 0
    expect_line 'Cold Reset...\r'
    expect_text 'Fast Set MAC done, waiting for BMC ready...(70)  \r'
    expect_text 'Fast Set MAC done, waiting for BMC ready...(30)  \r'
    expect_no_text 'waiting for BMC ready...(29)'
    expect_line "$PASS_LINE"
    expect_record 'P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n'
    expect_writes "set 2 02AB3C5601A1 02AB3C5601A2" "cold_reset"
    expect_bmc_mac 0 02AB3C5601A1
    expect_bmc_mac 1 02AB3C5601A2
}

# The BMC goes away (simulator stopped): the revision is unknown, the first
# read fails, and no pass record appears.
expect_no_pass_record() {
    if [ -e "$station/TALVEK.txt" ] && grep -q '^P' "$station/TALVEK.txt"; then
        fail "a pass record was written: $(cat "$station/TALVEK.txt")"
    fi
}

case_bmc_gone() {
    start_bmc 02AB3C000001 02AB3C000002
    sim_stop
    kovripmi raw 0x3a 0xa1 0x00
    [ "$RC" -ne 0 ] || fail "a request to a stopped BMC exited 0"
    [ -z "$got" ] || fail "a request to a stopped BMC printed [$got]"
    expect_logged 1

    run_talvek 1=02AB3C5601A1 2=02AB3C5601A2
    expect_status 1
    expect_line 'BMC Revision = ?.?.?\r'
    expect_line 'Fast Get Mac Oem Command Fail.'
    expect_no_text "$PASS_LINE"
    expect_no_text "$FAIL_LINE"
    expect_no_pass_record

    run_talvek U=1
    expect_status 1
    expect_line 'Get eth00 Mac Address Fail.\r'
    expect_line "$FAIL_LINE"
    expect_no_pass_record
}

# The module's answers through the station kovripmi: reply bytes, exit
# status, and for a refused request no bytes, the completion code on stderr
# and an entry in kovripmi.log.
case_oem_module() {
    start_bmc 02AB3C000001 02AB3C000002 0x02 0x10 0x00 0x00 0x00 0x01
    local rows=(
        # expected exit | expected stdout or completion code | request
        "0| 00 01 02 10 02 9f 91 12 00 02 0f 00 00 00 01|0x06 0x01"
        "0||0x06 0x02"
        "0| 02 ab 3c 00 00 01|0x3a 0xa1 0x00"
        "0| 02 ab 3c 00 00 02|0x3a 0xa1 1"
        "0||0x3a 0xa0 0 2 171 60 86 1 161"
        "0| 02 ab 3c 56 01 a1|0x3a 0xa1 0"
        "0||0x3a 0xa0 0x02 2 171 60 86 1 177 2 171 60 86 1 178"
        "0| 02 ab 3c 56 01 b2|0x3a 0xa1 1"
        "1|0xc7|0x3a 0xa0 0 1 2 3 4 5"
        "1|0xc7|0x3a 0xa0 1 1 2 3 4 5 6 7"
        "1|0xc7|0x3a 0xa0 2 1 2 3 4 5 6"
        "1|0xc7|0x3a 0xa0"
        "1|0xcc|0x3a 0xa0 3 1 2 3 4 5 6"
        "1|0xc7|0x3a 0xa1"
        "1|0xc7|0x3a 0xa1 0 0"
        "1|0xcc|0x3a 0xa1 2"
        "0| 02 ab 3c 56 01 b1|0x3a 0xa1 0"
    )
    local row status want request refused=0
    for row in "${rows[@]}"; do
        IFS='|' read -r status want request <<< "$row"
        # shellcheck disable=SC2086  # the request is a list of bytes
        kovripmi raw $request
        [ "$RC" -eq "$status" ] || fail "raw $request: exit $RC, expected $status ($err)"
        if [ "$status" -eq 0 ]; then
            [ "$got" = "$want" ] || fail "raw $request: [$got], expected [$want]"
        else
            refused=$((refused + 1))
            [ -z "$got" ] || fail "raw $request: refused, yet printed [$got]"
            [[ $err == *"$want"* ]] || fail "raw $request: [$err] lacks $want"
        fi
    done
    expect_logged "$refused"

    # The revision line TALVEK prints from these Get Device ID bytes.
    run_talvek 1=02AB3C5601B1
    expect_line 'BMC Revision = 2.10.16777216\r'
    expect_status 0
}

# talvek-station-setup --check on a station that reaches the BMC over the
# LAN: every item ok; then a BMC without the MAC commands fails both
# Fast Get MAC items, and only those.
run_check() {
    sh "$setup" --check "$station" > "$work/check.out" 2>&1
    RC=$?
    cp "$work/check.out" "$OUT"
}
case_check() {
    [ -f "$setup" ] || { fail "talvek-station-setup is missing: $setup"; return; }
    start_bmc 02AB3C000001 02AB3C000002
    run_check
    expect_status 0
    expect_line 'ok: root not needed: kovripmi.conf reaches the BMC over the LAN'
    expect_line 'ok: the BMC answers Fast Get MAC for eth1: 02 ab 3c 00 00 02'
    expect_line 'All 10 checks passed.'

    sim_stop
    SIM_MODULE_OPTIONS=no_oem start_bmc
    run_check
    expect_status 1
    expect_text 'ok: the BMC answers Get Device ID:'
    expect_line 'FAIL: the BMC firmware must answer Fast Get MAC for eth0 (./kovripmi raw 0x3a 0xa1 0): install firmware with the OEM MAC commands'
    expect_line 'FAIL: the BMC firmware must answer Fast Get MAC for eth1 (./kovripmi raw 0x3a 0xa1 1): install firmware with the OEM MAC commands'
    expect_line '2 of 10 checks failed.'
}

# ---------------------------------------------------------------------------

fn=case_$case_name
declare -F "$fn" > /dev/null || { echo "unknown case $case_name"; exit 2; }
"$fn"
if [ "$failures" -ne 0 ]; then
    echo "--- last TALVEK output:"
    cat -v "$OUT" 2>/dev/null
    echo "--- requests the BMC answered:"
    cat "$SIM_LOG" 2>/dev/null
    echo "--- ipmi_sim output:"
    cat "$SIM_OUT" 2>/dev/null
    echo "$case_name: $failures check(s) failed"
    exit 1
fi
echo "$case_name: passed"
exit 0
