// The offset update mode "U=offset": eth1's MAC becomes eth0's MAC as the
// BMC holds it plus a 20-bit offset.
#ifndef TALVEK_RUN_UPDATE_MODE_H
#define TALVEK_RUN_UPDATE_MODE_H

#include <cstdint>

#include "TALVEK.h"

constexpr unsigned long kMaxOffset = 0xFFFFF;

// Converts the whole offset text like strtol with base 0. 0 when the value
// is 1..0xFFFFF (stored in offset), 1 otherwise.
int ParseOffset(const char *text, uint32_t *offset);

// mac2 = mac + offset over bytes 2..5 as one big-endian number, bytes 0 and
// 1 unchanged. 1 when the sum does not fit in those four bytes.
int AddOffsetToMac(const uint8_t mac[6], uint32_t offset, uint8_t mac2[6]);

struct REGISTRY_RUN;

// 1 when argument 1 selects the mode: "u=" or "U=" followed by the offset.
int UpdateModeSelected(int oc, char **op_str);

// 1 not selected (no output); 0 selected and done; 2 selected and failed.
int CheckUpdateMode(int oc, char **op_str);
// The same with the MAC registry's handle (none: nullptr): the board is
// observed once the offset is accepted, eth0's MAC and the computed eth1 MAC
// are reserved before the write, and the pass is confirmed before the record.
// With an allow-list (allow not nullptr: a line station's loaded TALVEK.ini)
// the computed MAC must be admitted by it before anything is written.
int CheckUpdateModeWith(int oc, char **op_str, REGISTRY_RUN *registry, const TALVEK_DATA *allow);

#endif
