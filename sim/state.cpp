// The BMC's memory between invocations: a small line-based text file in the
// working directory, rewritten whole through a temporary file and rename so
// that an interrupted invocation never leaves half a state behind.
//
//   eth0 02AB3C5601A1
//   eth1 02AB3C5601A2
//   pending eth0 02AB3C5601B1 2     (a stored MAC and the reads it still waits)
//   unavailable 0
//   count getid 4                   (one line per request kind)
//
// Unknown or malformed lines are ignored; missing items keep their defaults.
#include <cstdio>
#include <cstring>

#include "sim.h"

void DefaultState(const SimScenario *scenario, SimState *state)
{
    memset(state, 0, sizeof *state);
    memcpy(state->Mac, scenario->Mac, sizeof state->Mac);
}

static void ParseStateLine(const char *line, SimState *state)
{
    char key[16], a[32], b[32], c[32];
    a[0] = b[0] = c[0] = '\0';
    int n = sscanf(line, "%15s %31s %31s %31s", key, a, b, c);
    if (n < 2)
        return;
    int port = PortIndex(key);
    if (port >= 0 && n == 2) {
        ParseMacText(a, state->Mac[port]);
        return;
    }
    if (strcmp(key, "pending") == 0 && n == 4) {
        port = PortIndex(a);
        long reads;
        unsigned char mac[6];
        if (port < 0 || ParseMacText(b, mac) != 0 || ParseNumber(c, SIM_MAX_COUNT, &reads) != 0)
            return;
        state->Pending[port] = 1;
        memcpy(state->PendingMac[port], mac, 6);
        state->PendingReads[port] = reads;
        return;
    }
    if (strcmp(key, "unavailable") == 0 && n == 2) {
        ParseNumber(a, SIM_MAX_COUNT, &state->Unavailable);
        return;
    }
    if (strcmp(key, "count") == 0 && n == 3) {
        for (int k = 0; k < KIND_COUNT; k++)
            if (strcmp(a, KindNames[k]) == 0)
                ParseNumber(b, SIM_MAX_COUNT, &state->Count[k]);
    }
}

// Returns 0 when the file was read, 1 when there is none (state untouched).
int LoadState(const char *path, SimState *state)
{
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return 1;
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        size_t len = strlen(line);
        if (len > 0 && line[len - 1] != '\n' && !feof(f)) {
            // An overlong line is not ours: skip the rest of it.
            int ch;
            while ((ch = fgetc(f)) != EOF && ch != '\n') {
            }
            continue;
        }
        ParseStateLine(line, state);
    }
    fclose(f);
    return 0;
}

// Returns 0 on success, 1 when the file could not be written.
int SaveState(const char *path, const char *tempPath, const SimState *state)
{
    FILE *f = fopen(tempPath, "w");
    if (f == nullptr)
        return 1;
    char mac[13];
    for (int p = 0; p < 2; p++) {
        FormatMacText(state->Mac[p], mac);
        fprintf(f, "eth%d %s\n", p, mac);
    }
    for (int p = 0; p < 2; p++) {
        if (!state->Pending[p])
            continue;
        FormatMacText(state->PendingMac[p], mac);
        fprintf(f, "pending eth%d %s %ld\n", p, mac, state->PendingReads[p]);
    }
    fprintf(f, "unavailable %ld\n", state->Unavailable);
    for (int k = 0; k < KIND_COUNT; k++)
        fprintf(f, "count %s %ld\n", KindNames[k], state->Count[k]);
    int bad = ferror(f);
    if (fclose(f) != 0)
        bad = 1;
    if (bad || rename(tempPath, path) != 0) {
        remove(tempPath);
        return 1;
    }
    return 0;
}
