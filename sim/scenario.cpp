// The scenario file: an optional, read-only, line-based script of the BMC's
// settings and of rules that replace its answer to chosen requests. The
// format is documented in sim/README.md; a line that does not fit it is an
// error that makes every request fail, so a typo in a test cannot pass
// unnoticed.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "sim.h"

const char *const KindNames[KIND_COUNT] = {"getid",   "reset",  "getmac", "getmac0",
                                           "getmac1", "setmac", "getguid"};

void DefaultScenario(SimScenario *scenario)
{
    memset(scenario, 0, sizeof *scenario);
    // fw rev 1: device available, major 1; fw rev 2: minor 25 (BCD); aux 3.
    static const unsigned char revision[6] = {0x81, 0x25, 0x03, 0x00, 0x00, 0x00};
    memcpy(scenario->Revision, revision, sizeof revision);
    scenario->ResetUnavailable = 3;
}

static int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Copies the next blank-separated token at *p into tok and advances *p.
// Returns 0 for a token, 1 at the end of the line, 2 for a token too long.
static int NextToken(const char **p, char *tok, size_t cap)
{
    const char *s = *p;
    while (IsBlank(*s))
        s++;
    if (*s == '\0') {
        *p = s;
        return 1;
    }
    size_t n = 0;
    while (*s != '\0' && !IsBlank(*s)) {
        if (n + 1 >= cap)
            return 2;
        tok[n++] = *s++;
    }
    tok[n] = '\0';
    *p = s;
    return 0;
}

static int Fail(char *err, size_t errCap, int lineNo, const char *what)
{
    snprintf(err, errCap, SIM_SCENARIO_FILE ":%d: %s", lineNo, what);
    return 1;
}

// "all", "N", "N-M" or "N+" with N >= 1.
static int ParseWhen(const char *text, long *first, long *last)
{
    if (strcmp(text, "all") == 0) {
        *first = 1;
        *last = -1;
        return 0;
    }
    char a[16];
    size_t len = strnlen(text, 32);
    if (len == 0 || len > 31)
        return 1;
    const char *dash = strchr(text, '-');
    if (text[len - 1] == '+') {
        if (len - 1 >= sizeof a)
            return 1;
        memcpy(a, text, len - 1);
        a[len - 1] = '\0';
        if (ParseNumber(a, SIM_MAX_COUNT, first) != 0 || *first < 1)
            return 1;
        *last = -1;
        return 0;
    }
    if (dash != nullptr) {
        size_t alen = (size_t)(dash - text);
        if (alen >= sizeof a)
            return 1;
        memcpy(a, text, alen);
        a[alen] = '\0';
        if (ParseNumber(a, SIM_MAX_COUNT, first) != 0 || *first < 1)
            return 1;
        if (ParseNumber(dash + 1, SIM_MAX_COUNT, last) != 0 || *last < *first)
            return 1;
        return 0;
    }
    if (ParseNumber(text, SIM_MAX_COUNT, first) != 0 || *first < 1)
        return 1;
    *last = *first;
    return 0;
}

// Parses an optional "status N" tail; anything else left on the line is an error.
static int ParseStatusTail(const char *p, int *status, char *err, size_t errCap, int lineNo)
{
    char tok[32];
    int r = NextToken(&p, tok, sizeof tok);
    if (r == 1)
        return 0;
    if (r != 0 || strcmp(tok, "status") != 0)
        return Fail(err, errCap, lineNo, "unexpected text after the action");
    long v;
    if (NextToken(&p, tok, sizeof tok) != 0 || ParseNumber(tok, 255, &v) != 0)
        return Fail(err, errCap, lineNo, "\"status\" needs a number from 0 to 255");
    if (NextToken(&p, tok, sizeof tok) != 1)
        return Fail(err, errCap, lineNo, "unexpected text after the status");
    *status = (int)v;
    return 0;
}

