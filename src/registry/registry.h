// The MAC registry as a TALVEK run uses it: one MAC, one board, every run on
// record. RegistryStart hands the run a handle while the registry is on and
// none (nullptr) while it is off; every function here does nothing on none
// (the few with a result give what a run without a registry gets), so the
// stages call them unconditionally and a station without TALVEK.conf prints,
// sends and writes exactly what it always did. The record behind the handle
// is the registry's own (registry/run_record.h).
//
// Sequence of a run with the registry on:
//   RegistryStart          conf, connection, schema (fail closed: nothing sent yet)
//   RegistryAnnounce       "Registry: ..." (after the INI entries / the version banner)
//   RegistryObserveBoard   Get System GUID and the SMBIOS files
//   RegistryShowBoard      "Board: ..." (board_line.cpp)
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

struct REGISTRY_RUN;  // the handle; registry/run_record.h

enum REG_PORT_FLAG {
    REG_HAVE_BEFORE = 1,     // Before[] holds what the BMC reported before writing
    REG_HAVE_REQUESTED = 2,  // Requested[] holds the MAC the run asked for
    REG_HAVE_READBACK = 4,   // Readback[] holds the final read-back
    REG_SELECTED = 8,        // the run selected this port
    REG_PASSED = 16,         // its read-back passed every test
};

// Loads TALVEK.conf. Registry off: returns 0 with *handle nullptr and nothing
// else done. On: opens the database, creates or checks the schema, draws the
// run id and start time, and *handle is the run's registry. Prints "Error!
// TALVEK.conf line N: ...." or "Error! MAC registry unavailable: <reason>."
// and returns 1 (*handle nullptr) on failure. Once per process.
int RegistryStart(REGISTRY_RUN **handle);

// Prints "Registry: sqlite <file>, station <name>" or
// "Registry: postgresql <host>/<db>, station <name>".
void RegistryAnnounce(const REGISTRY_RUN *run);

// Observes the board identity (see identity.h). Sends Get System GUID.
void RegistryObserveBoard(REGISTRY_RUN *run);

// "Board: GUID 00112233-...", "Board: UUID ...", "Board: serial ..." (the
// identity the registry records the run under), or "Board: no identity
// (GUID, UUID and serials are placeholders)". After RegistryObserveBoard.
void RegistryShowBoard(const REGISTRY_RUN *run);

// The run is the offset mode's ("U=offset"): eth0 is read and kept.
void RegistryNoteOffsetMode(REGISTRY_RUN *run);

// The reservation: one transaction decides for every MAC of a selected port:
// requested[p] for each port p with REG_HAVE_REQUESTED, and each MAC the BMC
// reported in before[p] (REG_HAVE_BEFORE) that is not all 00 or all FF. A MAC
// to be written, or kept on the board, goes through the decision table; a MAC the
// board holds but is about to lose is only checked: refused when another board
// holds it, never reserved. On a refusal prints "Error! Mac
// %02X-%02X-%02X-%02X-%02X-%02X is already registered to board %s (station
// %s, %s)." and rolls back; on a database failure prints "Error! MAC registry
// unavailable: <reason>.". Either stops the run (RegistryStopped) and returns
// 1; the caller then writes nothing to the BMC. 0 on none.
int RegistryReserve(REGISTRY_RUN *run);

// Records what a stage learnt about a port (flags are ORed in).
void RegistryNotePort(REGISTRY_RUN *run, int port, int flags, const uint8_t mac[6]);

// Before a PASS is shown, one transaction: marks the run's MACs 'verified'
// with their read-back, gives the runs row its verdict PASS (exit status 0),
// calls write_record(ctx) to write the pass record, and commits. So the
// record says "P" only while the registry holds the PASS, uncommitted for
// the one COMMIT at most. write_record returns 0 when written. On a database
// failure (the COMMIT's included) prints "Error! MAC registry unavailable:
// <reason>."; on either failure stops the run and returns 1: the caller
// turns the verdict into a FAIL and writes "N" over a "P" already written.
// On none: write_record(ctx), and its result.
int RegistryConfirmPass(REGISTRY_RUN *run, int (*write_record)(void *), void *ctx);

// 1 when the registry refused the run or failed (the run must fail); 0 on none.
int RegistryStopped(const REGISTRY_RUN *run);

// 1 while the run is on record and its final row is not yet in: the
// reservation committed, and a signal must end the run with RegistryAbortRun.
// 0 on none.
int RegistryAwaitsFinalRow(const REGISTRY_RUN *run);

// Remembers the first failure text of the run for the runs row.
void RegistryNoteFailure(REGISTRY_RUN *run, const char *message);

// Ends the run: writes the final runs row (verdict PASS for exit status 0,
// else FAIL) unless RegistryConfirmPass did, and closes the database.
// Returns the exit status to use: exit_status, or 1 when the row could not
// be written (the unavailable message is printed). exit_status on none.
int RegistryFinishRun(REGISTRY_RUN *run, int exit_status);

// Ends a run that a signal interrupted: the final runs row says ABORTED with
// exit_status and the message why (unless the final row is in already), and
// the database is closed. A failure is printed as unavailable; the caller
// ends the process by the signal anyway.
void RegistryAbortRun(REGISTRY_RUN *run, int exit_status, const char *why);

#endif
