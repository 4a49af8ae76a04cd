#include "sources/keyboard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "mac.h"

// What the entry changed on standard input, so that every way out (normal
// end, or a signal that ends the process) puts the station's terminal back.
static struct termios g_saved_termios;
static volatile sig_atomic_t g_termios_saved = 0;
static int g_saved_flags = -1;

static const int kRestoreSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
static struct sigaction g_old_actions[sizeof(kRestoreSignals) / sizeof(kRestoreSignals[0])];

static void RestoreStdin()
{
    if (g_termios_saved)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
    if (g_saved_flags >= 0)
        fcntl(STDIN_FILENO, F_SETFL, g_saved_flags);
}

// Restores the terminal, then lets the signal end the process as it would
// have without us.
static void OnTerminatingSignal(int sig)
{
    RestoreStdin();
    signal(sig, SIG_DFL);
    raise(sig);
}

// Non-canonical, non-echoing reading for the whole entry: each key is
// delivered at once, and a blocking read sleeps in the kernel until it comes.
static void EnterKeyMode()
{
    g_saved_flags = fcntl(STDIN_FILENO, F_GETFL);
    if (tcgetattr(STDIN_FILENO, &g_saved_termios) == 0)
        g_termios_saved = 1;

    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnTerminatingSignal;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < sizeof(kRestoreSignals) / sizeof(kRestoreSignals[0]); i++) {
        // A signal the station ignores (a run started under nohup) stays
        // ignored: it must not end the run because an entry is waiting.
        sigaction(kRestoreSignals[i], nullptr, &g_old_actions[i]);
        if (g_old_actions[i].sa_handler != SIG_IGN)
            sigaction(kRestoreSignals[i], &sa, nullptr);
    }

    if (g_termios_saved) {
        struct termios raw = g_saved_termios;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
}

static void LeaveKeyMode()
{
    RestoreStdin();
    for (size_t i = 0; i < sizeof(kRestoreSignals) / sizeof(kRestoreSignals[0]); i++)
        sigaction(kRestoreSignals[i], &g_old_actions[i], nullptr);
    g_termios_saved = 0;
    g_saved_flags = -1;
}

int kbhit()
{
    struct pollfd pfd = {STDIN_FILENO, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN) ? 1 : 0;
}

// Waits, asleep, for one key. Returns the byte, or -1 at the end of input
// or when standard input cannot be read.
static int WaitKey()
{
    for (;;) {
        unsigned char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1)
            return c;
        if (n == 0)
            return -1;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        // A descriptor left non-blocking by someone else: sleep until readable.
        struct pollfd pfd = {STDIN_FILENO, POLLIN, 0};
        if (poll(&pfd, 1, -1) < 0 && errno != EINTR)
            return -1;
    }
}

int WaitOneMacKeyIn(char *KeyInBuffer)
{
    int LocationOfKey = 0;
    while (LocationOfKey < 12) {
        int Key = WaitKey();
        if (Key < 0) {
            KeyInBuffer[LocationOfKey] = '\0';
            return 1;
        }
        KeyInBuffer[LocationOfKey] = static_cast<char>(Key);
        if (IsHexDigit(Key)) {
            putchar(Key);
            if (LocationOfKey % 2 == 1 && LocationOfKey < 10)
                putchar('-');
            fflush(stdout);
            LocationOfKey++;
        } else if (Key == 0x1B) {
            KeyInBuffer[LocationOfKey + 1] = '\0';
            return 1;
        }
        // Any other key (a scanner's separators, a line end) is dropped.
    }
    KeyInBuffer[12] = '\0';
    return 0;
}

int GetMacFromKb(int Index, TALVEK_DATA *data)
{
    char KeyInBuffer[kKeyInSize] = {0};

    printf(Index == 0 ? "Please scan the 1st bar code... (ESC to exit) "
                      : "Please scan the 2nd bar code... (ESC to exit) ");
    fflush(stdout);
    EnterKeyMode();
    int rc = WaitOneMacKeyIn(KeyInBuffer);
    LeaveKeyMode();
    if (rc != 0) {
        printf("\nError! The value '%s' is invaild.\n", KeyInBuffer);
        return 1;
    }
    printf("\n");
    MacTextToBytes(KeyInBuffer, data->Mac[Index]);
    data->MacIsImported[Index] = 1;

    // With "V" the two MACs are put in order of their last byte.
    if (data->CheckMacOrder == 1 && Index == 1 && data->Mac[0][5] > data->Mac[1][5]) {
        uint8_t TmpOrder[6];
        memcpy(TmpOrder, data->Mac[0], 6);
        memcpy(data->Mac[0], data->Mac[1], 6);
        memcpy(data->Mac[1], TmpOrder, 6);
    }
    return 0;
}
