// Board identity, observed and never trusted blindly: the BMC's System GUID
// and three SMBIOS strings. Fresh boards often carry placeholders, so each
// value is kept raw together with a placeholder flag, and only real values
// may name a board.
#ifndef TALVEK_REGISTRY_IDENTITY_H
#define TALVEK_REGISTRY_IDENTITY_H

#include <cstddef>

constexpr size_t kIdValueSize = 128;  // longest value kept, terminator included
constexpr int kIdFields = 4;

// Field order, also the order of the identity columns in the runs table.
enum ID_FIELD {
    ID_SYSTEM_GUID = 0,     // Get System GUID (raw 0x06 0x37): 32 hex digits, bytes as received
    ID_PRODUCT_UUID = 1,    // <dmi_dir>/product_uuid
    ID_BOARD_SERIAL = 2,    // <dmi_dir>/board_serial
    ID_PRODUCT_SERIAL = 3,  // <dmi_dir>/product_serial
};

struct BOARD_IDENTITY {
    int Present[kIdFields];               // 0: absent (refused request, unreadable file)
    int Placeholder[kIdFields];           // 1: absent or a known placeholder value
    char Value[kIdFields][kIdValueSize];  // raw value, trailing line end and blanks dropped
    char Key[kIdValueSize];               // board key; "" when the board has none
};

// 1 when the text is no identity (case-insensitive, surrounding blanks
// ignored): empty; one character, once or repeated (a GUID's dashes aside:
// all 0, all F, "0000000000"); a known filler text ("To Be Filled By
// O.E.M.", "Default string", "System Serial Number", "N/A", "0123456789",
// ... see identity.cpp); or a filler GUID (03000200-0400-0500-0006-000700080009)
// as 32 hex digits, with or without dashes, in the byte order received or in
// the SMBIOS order with the first three fields byte-swapped.
int IsPlaceholderId(const char *value);

// Sets Placeholder[] from Present[]/Value[] and Key to the first real value
// of System GUID, product UUID, board serial (the product serial never names
// a board: it follows the chassis, not the board).
void ChooseBoardKey(BOARD_IDENTITY *id);

// Reads one SMBIOS file (bounded; control characters become '?', bytes that
// are not UTF-8 become "\xHH"). 0 when read.
int ReadDmiValue(const char *dir, const char *name, char *out, size_t out_size);

// Observes the board: sends Get System GUID through the raw command runner
// (a refused or short reply counts as absent) and reads the three files under
// dmi_dir, then chooses the key. Never fails: what cannot be seen is absent.
void ReadBoardIdentity(const char *dmi_dir, BOARD_IDENTITY *id);

#endif
