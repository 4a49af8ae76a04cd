#include "registry/runs.h"

#include <cstdio>
#include <cstring>

#include "TALVEK.h"
#include "mac.h"
#include "registry/mac48.h"
#include "registry/outbox.h"

static const char kInsertRun[] =
    "INSERT INTO runs (run_id, tool_version, station, mode, started_utc, ended_utc,"
    " system_guid, system_guid_placeholder, product_uuid, product_uuid_placeholder,"
    " board_serial, board_serial_placeholder, product_serial, product_serial_placeholder,"
    " board_key,"
    " eth0_before, eth0_requested, eth0_readback, eth0_result,"
    " eth1_before, eth1_requested, eth1_readback, eth1_result,"
    " verdict, exit_status, message)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15,"
    " ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26)";

// The same columns, for the row the reservation began.
static const char kFinishRun[] =
    "UPDATE runs SET tool_version = ?2, station = ?3, mode = ?4, started_utc = ?5,"
    " ended_utc = ?6, system_guid = ?7, system_guid_placeholder = ?8, product_uuid = ?9,"
    " product_uuid_placeholder = ?10, board_serial = ?11, board_serial_placeholder = ?12,"
    " product_serial = ?13, product_serial_placeholder = ?14, board_key = ?15,"
    " eth0_before = ?16, eth0_requested = ?17, eth0_readback = ?18, eth0_result = ?19,"
    " eth1_before = ?20, eth1_requested = ?21, eth1_readback = ?22, eth1_result = ?23,"
    " verdict = ?24, exit_status = ?25, message = ?26"
    " WHERE run_id = ?1 AND verdict = 'INCOMPLETE'";

// Only while the MAC is still this board's: a release (and a new holder)
// during the run leaves no row to update, and that is no PASS.
static const char kVerify[] =
    "UPDATE macs SET state = 'verified', verified_utc = ?2, readback = ?3, updated_utc = ?2"
    " WHERE mac = ?1 AND state <> 'released' AND COALESCE(board_key, '') = ?4";

// Texts of one runs row; every value reaches SQL as one of these parameters.
struct RUN_ROW {
    char Ended[kStampSize];
    char Mac[2][3][kMacHexSize];  // before, requested, read-back per port
    char Exit[16];
    const char *Params[26];
};

static const char *MacOrNull(const REGISTRY_RUN *run, int port, int flag, const uint8_t mac[6],
                             char out[kMacHexSize])
{
    if (!(run->PortFlags[port] & flag))
        return nullptr;
    MacHexText(mac, out);
    return out;
}

static void FillRow(const REGISTRY_RUN *run, const char *verdict, int exit_status, RUN_ROW *row)
{
    static const char *const kFlag[2] = {"0", "1"};
    const BOARD_IDENTITY *id = &run->Identity;
    UtcStamp(row->Ended);
    snprintf(row->Exit, sizeof(row->Exit), "%d", exit_status);
    const char **p = row->Params;
    *p++ = run->RunId;
    *p++ = TALVEK_VERSION;
    *p++ = run->Conf.Station;
    *p++ = run->OffsetMode ? "offset" : "program";
    *p++ = run->Started;
    *p++ = row->Ended;
    for (int f = 0; f < kIdFields; f++) {
        *p++ = id->Present[f] ? id->Value[f] : nullptr;
        // An identity never observed (the run ended before) is absent too.
        *p++ = kFlag[id->Placeholder[f] || !id->Present[f]];
    }
    *p++ = id->Key[0] != '\0' ? id->Key : nullptr;
    for (int port = 0; port < 2; port++) {
        *p++ = MacOrNull(run, port, REG_HAVE_BEFORE, run->Before[port], row->Mac[port][0]);
        *p++ = MacOrNull(run, port, REG_HAVE_REQUESTED, run->Requested[port], row->Mac[port][1]);
        *p++ = MacOrNull(run, port, REG_HAVE_READBACK, run->Readback[port], row->Mac[port][2]);
        // A port's own read-back test: in a FAIL run one port may still
        // have read back right, and the row says which one did not.
        int selected = run->PortFlags[port] & REG_SELECTED;
        int passed = run->PortFlags[port] & REG_PASSED;
        *p++ = !selected ? nullptr : passed ? "PASS" : "FAIL";
    }
    *p++ = verdict;
    *p++ = row->Exit;
    *p++ = strcmp(verdict, "PASS") == 0 ? nullptr : run->Message;
}

