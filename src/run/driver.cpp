#include "run/driver.h"

#include <cstdio>

#include "TALVEK.h"
#include "output/console.h"
#include "output/records.h"
#include "programming/fast_program.h"
#include "programming/readback.h"
#include "programming/settle_wait.h"
#include "run/parameters.h"
#include "run/update_mode.h"
#include "sources/admission.h"
#include "sources/ini.h"
#include "sources/keyboard.h"
#include "transport/requests.h"

// The record is large (the allow-list); it lives for the whole run.
static TALVEK_DATA g_run;

// Ends a run that failed before the verdict: every failed run leaves "N" in
// the result record, so a line script never reads the previous board's "P".
static int FailRun(bool banner)
{
    if (banner)
        ShowBigFail();
    WriteFailRecord();
    return 1;
}

// Takes the keyboard positions in order; the second is not prompted after
// the first failed, and nothing is prompted after a failed revision query.
static int TakeKeyboardEntries(TALVEK_DATA *data, int Status)
{
    for (int p = 0; p < kMacPositions; p++) {
        if (data->GetMacFromKb[p] == 1 && Status == 0)
            Status = GetMacFromKb(p, data);
    }
    // The last entry has ended: what else was typed or scanned is not ours.
    DiscardUnreadKeys();
    return Status;
}

static bool SelectedPositionLacksMac(const TALVEK_DATA *data)
{
    for (int p = 0; p < kMacPositions; p++) {
        if (data->ProgramMac[p] == 1 && data->MacIsImported[p] == 0)
            return true;
    }
    return false;
}

static int RunStages(int op_s, char **op_str)
{
    TALVEK_DATA *data = &g_run;
    *data = TALVEK_DATA{};

    ShowVersion();

    switch (CheckUpdateMode(op_s, op_str)) {
    case 0:
        ShowBigPass();
        return 0;
    case 2:
        return FailRun(true);
    default:
        break;
    }

    if (GetDataFromParameter(op_s, op_str, data) != 0)
        return FailRun(true);

    int Status = 0;
    if (data->ShowUsage == 1) {
        // Usage only: nothing is sent and no file is touched.
        ShowUsage();
        return 1;
    }
    Status = ShowBmcVersion();
    if (GetSetingFromIni(data) != 0)
        return FailRun(true);

    Status = TakeKeyboardEntries(data, Status);
    if (SelectedPositionLacksMac(data))
        return FailRun(true);

    if (CheckAdmission(data) != 0)
        return FailRun(true);
    if (RefuseSameMacForBothPorts(data) != 0)
        return 1;

    Status = ProgramFastSetGetMacOemCmd(data);
    if (Status == 0 && (data->DelayAfterMacProgramming == 1 || data->WriteDelay == 1))
        Status = DelayAfterMacProgramming(255, data);
    if (Status == 0 && data->ReadbackAndCheck == 1)
        Status = ReadbackAndCheck(data);
    // Programming, the settle wait or a read-back request failed, or no
    // position was selected: no banner, but no stale record either. (A FAIL
    // verdict has written the same record already.)
    if (Status != 0)
        return FailRun(false);
    return 0;
}

int RunTalvek(int op_s, char **op_str)
{
    int Status = RunStages(op_s, op_str);
    // Keys that came while the BMC was programmed would otherwise be run by
    // the station's shell as its next command.
    DiscardUnreadKeys();
    return Status;
}
