#include "registry/runs.h"

#include <cstdio>

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

static void FillRow(const REGISTRY_RUN *run, int exit_status, RUN_ROW *row)
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
    *p++ = exit_status == 0 ? "PASS" : "FAIL";
    *p++ = row->Exit;
    *p++ = exit_status == 0 || run->Message[0] == '\0' ? nullptr : run->Message;
}

static int InsertRow(REGISTRY_RUN *run, int exit_status, char *err, size_t err_size)
{
    RUN_ROW row;
    FillRow(run, exit_status, &row);
    if (RegDbExec(run->Db, kInsertRun, 26, row.Params, nullptr, err, err_size) != 0)
        return 1;
    // The MES feed's messages go in with the row, or neither does.
    return OutboxAddRun(run->Db, run, exit_status == 0 ? "PASS" : "FAIL", err, err_size);
}

int RegistryAppendRun(REGISTRY_RUN *run, int exit_status, char *err, size_t err_size)
{
    if (exit_status != 0 && run->Message[0] == '\0')
        snprintf(run->Message, sizeof(run->Message), "the run failed");
    if (RegDbBegin(run->Db, err, err_size) != 0)
        return 1;
    if (InsertRow(run, exit_status, err, err_size) != 0) {
        RegDbRollback(run->Db);
        return 1;
    }
    return RegDbCommit(run->Db, err, err_size);
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

int RegistryWritePass(REGISTRY_RUN *run, char *err, size_t err_size)
{
    char stamp[kStampSize];
    UtcStamp(stamp);
    if (RegDbBegin(run->Db, err, err_size) != 0)
        return 1;
    int rc = 0;
    for (int port = 0; port < 2 && rc == 0; port++)
        rc = VerifyPort(run, port, stamp, err, err_size);
    if (rc == 0)
        rc = InsertRow(run, 0, err, err_size);
    if (rc != 0) {
        RegDbRollback(run->Db);
        return 1;
    }
    return RegDbCommit(run->Db, err, err_size);
}
