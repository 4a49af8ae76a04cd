// Why a run failed, in the operator's words. A line station (one with
// TALVEK.conf) prints one line "Reason: <what happened>; <what to do>."
// right before every FAIL banner; a plain station prints exactly what it
// always did, so there the noted cause is kept but never shown.
//
// Stages note the cause where they fail; the first noted cause of a run is
// its reason (what follows is its consequence). Every text lives in the one
// table of reasons.cpp, and every reason line fits 80 columns.
#ifndef TALVEK_OUTPUT_REASONS_H
#define TALVEK_OUTPUT_REASONS_H

#include <cstddef>

enum FAIL_CAUSE {
    CAUSE_NONE = 0,          // nothing noted: the run's last message says it
    CAUSE_CONF,              // TALVEK.conf cannot be read or has a bad line
    CAUSE_REGISTRY_DOWN,     // the MAC registry cannot be used
    CAUSE_REGISTERED,        // the registry gives a MAC to another board
    CAUSE_OFFSET_RANGE,      // U=offset outside 1..0xFFFFF
    CAUSE_OFFSET_OVERFLOW,   // eth0's MAC plus the offset does not fit
    CAUSE_DATA_FILE,         // TALVEK1.DAT / TALVEK2.DAT missing, unreadable or not a MAC
    CAUSE_NO_INI,            // TALVEK.ini cannot be opened
    CAUSE_ENTRY_ABANDONED,   // ESC or end of input at the bar-code prompt
    CAUSE_NO_MAC,            // a named port has no MAC from any source
    CAUSE_NOT_ALLOWED,       // the allow-list refuses a MAC
    CAUSE_SAME_MAC,          // both ports were given one MAC
    CAUSE_BMC_SILENT,        // the BMC answers nothing at all
    CAUSE_MAC_READ,          // Fast Get MAC before the write failed
    CAUSE_WRITE,             // Fast Set MAC failed
    CAUSE_NO_PORT,           // the arguments name no port
    CAUSE_NOT_SETTLED,       // no answer to the MAC read after the wait
    CAUSE_NOT_KEPT,          // after the wait the BMC reports another MAC
    CAUSE_READBACK_REQUEST,  // a read-back request failed
    CAUSE_READBACK_BLANK,    // a port reads back all 00 or all FF
    CAUSE_READBACK_DIFFERS,  // a port reads back another MAC than requested
    CAUSE_READBACK_SAME,     // both ports read back one MAC
    CAUSE_RECORD,            // TALVEK.txt cannot be written
    CAUSE_INTERRUPTED,       // SIGINT, SIGTERM or SIGHUP after the reservation
    CAUSE_COUNT
};

constexpr size_t kReasonLineMax = 80;  // columns of the reason line, without its line end

// "<what happened>; <what to do>" for cause (no "Reason: ", no final period).
const char *FailCauseText(int cause);

// Formats "Reason: <text>." into out. Returns its length.
size_t FormatReasonLine(int cause, char *out, size_t out_size);

// Called once at the start of a run: 1 on a line station (reason lines shown).
void ShowReasons(int on);

// Remembers the run's cause unless one is noted already.
void NoteFailCause(int cause);
// A signal ends the run whatever was noted before: it becomes the cause.
void OverrideFailCause(int cause);
int RunFailCause();

// The revision query went unanswered: a MAC read that fails later means the
// BMC answers nothing at all, and is told so.
void NoteBmcUnanswered();

// The FAIL banner, on a line station preceded by the reason line.
void ShowFailBanner();

#endif
