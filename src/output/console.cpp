#include "output/console.h"

#include <cstdio>

#include "TALVEK.h"

void ShowVersion()
{
    printf("TALVEK %s\n", TALVEK_VERSION);
}

// Every fixed line ends in "\r" and is printed with puts, so the console
// sees "\r\n" whatever the terminal's output translation.
static void PutLines(const char *const *lines, size_t count)
{
    for (size_t i = 0; i < count; i++)
        puts(lines[i]);
}

void ShowUsage()
{
    static const char *const kUsage[] = {
        "Usage:   TALVEK <location of MAC(1 base)> ... <location of MAC(1 base)> [check/fail_log] [reboot/waitbmc]\r",
        "Example: \r",
        "         TALVEK ---------- Show this help.\r",
        "         TALVEK 1 -------- Program 1st MAC.\r",
        "         TALVEK 1=02AB3C5601A1\r",
        "                  --- Program 1st MAC with default without keyin.\r",
        "         TALVEK 2 -------- Program 2nd MAC.\r",
        "         TALVEK 2 check -- Program 2nd MAC with Check.\r",
        "         TALVEK 1 2 ------ Program 1st and 2nd MAC.\r",
        "         TALVEK 1 3 ------ Program 1st and 3rd MAC.\r",
        "         TALVEK 1 2 check- Program 2 MAC with Check.\r",
        "         TALVEK 1=02AB3C5601A1 2=02AB3C5601A2 C\r",
        "                  set 02AB3C5601A1 to 1st MAC,\r",
        "                  set 02AB3C5601A2 to 2nd MAC,\r",
        "                  Readback and Check.\r",
        "         TALVEK 1 2 T ---- Program 2 MAC from .DAT file.\r",
        "         TALVEK 1 T ------ Program 1st MAC from .DAT file.\r",
        "         TALVEK 1 2 reboot------ Program 1st and 2nd MAC and reboot BMC.\r",
        "         TALVEK U=0x00001(0x00001~0xfffff)\r",
        "                  --- Program 2nd MAC with 1st MAC + offset.\r",
    };
    PutLines(kUsage, sizeof(kUsage) / sizeof(kUsage[0]));
}

void ShowBigPass()
{
    static const char *const kPass[] = {
        "\r",
        "\x1b[1;32m #######      ####      ######     ###### \r",
        " ########    ######    ########   ########\r",
        " ##    ##   ##    ##   ##     #   ##     #\r",
        " ##    ##   ##    ##    ###        ###    \r",
        " ########   ########     ####       ####  \r",
        " #######    ########       ###        ### \r",
        " ##         ##    ##   #     ##   #     ##\r",
        " ##         ##    ##   ########   ########\r",
        " ##         ##    ##    ######     ###### \r",
        "\x1b[0m\r",
    };
    PutLines(kPass, sizeof(kPass) / sizeof(kPass[0]));
}

static bool g_fail_shown = false;

void ShowBigFail()
{
    static const char *const kFail[] = {
        "\r",
        "\x1b[1;31m ########     ####        ###     ##      \r",
        " ########    ######       ###     ##      \r",
        " ##         ##    ##      ###     ##      \r",
        " ##         ##    ##      ###     ##      \r",
        " ########   ########      ###     ##      \r",
        " ########   ########      ###     ##      \r",
        " ##         ##    ##      ###     ##      \r",
        " ##         ##    ##      ###     ########\r",
        " ##         ##    ##      ###     ########\r",
        "\x1b[0m\r",
    };
    PutLines(kFail, sizeof(kFail) / sizeof(kFail[0]));
    g_fail_shown = true;
}

bool FailBannerShown()
{
    return g_fail_shown;
}
