// The raw command runner: the single road for every BMC request.
// A request line is built in gCmd, run through the shell with popen, and the
// hexadecimal bytes the tool prints on its last output line are parsed into
// ResponseData.
#ifndef TALVEK_TRANSPORT_EXECMD_H
#define TALVEK_TRANSPORT_EXECMD_H

#include <csignal>
#include <cstddef>

constexpr size_t kCmdSize = 256;
constexpr size_t kResponseSize = 2048;
constexpr size_t kReplyLineSize = 2048;

extern char gCmd[kCmdSize];
extern char SNgCmd[kCmdSize];
extern int ResponseData[kResponseSize];

// Both nullptr unless a registry run armed them (run/interrupt.h). The
// checkpoint is called before a request is sent and after it returned, and
// may end the process. The request's shell and tool start with the shielded
// signals ignored, so that a Ctrl-C at the terminal, which reaches the whole
// process group, does not cut a request short.
extern void (*RequestCheckpoint)();
extern const sigset_t *RequestShieldedSignals;

// Runs the request line in cmd (which must be gCmd: the suffix is appended in
// place and the buffer is known to hold kCmdSize bytes). 0 success, 1 failure.
// When parsed is given, it receives the number of reply bytes stored in
// ResponseData (0 on failure, where ResponseData is left as it was).
int Execmd(char *cmd, size_t *parsed = nullptr);

// Parses one reply line into ResponseData from index 0 on; returns the number
// of values stored. Never stores more than kResponseSize values.
size_t ParseReplyLine(const char *line);

#endif
