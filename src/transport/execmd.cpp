#include "transport/execmd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

char gCmd[kCmdSize];
char SNgCmd[kCmdSize];
int ResponseData[kResponseSize];
void (*RequestCheckpoint)() = nullptr;
const sigset_t *RequestShieldedSignals = nullptr;

// Standard error of the tool is discarded; the reply is its standard output.
static const char kSuffix[] = " 2>/dev/null";

size_t ParseReplyLine(const char *buf)
{
    size_t i = 0;
    size_t k = 0;
    char temp[5] = {'0', 'x', 0, 0, 0};

    // Blanks separate tokens; every other character starts a two-character
    // token whose second character may be anything (the newline behind the
    // last byte falls on the skipped position after a token).
    while (buf[i] != '\0' && k < kResponseSize) {
        if (buf[i] == ' ') {
            i++;
            continue;
        }
        temp[2] = buf[i];
        temp[3] = buf[i + 1];
        temp[4] = '\0';
        ResponseData[k++] = static_cast<int>(strtol(temp, nullptr, 16) & 0xFF);
        if (buf[i + 1] == '\0')
            break;
        i += 2;
        // The character behind the token is passed over unread, unless it
        // is the end of the text.
        if (buf[i] == '\0')
            break;
        i++;
    }
    return k;
}

// The child of OpenShielded, from vfork to exec: it still shares our memory,
// so it only makes system calls. It ignores the shielded signals, puts every
// other signal we handle back to its default (our handlers must not run in
// it), takes back the parent's mask and starts the shell on the pipe.
[[noreturn]] static void StartShieldedChild(const char *cmd, int out, const sigset_t *mask)
{
    struct sigaction ignore;
    memset(&ignore, 0, sizeof(ignore));
    ignore.sa_handler = SIG_IGN;
    struct sigaction dfl = ignore;
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; sig++) {
        struct sigaction now;
        if (sigismember(RequestShieldedSignals, sig) == 1)
            sigaction(sig, &ignore, nullptr);
        else if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_IGN &&
                 now.sa_handler != SIG_DFL)
            sigaction(sig, &dfl, nullptr);
    }
    sigprocmask(SIG_SETMASK, mask, nullptr);
    if (dup2(out, STDOUT_FILENO) < 0)  // the copy is not close-on-exec
        _exit(127);
    execl("/bin/sh", "sh", "-c", cmd, static_cast<char *>(nullptr));
    _exit(127);
}

// popen for a request that a signal meant for the run must not cut short:
// the child ignores the shielded signals before it starts the shell, and an
// ignored signal stays ignored across exec, in a non-interactive shell and
// in the tool it starts. (A blocked one would not: the shell clears its
// signal mask.) vfork rather than fork: copying a process that has the
// database client loaded costs about half a millisecond a request. All
// signals stay blocked until the child has its own dispositions; one that
// arrives meanwhile waits for the parent's handler, which only takes note.
// The stream and *pid go to CloseShielded; nullptr when no child.
static FILE *OpenShielded(const char *cmd, pid_t *pid)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    sigset_t all, mask;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &mask);
    pid_t child = vfork();
    if (child == 0)
        StartShieldedChild(cmd, fds[1], &mask);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    close(fds[1]);
    FILE *fp = child > 0 ? fdopen(fds[0], "r") : nullptr;
    if (fp == nullptr) {
        close(fds[0]);
        if (child > 0)
            waitpid(child, nullptr, 0);
        return nullptr;
    }
    *pid = child;
    return fp;
}

// pclose for OpenShielded: the child's wait status, or -1.
static int CloseShielded(FILE *fp, pid_t pid)
{
    fclose(fp);
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

int Execmd(char *cmd, size_t *parsed)
{
    if (parsed != nullptr)
        *parsed = 0;
    if (RequestCheckpoint != nullptr)
        RequestCheckpoint();
    char buf[kReplyLineSize];
    memset(buf, 0, sizeof(buf));

    // Refuse a line that would not fit with its suffix rather than cut it.
    size_t len = strnlen(cmd, kCmdSize);
    if (len + sizeof(kSuffix) > kCmdSize)
        return 1;
    memcpy(cmd + len, kSuffix, sizeof(kSuffix));

    pid_t shielded = 0;
    FILE *fp = RequestShieldedSignals != nullptr ? OpenShielded(cmd, &shielded) : popen(cmd, "r");
    if (fp == nullptr) {
        puts("Error opening pipe!");
        return 1;
    }
    // Only the last line counts: each line is read to the start of buf. A
    // line longer than the buffer arrives in pieces and the last piece counts.
    char line[kReplyLineSize];
    while (fgets(line, sizeof(line), fp) != nullptr)
        strcpy(buf, line);
    int status = shielded != 0 ? CloseShielded(fp, shielded) : pclose(fp);
    if (RequestCheckpoint != nullptr)
        RequestCheckpoint();
    if (status != 0)
        return 1;
    if (strncmp(buf, "Error", 5) == 0) {
        puts("Command execute error");
        return 1;
    }
    size_t count = ParseReplyLine(buf);
    if (parsed != nullptr)
        *parsed = count;
    return 0;
}
