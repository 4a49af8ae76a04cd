#include "registry/schema.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TALVEK.h"
#include "registry/stamp.h"

// Every statement runs on both back ends: BIGINT is an integer column in
// SQLite too, and times are ISO text (stamp.h).
static const char *const kVersion1[] = {
    "CREATE TABLE IF NOT EXISTS macs ("
    " mac BIGINT PRIMARY KEY,"
    " mac_text TEXT NOT NULL,"
    " board_key TEXT,"
    " state TEXT NOT NULL CHECK (state IN ('reserved', 'verified', 'released')),"
    " station TEXT NOT NULL,"
    " run_id TEXT NOT NULL,"
    " reserved_utc TEXT NOT NULL,"
    " verified_utc TEXT,"
    " readback TEXT,"
    " updated_utc TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS macs_board ON macs (board_key)",
    "CREATE TABLE IF NOT EXISTS runs ("
    " run_id TEXT PRIMARY KEY,"
    " tool_version TEXT NOT NULL,"
    " station TEXT NOT NULL,"
    " mode TEXT NOT NULL,"
    " started_utc TEXT NOT NULL,"
    " ended_utc TEXT NOT NULL,"
    " system_guid TEXT, system_guid_placeholder INTEGER NOT NULL,"
    " product_uuid TEXT, product_uuid_placeholder INTEGER NOT NULL,"
    " board_serial TEXT, board_serial_placeholder INTEGER NOT NULL,"
    " product_serial TEXT, product_serial_placeholder INTEGER NOT NULL,"
    " board_key TEXT,"
    " eth0_before TEXT, eth0_requested TEXT, eth0_readback TEXT, eth0_result TEXT,"
    " eth1_before TEXT, eth1_requested TEXT, eth1_readback TEXT, eth1_result TEXT,"
    " verdict TEXT NOT NULL,"
    " exit_status INTEGER NOT NULL,"
    " message TEXT)",
    "CREATE INDEX IF NOT EXISTS runs_started ON runs (started_utc)",
    "CREATE INDEX IF NOT EXISTS runs_board ON runs (board_key)",
    "CREATE INDEX IF NOT EXISTS runs_eth0_before ON runs (eth0_before)",
    "CREATE INDEX IF NOT EXISTS runs_eth0_requested ON runs (eth0_requested)",
    "CREATE INDEX IF NOT EXISTS runs_eth1_before ON runs (eth1_before)",
    "CREATE INDEX IF NOT EXISTS runs_eth1_requested ON runs (eth1_requested)",
    // "who MAC" also finds a run whose board read back a MAC it never asked
    // for: with these two every column it searches is indexed.
    "CREATE INDEX IF NOT EXISTS runs_eth0_readback ON runs (eth0_readback)",
    "CREATE INDEX IF NOT EXISTS runs_eth1_readback ON runs (eth1_readback)",
    "CREATE TABLE IF NOT EXISTS releases ("
    " release_id TEXT PRIMARY KEY,"
    " mac BIGINT NOT NULL,"
    " mac_text TEXT NOT NULL,"
    " board_key TEXT,"
    " holder_station TEXT,"
    " holder_run_id TEXT,"
    " state_before TEXT,"
    " station TEXT NOT NULL,"
    " reason TEXT NOT NULL,"
    " released_utc TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS releases_mac ON releases (mac)",
    nullptr,
};

