// The registry's runs rows and the PASS. A run is on record from its
// reservation on: RegistryBeginRun adds its row (verdict INCOMPLETE) in the
// reservation's transaction, and RegistryWriteFinalRun gives the row its
// final verdict, so a finished run has exactly one row and a run killed
// outright (kill -9, power lost) stays INCOMPLETE. Used by session.cpp,
// reserve.cpp and talvek-registry's tests; TALVEK's stages use registry.h.
#ifndef TALVEK_REGISTRY_RUNS_H
#define TALVEK_REGISTRY_RUNS_H

#include <cstddef>

#include "registry/run_record.h"

// The message of a row whose run has not ended (still running, or killed).
constexpr char kIncompleteMessage[] = "the run has not ended (still running, or killed)";

// Inside the caller's transaction: inserts the run's row with verdict
// INCOMPLETE, exit status 1 and ended_utc the time of the call (the last
// moment the run was known alive). The caller sets run->RowStarted once its
// transaction has committed.
int RegistryBeginRun(REGISTRY_RUN *run, char *err, size_t err_size);

// Inside the caller's transaction: the run's final row, verdict "PASS",
// "FAIL" or "ABORTED" with the exit status. Updates the INCOMPLETE row when
// the reservation began one, else inserts the row. The one place that writes
// a run's end: whatever must be recorded with it in the same transaction
// belongs here.
int RegistryWriteFinalRun(REGISTRY_RUN *run, const char *verdict, int exit_status, char *err,
                          size_t err_size);

// RegistryWriteFinalRun in a transaction of its own. 0 on success; 1 with a
// reason in err.
int RegistryAppendRun(REGISTRY_RUN *run, const char *verdict, int exit_status, char *err,
                      size_t err_size);

// One transaction: every MAC the run holds ('reserved' or kept) on a port that
// passed becomes 'verified' with its read-back, the PASS row is written, then
// write_record(ctx) writes the pass record, and only then the transaction
// commits. 0 committed; 1 a database failure (reason in err; the COMMIT
// itself included, after the record was written); 2 write_record failed
// (rolled back).
int RegistryWritePass(REGISTRY_RUN *run, int (*write_record)(void *), void *ctx, char *err,
                      size_t err_size);

#endif