static int ParseRule(const char *p, int kind, int lineNo, SimScenario *scenario, char *err,
                     size_t errCap)
{
    if (scenario->RuleCount >= SIM_MAX_RULES)
        return Fail(err, errCap, lineNo, "too many rules");
    SimRule *rule = &scenario->Rules[scenario->RuleCount];
    memset(rule, 0, sizeof *rule);
    rule->Kind = kind;
    rule->Line = lineNo;
    char tok[64];
    if (NextToken(&p, tok, sizeof tok) != 0 || ParseWhen(tok, &rule->First, &rule->Last) != 0)
        return Fail(err, errCap, lineNo, "expected \"all\", N, N-M or N+ after the request kind");
    if (NextToken(&p, tok, sizeof tok) != 0)
        return Fail(err, errCap, lineNo, "missing action");

    if (strcmp(tok, "fail") == 0) {
        rule->Action = ACT_FAIL;
        rule->Status = 1;
        if (NextToken(&p, tok, sizeof tok) != 1)
            return Fail(err, errCap, lineNo, "\"fail\" takes nothing; use \"exit N\"");
    } else if (strcmp(tok, "exit") == 0) {
        long v;
        rule->Action = ACT_EXIT;
        if (NextToken(&p, tok, sizeof tok) != 0 || ParseNumber(tok, 255, &v) != 0)
            return Fail(err, errCap, lineNo, "\"exit\" needs a number from 0 to 255");
        rule->Status = (int)v;
        if (NextToken(&p, tok, sizeof tok) != 1)
            return Fail(err, errCap, lineNo, "unexpected text after the exit status");
    } else if (strcmp(tok, "error") == 0) {
        rule->Action = ACT_ERROR;
        if (ParseStatusTail(p, &rule->Status, err, errCap, lineNo) != 0)
            return 1;
    } else if (strcmp(tok, "nostore") == 0) {
        if (kind != KIND_SETMAC)
            return Fail(err, errCap, lineNo, "\"nostore\" is for setmac only");
        rule->Action = ACT_NOSTORE;
        if (NextToken(&p, tok, sizeof tok) != 1)
            return Fail(err, errCap, lineNo, "unexpected text after \"nostore\"");
    } else if (strcmp(tok, "bytes") == 0) {
        rule->Action = ACT_BYTES;
        for (;;) {
            const char *before = p;
            int r = NextToken(&p, tok, sizeof tok);
            if (r == 1)
                break;
            if (r == 0 && strcmp(tok, "status") == 0) {
                if (ParseStatusTail(before, &rule->Status, err, errCap, lineNo) != 0)
                    return 1;
                break;
            }
            int v;
            if (r != 0 || ParseHexByte(tok, &v) != 0)
                return Fail(err, errCap, lineNo, "reply bytes are hex: 1 or 2 digits, optional 0x");
            if (rule->Len >= SIM_MAX_RULE_BYTES)
                return Fail(err, errCap, lineNo, "too many bytes");
            rule->Data[rule->Len++] = (unsigned char)v;
        }
    } else if (strcmp(tok, "text") == 0) {
        rule->Action = ACT_TEXT;
        while (IsBlank(*p))
            p++;
        const char *end;
        if (UnescapeQuoted(p, rule->Data, sizeof rule->Data, &rule->Len, &end) != 0)
            return Fail(
                err, errCap, lineNo,
                "\"text\" needs one double-quoted string (escapes \\n \\r \\t \\\\ \\\" \\xNN)");
        if (ParseStatusTail(end, &rule->Status, err, errCap, lineNo) != 0)
            return 1;
    } else {
        return Fail(err, errCap, lineNo, "unknown action");
    }
    scenario->RuleCount++;
    return 0;
}

