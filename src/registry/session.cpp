// A run's registry session: start (fail closed), the operator's line, the
// board's identity, what the stages learn, and the end of the run. Every
// entry point the stages call is here, and each does nothing on none (the
// registry off): this file alone keeps a station without TALVEK.conf as it
// always was.
#include <cstdio>
#include <cstring>

#include "output/reasons.h"
#include "registry/board_line.h"
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

// The one run of the process; large (the identity), so not on the stack.
static REGISTRY_RUN g_run;

static int Start(REGISTRY_RUN *run)
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

int RegistryStart(REGISTRY_RUN **handle)
{
    *handle = nullptr;
    if (Start(&g_run) != 0)
        return 1;
    if (g_run.Conf.Kind != REGISTRY_OFF)
        *handle = &g_run;
    return 0;
}

void RegistryAnnounce(const REGISTRY_RUN *run)
{
    if (run == nullptr)
        return;
    char where[300];
    RegDbDescribe(run->Db, where, sizeof(where));
    printf("Registry: %s, station %s\n", where, run->Conf.Station);
}

void RegistryObserveBoard(REGISTRY_RUN *run)
{
    if (run == nullptr)
        return;
    ReadBoardIdentity(run->Conf.DmiDir, &run->Identity);
}

void RegistryShowBoard(const REGISTRY_RUN *run)
{
    if (run != nullptr)
        ShowBoardLine(run);
}

void RegistryNoteOffsetMode(REGISTRY_RUN *run)
{
    if (run != nullptr)
        run->OffsetMode = 1;
}

int RegistryReserve(REGISTRY_RUN *run)
{
    return run != nullptr ? ReserveClaims(run) : 0;
}

void RegistryNotePort(REGISTRY_RUN *run, int port, int flags, const uint8_t mac[6])
{
    if (run == nullptr || port < 0 || port > 1)
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
    if (run != nullptr && run->Message[0] == '\0')
        snprintf(run->Message, sizeof(run->Message), "%s", message);
}

int RegistryConfirmPass(REGISTRY_RUN *run, int (*write_record)(void *), void *ctx)
{
    if (run == nullptr)
        return write_record(ctx);
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

int RegistryStopped(const REGISTRY_RUN *run)
{
    return run != nullptr && run->Stopped;
}

int RegistryAwaitsFinalRow(const REGISTRY_RUN *run)
{
    return run != nullptr && run->RowStarted && !run->RowWritten;
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
    if (run == nullptr)
        return exit_status;
    return EndRun(run, exit_status == 0 ? "PASS" : "FAIL", exit_status, 1) != 0 ? 1 : exit_status;
}

void RegistryAbortRun(REGISTRY_RUN *run, int exit_status, const char *why)
{
    if (run == nullptr)
        return;
    // The signal is the cause, whatever the run had noted before it.
    snprintf(run->Message, sizeof(run->Message), "%s", why);
    EndRun(run, "ABORTED", exit_status, 0);
}
