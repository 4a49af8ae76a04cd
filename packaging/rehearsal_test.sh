#!/bin/sh
# The rehearsal as the operator's guide writes it: installs the build tree
# into a scratch root, takes the command blocks of the guide's section
# "Rehearsal with the simulated BMC" from the installed guide and runs them
# line by line, as an operator would type them, on a fresh --sim station.
# What a line should do is read from its own comment: "# PASS" (exit 0 and
# a pass record), "# FAIL" (exit 1 and "N"), "# "TEXT", exit N" (status N and
# TEXT on the screen); every other line must succeed. TALVEK(1) shows the
# same commands; they are compared with the guide's, so that neither the
# program nor either text can drift from the other two.
#
# Usage: rehearsal_test.sh CMAKE BUILD_DIR SOURCE_DIR [SLEEP_SHIM]
# Exit status: 0 passed, 1 failed.

set -u

cmake=$1
build=$2
src=$3
shim=${4:-}

# shellcheck source=SCRIPTDIR/check_lib.sh
. "$(dirname "$0")/check_lib.sh"

scratch rehearsal-test

root=$tmp/root
if ! "$cmake" --install "$build" --prefix "$root/usr" >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log"
    echo "FAIL: cmake --install could not install the build tree"
    exit 1
fi
guide=$root/usr/share/doc/talvek/README.station.md
page=$src/man/TALVEK.1

# The indented lines of the guide's rehearsal section, one block after the
# other (the section ends at the next heading).
awk '/^### Rehearsal with the simulated BMC/ { on = 1; next }
     on && /^#/ { exit }
     on && /^    / { print substr($0, 5) }' "$guide" >"$tmp/guide.lines"
# The example lines of the same subsection of TALVEK(1), roff escapes undone.
awk '/^\.SS Rehearsal with the simulated BMC/ { on = 1; next }
     on && /^\.S[SH] / { exit }
     on && /^\.EX/ { ex = 1; next }
     on && /^\.EE/ { ex = 0; next }
     ex { print }' "$page" |
    sed -e 's/\\-/-/g' -e 's/\\&//g' -e "s/\\\\(aq/'/g" -e 's/\\en/\\n/g' >"$tmp/page.lines"

# The commands alone: comments, comment-only lines and trailing blanks gone.
commands() {
    sed -e 's/[[:blank:]]*#.*$//' -e '/^$/d' "$1"
}
commands "$tmp/guide.lines" >"$tmp/guide.commands"
commands "$tmp/page.lines" >"$tmp/page.commands"
check "the guide's rehearsal section has its commands" [ "$(wc -l <"$tmp/guide.commands")" -ge 10 ]
if diff -u "$tmp/guide.commands" "$tmp/page.commands" >"$tmp/commands.diff"; then
    ok
else
    cat "$tmp/commands.diff"
    bad "TALVEK(1) shows other rehearsal commands than the guide (- guide, + TALVEK(1))"
fi

# Run the guide's lines in this shell, as typed: "cd" moves the test along.
# The sleep shim makes TALVEK's waits return at once; it leaves the
# environment of every program it is loaded into, so only the programs the
# lines start themselves carry it.
PATH=$root/usr/bin:$PATH
export PATH
preload_shim "$shim"
sed "s|/tmp/rehearsal|$tmp/rehearsal|g" "$tmp/guide.lines" >"$tmp/run.lines"
n=0
while IFS= read -r line; do
    n=$((n + 1))
    eval "$line" </dev/null >"$tmp/line.out" 2>&1
    status=$?
    comment=
    case $line in *'#'*) comment=${line#*# } ;; esac
    want=0
    case $comment in
        FAIL*) want=1 ;;
        \"*\"", exit "*) want=${comment##*exit } ;;
    esac
    if [ "$status" -ne "$want" ]; then
        cat "$tmp/line.out"
        bad "line $n '$line' exits with $want (got $status)"
        continue
    fi
    ok
    case $comment in
        PASS*) check "line $n '$line' leaves the pass record" [ "$(head -n 1 TALVEK.txt)" = P ] ;;
        FAIL*) check "line $n '$line' leaves the fail record" [ "$(cat TALVEK.txt)" = N ] ;;
        \"*)
            text=${comment#\"}
            text=${text%%\"*}
            check "line $n '$line' shows '$text'" grep -qF -- "$text" "$tmp/line.out"
            ;;
    esac
done <"$tmp/run.lines"
cd "$tmp" || exit 1
unset LD_PRELOAD

# Every new --sim station is another board.
talvek-station-setup --sim "$tmp/other" >/dev/null 2>&1
first=$(grep '^guid ' "$tmp/rehearsal/kovripmi.scenario" | head -n 1)
check "a new --sim station's scenario names a board GUID" \
    expr "$first" : 'guid [0-9a-f]\{32\}$' >/dev/null
check "two --sim stations are two boards" \
    [ "$(grep '^guid ' "$tmp/other/kovripmi.scenario")" != "$first" ]

# A fresh rehearsal station passes its check as it is, before any run.
talvek-station-setup --check "$tmp/other" >"$tmp/check.out" 2>&1
status=$?
cat "$tmp/check.out"
check "--check on a fresh --sim station exits with 0 (got $status)" [ $status -eq 0 ]
check "--check on a fresh --sim station passes every item" \
    [ "$(tail -n 1 "$tmp/check.out")" = "All 10 checks passed." ]

summary rehearsal_test
