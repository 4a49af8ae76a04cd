#include "programming/settle_wait.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "mac.h"
#include "output/reasons.h"
#include "transport/execmd.h"
#include "transport/requests.h"

// Counts down whole seconds, polling the BMC with Get Device ID. Once the
// count is 29 or less the same line is sent a second time in the step, and
// an answer to that second request ends the countdown.
static void CountDownUntilBmcReady(int Index, int Count)
{
    do {
        if (Index == 255)
            printf("Fast Set MAC done, ");
        printf("waiting for BMC ready...(%d)  ", Count);
        fflush(stdout);
        sleep(1);
        Count--;
        putchar('\r');
        fflush(stdout);
        BuildGetDeviceId();
        Execmd(gCmd);
        // gCmd is run again as it stands, suffix included.
        if (Count <= 29 && Execmd(gCmd) == 0)
            Count = 0;
    } while (Count > 0);
    putchar('\n');
}

// 0 when the port reads back its requested MAC.
static int CheckPortReady(const TALVEK_DATA *data, int p)
{
    uint8_t readback[6];
    // A failed request fails the port, but the checks still run on the
    // bytes the last good reply left behind, as the operator expects to
    // see them.
    int status = FastGetMac(p, readback) != 0 ? 1 : 0;
    if (status != 0)
        NoteFailCause(CAUSE_NOT_SETTLED);
    if (AllBytesAre(readback, 0x00) || AllBytesAre(readback, 0xFF)) {
        NoteFailCause(CAUSE_NOT_KEPT);
        return 1;
    }
    if (SameMac(readback, data->Mac[p]))
        return status;
    NoteFailCause(CAUSE_NOT_KEPT);
    const uint8_t *want = data->Mac[p];
    printf("%x-%x-%x-%x-%x-%x\n", readback[0], readback[1], readback[2], readback[3], readback[4],
           readback[5]);
    printf("%x-%x-%x-%x-%x-%x\n", want[0], want[1], want[2], want[3], want[4], want[5]);
    return 1;
}

int DelayAfterMacProgramming(int Index, TALVEK_DATA *data)
{
    data->FastSetGetMacOemCmd.CmdSupport[0] = 1;
    data->FastSetGetMacOemCmd.CmdSupport[1] = 1;
    int Status = 0;

    if (data->BMCReboot)
        ColdReset();
    CountDownUntilBmcReady(Index, data->SecondDelayTimeAfterMacProgramming);

    // The MAC-ready pass runs exactly once.
    printf("wait MAC ready...(%d)   ", 0);
    fflush(stdout);
    sleep(1);
    putchar('\r');
    fflush(stdout);
    for (int p = 0; p < kMacPositions; p++) {
        if (data->ProgramMac[p] && CheckPortReady(data, p) != 0)
            Status = 1;
    }
    putchar('\n');
    return Status;
}