int RegistryBeginRun(REGISTRY_RUN *run, char *err, size_t err_size)
{
    if (run->RowStarted)
        return 0;
    RUN_ROW row;
    FillRow(run, "INCOMPLETE", 1, &row);
    row.Params[25] = kIncompleteMessage;
    return RegDbExec(run->Db, kInsertRun, 26, row.Params, nullptr, err, err_size);
}

int RegistryWriteFinalRun(REGISTRY_RUN *run, const char *verdict, int exit_status, char *err,
                          size_t err_size)
{
    if (strcmp(verdict, "PASS") != 0 && run->Message[0] == '\0')
        snprintf(run->Message, sizeof(run->Message), "the run failed");
    RUN_ROW row;
    FillRow(run, verdict, exit_status, &row);
    if (!run->RowStarted) {
        if (RegDbExec(run->Db, kInsertRun, 26, row.Params, nullptr, err, err_size) != 0)
            return 1;
    } else {
        long changed = 0;
        if (RegDbExec(run->Db, kFinishRun, 26, row.Params, &changed, err, err_size) != 0)
            return 1;
        if (changed != 1) {
            snprintf(err, err_size, "the run's row is gone or already final");
            return 1;
        }
    }
    // The MES feed's messages go in with the final row, or neither does.
    return OutboxAddRun(run->Db, run, verdict, err, err_size);
}

int RegistryAppendRun(REGISTRY_RUN *run, const char *verdict, int exit_status, char *err,
                      size_t err_size)
{
    REG_TRANSACTION txn(run->Db);
    if (txn.Begin(err, err_size) != 0)
        return 1;
    if (RegistryWriteFinalRun(run, verdict, exit_status, err, err_size) != 0)
        return 1;
    return txn.Commit(err, err_size);
}

// Marks the MAC a passing port ended with: the requested one, or in the
// offset mode eth0's, which the run read and kept.
static int VerifyPort(REGISTRY_RUN *run, int port, const char *stamp, char *err, size_t err_size)
{
    int flags = run->PortFlags[port];
    if (!(flags & REG_SELECTED) || !(flags & REG_PASSED))
        return 0;
    if (!(flags & (REG_HAVE_REQUESTED | REG_HAVE_BEFORE)))
        return 0;
    const uint8_t *mac = (flags & REG_HAVE_REQUESTED) ? run->Requested[port] : run->Before[port];
    // A blank port holds no MAC, so the reservation claimed none for it.
    if (AllBytesAre(mac, 0x00) || AllBytesAre(mac, 0xFF))
        return 0;
    const uint8_t *readback = (flags & REG_HAVE_READBACK) ? run->Readback[port] : mac;
    char number[kMac48TextSize];
    char text[kMacHexSize];
    MacIntegerText(mac, number);
    MacHexText(readback, text);
    const char *params[] = {number, stamp, text, run->Identity.Key};
    long changed = 0;
    if (RegDbExec(run->Db, kVerify, 4, params, &changed, err, err_size) != 0)
        return 1;
    if (changed != 1) {
        MacHexText(mac, text);
        snprintf(err, err_size, "MAC %s is no longer reserved for this board", text);
        return 1;
    }
    return 0;
}

int RegistryWritePass(REGISTRY_RUN *run, int (*write_record)(void *), void *ctx, char *err,
                      size_t err_size)
{
    char stamp[kStampSize];
    UtcStamp(stamp);
    REG_TRANSACTION txn(run->Db);
    if (txn.Begin(err, err_size) != 0)
        return 1;
    int rc = 0;
    for (int port = 0; port < 2 && rc == 0; port++)
        rc = VerifyPort(run, port, stamp, err, err_size);
    if (rc == 0)
        rc = RegistryWriteFinalRun(run, "PASS", 0, err, err_size);
    // The pass record goes out while the rows wait, uncommitted, for it: a
    // "P" that the registry did not take lives at most for the COMMIT below,
    // and the caller turns it into "N" when that COMMIT fails.
    if (rc == 0 && write_record(ctx) != 0)
        rc = 2;
    if (rc != 0)
        return rc;
    return txn.Commit(err, err_size);
}
