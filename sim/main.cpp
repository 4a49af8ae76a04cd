// kovripmi entry: journal the invocation, then answer one raw request.
#include <cstdio>
#include <cstring>

#include "sim.h"

// Appends the arguments after the program name, joined by single blanks, as
// one line. Line breaks inside an argument become blanks so that every
// invocation stays exactly one journal line.
static void AppendJournal(int argc, char **argv)
{
    FILE *f = fopen(SIM_JOURNAL_FILE, "a");
    if (f == nullptr) {
        fprintf(stderr, "kovripmi: cannot append to " SIM_JOURNAL_FILE "\n");
        return;
    }
    for (int i = 1; i < argc; i++) {
        if (i > 1)
            fputc(' ', f);
        for (const char *s = argv[i]; *s != '\0'; s++)
            fputc(*s == '\n' || *s == '\r' ? ' ' : *s, f);
    }
    fputc('\n', f);
    fclose(f);
}

int main(int argc, char **argv)
{
    AppendJournal(argc, argv);

    char err[512] = "";
    static SimRequest request;
    if (ParseRequest(argc, argv, &request, err, sizeof err) != 0) {
        fprintf(stderr, "%s\n", err);
        return 1;
    }
    static SimScenario scenario;
    DefaultScenario(&scenario);
    if (LoadScenario(SIM_SCENARIO_FILE, &scenario, err, sizeof err) != 0) {
        fprintf(stderr, "kovripmi: %s\n", err);
        return 1;
    }
    static SimState state;
    DefaultState(&scenario, &state);
    LoadState(SIM_STATE_FILE, &state);

    static SimReply reply;
    HandleRequest(&request, &scenario, &state, &reply);
    if (SaveState(SIM_STATE_FILE, SIM_STATE_TEMP, &state) != 0) {
        fprintf(stderr, "kovripmi: cannot write " SIM_STATE_FILE "\n");
        return 1;
    }
    if (reply.Err[0] != '\0')
        fprintf(stderr, "%s\n", reply.Err);
    fwrite(reply.Out, 1, reply.OutLen, stdout);
    if (fflush(stdout) != 0)
        return 1;
    return reply.Status;
}