// The line view: indexes for its figures, and read-only views for
// dashboards that read the database directly. Hours are UTC, as stored
// ("2026-01-02T03"); a first run is the board's first on record.
static const char *const kVersion2[] = {
    // A board's earlier runs in one probe (first-pass yield); a period's
    // runs with every column the figures group by from the index alone
    // (the failure messages are read from the table for failed runs only).
    "CREATE INDEX IF NOT EXISTS runs_board_started ON runs (board_key, started_utc, run_id)",
    "CREATE INDEX IF NOT EXISTS runs_view"
    " ON runs (started_utc, station, verdict, board_key, run_id, ended_utc)",
    // A period's failed runs (their messages: reasons and refusals) without
    // the passed ones, which are most.
    "CREATE INDEX IF NOT EXISTS runs_failed ON runs (started_utc) WHERE verdict <> 'PASS'",
    // A pool's counts from an index alone, in one pass over its range: the
    // used MACs (with what the burn rate reads) and, apart, the released.
    "CREATE INDEX IF NOT EXISTS macs_used ON macs (mac, state, reserved_utc)"
    " WHERE state <> 'released'",
    "CREATE INDEX IF NOT EXISTS macs_released ON macs (mac) WHERE state = 'released'",
    "CREATE VIEW talvek_runs_per_hour AS"
    " SELECT substr(started_utc, 1, 13) AS hour_utc, station, count(*) AS runs,"
    " sum(CASE WHEN verdict = 'PASS' THEN 1 ELSE 0 END) AS pass,"
    " sum(CASE WHEN verdict = 'FAIL' THEN 1 ELSE 0 END) AS fail,"
    " sum(CASE WHEN verdict IN ('PASS', 'FAIL') THEN 0 ELSE 1 END) AS other"
    " FROM runs GROUP BY substr(started_utc, 1, 13), station",
    "CREATE VIEW talvek_yield_per_station_hour AS"
    " SELECT hour_utc, station, count(*) AS first_runs,"
    " sum(CASE WHEN verdict = 'PASS' THEN 1 ELSE 0 END) AS first_pass,"
    " 100.0 * sum(CASE WHEN verdict = 'PASS' THEN 1 ELSE 0 END) / count(*) AS first_pass_yield"
    " FROM (SELECT substr(r.started_utc, 1, 13) AS hour_utc, r.station, r.verdict FROM runs r"
    " WHERE r.board_key IS NULL OR NOT EXISTS (SELECT 1 FROM runs e"
    " WHERE e.board_key = r.board_key AND (e.started_utc < r.started_utc"
    " OR (e.started_utc = r.started_utc AND e.run_id < r.run_id)))) AS f"
    " GROUP BY hour_utc, station",
    "CREATE VIEW talvek_failure_reasons AS"
    " SELECT substr(started_utc, 1, 10) AS day_utc, station, COALESCE(message, '') AS message,"
    " count(*) AS runs FROM runs WHERE verdict <> 'PASS'"
    " GROUP BY substr(started_utc, 1, 10), station, COALESCE(message, '')",
    nullptr,
};

// The MES feed's outbox: a run's messages go in with its runs row, in the
// same transaction, and the relay takes them out in the order of
// (enqueued_utc, run_id, part).
static const char *const kVersion3[] = {
    "CREATE TABLE IF NOT EXISTS outbox ("
    " unique_id TEXT PRIMARY KEY,"
    " run_id TEXT NOT NULL,"
    " part INTEGER NOT NULL,"
    " enqueued_utc TEXT NOT NULL,"
    " message_name TEXT NOT NULL,"
    " handle TEXT NOT NULL,"
    " envelope TEXT NOT NULL,"
    " state TEXT NOT NULL CHECK (state IN ('pending', 'sent', 'dead')),"
    " rejections INTEGER NOT NULL,"
    " last_error TEXT,"
    " sent_utc TEXT)",
    "CREATE INDEX IF NOT EXISTS outbox_queue ON outbox (state, enqueued_utc, run_id, part)",
    nullptr,
};

// Steps by version: kSteps[v - 1] takes a database from version v - 1 to v.
static const char *const *const kSteps[kRegistrySchemaVersion] = {kVersion1, kVersion2,
                                                                        kVersion3};

static const char kVersionTable[] = "CREATE TABLE IF NOT EXISTS talvek_schema ("
                                    " version INTEGER PRIMARY KEY,"
                                    " applied_utc TEXT NOT NULL,"
                                    " tool_version TEXT NOT NULL)";

