# shellcheck shell=bash
# simlib.sh - run OpenIPMI's BMC simulator (ipmi_sim) with the kovr_oem
# module on a free loopback port, and lay out station directories that talk
# to it through the station kovripmi.  Sourced by bash scripts (the
# integration tests and the demo); it defines functions only.
#
# State kept in globals: SIM_DIR (work directory of the simulator), SIM_PID,
# SIM_PORT, SIM_LOG (requests the module answered, one a line), SIM_OUT
# (the simulator's own output).

# The T_* variables are read by name in sim_fill.
# shellcheck disable=SC2034
SIMLIB_HOME=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SIM_USER="admin"
SIM_PASSWORD=kovr
SIM_PID=
SIM_PORT=
# Upper bound of a simulator's life in seconds: one that outlives a killed
# test run stops by itself.
SIM_LIFETIME=${SIM_LIFETIME:-900}

# Number of UDP sockets bound to a local port, any address (IPv4 and IPv6).
sim_port_sockets() {
    local hex
    hex=$(printf '%04X' "$1")
    cat /proc/net/udp /proc/net/udp6 2>/dev/null |
        awk -v p="$hex" 'NR > 1 { n = split($2, a, ":"); if (a[n] == p) c++ } END { print c + 0 }'
}

# A port below the kernel's ephemeral range (so no client socket takes it
# meanwhile) on which nothing is bound right now.
sim_pick_port() {
    local port tries=0
    while [ $tries -lt 200 ]; do
        port=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
        if [ "$(sim_port_sockets "$port")" -eq 0 ]; then
            echo "$port"
            return 0
        fi
        tries=$((tries + 1))
    done
    echo "simlib: no free UDP port found" >&2
    return 1
}

# ipmitool against the simulator, with the options that keep it fast:
# cipher suite 3 (the simulator never answers the cipher-suite query) and
# one try of one second.
sim_ipmitool() {
    IPMI_PASSWORD=$SIM_PASSWORD ipmitool -I lanplus -H 127.0.0.1 -p "$SIM_PORT" \
        -U "$SIM_USER" -E -C 3 -N 1 -R 1 "$@"
}

# Fill a template: every @NAME@ is replaced by the value of the shell
# variable T_NAME.
sim_fill() {
    local text name value
    text=$(<"$1")
    for name in PORT MODULE OPTIONS FW_MAJOR FW_MINOR AUX ETH0 ETH1; do
        local var=T_$name
        value=${!var-}
        text=${text//@$name@/$value}
    done
    printf '%s\n' "$text"
}

# sim_start DIR MODULE [ETH0 [ETH1 [FW_MAJOR FW_MINOR [AUX0 AUX1 AUX2 AUX3]]]]
# Starts the simulator with its files under DIR and waits until it answers
# Get Device ID.  Returns non-zero (after a message) when it cannot.
sim_start() {
    SIM_DIR=$1
    local module=$2
    T_ETH0=${3:-020000000001}
    T_ETH1=${4:-020000000002}
    T_FW_MAJOR=${5:-0x01}
    T_FW_MINOR=${6:-0x25}
    T_AUX="${7:-0x03} ${8:-0x00} ${9:-0x00} ${10:-0x00}"
    T_MODULE=$module
    SIM_LOG=$SIM_DIR/requests.log
    SIM_OUT=$SIM_DIR/ipmi_sim.out
    T_OPTIONS="log=$SIM_LOG${SIM_MODULE_OPTIONS:+ $SIM_MODULE_OPTIONS}"
    mkdir -p "$SIM_DIR/state"
    : > "$SIM_LOG"

    local attempt
    for attempt in 1 2 3 4 5; do
        SIM_PORT=$(sim_pick_port) || return 1
        T_PORT=$SIM_PORT
        sim_fill "$SIMLIB_HOME/lan.conf.in" > "$SIM_DIR/lan.conf"
        sim_fill "$SIMLIB_HOME/bmc.cmds.in" > "$SIM_DIR/bmc.cmds"
        timeout --kill-after=5 "$SIM_LIFETIME" \
            ipmi_sim -n -c "$SIM_DIR/lan.conf" -f "$SIM_DIR/bmc.cmds" \
            -s "$SIM_DIR/state" > "$SIM_OUT" 2>&1 < /dev/null &
        SIM_PID=$!

        # Wait for the socket to show up (at most 10 s).
        local i
        for ((i = 0; i < 200; i++)); do
            if ! kill -0 "$SIM_PID" 2>/dev/null; then
                echo "simlib: ipmi_sim exited at start:" >&2
                cat "$SIM_OUT" >&2
                SIM_PID=
                return 1
            fi
            [ "$(sim_port_sockets "$SIM_PORT")" -ge 1 ] && break
            sleep 0.05
        done
        # The simulator binds with SO_REUSEADDR, so a second program on the
        # same port would not stop it: make sure it is alone there.
        if [ "$(sim_port_sockets "$SIM_PORT")" -ne 1 ]; then
            echo "simlib: port $SIM_PORT is shared, trying another one" >&2
            sim_stop
            continue
        fi
        for ((i = 0; i < 10; i++)); do
            if sim_ipmitool raw 0x06 0x01 > /dev/null 2>&1; then
                return 0
            fi
            kill -0 "$SIM_PID" 2>/dev/null || break
        done
        echo "simlib: ipmi_sim on port $SIM_PORT does not answer (attempt $attempt):" >&2
        cat "$SIM_OUT" >&2
        sim_stop
    done
    return 1
}

# Stops the simulator (SIGTERM, then SIGKILL after 5 s) and waits for it.
sim_stop() {
    [ -n "$SIM_PID" ] || return 0
    local i
    kill -TERM "$SIM_PID" 2>/dev/null
    for ((i = 0; i < 100; i++)); do
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=
}

# sim_station DIR TALVEK_BIN STATION_KOVRIPMI [CLIENT]
# Lays out a station directory: the program, the station kovripmi with a
# kovripmi.conf that points it at the simulator through CLIENT (ipmitool,
# the default, or freeipmi), and an allow-list that admits the 02-AB-3C
# block.
sim_station() {
    local dir=$1 client=${4:-ipmitool}
    mkdir -p "$dir"
    cp "$2" "$dir/TALVEK"
    cp "$3" "$dir/kovripmi"
    chmod +x "$dir/TALVEK" "$dir/kovripmi"
    cat > "$dir/kovripmi.conf" <<CONF
# Written by simlib.sh: the BMC simulator on the loopback address.
interface=lanplus
host=127.0.0.1
port=$SIM_PORT
user=$SIM_USER
password=$SIM_PASSWORD
cipher=3
timeout=1
retries=1
CONF
    # The simulator grants the session privilege only when it is asked for
    # in the Open Session request, which ipmi-raw does with this workaround.
    if [ "$client" = freeipmi ]; then
        printf 'client=freeipmi\nworkarounds=opensesspriv\n' >> "$dir/kovripmi.conf"
    fi
    printf 'AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n' > "$dir/TALVEK.ini"
}
