// talvek-registry: the MAC registry's tool for line engineers and the MES.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "registry/schema.h"
#include "registry_tool/args.h"
#include "registry_tool/commands.h"
#include "registry_tool/open_registry.h"
#include "registry_tool/view.h"

static int Init(REG_DB *db)
{
    char err[kDbErrorSize];
    int from = 0;
    if (RegistryEnsureSchema(db, &from, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    char where[300];
    RegDbDescribe(db, where, sizeof where);
    if (from == kRegistrySchemaVersion) {
        printf("Registry %s: schema version %d, up to date.\n", where, from);
    } else if (from == 0) {
        printf("Registry %s: schema version %d created.\n", where, kRegistrySchemaVersion);
    } else {
        printf("Registry %s: schema upgraded from version %d to %d.\n", where, from,
               kRegistrySchemaVersion);
    }
    return 0;
}

static int Dispatch(const REGTOOL_ARGS *args, const REGISTRY_CONF *conf, REG_DB *db)
{
    switch (args->Command) {
    case REGTOOL_INIT:
        return Init(db);
    case REGTOOL_WHO:
        return RegToolWho(db, args->Mac);
    case REGTOOL_BOARD:
        return RegToolBoard(db, args->Key);
    case REGTOOL_RELEASE:
        return RegToolRelease(db, args->Mac, args->Reason, conf->Station);
    case REGTOOL_EXPORT:
        return RegToolExport(db, args->Format, args->Since, stdout);
    case REGTOOL_STATS:
        return RegToolStats(db, args, stdout);
    case REGTOOL_REPORT:
        return RegToolReport(db, args);
    case REGTOOL_POOLS: {
        std::vector<VIEW_RANGE> ranges;
        return ReadIniRanges(args, &ranges) != 0 ? 1 : RegToolPools(conf, db, ranges, args->PoolFormat);
    }
    case REGTOOL_PENDING:
        return RegToolPending(db, args->OlderThan);
    case REGTOOL_RELAY:
        return RegToolRelay(db, conf, args);
    case REGTOOL_OUTBOX:
        return RegToolOutbox(db, args->Dead, args->Retry);
    default:
        return RegToolError("internal error: no command");
    }
}

int main(int argc, char **argv)
{
    REGTOOL_ARGS args;
    char err[300];
    if (ParseRegToolArgs(argc, argv, &args, err, sizeof err) != 0) {
        fprintf(stderr, "talvek-registry: %s\nTry \"talvek-registry --help\".\n", err);
        return 2;
    }
    if (args.Command == REGTOOL_HELP) {
        fputs(kRegToolUsage, stdout);
        return fflush(stdout) == 0 ? 0 : 1;
    }
    // A closed pipe is a write error the commands report, not a silent
    // death: a release committed must still say so on standard error.
    signal(SIGPIPE, SIG_IGN);
    if (args.Command == REGTOOL_CHECK)
        return RegToolCheck(args.Registry);
    static REGISTRY_CONF conf;
    if (ResolveRegistry(args.Registry, &conf) != 0)
        return 1;
    // serve owns its connection: the registry may be down when it starts.
    if (args.Command == REGTOOL_SERVE)
        return RegToolServe(&conf, &args);
    REG_DB *db = nullptr;
    if (OpenRegistry(&conf, args.Command == REGTOOL_INIT, &db) != 0)
        return 1;
    int status = Dispatch(&args, &conf, db);
    RegDbClose(db);
    // An answer cut short (a full disk, a closed pipe) must not look complete;
    // a command that failed has said so already.
    if ((fflush(stdout) != 0 || ferror(stdout)) && status == 0)
        return RegToolError("cannot write to standard output");
    return status;
}
