// The MAC registry as a TALVEK run uses it: one MAC, one board, every run on
// record. The run driver owns one REGISTRY_RUN and hangs it on the run record
// (TALVEK_DATA::Registry) while the registry is on; with the registry off that
// pointer stays nullptr and none of these functions is called, so a station
// without TALVEK.conf prints, sends and writes exactly what it always did.
//
// Sequence of a run with the registry on:
//   RegistryStart          conf, connection, schema (fail closed: nothing sent yet)
//   RegistryAnnounce       "Registry: ..." (after the INI entries / the version banner)
//   RegistryObserveBoard   Get System GUID and the SMBIOS files
//   RegistryReserve        after the current MACs are read, before any Fast Set MAC;
//                          the run's runs row begins here (verdict INCOMPLETE)
//   RegistryNotePort       per port: before, requested, read-back, result
//   RegistryConfirmPass    before a PASS is shown: MACs 'verified', the runs row, and
//                          the pass record, in that order, then COMMIT
//   RegistryFinishRun      at the end of every other run: the runs row
//   RegistryAbortRun       a signal after the reservation: the runs row, ABORTED
#ifndef TALVEK_REGISTRY_REGISTRY_H
#define TALVEK_REGISTRY_REGISTRY_H

#include <cstddef>
#include <cstdint>

#include "TALVEK.h"
#include "registry/conf.h"
#include "registry/db.h"
#include "registry/identity.h"
#include "registry/stamp.h"

constexpr size_t kRegMessageSize = 512;

enum REG_PORT_FLAG {
    REG_HAVE_BEFORE = 1,     // Before[] holds what the BMC reported before writing
    REG_HAVE_REQUESTED = 2,  // Requested[] holds the MAC the run asked for
    REG_HAVE_READBACK = 4,   // Readback[] holds the final read-back
    REG_SELECTED = 8,        // the run selected this port
    REG_PASSED = 16,         // its read-back passed every test
};

struct REGISTRY_RUN {
    REGISTRY_CONF Conf;
    REG_DB *Db;
    BOARD_IDENTITY Identity;
    char RunId[kUuidSize];
    char Started[kStampSize];
    int OffsetMode;    // 1: the "U=offset" run
    int PortFlags[2];  // REG_PORT_FLAG bits per port
    uint8_t Before[2][6];
    uint8_t Requested[2][6];
    uint8_t Readback[2][6];
    int Stopped;                    // 1: the registry refused or failed; the run must fail
    int Unavailable;                // 1: "MAC registry unavailable" was printed (once a run)
    int RowStarted;                 // 1: the reservation committed the INCOMPLETE runs row
    int RowWritten;                 // 1: the final runs row is in
    char Message[kRegMessageSize];  // the run's failure, for the runs row
};

// The decision for one MAC M of a selected port, given who holds it.
enum REG_DECISION {
    REG_RESERVE = 0,          // not held, or released: reserve M for this board
    REG_KEEP = 1,             // held for this board's key
    REG_KEEP_RECORD_KEY = 2,  // held for a board without a key, and this board holds M
    REG_REFUSE = 3,           // held for another board
};

// The holder of a MAC as the registry has it.
struct REG_HOLDER {
    int Exists;       // 0: the registry has no row for M
    int Released;     // the row's state is 'released'
    const char *Key;  // nullptr: the holder had no key (a placeholder key counts as none)
};

// The decision table (pure): board_key is "" when this board has no key;
// board_holds is 1 when the BMC already reports M on a port of this board.
int RegistryDecide(const REG_HOLDER *holder, const char *board_key, int board_holds);

// Loads TALVEK.conf. Registry off: returns 0 with run->Conf.Kind REGISTRY_OFF
// and nothing else done. On: opens the database, creates or checks the schema,
// draws the run id and start time. Prints "Error! TALVEK.conf line N: ...." or
// "Error! MAC registry unavailable: <reason>." and returns 1 on failure.
int RegistryStart(REGISTRY_RUN *run);

// Prints "Registry: sqlite <file>, station <name>" or
// "Registry: postgresql <host>/<db>, station <name>".
void RegistryAnnounce(const REGISTRY_RUN *run);

// Observes the board identity (see identity.h). Sends Get System GUID.
void RegistryObserveBoard(REGISTRY_RUN *run);

// The reservation: one transaction decides for every MAC of a selected port:
// requested[p] for each port p with REG_HAVE_REQUESTED, and each MAC the BMC
// reported in before[p] (REG_HAVE_BEFORE) that is not all 00 or all FF. A MAC
// to be written, or kept on the board, goes through RegistryDecide; a MAC the
// board holds but is about to lose is only checked: refused when another board
// holds it, never reserved. On a refusal prints "Error! Mac
// %02X-%02X-%02X-%02X-%02X-%02X is already registered to board %s (station
// %s, %s)." and rolls back; on a database failure prints "Error! MAC registry
// unavailable: <reason>.". Either sets run->Stopped and returns 1; the caller
// then writes nothing to the BMC.
int RegistryReserve(REGISTRY_RUN *run);

// Records what a stage learnt about a port (flags are ORed in).
void RegistryNotePort(REGISTRY_RUN *run, int port, int flags, const uint8_t mac[6]);

// Before a PASS is shown, one transaction: marks the run's MACs 'verified'
// with their read-back, gives the runs row its verdict PASS (exit status 0),
// calls write_record(ctx) to write the pass record, and commits. So the
// record says "P" only while the registry holds the PASS, uncommitted for
// the one COMMIT at most. write_record returns 0 when written. On a database
// failure (the COMMIT's included) prints "Error! MAC registry unavailable:
// <reason>."; on either failure sets run->Stopped and returns 1: the caller
// turns the verdict into a FAIL and writes "N" over a "P" already written.
int RegistryConfirmPass(REGISTRY_RUN *run, int (*write_record)(void *), void *ctx);

// Prints "Error! MAC registry unavailable: <reason>." (the first time in a
// run), records it as the run's failure and sets run->Stopped. Returns 1.
int RegistryUnavailable(REGISTRY_RUN *run, const char *reason);

// Remembers the first failure text of the run for the runs row.
void RegistryNoteFailure(REGISTRY_RUN *run, const char *message);

// Ends the run: writes the final runs row (verdict PASS for exit status 0,
// else FAIL) unless RegistryConfirmPass did, and closes the database.
// Returns the exit status to use: exit_status, or 1 when the row could not
// be written (the unavailable message is printed).
int RegistryFinishRun(REGISTRY_RUN *run, int exit_status);

// Ends a run that a signal interrupted: the final runs row says ABORTED with
// exit_status and the message why (unless the final row is in already), and
// the database is closed. A failure is printed as unavailable; the caller
// ends the process by the signal anyway.
void RegistryAbortRun(REGISTRY_RUN *run, int exit_status, const char *why);

#endif
