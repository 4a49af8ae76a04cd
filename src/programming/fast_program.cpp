#include "programming/fast_program.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "mac.h"
#include "output/reasons.h"
#include "registry/registry.h"
#include "run/interrupt.h"
#include "transport/execmd.h"
#include "transport/requests.h"

// With the registry on, the MACs read from the BMC join the run's record and
// the reservation decides before anything is written: a MAC store may be
// writable only once. 0 to go on; 1 refused or registry unusable (printed).
static int Reserve(TALVEK_DATA *data, const uint8_t before[2][6], const int read[2])
{
    REGISTRY_RUN *registry = data->Registry;
    for (int p = 0; p < kMacPositions; p++) {
        if (read[p])
            RegistryNotePort(registry, p, REG_HAVE_BEFORE, before[p]);
    }
    if (RegistryReserve(registry) != 0)
        return 1;
    ArmInterrupts(registry);
    return 0;
}

// A Fast Set MAC the BMC refused; the request's own output was all there is.
static int WriteRefused()
{
    NoteFailCause(CAUSE_WRITE);
    return 1;
}

static int ProgramOnePort(TALVEK_DATA *data, int p)
{
    uint8_t original_mac[2][6] = {{0}};
    if (FastGetMac(p, original_mac[p]) != 0) {
        puts("Fast Get Mac Oem Command Fail.");
        NoteFailCause(CAUSE_MAC_READ);
        return 1;
    }
    const int read[2] = {p == 0, p == 1};
    if (Reserve(data, original_mac, read) != 0)
        return 1;
    if (SameMac(original_mac[p], data->Mac[p]))
        return 0;
    BuildFastSetMac(p, data->Mac[p]);
    if (Execmd(gCmd) != 0)
        return WriteRefused();
    printf("Set eth%d Mac Address Success!\n", p);
    return 0;
}

static int ProgramBothPorts(TALVEK_DATA *data)
{
    uint8_t original_mac[2][6] = {{0}};

    BuildFastGetMacFixed(0);
    if (Execmd(gCmd) != 0) {
        puts("Fast Get Mac Oem Command Fail.");
        NoteFailCause(CAUSE_MAC_READ);
        return 1;
    }
    TakeReplyMac(original_mac[0]);
    sleep(1);
    // A failed read of eth1 leaves zeros: eth1 then counts as different
    // and is written.
    BuildFastGetMacFixed(1);
    int read[2] = {1, 0};
    if (Execmd(gCmd) == 0) {
        TakeReplyMac(original_mac[1]);
        read[1] = 1;
    }
    if (Reserve(data, original_mac, read) != 0)
        return 1;

    int checkFlag = 0;
    if (SameMac(original_mac[0], data->Mac[0])) {
        puts("eth0 MAC is same with original MAC");
    } else {
        checkFlag = 1;
        puts("eth0 not equal");
    }
    if (SameMac(original_mac[1], data->Mac[1])) {
        puts("eth1 MAC is same with original MAC");
    } else {
        checkFlag += 2;
        puts("eth1 not equal");
    }

    switch (checkFlag) {
    case 0:
        puts("eth0 eth1 original MAC and new MAC are the SAME.");
        return 0;
    case 1:
        BuildFastSetMacFixed(0, data->Mac[0]);
        if (Execmd(gCmd) != 0)
            return WriteRefused();
        printf("Set eth0 Mac Address Success!\n");
        return 0;
    case 2:
        BuildFastSetMacFixed(1, data->Mac[1]);
        if (Execmd(gCmd) != 0)
            return WriteRefused();
        printf("Set eth1 Mac Address Success!\n");
        return 0;
    default:
        BuildFastSetMacBoth(data->Mac[0], data->Mac[1]);
        if (Execmd(gCmd) != 0)
            return WriteRefused();
        puts("Set eth0 and eth1 Mac Address Success!");
        return 0;
    }
}

int ProgramFastSetGetMacOemCmd(TALVEK_DATA *data)
{
    switch (data->FastSetGetMacOemCmd.MacParam) {
    case kMacParamEth0:
    case kMacParamEth1:
        return ProgramOnePort(data, data->FastSetGetMacOemCmd.MacParam);
    case kMacParamBoth:
        return ProgramBothPorts(data);
    default:
        NoteFailCause(CAUSE_NO_PORT);
        return 1;
    }
}
