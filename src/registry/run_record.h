// The record behind a run's registry handle: what the registry keeps of one
// run between RegistryStart and its end. Only the registry's own files (and
// its white-box tests) use it; the stages hold the handle.
#ifndef TALVEK_REGISTRY_RUN_RECORD_H
#define TALVEK_REGISTRY_RUN_RECORD_H

#include <cstddef>
#include <cstdint>

#include "registry/conf.h"
#include "registry/db.h"
#include "registry/identity.h"
#include "registry/registry.h"
#include "registry/stamp.h"

constexpr size_t kRegMessageSize = 512;

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

// Prints "Error! MAC registry unavailable: <reason>." (the first time in a
// run), records it as the run's failure and stops the run. Returns 1.
int RegistryUnavailable(REGISTRY_RUN *run, const char *reason);

// RegistryReserve on a run (reserve.cpp).
int ReserveClaims(REGISTRY_RUN *run);
// RegistryShowBoard on a run (board_line.cpp).
void ShowBoardLine(const REGISTRY_RUN *run);

#endif
