// kovripmi: a simulated IPMI command-line tool with the BMC behind it.
//
// One invocation answers one "raw" request. The BMC's memory (the two port
// MACs, request counters, the reset countdown) lives in a state file in the
// working directory, so consecutive invocations see one BMC. An optional
// scenario file scripts faults and odd replies for end-to-end tests; see
// sim/README.md for its format.
//
// The simulator parses requests, bytes and MACs with its own code and on
// purpose shares none with TALVEK (src/): it is an independent oracle, so a
// parsing fault in TALVEK cannot hide behind the same fault in the tool that
// answers it.
#ifndef KOVRIPMI_SIM_H
#define KOVRIPMI_SIM_H

#include <cstddef>

#define SIM_STATE_FILE "kovripmi.state"
#define SIM_STATE_TEMP "kovripmi.state.tmp"
#define SIM_JOURNAL_FILE "kovripmi.journal"
#define SIM_SCENARIO_FILE "kovripmi.scenario"

enum {
    SIM_MAX_REQUEST_BYTES = 64,   // NetFn, command and data bytes of one request
    SIM_MAX_RULES = 32,           // rules in one scenario file
    SIM_MAX_RULE_DATA = 8192,     // bytes of a "text" rule after unescaping
    SIM_MAX_RULE_BYTES = 1024,    // reply bytes of a "bytes" rule
    SIM_MAX_LINE = 16384,         // characters of one scenario or state line
    SIM_MAX_OUT = 16384,          // standard output of one invocation
    SIM_MAX_COUNT = 1000000000L,  // upper bound of every counter and number
};

// Request kinds, as counted for "the n-th request of a kind".
enum {
    KIND_GETID,    // Get Device ID, NetFn 0x06 cmd 0x01
    KIND_RESET,    // Cold Reset, NetFn 0x06 cmd 0x02
    KIND_GETMAC,   // Fast Get MAC of either port, NetFn 0x3a cmd 0xa1
    KIND_GETMAC0,  // Fast Get MAC of eth0 only
    KIND_GETMAC1,  // Fast Get MAC of eth1 only
    KIND_SETMAC,   // Fast Set MAC, NetFn 0x3a cmd 0xa0
    KIND_GUID,     // Get System GUID, NetFn 0x06 cmd 0x37
    KIND_COUNT
};

extern const char *const KindNames[KIND_COUNT];

// What a scenario rule does to the request it matches.
enum {
    ACT_FAIL,     // nothing on stdout, message on stderr, exit 1
    ACT_EXIT,     // nothing on stdout, exit with Status
    ACT_ERROR,    // one "Error..." line on stdout, exit Status (default 0)
    ACT_BYTES,    // Data as reply bytes in the usual layout, exit Status
    ACT_TEXT,     // Data verbatim on stdout, exit Status
    ACT_NOSTORE,  // Fast Set MAC only: normal success, MACs not stored
};

struct SimRule {
    int Kind;
    long First;  // first matching request number of the kind (from 1)
    long Last;   // last matching number; -1 for no upper end
    int Action;
    int Status;  // exit status of the invocation
    size_t Len;  // used bytes of Data
    unsigned char Data[SIM_MAX_RULE_DATA];
    int Line;  // scenario line the rule came from, for messages
};

struct SimScenario {
    unsigned char Mac[2][6];    // MACs of a BMC without a state file
    unsigned char Revision[6];  // fw rev 1, fw rev 2, aux bytes 0..3
    long ResetUnavailable;      // Get Device ID requests refused after Cold Reset
    long SettleReads[2];        // reads that still see the old MAC after a set
    int HasGuid;                // 0: Get System GUID is refused
    unsigned char Guid[16];     // its reply bytes, in order
    int RuleCount;
    SimRule Rules[SIM_MAX_RULES];
};

struct SimState {
    unsigned char Mac[2][6];         // MAC each port answers with
    int Pending[2];                  // 1: a stored MAC waits to take effect
    unsigned char PendingMac[2][6];  // the waiting MAC
    long PendingReads[2];            // reads still answered with the old MAC
    long Unavailable;                // Get Device ID requests still refused
    long Count[KIND_COUNT];          // requests received so far, per kind
};

struct SimRequest {
    int Kind;  // KIND_GETID, KIND_RESET, KIND_GETMAC (with Position), KIND_SETMAC or KIND_GUID
    int Position;
    unsigned char Mac[2][6];  // Fast Set MAC data, by port
    int Bytes[SIM_MAX_REQUEST_BYTES];
    int ByteCount;
};

struct SimReply {
    int Status;  // exit status
    size_t OutLen;
    char Out[SIM_MAX_OUT];  // standard output
    char Err[512];          // standard error, one line, may be empty
};

// bytes.cpp: bounded parsing and formatting of bytes, numbers and MACs.
int ParseRequestByte(const char *text, int *value);
int ParseHexByte(const char *text, int *value);
int ParseNumber(const char *text, long max, long *value);
int ParseMacText(const char *text, unsigned char mac[6]);
// "eth0" -> 0, "eth1" -> 1, anything else -> -1.
int PortIndex(const char *name);
void FormatMacText(const unsigned char mac[6], char out[13]);
size_t FormatReplyBytes(const unsigned char *bytes, size_t count, char *out, size_t cap);
int UnescapeQuoted(const char *text, unsigned char *out, size_t cap, size_t *len, const char **end);

// scenario.cpp
void DefaultScenario(SimScenario *scenario);
int ParseScenarioLine(const char *line, int lineNo, SimScenario *scenario, char *err,
                      size_t errCap);
int LoadScenario(const char *path, SimScenario *scenario, char *err, size_t errCap);
const SimRule *FindRule(const SimScenario *scenario, const SimRequest *request,
                        const SimState *state);

// state.cpp
void DefaultState(const SimScenario *scenario, SimState *state);
int LoadState(const char *path, SimState *state);
int SaveState(const char *path, const char *tempPath, const SimState *state);

// bmc.cpp
int ParseRequest(int argc, char **argv, SimRequest *request, char *err, size_t errCap);
void HandleRequest(const SimRequest *request, const SimScenario *scenario, SimState *state,
                   SimReply *reply);

#endif
