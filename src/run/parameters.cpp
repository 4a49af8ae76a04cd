#include "run/parameters.h"

#include <cstring>

#include "mac.h"
#include "sources/dat_file.h"

int CharMacIndexIsVaild(char Ch, int32_t *Index)
{
    if (Ch < '1' || Ch > '4')
        return 1;
    *Index = Ch - '1';
    return 0;
}

static bool IsOneOf(const char *arg, const char *a, const char *b)
{
    return strcmp(arg, a) == 0 || strcmp(arg, b) == 0;
}

// "N=" followed by 12 hexadecimal digits (N not tested here).
static bool IsMacAssignmentForm(const char *arg)
{
    return arg[0] != '\0' && arg[1] == '=' && StrMacIsValid(arg + 2) == 0;
}

// Position 0 or 1 named by the argument's first character, or -1.
static int NamedPosition(const char *arg)
{
    int32_t index = -1;
    if (CharMacIndexIsVaild(arg[0], &index) != 0 || index > 1)
        return -1;
    return index;
}

// Step of the parse that reads the data files. Returns 0, or 1 when a file
// cannot be used; sets *dat_imported when the import took place.
static int ImportDatFiles(int op, char **op_str, TALVEK_DATA *data, bool *dat_imported)
{
    char datmac1[kDatTextSize] = {0};
    char datmac2[kDatTextSize] = {0};

    if (op == 3 && IsOneOf(op_str[2], "T", "t")) {
        if (ReadDat_eth0(datmac1) != 0)
            return 1;
        MacTextToBytes(datmac1, data->Mac[0]);
        data->MacIsImported[0] = 1;
        data->MacIsImported[1] = 0;
        *dat_imported = true;
    } else if (op == 4 && IsOneOf(op_str[3], "T", "t")) {
        if (ReadDat(datmac1, datmac2) != 0)
            return 1;
        MacTextToBytes(datmac1, data->Mac[0]);
        MacTextToBytes(datmac2, data->Mac[1]);
        data->MacIsImported[0] = 1;
        data->MacIsImported[1] = 1;
        *dat_imported = true;
    }
    return 0;
}

// MAC assignments are taken only when argument 1 itself has the form; they
// then replace whatever the data files gave.
static void TakeMacAssignments(int op, char **op_str, TALVEK_DATA *data)
{
    if (op < 2 || !IsMacAssignmentForm(op_str[1]))
        return;
    memset(data->Mac, 0, sizeof(data->Mac));
    data->MacIsImported[0] = data->MacIsImported[1] = 0;
    for (int i = 1; i < op; i++) {
        int pos = NamedPosition(op_str[i]);
        if (pos < 0 || !IsMacAssignmentForm(op_str[i]))
            continue;
        MacTextToBytes(op_str[i] + 2, data->Mac[pos]);
        data->MacIsImported[pos] = 1;
    }
}

int GetDataFromParameter(int op, char **op_str, TALVEK_DATA *data)
{
    data->CheckMacOrder = 0;
    data->BMCReboot = 0;
    data->SecondDelayTimeAfterMacProgramming = 3;
    for (int i = 1; i < op; i++) {
        if (IsOneOf(op_str[i], "reboot", "REBOOT")) {
            data->SecondDelayTimeAfterMacProgramming = 70;
            data->BMCReboot = 1;
        }
    }
    for (int i = 1; i < op; i++) {
        if (IsOneOf(op_str[i], "waitbmc", "WAITBMC"))
            data->SecondDelayTimeAfterMacProgramming = 70;
    }

    bool dat_imported = false;
    if (ImportDatFiles(op, op_str, data, &dat_imported) != 0)
        return 1;
    TakeMacAssignments(op, op_str, data);

    if (op >= 4 && strcmp(op_str[3], "V") == 0)
        data->CheckMacOrder = 1;

    data->GetMacFromKb[0] = data->GetMacFromKb[1] = 0;
    data->ProgramMac[0] = data->ProgramMac[1] = 0;
    for (int i = 1; i < op; i++) {
        int pos = NamedPosition(op_str[i]);
        if (pos < 0)
            continue;
        // The data files turn keyboard entry off for every position.
        if (!dat_imported && data->MacIsImported[pos] == 0)
            data->GetMacFromKb[pos] = 1;
        data->ProgramMac[pos] = 1;
    }

    data->ReadbackAndCheck = 1;
    data->WriteDelay = 0;
    data->NeedFailLog = 0;
    for (int i = 1; i < op; i++) {
        if (IsOneOf(op_str[i], "write_delay", "WRITE_DELAY"))
            data->WriteDelay = 1;
        if (IsOneOf(op_str[i], "fail_log", "FAIL_LOG")) {
            data->ReadbackAndCheck = 1;
            data->NeedFailLog = 1;
        }
    }

    data->FastSetGetMacOemCmd.CmdSupport[0] = 0;
    data->FastSetGetMacOemCmd.CmdSupport[1] = 0;
    if (data->ProgramMac[0] && data->ProgramMac[1])
        data->FastSetGetMacOemCmd.MacParam = kMacParamBoth;
    else if (data->ProgramMac[0])
        data->FastSetGetMacOemCmd.MacParam = kMacParamEth0;
    else if (data->ProgramMac[1])
        data->FastSetGetMacOemCmd.MacParam = kMacParamEth1;
    else
        data->FastSetGetMacOemCmd.MacParam = kMacParamNone;
    data->DelayAfterMacProgramming = data->ReadbackAndCheck == 1 ? 1 : 0;
    data->ShowUsage = op <= 1 ? 1 : 0;
    return 0;
}
