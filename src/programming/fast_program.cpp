#include "programming/fast_program.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "mac.h"
#include "transport/execmd.h"
#include "transport/requests.h"

static int ProgramOnePort(TALVEK_DATA *data, int p)
{
    uint8_t original_mac[6] = {0};
    if (FastGetMac(p, original_mac) != 0) {
        puts("Fast Get Mac Oem Command Fail.");
        return 1;
    }
    if (SameMac(original_mac, data->Mac[p]))
        return 0;
    BuildFastSetMac(p, data->Mac[p]);
    if (Execmd(gCmd) != 0)
        return 1;
    printf("Set eth%d Mac Address Success!\n", p);
    return 0;
}

static int ProgramBothPorts(TALVEK_DATA *data)
{
    uint8_t original_mac[2][6] = {{0}};

    BuildFastGetMacFixed(0);
    if (Execmd(gCmd) != 0) {
        puts("Fast Get Mac Oem Command Fail.");
        return 1;
    }
    TakeReplyMac(original_mac[0]);
    sleep(1);
    // A failed read of eth1 leaves zeros: eth1 then counts as different
    // and is written.
    BuildFastGetMacFixed(1);
    if (Execmd(gCmd) == 0)
        TakeReplyMac(original_mac[1]);

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
            return 1;
        printf("Set eth0 Mac Address Success!\n");
        return 0;
    case 2:
        BuildFastSetMacFixed(1, data->Mac[1]);
        if (Execmd(gCmd) != 0)
            return 1;
        printf("Set eth1 Mac Address Success!\n");
        return 0;
    default:
        BuildFastSetMacBoth(data->Mac[0], data->Mac[1]);
        if (Execmd(gCmd) != 0)
            return 1;
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
        return 1;
    }
}
