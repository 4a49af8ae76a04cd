#include "programming/readback.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "mac.h"
#include "output/console.h"
#include "output/reasons.h"
#include "output/records.h"
#include "registry/registry.h"
#include "run/interrupt.h"
#include "transport/execmd.h"
#include "transport/requests.h"

// Keeps the reason of a failed read-back for the operator and for the
// registry's runs row.
static void NoteFailure(const TALVEK_DATA *data, int cause, const char *text)
{
    NoteFailCause(cause);
    RegistryNoteFailure(data->Registry, text);
}

static void PrintRequestError(const TALVEK_DATA *data, int position)
{
    printf("ReadbackAndCheck Error! SendRawCommand(0xE8, 0xA1, %02X) gets failed(%d).\n", position,
           1);
    NoteFailure(data, CAUSE_READBACK_REQUEST, position == 0 ? "read-back: Fast Get MAC of eth0 failed"
                                    : "read-back: Fast Get MAC of eth1 failed");
}

// Reads eth0 until the first two reply bytes are not both zero, at most
// three times with a second between. 1 when a request failed.
static int ProbeFastGetMac(const TALVEK_DATA *data)
{
    int retry = 0;
    for (;;) {
        BuildFastGetMacFixed(0);
        if (Execmd(gCmd) != 0) {
            PrintRequestError(data, 0);
            return 1;
        }
        if (ResponseData[0] != 0 || ResponseData[1] != 0)
            return 0;
        sleep(1);
        retry++;
        printf("Fast get MAC retry %d\n", retry);
        if (retry >= 3)
            return 0;
    }
}

// Prints the port's read-back and its first failing test; 1 when it fails.
static int TestPort(const TALVEK_DATA *data, int p, const uint8_t readback[6])
{
    const uint8_t *r = readback;
    printf(p == 0 ? "The 1st MAC = %02X-%02X-%02X-%02X-%02X-%02X\n"
                  : "The 2nd MAC = %02X-%02X-%02X-%02X-%02X-%02X\n",
           r[0], r[1], r[2], r[3], r[4], r[5]);
    if (AllBytesAre(r, 0x00) || AllBytesAre(r, 0xFF)) {
        puts("The MAC value is invaild, all are zero.");
        NoteFailure(data, CAUSE_READBACK_BLANK, p == 0 ? "read-back: eth0 MAC all zero or all FF"
                                 : "read-back: eth1 MAC all zero or all FF");
        return 1;
    }
    if (!SameMac(r, data->Mac[p])) {
        const uint8_t *m = data->Mac[p];
        printf("The MAC value is difference(%d), old is %02X-%02X-%02X-%02X-%02X-%02X.\n", p, m[0],
               m[1], m[2], m[3], m[4], m[5]);
        NoteFailure(data, CAUSE_READBACK_DIFFERS, p == 0 ? "read-back: eth0 MAC differs from the request"
                                 : "read-back: eth1 MAC differs from the request");
        return 1;
    }
    return 0;
}

// The one place that tells the operator two ports share a MAC, before
// programming and after it alike. 1 when they do.
static int ReportSameMac(const uint8_t a[6], const uint8_t b[6])
{
    if (!SameMac(a, b))
        return 0;
    puts("The MAC value are the same.");
    return 1;
}

// Two ports must not end up with the same MAC; rows that are all zero are
// not compared.
static int SameMacTest(const uint8_t rows[2][6], int count)
{
    for (int i = 0; i < count; i++) {
        for (int j = i + 1; j < count; j++) {
            if (AllBytesAre(rows[i], 0) || AllBytesAre(rows[j], 0))
                continue;
            if (ReportSameMac(rows[i], rows[j]))
                return 1;
        }
    }
    return 0;
}

static int WritePassRecord(void *data)
{
    return AddLog(static_cast<TALVEK_DATA *>(data), 1);
}

// The pass record is written before the PASS banner: a pass the line's
// scripts cannot read is no pass. With the registry on, neither is a pass the
// registry did not take: the record is written inside the registry's
// confirmation, after its rows and before its COMMIT, and a failed COMMIT
// puts "N" in its place below.
static int GiveVerdict(TALVEK_DATA *data, int failed)
{
    EndRunIfInterrupted();
    if (!failed) {
        int rc = RegistryConfirmPass(data->Registry, WritePassRecord, data);
        if (rc == 0) {
            ShowBigPass();
            return 0;
        }
        NoteFailure(data, CAUSE_RECORD, "the pass record TALVEK.txt cannot be written");
        ShowFailBanner();
        AddLog(data, 0);
        return 1;
    }
    ShowFailBanner();
    AddLog(data, 0);
    if (data->NeedFailLog)
        AppendDateTimeToLogFile("TALVEK got failed!");
    return 1;
}

int RefuseSameMacForBothPorts(TALVEK_DATA *data)
{
    if (!data->ProgramMac[0] || !data->ProgramMac[1])
        return 0;
    if (!ReportSameMac(data->Mac[0], data->Mac[1]))
        return 0;
    NoteFailCause(CAUSE_SAME_MAC);
    return GiveVerdict(data, 1);
}

int ReadbackAndCheck(TALVEK_DATA *data)
{
    uint8_t ReadedMac[2][6];
    memset(ReadedMac, 0, sizeof(ReadedMac));
    int ReadedIndex = 0;
    int PassFailMessage = 0;

    puts("-- Fast Get MAC OEM CMD support. No need to disable bond. --");
    if (ProbeFastGetMac(data) != 0)
        return 1;

    for (int p = 0; p < kMacPositions; p++) {
        if (!data->ProgramMac[p])
            continue;
        BuildFastGetMac(p);
        if (Execmd(gCmd) != 0) {
            PrintRequestError(data, p);
            return 1;
        }
        TakeReplyMac(ReadedMac[ReadedIndex]);
        int port_failed = TestPort(data, p, ReadedMac[ReadedIndex]);
        if (port_failed != 0)
            PassFailMessage = 1;
        RegistryNotePort(data->Registry, p, REG_HAVE_READBACK | (port_failed ? 0 : REG_PASSED),
                             ReadedMac[ReadedIndex]);
        ReadedIndex++;
    }
    if (PassFailMessage == 0 && SameMacTest(ReadedMac, ReadedIndex) != 0) {
        PassFailMessage = 1;
        NoteFailure(data, CAUSE_READBACK_SAME, "read-back: both ports hold the same MAC");
    }
    return GiveVerdict(data, PassFailMessage);
}
