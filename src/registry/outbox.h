// The MES feed's outbox: with cfx_handle set in TALVEK.conf, the transaction
// that writes a run's final runs row also puts the run's CFX messages into
// the outbox table (schema.h, version 2), each with its UniqueID and
// TimeStamp fixed here, so that a resend is the same message. The relay
// (talvek-registry relay) publishes them; nothing here talks to a broker,
// so a broker that is down never stops or slows a run.
//
// A run's messages, by part:
//   1 CFX.Production.WorkStarted                       TransactionID = run id,
//                                                       PrimaryIdentifier = the board
//   2 CFX.Production.Assembly.UnitsPersonalized        "MAC Address eth0|eth1" of each
//                                                       port that ended with its MAC on
//                                                       the board (none: no message)
//   3 CFX.Production.TestAndInspection.UnitsTested     the read-back, a TextMeasurement
//                                                       per selected port
//   4 CFX.Production.WorkCompleted                     Completed | Failed | Aborted
// The board is named by its key, else its real product serial; a board
// that shows neither has a null identifier.
#ifndef TALVEK_REGISTRY_OUTBOX_H
#define TALVEK_REGISTRY_OUTBOX_H

#include <cstddef>
#include <string>
#include <vector>

#include "registry/run_record.h"

constexpr int kOutboxParts = 4;

struct OUTBOX_MESSAGE {
    int Part;  // 1..kOutboxParts
    const char *Name;
    char UniqueId[kUuidSize];
    std::string Envelope;
};

// Builds the run's messages (3 or 4) for verdict "PASS", "FAIL" or
// "ABORTED", stamped now. 0 on success; 1 with a reason in err (no message
// id: the kernel's generator cannot be read).
int OutboxBuildRun(const REGISTRY_RUN *run, const char *verdict,
                   std::vector<OUTBOX_MESSAGE> *messages, char *err, size_t err_size);

// Inside the caller's transaction: builds the run's messages and inserts them
// in one statement. Does nothing (0) when run->Conf.CfxHandle is "".
int OutboxAddRun(REG_DB *db, const REGISTRY_RUN *run, const char *verdict, char *err,
                 size_t err_size);

#endif
