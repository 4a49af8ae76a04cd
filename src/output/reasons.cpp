#include "output/reasons.h"

#include <cstdio>

#include "output/console.h"

// The one table of reasons, by cause. Each text is at most 71 characters, so
// that "Reason: " + text + "." fits 80 columns (a unit test holds every row
// to it). Say what happened, then the one thing the operator does next.
static const char *const kReasons[CAUSE_COUNT] = {
    /* CAUSE_NONE */ "the run failed; read the message above and fetch a line engineer",
    /* CAUSE_CONF */ "TALVEK.conf cannot be used; fetch a line engineer to fix it",
    /* CAUSE_REGISTRY_DOWN */ "the MAC registry cannot be used; fetch a line engineer",
    /* CAUSE_REGISTERED */ "the MAC belongs to another board; set this board aside",
    /* CAUSE_OFFSET_RANGE */ "the offset is out of range; give 0x00001 to 0xfffff",
    /* CAUSE_OFFSET_OVERFLOW */ "eth0's MAC plus the offset overflows; give a smaller offset",
    /* CAUSE_DATA_FILE */ "a MAC data file is missing or bad; put TALVEK1.DAT/TALVEK2.DAT right",
    /* CAUSE_NO_INI */ "the allow-list TALVEK.ini cannot be opened; fetch a line engineer",
    /* CAUSE_ENTRY_ABANDONED */ "the bar-code entry was abandoned; run again and scan the label",
    /* CAUSE_NO_MAC */ "a named port got no MAC; give its MAC or name only ports with one",
    /* CAUSE_NOT_ALLOWED */ "the MAC is outside the allow-list; check the label is this board's",
    /* CAUSE_SAME_MAC */ "both ports were given one MAC; scan both labels again",
    /* CAUSE_BMC_SILENT */ "the BMC does not answer; check ./kovripmi, the IPMI driver or network",
    /* CAUSE_MAC_READ */ "the BMC did not answer the MAC read; nothing written, run again",
    /* CAUSE_WRITE */ "the BMC refused the MAC write; run again",
    /* CAUSE_NO_PORT */ "the arguments name no port; name the ports to program (1, 2)",
    /* CAUSE_NOT_SETTLED */ "the BMC did not answer after the write; run again with waitbmc",
    /* CAUSE_NOT_KEPT */ "the BMC did not keep the new MAC; run again, then send it to repair",
    /* CAUSE_READBACK_REQUEST */ "the BMC did not answer the read-back; run again",
    /* CAUSE_READBACK_BLANK */ "a port reads back all 00 or all FF; run again, then send to repair",
    /* CAUSE_READBACK_DIFFERS */ "a port reads back another MAC; run again, then send it to repair",
    /* CAUSE_READBACK_SAME */ "both ports read back one MAC; scan both labels again",
    /* CAUSE_RECORD */ "the result record TALVEK.txt cannot be written; fetch a line engineer",
    /* CAUSE_INTERRUPTED */ "the run was interrupted; run the board again",
};

static int g_show;    // a line station: reason lines are printed
static int g_cause;   // the run's first noted cause
static int g_silent;  // the revision query went unanswered

const char *FailCauseText(int cause)
{
    if (cause < 0 || cause >= CAUSE_COUNT)
        cause = CAUSE_NONE;
    return kReasons[cause];
}

size_t FormatReasonLine(int cause, char *out, size_t out_size)
{
    int n = snprintf(out, out_size, "Reason: %s.", FailCauseText(cause));
    return n < 0 ? 0 : static_cast<size_t>(n);
}

void ShowReasons(int on)
{
    g_show = on;
    g_cause = CAUSE_NONE;
    g_silent = 0;
}

void NoteFailCause(int cause)
{
    if (g_silent && cause == CAUSE_MAC_READ)
        cause = CAUSE_BMC_SILENT;
    if (g_cause == CAUSE_NONE)
        g_cause = cause;
}

void OverrideFailCause(int cause)
{
    g_cause = cause;
}

int RunFailCause()
{
    return g_cause;
}

void NoteBmcUnanswered()
{
    g_silent = 1;
}

void ShowFailBanner()
{
    if (g_show) {
        char line[kReasonLineMax + 64];
        FormatReasonLine(g_cause, line, sizeof(line));
        printf("%s\n", line);
    }
    ShowBigFail();
}
