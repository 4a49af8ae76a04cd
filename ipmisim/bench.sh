#!/bin/bash
# What one BMC request and one whole two-port run cost through each IPMI
# client of the station kovripmi, against OpenIPMI's BMC simulator with the
# kovr_oem module on the loopback address.
#
#   ipmisim/bench.sh [--rows] [BUILD_DIR [REQUESTS [RUNS]]]
#
# BUILD_DIR (default build/) holds TALVEK, ipmisim/kovr_oem.so and
# ipmisim/ipmisim_sleep_shim.so.  For each client (ipmitool, freeipmi) it
# times REQUESTS (default 50) "./kovripmi raw 0x06 0x01" calls and RUNS
# (default 15) "TALVEK 1=.. 2=.." runs that write both ports, with TALVEK's
# one-second pauses skipped by the sleep shim, so that a run's time is its
# requests plus TALVEK's own small share.  The MACs alternate between two
# pairs, so every run writes.  Prints one Markdown table row per figure:
# minimum, median and maximum in milliseconds.  A client that is not
# installed gets a row that says so.  --rows prints the rows alone, in the
# four columns of the benchmark table (bench/RESULTS.md), information only.

set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rows=0
if [ "${1-}" = --rows ]; then
    rows=1
    shift
fi
build=$(cd "${1:-$here/../build}" && pwd) || exit 1
requests=${2:-50}
runs=${3:-15}

# shellcheck source=simlib.sh
. "$here/simlib.sh"

for f in "$build/TALVEK" "$build/ipmisim/kovr_oem.so" "$build/ipmisim/ipmisim_sleep_shim.so"; do
    [ -f "$f" ] || { echo "bench: $f is missing (build first)" >&2; exit 1; }
done
for tool in ipmi_sim ipmitool; do
    command -v "$tool" > /dev/null 2>&1 || { echo "bench: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ipmisim-bench.XXXXXX")
trap 'sim_stop; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
sim_start "$work/sim" "$build/ipmisim/kovr_oem.so" || exit 1

now_us() {
    local t=$EPOCHREALTIME
    echo "${t/./}"
}

# row FIGURE MEASURED: one table row.
row() {
    if [ $rows -eq 1 ]; then
        printf '| %s | %s | - | - |\n' "$1" "$2"
    else
        printf '| %s | %s |\n' "$1" "$2"
    fi
}

# stats LABEL: min / median / max of the microsecond figures on stdin.
stats() {
    row "$1" "$(sort -n | awk '{ v[NR] = $1 }
        END { printf "min %.1f, median %.1f, max %.1f ms (%d)",
              v[1] / 1000, v[int((NR + 1) / 2)] / 1000, v[NR] / 1000, NR }')"
}

# The requests of one two-port run, counted once through a wrapper.
count_requests() {
    local dir=$1
    mv "$dir/kovripmi" "$dir/kovripmi.real"
    # shellcheck disable=SC2016  # the wrapper's own "$0" and "$@"
    printf '#!/bin/sh\necho >> "${0%%/*}/requests.count"\nexec "${0%%/*}/kovripmi.real" "$@"\n' > "$dir/kovripmi"
    chmod +x "$dir/kovripmi"
    (cd "$dir" && LD_PRELOAD=$build/ipmisim/ipmisim_sleep_shim.so \
        ./TALVEK 1=02AB3C5601C1 2=02AB3C5601C2 < /dev/null > /dev/null 2>&1)
    mv "$dir/kovripmi.real" "$dir/kovripmi"
    wc -l < "$dir/requests.count"
}

if [ $rows -eq 0 ]; then
    echo "| Figure (ipmi_sim on 127.0.0.1, station kovripmi) | Measured (count) |"
    echo "|---|---|"
fi
for client in ipmitool freeipmi; do
    if [ "$client" = freeipmi ] && ! command -v ipmi-raw > /dev/null 2>&1; then
        row "ipmi_sim through $client" "not measured: ipmi-raw is not installed (freeipmi-tools)"
        continue
    fi
    station=$work/$client
    sim_station "$station" "$build/TALVEK" "$here/../station/kovripmi" "$client"
    (cd "$station" && ./kovripmi raw 0x06 0x01 > /dev/null) ||
        { echo "bench: $client cannot reach the simulator" >&2; exit 1; }

    for ((i = 0; i < requests; i++)); do
        t0=$(now_us)
        (cd "$station" && ./kovripmi raw 0x06 0x01 > /dev/null 2>&1)
        t1=$(now_us)
        echo $((t1 - t0))
    done | stats "ipmi_sim: one request (Get Device ID) through $client"

    n=$(count_requests "$station")
    for ((i = 0; i < runs; i++)); do
        if ((i % 2)); then set -- 1=02AB3C5601A1 2=02AB3C5601A2; else set -- 1=02AB3C5601B1 2=02AB3C5601B2; fi
        t0=$(now_us)
        (cd "$station" && LD_PRELOAD=$build/ipmisim/ipmisim_sleep_shim.so ./TALVEK "$@" < /dev/null > "$work/run.out" 2>&1) ||
            { echo "bench: a run through $client failed:" >&2; cat "$work/run.out" >&2; exit 1; }
        t1=$(now_us)
        echo $((t1 - t0))
    done | stats "ipmi_sim: two-port PASS run's $n requests through $client (sleeps skipped)"
done