// Parses one line into *scenario. Returns 0, or 1 with a message in err.
int ParseScenarioLine(const char *line, int lineNo, SimScenario *scenario, char *err, size_t errCap)
{
    const char *p = line;
    char tok[64];
    int r = NextToken(&p, tok, sizeof tok);
    if (r == 1 || (r == 0 && tok[0] == '#'))
        return 0;
    if (r == 2)
        return Fail(err, errCap, lineNo, "unknown keyword");

    for (int k = 0; k < KIND_COUNT; k++)
        if (strcmp(tok, KindNames[k]) == 0)
            return ParseRule(p, k, lineNo, scenario, err, errCap);

    char a[64], b[64];
    long v;
    if (strcmp(tok, "mac") == 0) {
        int port = -1;
        if (NextToken(&p, a, sizeof a) == 0)
            port = PortIndex(a);
        if (port < 0 || NextToken(&p, b, sizeof b) != 0 ||
            ParseMacText(b, scenario->Mac[port]) != 0 || NextToken(&p, a, sizeof a) != 1)
            return Fail(err, errCap, lineNo, "expected: mac eth0|eth1 <12 hex digits>");
        return 0;
    }
    if (strcmp(tok, "guid") == 0) {
        // 32 hex digits: the 16 reply bytes of Get System GUID, in order.
        int ok = NextToken(&p, a, sizeof a) == 0 && strlen(a) == 32;
        for (int i = 0; ok && i < 16; i++) {
            char pair[3] = {a[2 * i], a[2 * i + 1], '\0'};
            int byte;
            ok = isxdigit((unsigned char)pair[0]) && isxdigit((unsigned char)pair[1]) &&
                 ParseHexByte(pair, &byte) == 0;
            if (ok)
                scenario->Guid[i] = (unsigned char)byte;
        }
        if (!ok || NextToken(&p, b, sizeof b) != 1)
            return Fail(err, errCap, lineNo, "expected: guid <32 hex digits>");
        scenario->HasGuid = 1;
        return 0;
    }
    if (strcmp(tok, "revision") == 0) {
        for (int i = 0; i < 6; i++) {
            int byte;
            if (NextToken(&p, a, sizeof a) != 0 || ParseHexByte(a, &byte) != 0)
                return Fail(err, errCap, lineNo,
                            "expected: revision <fw1> <fw2> <aux0..aux3> (6 hex bytes)");
            scenario->Revision[i] = (unsigned char)byte;
        }
        if (NextToken(&p, a, sizeof a) != 1)
            return Fail(err, errCap, lineNo,
                        "expected: revision <fw1> <fw2> <aux0..aux3> (6 hex bytes)");
        return 0;
    }
    if (strcmp(tok, "reset-unavailable") == 0) {
        if (NextToken(&p, a, sizeof a) != 0 || ParseNumber(a, SIM_MAX_COUNT, &v) != 0 ||
            NextToken(&p, b, sizeof b) != 1)
            return Fail(err, errCap, lineNo, "expected: reset-unavailable <count>");
        scenario->ResetUnavailable = v;
        return 0;
    }
    if (strcmp(tok, "settle-reads") == 0) {
        int eth0 = 0, eth1 = 0;
        if (NextToken(&p, a, sizeof a) == 0) {
            int both = strcmp(a, "both") == 0;
            eth0 = both || PortIndex(a) == 0;
            eth1 = both || PortIndex(a) == 1;
        }
        if ((!eth0 && !eth1) || NextToken(&p, b, sizeof b) != 0 ||
            ParseNumber(b, SIM_MAX_COUNT, &v) != 0 || NextToken(&p, a, sizeof a) != 1)
            return Fail(err, errCap, lineNo, "expected: settle-reads eth0|eth1|both <count>");
        if (eth0)
            scenario->SettleReads[0] = v;
        if (eth1)
            scenario->SettleReads[1] = v;
        return 0;
    }
    return Fail(err, errCap, lineNo, "unknown keyword");
}

// Loads the scenario file into *scenario (which should hold the defaults).
// A missing file is no error. Returns 0, or 1 with a message in err.
int LoadScenario(const char *path, SimScenario *scenario, char *err, size_t errCap)
{
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return 0;
    static char line[SIM_MAX_LINE];
    int lineNo = 0;
    int status = 0;
    while (status == 0 && fgets(line, sizeof line, f) != nullptr) {
        lineNo++;
        size_t len = strlen(line);
        if (len + 1 == sizeof line && line[len - 1] != '\n') {
            status = Fail(err, errCap, lineNo, "line too long");
            break;
        }
        status = ParseScenarioLine(line, lineNo, scenario, err, errCap);
    }
    fclose(f);
    return status;
}

// The first rule, in file order, whose kind and number range match the
// request; the counters in *state already include this request.
const SimRule *FindRule(const SimScenario *scenario, const SimRequest *request,
                        const SimState *state)
{
    for (int i = 0; i < scenario->RuleCount; i++) {
        const SimRule *rule = &scenario->Rules[i];
        int kind = rule->Kind;
        int matches = kind == request->Kind ||
                      (request->Kind == KIND_GETMAC && kind == KIND_GETMAC0 + request->Position);
        if (!matches)
            continue;
        long n = state->Count[kind];
        if (n >= rule->First && (rule->Last < 0 || n <= rule->Last))
            return rule;
    }
    return nullptr;
}
