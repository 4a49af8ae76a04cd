// A run's registry session: start (fail closed), the operator's line, the
// board's identity, what the stages learn, and the end of the run.
#include <cstdio>
#include <cstring>

#include "output/reasons.h"
#include "registry/board_line.h"
#include "registry/registry.h"
#include "registry/runs.h"
#include "registry/schema.h"

int RegistryUnavailable(REGISTRY_RUN *run, const char *reason)
{
    // The first failure is the one to fix; a registry that failed once (a
    // closed connection, a spent lock budget) fails what follows alike.
    if (!run->Unavailable)
        printf("Error! MAC registry unavailable: %s.\n", reason);
    run->Unavailable = 1;
    NoteFailCause(CAUSE_REGISTRY_DOWN);
    char line[kRegMessageSize];
    snprintf(line, sizeof(line), "MAC registry unavailable: %s", reason);
    RegistryNoteFailure(run, line);
    run->Stopped = 1;
    return 1;
}

int RegistryStart(REGISTRY_RUN *run)
{
    memset(run, 0, sizeof(*run));
    DefaultRegistryConf(&run->Conf);
    char err[kConfErrorSize + 64];
    if (LoadRegistryConf(&run->Conf, err, sizeof(err)) != 0) {
        printf("Error! %s.\n", err);
        run->Conf.Kind = REGISTRY_OFF;
        return 1;
    }
    if (run->Conf.Kind == REGISTRY_OFF)
        return 0;
    UtcStamp(run->Started);
    if (NewUuid(run->RunId) != 0)
        return RegistryUnavailable(run, "no run id: /dev/urandom cannot be read");
    char why[kDbErrorSize];
    if (RegDbOpen(&run->Conf, &run->Db, why, sizeof(why)) != 0 ||
        RegistryEnsureSchema(run->Db, nullptr, why, sizeof(why)) != 0) {
        RegDbClose(run->Db);
        run->Db = nullptr;
        return RegistryUnavailable(run, why);
    }
    return 0;
}

void RegistryAnnounce(const REGISTRY_RUN *run)
{
    char where[300];
    RegDbDescribe(run->Db, where, sizeof(where));
    printf("Registry: %s, station %s\n", where, run->Conf.Station);
}

void RegistryObserveBoard(REGISTRY_RUN *run)
{
    ReadBoardIdentity(run->Conf.DmiDir, &run->Identity);
}

void RegistryNotePort(REGISTRY_RUN *run, int port, int flags, const uint8_t mac[6])
{
    if (port < 0 || port > 1)
        return;
    run->PortFlags[port] |= flags;
    if (mac == nullptr)
        return;
    if (flags & REG_HAVE_BEFORE)
        memcpy(run->Before[port], mac, 6);
    if (flags & REG_HAVE_REQUESTED)
        memcpy(run->Requested[port], mac, 6);
    if (flags & REG_HAVE_READBACK)
        memcpy(run->Readback[port], mac, 6);
}

void RegistryNoteFailure(REGISTRY_RUN *run, const char *message)
{
    // The first failure is the cause; what follows is its consequence.
    if (run->Message[0] == '\0')
        snprintf(run->Message, sizeof(run->Message), "%s", message);
}

int RegistryConfirmPass(REGISTRY_RUN *run, int (*write_record)(void *), void *ctx)
{
    char why[kDbErrorSize];
    int rc = RegistryWritePass(run, write_record, ctx, why, sizeof(why));
    if (rc == 1)
        return RegistryUnavailable(run, why);
    if (rc == 2) {
        RegistryNoteFailure(run, "the pass record TALVEK.txt cannot be written");
        run->Stopped = 1;
        return 1;
    }
    run->RowWritten = 1;
    return 0;
}

// Writes the final row (unless it is in) and closes. 0, or 1 when the row
// could not be written (printed).
static int EndRun(REGISTRY_RUN *run, const char *verdict, int exit_status, int show_day)
{
    int rc = 0;
    if (run->Db != nullptr && !run->RowWritten) {
        char why[kDbErrorSize];
        rc = RegistryAppendRun(run, verdict, exit_status, why, sizeof(why));
        if (rc != 0)
            RegistryUnavailable(run, why);
        else
            run->RowWritten = 1;
    }
    // The station's day, this run included (not after a signal: the run
    // ends at once).
    if (show_day && run->RowWritten && !run->Unavailable)
        RegistryShowDay(run);
    RegDbClose(run->Db);
    run->Db = nullptr;
    return rc;
}

int RegistryFinishRun(REGISTRY_RUN *run, int exit_status)
{
    return EndRun(run, exit_status == 0 ? "PASS" : "FAIL", exit_status, 1) != 0 ? 1 : exit_status;
}

void RegistryAbortRun(REGISTRY_RUN *run, int exit_status, const char *why)
{
    // The signal is the cause, whatever the run had noted before it.
    snprintf(run->Message, sizeof(run->Message), "%s", why);
    EndRun(run, "ABORTED", exit_status, 0);
}
