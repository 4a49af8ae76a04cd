#include "registry_tool/args.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "registry/mac48.h"

const char kRegToolUsage[] =
    "Usage: talvek-registry [--registry URL] COMMAND\n"
    "Commands:\n"
    "  init                              create or upgrade the registry's tables\n"
    "  who MAC                           the MAC's holder, state and every run that touched it\n"
    "  board KEY                         the board's MACs and runs\n"
    "  release MAC --reason TEXT         free a MAC for rework (kept on record)\n"
    "  export --format csv|json [--since TIME]\n"
    "                                    one row per run and port (TIME in UTC: YYYY-MM-DD[THH:MM[:SS]])\n"
    "  stats                             runs, PASS and FAIL by day and station\n"
    "  check                             the station's registry and board identity, as\n"
    "                                    talvek-station-setup --check shows them\n"
    "The registry is the one TALVEK.conf in the current directory names, unless --registry\n"
    "gives one: sqlite, sqlite:PATH, postgresql://... or \"host=... dbname=...\".\n"
    "Exit status: 0 done, 1 error, 2 usage error.\n";

static int UsageError(char *err, size_t err_size, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(err, err_size, fmt, ap);
    va_end(ap);
    return 2;
}

// Reads exactly n decimal digits at *p into *value and advances *p.
static bool Digits(const char **p, int n, int *value)
{
    int v = 0;
    for (int k = 0; k < n; k++) {
        char c = (*p)[k];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *p += n;
    *value = v;
    return true;
}

static bool IsLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

static int DaysInMonth(int y, int m)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

int NormalizeUtcTime(const char *text, char *out, size_t out_size)
{
    const char *p = text;
    int y, mo, d, h = 0, mi = 0, s = 0, ms = 0;
    if (!Digits(&p, 4, &y) || *p++ != '-' || !Digits(&p, 2, &mo) || *p++ != '-' ||
        !Digits(&p, 2, &d))
        return 1;
    if (*p == 'T' || *p == ' ') {
        p++;
        if (!Digits(&p, 2, &h) || *p++ != ':' || !Digits(&p, 2, &mi))
            return 1;
        if (*p == ':') {
            p++;
            if (!Digits(&p, 2, &s))
                return 1;
            if (*p == '.') {
                p++;
                if (!Digits(&p, 3, &ms))
                    return 1;
            }
        }
        if (*p == 'Z')
            p++;
    }
    if (*p != '\0' || y < 1970 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 ||
        mi > 59 || s > 59)
        return 1;
    int n = snprintf(out, out_size, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", y, mo, d, h, mi, s, ms);
    return n > 0 && static_cast<size_t>(n) < out_size ? 0 : 1;
}

static int CommandByName(const char *name, RegToolCommand *command)
{
    static const struct {
        const char *name;
        RegToolCommand command;
    } commands[] = {
        {"init", REGTOOL_INIT},       {"who", REGTOOL_WHO},       {"board", REGTOOL_BOARD},
        {"release", REGTOOL_RELEASE}, {"export", REGTOOL_EXPORT}, {"stats", REGTOOL_STATS},
        {"check", REGTOOL_CHECK},
    };
    for (const auto &c : commands) {
        if (strcmp(name, c.name) == 0) {
            *command = c.command;
            return 0;
        }
    }
    return 1;
}

// Options that take a value; which commands accept them is checked after
// the whole line is read, so their order does not matter.
enum { OPT_REGISTRY, OPT_REASON, OPT_FORMAT, OPT_SINCE, OPT_COUNT };
static const char *const kOptionNames[OPT_COUNT] = {"registry", "reason", "format", "since"};

// Splits "--name=value" or "--name value"; *i moves past what was used.
static int TakeOption(int argc, char **argv, int *i, const char *values[OPT_COUNT], char *err,
                      size_t err_size)
{
    const char *arg = argv[*i] + 2;
    const char *eq = strchr(arg, '=');
    size_t name_len = eq ? static_cast<size_t>(eq - arg) : strlen(arg);
    for (int k = 0; k < OPT_COUNT; k++) {
        if (strlen(kOptionNames[k]) != name_len || strncmp(arg, kOptionNames[k], name_len) != 0)
            continue;
        if (values[k])
            return UsageError(err, err_size, "--%s given twice", kOptionNames[k]);
        if (eq) {
            values[k] = eq + 1;
        } else if (*i + 1 < argc) {
            values[k] = argv[++*i];
        } else {
            return UsageError(err, err_size, "--%s needs a value", kOptionNames[k]);
        }
        return 0;
    }
    return UsageError(err, err_size, "unknown option '%s'", argv[*i]);
}

static bool IsBlank(const char *text)
{
    for (; *text; text++) {
        if (*text != ' ' && *text != '\t')
            return false;
    }
    return true;
}

// Checks the options against the command and fills args from them.
static int ApplyOptions(const char *values[OPT_COUNT], REGTOOL_ARGS *args, char *err,
                        size_t err_size)
{
    static const RegToolCommand owner[OPT_COUNT] = {REGTOOL_NONE, REGTOOL_RELEASE, REGTOOL_EXPORT,
                                                    REGTOOL_EXPORT};
    for (int k = OPT_REASON; k < OPT_COUNT; k++) {
        if (values[k] && owner[k] != args->Command)
            return UsageError(err, err_size, "--%s does not go with this command", kOptionNames[k]);
    }
    const char *registry = values[OPT_REGISTRY];
    if (registry && (*registry == '\0' || strlen(registry) > kRegToolUrlMax))
        return UsageError(err, err_size, "--registry needs a URL of 1 to %zu characters",
                          kRegToolUrlMax);
    args->Registry = registry;
    if (args->Command == REGTOOL_RELEASE) {
        const char *reason = values[OPT_REASON];
        if (!reason || IsBlank(reason))
            return UsageError(err, err_size,
                              "release needs --reason TEXT: say why the MAC is freed");
        if (strlen(reason) > kRegToolReasonMax)
            return UsageError(err, err_size, "--reason is longer than %zu characters",
                              kRegToolReasonMax);
        args->Reason = reason;
    }
    if (args->Command == REGTOOL_EXPORT) {
        const char *format = values[OPT_FORMAT];
        if (!format)
            return UsageError(err, err_size, "export needs --format csv or --format json");
        if (strcmp(format, "csv") == 0) {
            args->Format = REGTOOL_CSV;
        } else if (strcmp(format, "json") == 0) {
            args->Format = REGTOOL_JSON;
        } else {
            return UsageError(err, err_size, "unknown export format '%s' (csv or json)", format);
        }
        const char *since = values[OPT_SINCE];
        if (since && NormalizeUtcTime(since, args->Since, sizeof args->Since) != 0)
            return UsageError(err, err_size,
                              "--since '%s' is not a UTC time YYYY-MM-DD[THH:MM[:SS]]", since);
    }
    return 0;
}

// Takes the command's operand, if it has one.
static int TakeOperand(const char *operand, REGTOOL_ARGS *args, char *err, size_t err_size)
{
    bool wants = args->Command == REGTOOL_WHO || args->Command == REGTOOL_BOARD ||
                 args->Command == REGTOOL_RELEASE;
    if (!wants)
        return operand ? UsageError(err, err_size, "unexpected argument '%s'", operand) : 0;
    if (!operand)
        return UsageError(err, err_size, "the command needs a %s",
                          args->Command == REGTOOL_BOARD ? "board KEY" : "MAC");
    if (args->Command == REGTOOL_BOARD) {
        if (*operand == '\0' || strlen(operand) > kRegToolKeyMax)
            return UsageError(err, err_size, "a board key has 1 to %zu characters", kRegToolKeyMax);
        args->Key = operand;
        return 0;
    }
    if (ParseMacArgument(operand, args->Mac) != 0)
        return UsageError(err, err_size, "'%s' is not a MAC (12 hex digits, e.g. 02AB3C5601A1)",
                          operand);
    return 0;
}

int ParseRegToolArgs(int argc, char **argv, REGTOOL_ARGS *args, char *err, size_t err_size)
{
    *args = REGTOOL_ARGS{};
    const char *values[OPT_COUNT] = {};
    const char *words[3] = {};  // the command, its operand, one too many
    int nwords = 0;
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!options_done && strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (!options_done && (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0)) {
            args->Command = REGTOOL_HELP;
            return 0;
        } else if (!options_done && strncmp(arg, "--", 2) == 0) {
            if (TakeOption(argc, argv, &i, values, err, err_size) != 0)
                return 2;
        } else if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            return UsageError(err, err_size, "unknown option '%s'", arg);
        } else if (nwords < 3) {
            words[nwords++] = arg;
        }
    }
    if (nwords == 0)
        return UsageError(err, err_size, "no command given");
    if (CommandByName(words[0], &args->Command) != 0)
        return UsageError(err, err_size, "unknown command '%s'", words[0]);
    if (nwords == 3)
        return UsageError(err, err_size, "unexpected argument '%s'", words[2]);
    if (TakeOperand(words[1], args, err, err_size) != 0)
        return 2;
    return ApplyOptions(values, args, err, err_size);
}
