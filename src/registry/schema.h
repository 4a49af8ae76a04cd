// The registry schema, versioned. TALVEK creates it on first use and
// talvek-registry's "init" creates or upgrades it; both go through
// RegistryEnsureSchema, which does the work inside one transaction under the
// schema lock, so many stations starting at once on an empty database all
// succeed. The same statement texts serve both back ends.
//
// Version 1:
//
//   talvek_schema  one row per version applied
//     version      INTEGER PRIMARY KEY
//     applied_utc  TEXT NOT NULL        -- see stamp.h for the time format
//     tool_version TEXT NOT NULL        -- TALVEK_VERSION of the program that applied it
//
//   macs           one row per MAC ever reserved: who holds it now
//     mac          BIGINT PRIMARY KEY   -- the 48-bit integer (mac48.h); UNIQUE
//     mac_text     TEXT NOT NULL        -- "02AB3C5601A1"
//     board_key    TEXT                 -- holder's board key; NULL: a board without a key
//     state        TEXT NOT NULL        -- 'reserved' | 'verified' | 'released'
//     station      TEXT NOT NULL        -- station of the (latest) reservation
//     run_id       TEXT NOT NULL        -- run that made the (latest) reservation
//     reserved_utc TEXT NOT NULL
//     verified_utc TEXT                 -- set by a PASS
//     readback     TEXT                 -- MAC read back at that PASS, 12 hex digits
//     updated_utc  TEXT NOT NULL        -- last change of the row
//     index macs_board (board_key)
//
//   runs           one row per TALVEK run (the usage-only run excepted), never deleted:
//                  inserted at the reservation with verdict 'INCOMPLETE' (ended_utc then the
//                  reservation's time, exit_status 1) and given its final verdict once, at
//                  the end; a run that stopped before the reservation is inserted at its end
//     run_id TEXT PRIMARY KEY (UUID), tool_version, station, mode ('program' | 'offset'),
//     started_utc, ended_utc,
//     system_guid, system_guid_placeholder, product_uuid, product_uuid_placeholder,
//     board_serial, board_serial_placeholder, product_serial, product_serial_placeholder,
//         -- value NULL when absent; placeholder flag 1 when absent or a placeholder
//     board_key                            -- NULL: no key
//     eth0_before, eth0_requested, eth0_readback, eth0_result,
//     eth1_before, eth1_requested, eth1_readback, eth1_result,
//         -- MACs as 12 hex digits, NULL when not known; result 'PASS' | 'FAIL'
//         -- (the port's own read-back test; 'FAIL' when it never ran), NULL for a
//         -- port the run did not select
//     verdict TEXT NOT NULL ('PASS' | 'FAIL' | 'ABORTED' | 'INCOMPLETE'),
//     exit_status INTEGER NOT NULL,        -- ABORTED: 128 + the signal's number
//     message TEXT                         -- the failure, NULL on PASS
//     indexes on started_utc, board_key and every *_before / *_requested / *_readback column
//
//   releases       append-only: one row per "talvek-registry release"
//     release_id TEXT PRIMARY KEY (UUID), mac BIGINT NOT NULL, mac_text TEXT NOT NULL,
//     board_key, holder_station, holder_run_id, state_before   -- the holder released
//     station TEXT NOT NULL, reason TEXT NOT NULL, released_utc TEXT NOT NULL
//     index releases_mac (mac)
//
// Version 2 (the line view) adds:
//   index runs_board_started (board_key, started_utc, run_id)   -- a board's first run
//   index runs_view (started_utc, station, verdict, board_key, run_id, ended_utc)
//                                                        -- a period's runs for the figures
//   index runs_failed (started_utc) WHERE verdict <> 'PASS' -- their messages
//   index macs_used (mac, state, reserved_utc) WHERE state <> 'released'
//   index macs_released (mac) WHERE state = 'released'  -- pool counts by range
//   read-only views, hours and days in UTC as stored:
//   talvek_runs_per_hour           hour_utc ("YYYY-MM-DDTHH"), station, runs, pass, fail, other
//   talvek_yield_per_station_hour  hour_utc, station, first_runs, first_pass, first_pass_yield
//                                  (percent; a first run is the board's first on record)
//   talvek_failure_reasons         day_utc, station, message, runs (runs that did not pass)
//
// Version 3 (the MES feed) adds:
//
//   outbox         the MES feed's messages, one row each, written with the runs row
//     unique_id    TEXT PRIMARY KEY     -- the message's CFX UniqueID (UUID)
//     run_id       TEXT NOT NULL        -- the run it tells of
//     part         INTEGER NOT NULL     -- 1..4: its place among the run's messages
//     enqueued_utc TEXT NOT NULL
//     message_name TEXT NOT NULL        -- "CFX.Production.WorkStarted" ...
//     handle       TEXT NOT NULL        -- the station's cfx_handle (the envelope's Source)
//     envelope     TEXT NOT NULL        -- the whole CFX envelope, JSON, as it is sent
//     state        TEXT NOT NULL        -- 'pending' | 'sent' | 'dead'
//     rejections   INTEGER NOT NULL     -- times the broker refused it
//     last_error   TEXT                 -- the broker's last refusal
//     sent_utc     TEXT                 -- when the broker accepted it
//     index outbox_queue (state, enqueued_utc, run_id, part)
//
// A release sets macs.state to 'released' (the holder columns stay as they
// were until a new reservation overwrites them) and appends to releases in
// the same transaction.
#ifndef TALVEK_REGISTRY_SCHEMA_H
#define TALVEK_REGISTRY_SCHEMA_H

#include <cstddef>

#include "registry/db.h"

constexpr int kRegistrySchemaVersion = 3;

// The version the database holds: 0 when it has no schema yet.
int RegistrySchemaVersion(REG_DB *db, int *version, char *err, size_t err_size);

// Creates or upgrades the schema to kRegistrySchemaVersion; idempotent. A
// database whose schema is newer than this program fails ("schema version N
// is newer than this program's M"). *applied_from (may be nullptr) receives
// the version found before, so "init" can say what it did.
int RegistryEnsureSchema(REG_DB *db, int *applied_from, char *err, size_t err_size);

// For the upgrade tests: creates the schema exactly as version target_version
// left it (1 <= target_version <= kRegistrySchemaVersion) on an empty database.
int RegistryCreateSchemaAt(REG_DB *db, int target_version, char *err, size_t err_size);

#endif