static int TakeInt(void *ctx, int ncols, const char *const *cols)
{
    *static_cast<int *>(ctx) = ncols > 0 && cols[0] != nullptr ? atoi(cols[0]) : 0;
    return 0;
}

static int ReadVersion(REG_DB *db, int *version, char *err, size_t err_size)
{
    *version = 0;
    return RegDbQuery(db, "SELECT max(version) FROM talvek_schema", 0, nullptr, TakeInt, version,
                      err, err_size);
}

int RegistrySchemaVersion(REG_DB *db, int *version, char *err, size_t err_size)
{
    if (ReadVersion(db, version, err, err_size) == 0)
        return 0;
    int exists = 0;
    if (RegDbTableExists(db, "talvek_schema", &exists, err, err_size) != 0)
        return 1;
    if (exists)  // the table is there, so the first error was real
        return ReadVersion(db, version, err, err_size);
    *version = 0;
    return 0;
}

static int NewerThanUs(int version, char *err, size_t err_size)
{
    snprintf(err, err_size, "schema version %d is newer than this program's %d", version,
             kRegistrySchemaVersion);
    return 1;
}

// Inside the caller's transaction: applies the steps after from up to target.
static int ApplySteps(REG_DB *db, int from, int target, char *err, size_t err_size)
{
    char stamp[kStampSize];
    UtcStamp(stamp);
    for (int v = from + 1; v <= target; v++) {
        for (const char *const *sql = kSteps[v - 1]; *sql != nullptr; sql++) {
            if (RegDbExec(db, *sql, 0, nullptr, nullptr, err, err_size) != 0)
                return 1;
        }
        char version[16];
        snprintf(version, sizeof(version), "%d", v);
        const char *params[] = {version, stamp, TALVEK_VERSION};
        if (RegDbExec(db,
                      "INSERT INTO talvek_schema (version, applied_utc, tool_version)"
                      " VALUES (?1, ?2, ?3)",
                      3, params, nullptr, err, err_size) != 0)
            return 1;
    }
    return 0;
}

// Creates or upgrades to target under the schema lock, in one transaction:
// a second station waits for the first and then finds the work done.
static int Upgrade(REG_DB *db, int target, int *applied_from, char *err, size_t err_size)
{
    REG_TRANSACTION txn(db);
    if (txn.Begin(err, err_size) != 0)
        return 1;
    int found = 0;
    int rc = RegDbLockSchema(db, err, err_size);
    if (rc == 0)
        rc = RegDbExec(db, kVersionTable, 0, nullptr, nullptr, err, err_size);
    if (rc == 0)
        rc = ReadVersion(db, &found, err, err_size);
    if (rc == 0 && found > kRegistrySchemaVersion)
        rc = NewerThanUs(found, err, err_size);
    if (rc == 0)
        rc = ApplySteps(db, found, target, err, err_size);
    if (rc != 0)
        return 1;
    if (applied_from != nullptr)
        *applied_from = found;
    return txn.Commit(err, err_size);
}

int RegistryEnsureSchema(REG_DB *db, int *applied_from, char *err, size_t err_size)
{
    // The usual case, a schema already in place, costs one read and no lock.
    int version = 0;
    if (RegistrySchemaVersion(db, &version, err, err_size) == 0) {
        if (version > kRegistrySchemaVersion)
            return NewerThanUs(version, err, err_size);
        if (version == kRegistrySchemaVersion) {
            if (applied_from != nullptr)
                *applied_from = version;
            return 0;
        }
    }
    return Upgrade(db, kRegistrySchemaVersion, applied_from, err, err_size);
}

int RegistryCreateSchemaAt(REG_DB *db, int target_version, char *err, size_t err_size)
{
    if (target_version < 1 || target_version > kRegistrySchemaVersion) {
        snprintf(err, err_size, "no schema version %d", target_version);
        return 1;
    }
    return Upgrade(db, target_version, nullptr, err, err_size);
}
