#include "run/driver.h"

#include <cstdio>

#include "TALVEK.h"
#include "output/console.h"
#include "output/reasons.h"
#include "output/records.h"
#include "programming/fast_program.h"
#include "programming/readback.h"
#include "programming/settle_wait.h"
#include "registry/registry.h"
#include "run/line_mode.h"
#include "run/interrupt.h"
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
// why is the failure as the registry's runs row keeps it (when it has none
// yet: the first failure is the cause). A line station shows the banner,
// with its reason line, on every failed run, once.
static int FailRun(bool banner, const char *why)
{
    RegistryNoteFailure(g_run.Registry, why);
    if ((banner || LineStation()) && !FailBannerShown())
        ShowFailBanner();
    WriteFailRecord();
    return 1;
}

// Takes the keyboard positions in order; the second is not prompted after
// the first failed, and nothing is prompted after a failed revision query.
static int TakeKeyboardEntries(TALVEK_DATA *data, int Status)
{
    for (int p = 0; p < kMacPositions; p++) {
        if (data->GetMacFromKb[p] == 1 && Status == 0) {
            Status = GetMacFromKb(p, data);
            if (Status != 0)
                NoteFailCause(CAUSE_ENTRY_ABANDONED);
        }
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

// The registry learns which ports the run selected and the MACs it asked
// for, before anything can stop the run.
static void NoteRequests(TALVEK_DATA *data)
{
    for (int p = 0; p < kMacPositions; p++) {
        if (data->ProgramMac[p] == 1)
            RegistryNotePort(data->Registry, p,
                             REG_SELECTED | (data->MacIsImported[p] ? REG_HAVE_REQUESTED : 0),
                             data->Mac[p]);
    }
}

// A line station holds the offset mode's MAC to the allow-list too, so the
// list is loaded (and shown) before the mode runs. 0 to go on (allow is the
// list, or nullptr on a plain station); 1 when TALVEK.ini cannot be opened.
static int OffsetAllowList(int op_s, char **op_str, TALVEK_DATA *data, const TALVEK_DATA **allow)
{
    *allow = nullptr;
    if (!LineStation() || !UpdateModeSelected(op_s, op_str))
        return 0;
    if (GetSetingFromIni(data) != 0)
        return 1;
    *allow = data;
    return 0;
}

static int RunStages(int op_s, char **op_str, TALVEK_DATA *data)
{
    const TALVEK_DATA *allow = nullptr;
    if (OffsetAllowList(op_s, op_str, data, &allow) != 0) {
        NoteFailCause(CAUSE_NO_INI);
        return FailRun(true, "TALVEK.ini cannot be opened");
    }
    if (UpdateModeSelected(op_s, op_str)) {
        RegistryNoteOffsetMode(data->Registry);
        RegistryAnnounce(data->Registry);
    }
    switch (CheckUpdateModeWith(op_s, op_str, data->Registry, allow)) {
    case 0:
        ShowBigPass();
        return 0;
    case 2:
        return FailRun(true, "offset update failed");
    default:
        break;
    }

    if (GetDataFromParameter(op_s, op_str, data) != 0) {
        NoteFailCause(CAUSE_DATA_FILE);
        return FailRun(true, "a MAC data file cannot be read");
    }

    int Status = 0;
    if (data->ShowUsage == 1) {
        // Usage only: nothing is sent and no file is touched.
        ShowUsage();
        return 1;
    }
    Status = ShowBmcVersion();
    if (Status != 0)
        NoteBmcUnanswered();
    if (GetSetingFromIni(data) != 0) {
        NoteFailCause(CAUSE_NO_INI);
        return FailRun(true, "TALVEK.ini cannot be opened");
    }
    RegistryAnnounce(data->Registry);
    RegistryObserveBoard(data->Registry);
    RegistryShowBoard(data->Registry);

    Status = TakeKeyboardEntries(data, Status);
    NoteRequests(data);
    if (SelectedPositionLacksMac(data)) {
        // Without an answer to the revision query no entry was prompted.
        NoteFailCause(Status != 0 ? CAUSE_BMC_SILENT : CAUSE_NO_MAC);
        return FailRun(true, "no MAC for a selected port");
    }

    if (CheckAdmission(data) != 0) {
        NoteFailCause(CAUSE_NOT_ALLOWED);
        return FailRun(true, "a MAC is not in the allow-list");
    }
    if (RefuseSameMacForBothPorts(data) != 0) {
        RegistryNoteFailure(data->Registry, "one MAC for both ports");
        return 1;
    }

    Status = ProgramFastSetGetMacOemCmd(data);
    // A refusal by the registry ends the run like a refusal by the allow-list.
    if (Status != 0 && RegistryStopped(data->Registry))
        return FailRun(true, "the MAC registry refused the run");
    if (Status != 0)
        RegistryNoteFailure(data->Registry, "fast programming failed");
    if (Status == 0 && (data->DelayAfterMacProgramming == 1 || data->WriteDelay == 1)) {
        Status = DelayAfterMacProgramming(255, data);
        if (Status != 0)
            RegistryNoteFailure(data->Registry, "the BMC did not settle after programming");
    }
    if (Status == 0 && data->ReadbackAndCheck == 1)
        Status = ReadbackAndCheck(data);
    // Programming, the settle wait or a read-back request failed, or no
    // position was selected: no banner, but no stale record either. (A FAIL
    // verdict has written the same record already.)
    if (Status != 0)
        return FailRun(false, "no port selected");
    return 0;
}

int RunTalvek(int op_s, char **op_str)
{
    TALVEK_DATA *data = &g_run;
    *data = TALVEK_DATA{};

    ShowVersion();
    StartLineMode();
    // The usage-only run touches nothing, the registry included. Any other
    // run with the registry configured needs it usable before anything is
    // sent to the BMC.
    if (op_s > 1 && RegistryStart(&data->Registry) != 0) {
        NoteFailCause(CAUSE_CONF);
        return FailRun(true, "");
    }
    int status = RunStages(op_s, op_str, data);
    EndRunIfInterrupted();
    status = RegistryFinishRun(data->Registry, status);
    // Keys that came while the BMC was programmed would otherwise be run by
    // the station's shell as its next command.
    DiscardUnreadKeys();
    return status;
}
