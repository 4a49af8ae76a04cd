#include "run/update_mode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "output/reasons.h"
#include "output/records.h"
#include "registry/registry.h"
#include "sources/admission.h"
#include "run/interrupt.h"
#include "transport/execmd.h"
#include "transport/requests.h"

int ParseOffset(const char *text, uint32_t *offset)
{
    // The range is checked on the full converted value, so a text that
    // would wrap when narrowed to 32 bits is refused, not taken modulo.
    long value = strtol(text, nullptr, 0);
    if (value < 1 || static_cast<unsigned long>(value) > kMaxOffset)
        return 1;
    *offset = static_cast<uint32_t>(value);
    return 0;
}

int AddOffsetToMac(const uint8_t mac[6], uint32_t offset, uint8_t mac2[6])
{
    uint64_t low = static_cast<uint64_t>(mac[2]) << 24 | static_cast<uint64_t>(mac[3]) << 16 |
                   static_cast<uint64_t>(mac[4]) << 8 | mac[5];
    uint64_t sum = low + offset;
    if (sum > 0xFFFFFFFFull)
        return 1;
    mac2[0] = mac[0];
    mac2[1] = mac[1];
    mac2[2] = static_cast<uint8_t>(sum >> 24);
    mac2[3] = static_cast<uint8_t>(sum >> 16);
    mac2[4] = static_cast<uint8_t>(sum >> 8);
    mac2[5] = static_cast<uint8_t>(sum);
    return 0;
}

static void PrintMac(const char *format, const uint8_t m[6])
{
    printf(format, m[0], m[1], m[2], m[3], m[4], m[5]);
}

// Reads eth1 back and compares it with what was written. 0 when equal.
static int ReadBackSecondMac(const uint8_t mac2[6], REGISTRY_RUN *registry)
{
    sleep(1);
    BuildFastGetMacFixed(1);
    int rc = Execmd(gCmd);
    sleep(1);
    if (rc != 0) {
        puts("Get eth01 Mac Address Fail.\r");
        NoteFailCause(CAUSE_READBACK_REQUEST);
        return 1;
    }
    uint8_t readback[6];
    TakeReplyMac(readback);
    int same = memcmp(readback, mac2, 6) == 0;
    RegistryNotePort(registry, 1, REG_HAVE_READBACK | (same ? REG_PASSED : 0), readback);
    if (!same) {
        NoteFailCause(CAUSE_READBACK_DIFFERS);
        PrintMac("The 2nd MAC = %02X-%02X-%02X-%02X-%02X-%02X\n", readback);
        PrintMac("The MAC value is difference(1), old is %02X-%02X-%02X-%02X-%02X-%02X.\n", mac2);
        return 1;
    }
    return 0;
}

int UpdateModeSelected(int oc, char **op_str)
{
    return oc >= 2 && (op_str[1][0] == 'u' || op_str[1][0] == 'U') && op_str[1][1] == '=';
}

// The registry's part before the write: eth0 keeps the MAC it holds, eth1
// gets mac2; both are reserved for this board or the run stops here.
static int ReserveOffsetMacs(REGISTRY_RUN *registry, const uint8_t mac[6], const uint8_t mac2[6])
{
    RegistryNotePort(registry, 0, REG_SELECTED | REG_HAVE_BEFORE | REG_HAVE_READBACK, mac);
    RegistryNotePort(registry, 1, REG_SELECTED | REG_HAVE_REQUESTED, mac2);
    if (RegistryReserve(registry) != 0)
        return 1;
    ArmInterrupts(registry);
    return 0;
}

struct RECORD_TEXT {
    const char *Text;
    size_t Len;
};

static int StoreRecordText(void *ctx)
{
    const RECORD_TEXT *r = static_cast<const RECORD_TEXT *>(ctx);
    return StoreResultRecord(r->Text, r->Len);
}

// Writes the pass record; with the registry on, inside its confirmation
// (eth0 was read and kept: it passes with the run). 0 when both are done.
static int StoreOffsetPass(REGISTRY_RUN *registry, const char *text, size_t len)
{
    RECORD_TEXT record = {text, len};
    RegistryNotePort(registry, 0, REG_PASSED, nullptr);
    return RegistryConfirmPass(registry, StoreRecordText, &record);
}

int CheckUpdateMode(int oc, char **op_str)
{
    return CheckUpdateModeWith(oc, op_str, nullptr, nullptr);
}

int CheckUpdateModeWith(int oc, char **op_str, REGISTRY_RUN *registry, const TALVEK_DATA *allow)
{
    if (!UpdateModeSelected(oc, op_str))
        return 1;

    uint32_t Offset = 0;
    if (ParseOffset(op_str[1] + 2, &Offset) != 0) {
        puts("Offset must be in 0x00001~0xfffff\r");
        NoteFailCause(CAUSE_OFFSET_RANGE);
        RegistryNoteFailure(registry, "offset out of range");
        return 2;
    }
    RegistryObserveBoard(registry);
    RegistryShowBoard(registry);

    uint8_t Mac[6];
    BuildFastGetMacFixed(0);
    if (Execmd(gCmd) != 0) {
        puts("Get eth00 Mac Address Fail.\r");
        NoteFailCause(CAUSE_MAC_READ);
        return 2;
    }
    puts("Get eth00 Mac Address success.\r");
    TakeReplyMac(Mac);
    PrintMac("The 1st MAC = %02X-%02X-%02X-%02X-%02X-%02X\r\n", Mac);
    sleep(1);

    uint8_t Mac2[6];
    if (AddOffsetToMac(Mac, Offset, Mac2) != 0) {
        puts("Overflow!\r");
        NoteFailCause(CAUSE_OFFSET_OVERFLOW);
        return 2;
    }
    // A line station admits the computed MAC like any other, before the
    // registry or the BMC sees it.
    if (allow != nullptr && AdmitMac(allow, Mac2) != 0) {
        NoteFailCause(CAUSE_NOT_ALLOWED);
        RegistryNoteFailure(registry, "a MAC is not in the allow-list");
        return 2;
    }
    if (ReserveOffsetMacs(registry, Mac, Mac2) != 0)
        return 2;
    BuildFastSetMacFixed(1, Mac2);
    if (Execmd(gCmd) != 0) {
        puts("Set eth01 Mac Address Fail.");
        NoteFailCause(CAUSE_WRITE);
        return 2;
    }
    puts("Set eth01 Mac Address Success.");
    if (ReadBackSecondMac(Mac2, registry) != 0)
        return 2;

    char record[64];
    size_t len = FormatPassRecord(2, Mac, Mac2, record, sizeof(record));
    EndRunIfInterrupted();
    if (StoreOffsetPass(registry, record, len) != 0) {
        // The registry names its own cause first; otherwise the record failed.
        NoteFailCause(CAUSE_RECORD);
        return 2;
    }
    PrintMac("The 2nd MAC = %02X-%02X-%02X-%02X-%02X-%02X\n", Mac2);
    return 0;
}
