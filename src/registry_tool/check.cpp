// check: the line's two items of a station check (talvek-station-setup
// --check runs it in the station directory): can this station use its MAC
// registry, and under which key will this board be recorded. Each item is
// one line, "ok: <what was found>" or "FAIL: <what to do>", so the station
// script shows them among its own; nothing is changed, no file is created.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "registry/identity.h"
#include "registry/schema.h"
#include "registry_tool/commands.h"

namespace {

struct CheckOutcome {
    int failed;  // items that failed
};

void Item(CheckOutcome *out, bool ok, const char *text)
{
    printf("%s: %s\n", ok ? "ok" : "FAIL", text);
    out->failed += ok ? 0 : 1;
}

constexpr size_t kLatestSize = 160;  // "last run <time> at <station>"

// Describes the latest run on record into ctx (kLatestSize bytes), which is
// left as it was when there is none: a read that reaches the data tables
// through an index, cheap on a line's database of any size.
int LatestRun(void *ctx, int ncols, const char *const *cols)
{
    if (ncols == 2 && cols[0] && cols[1])
        snprintf(static_cast<char *>(ctx), kLatestSize, "last run %s at %s", cols[0], cols[1]);
    return 0;
}

// The registry item: TALVEK.conf's registry reachable (within the
// connection timeout), its schema version one this program knows, and a read
// from the data tables.
void CheckRegistry(const REGISTRY_CONF *conf, CheckOutcome *out)
{
    char line[2 * kConfTargetSize + 300];
    if (conf->Kind == REGISTRY_OFF) {
        Item(out, true,
             "MAC registry off (no " TALVEK_CONF_NAME
             " with a registry line): runs are not recorded");
        return;
    }
    // A station's own file that is not there yet is made by the first run;
    // the check must not make it, only see that it can be made.
    if (conf->Kind == REGISTRY_SQLITE && access(conf->Target, F_OK) != 0) {
        char dir[kConfTargetSize];
        snprintf(dir, sizeof dir, "%s", conf->Target);
        char *slash = strrchr(dir, '/');
        if (slash == dir)
            slash[1] = '\0';
        else if (slash)
            *slash = '\0';
        else
            snprintf(dir, sizeof dir, ".");
        bool writable = access(dir, W_OK | X_OK) == 0;
        if (writable)
            snprintf(
                line, sizeof line,
                "MAC registry sqlite %s, station %s: no database yet; the first run creates it",
                conf->Target, conf->Station);
        else
            snprintf(line, sizeof line,
                     "let TALVEK create the MAC registry %s: its directory %s is not writable",
                     conf->Target, dir);
        Item(out, writable, line);
        return;
    }
    char err[kDbErrorSize];
    REG_DB *db = nullptr;
    if (RegDbOpen(conf, &db, err, sizeof err) != 0) {
        snprintf(line, sizeof line,
                 "make the MAC registry reachable (the database, the path or the network): %s",
                 err);
        Item(out, false, line);
        return;
    }
    char where[300];
    RegDbDescribe(db, where, sizeof where);
    int version = 0;
    char latest[kLatestSize] = "no runs yet";
    bool ok = false;
    if (RegistrySchemaVersion(db, &version, err, sizeof err) != 0) {
        snprintf(line, sizeof line, "make the MAC registry %s readable: %s", where, err);
    } else if (version > kRegistrySchemaVersion) {
        snprintf(
            line, sizeof line,
            "install the TALVEK the line uses: the registry %s has schema version %d, this one knows %d",
            where, version, kRegistrySchemaVersion);
    } else if (version == 0) {
        ok = true;
        snprintf(line, sizeof line,
                 "MAC registry %s, station %s: no tables yet; the first run creates them", where,
                 conf->Station);
    } else if (RegDbQuery(db,
                          "SELECT started_utc, station FROM runs ORDER BY started_utc DESC LIMIT 1",
                          0, nullptr, LatestRun, latest, err, sizeof err) != 0) {
        snprintf(line, sizeof line, "make the MAC registry %s readable: %s", where, err);
    } else {
        ok = true;
        snprintf(line, sizeof line, "MAC registry %s, station %s: schema version %d%s, %s", where,
                 conf->Station, version,
                 version < kRegistrySchemaVersion ? " (the first run upgrades it)" : "", latest);
    }
    RegDbClose(db);
    Item(out, ok, line);
}

// The identity item: the key the registry will record this board under.
void CheckIdentity(const REGISTRY_CONF *conf, CheckOutcome *out)
{
    static BOARD_IDENTITY id;
    ReadBoardIdentity(conf->DmiDir, &id);
    static const struct {
        ID_FIELD field;
        const char *name;
    } kKeys[] = {
        {ID_SYSTEM_GUID, "System GUID"},
        {ID_PRODUCT_UUID, "product UUID"},
        {ID_BOARD_SERIAL, "board serial"},
    };
    char line[300];
    for (const auto &k : kKeys) {
        if (!id.Placeholder[k.field]) {
            snprintf(line, sizeof line,
                     "board identity: %s %s (the key this board is recorded under)", k.name,
                     id.Key);
            Item(out, true, line);
            return;
        }
    }
    Item(out, true,
         "board identity: no identity (GUID, UUID and serials are placeholders): a MAC it gets "
         "is kept only for a board that already holds it");
}

}  // namespace

int RegToolCheck(const char *url)
{
    static REGISTRY_CONF conf;
    DefaultRegistryConf(&conf);
    char err[kConfErrorSize + 64];
    CheckOutcome out = {0};
    char line[400];
    if (LoadRegistryConf(&conf, err, sizeof err) != 0 ||
        (url && ParseRegistryTarget(url, &conf, err, sizeof err) != 0)) {
        snprintf(line, sizeof line, "fix %s: %s", url ? "--registry" : TALVEK_CONF_NAME, err);
        Item(&out, false, line);
        Item(&out, false, "fix " TALVEK_CONF_NAME " first (the board's identity was not read)");
    } else if (conf.Kind == REGISTRY_OFF) {
        CheckRegistry(&conf, &out);
        Item(&out, true, "board identity not needed (MAC registry off)");
    } else {
        CheckRegistry(&conf, &out);
        CheckIdentity(&conf, &out);
    }
    return out.failed == 0 ? 0 : 1;
}
