#include "registry_tool/args.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "registry/mac48.h"
#include "registry_tool/local_time.h"

const char kRegToolUsage[] =
    "Usage: talvek-registry [--registry URL] COMMAND\n"
    "Commands:\n"
    "  init                              create or upgrade the registry's tables\n"
    "  who MAC                           the MAC's holder, state and every run that touched it\n"
    "  board KEY                         a board's MACs and runs (KEY: GUID, UUID or serial)\n"
    "  release MAC --reason TEXT         free a MAC for rework (kept on record)\n"
    "  pending [--older-than DURATION]   MACs reserved but never verified, oldest first\n"
    "                                    (DURATION: e.g. 30m, 2h, 1d)\n"
    "  export --format csv|json [--since TIME]\n"
    "                                    one row per run and port (TIME in UTC: YYYY-MM-DD[THH:MM[:SS]])\n"
    "  stats [--since DAY] [--until DAY] [--station NAME] [--format text|csv|json]\n"
    "                                    runs, boards, verdicts and first-pass yield per local\n"
    "                                    day and station (DAY: YYYY-MM-DD, local time)\n"
    "  report --html FILE [--since TIME] [--until TIME] [--station NAME] [--ini FILE ...]\n"
    "                                    the line view as one self-contained HTML file\n"
    "  pools --ini FILE ... [--format text|csv|json]\n"
    "                                    use of each allow-list range; exit status 1 at or\n"
    "                                    above 95 % used or under 7 days left\n"
    "  serve [--listen ADDR:PORT] [--station NAME] [--ini FILE ...]\n"
    "                                    the line view of the last 24 hours over HTTP\n"
    "                                    (default 127.0.0.1:8080)\n"
    "  relay --amqp URL [--address ADDR] [--once] [--keep-days N]\n"
    "                                    publish the MES feed's messages to an AMQP 1.0 broker\n"
    "  outbox [--dead] [--retry ID]      the feed's backlog; its dead messages; send one again\n"
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
        {"report", REGTOOL_REPORT},   {"pools", REGTOOL_POOLS},   {"serve", REGTOOL_SERVE},
        {"pending", REGTOOL_PENDING},
        {"relay", REGTOOL_RELAY},     {"outbox", REGTOOL_OUTBOX},
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
// Flags (OPT_FIRST_FLAG on) take no value: their value is the flag's name.
enum {
    OPT_REGISTRY,
    OPT_REASON,
    OPT_FORMAT,
    OPT_SINCE,
    OPT_UNTIL,
    OPT_HTML,
    OPT_STATION,
    OPT_LISTEN,
    OPT_OLDER_THAN,
    OPT_AMQP,
    OPT_ADDRESS,
    OPT_KEEP_DAYS,
    OPT_RETRY,
    OPT_INI,  // the one option that may be given more than once
    OPT_ONCE,
    OPT_DEAD,
    OPT_COUNT,
    OPT_FIRST_FLAG = OPT_ONCE,
};
static const char *const kOptionNames[OPT_COUNT] = {
    "registry",   "reason", "format",  "since",     "until", "html", "station", "listen",
    "older-than", "amqp",   "address", "keep-days", "retry", "ini",  "once",    "dead"};

// The --ini values, in order.
struct INI_LIST {
    const char *Files[kRegToolMaxIni];
    int Count;
};

// Splits "--name=value" or "--name value"; *i moves past what was used.
static int TakeOption(int argc, char **argv, int *i, const char *values[OPT_COUNT],
                      INI_LIST *ini, char *err, size_t err_size)
{
    const char *arg = argv[*i] + 2;
    const char *eq = strchr(arg, '=');
    size_t name_len = eq ? static_cast<size_t>(eq - arg) : strlen(arg);
    for (int k = 0; k < OPT_COUNT; k++) {
        if (strlen(kOptionNames[k]) != name_len || strncmp(arg, kOptionNames[k], name_len) != 0)
            continue;
        if (values[k] && k != OPT_INI)
            return UsageError(err, err_size, "--%s given twice", kOptionNames[k]);
        if (k >= OPT_FIRST_FLAG) {
            if (eq)
                return UsageError(err, err_size, "--%s takes no value", kOptionNames[k]);
            values[k] = kOptionNames[k];
        } else if (eq) {
            values[k] = eq + 1;
        } else if (*i + 1 < argc) {
            values[k] = argv[++*i];
        } else {
            return UsageError(err, err_size, "--%s needs a value", kOptionNames[k]);
        }
        if (k == OPT_INI) {
            if (ini->Count == kRegToolMaxIni)
                return UsageError(err, err_size, "more than %d --ini files", kRegToolMaxIni);
            ini->Files[ini->Count++] = values[k];
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

int ParseDuration(const char *text, long long *seconds)
{
    static const struct {
        char unit;
        long long seconds;
    } units[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
    const long long kMax = 10LL * 366 * 86400;
    long long total = 0;
    const char *p = text;
    if (*p == '\0')
        return 1;
    while (*p != '\0') {
        long long n = 0;
        const char *digits = p;
        while (*p >= '0' && *p <= '9' && n <= kMax)
            n = n * 10 + (*p++ - '0');
        if (p == digits || n > kMax)
            return 1;
        long long scale = 0;
        for (const auto &u : units)
            scale = *p == u.unit ? u.seconds : scale;
        if (scale == 0)
            return 1;
        p++;
        total += n * scale;
        if (total > kMax)
            return 1;
    }
    *seconds = total;
    return 0;
}

// Bit of each command in kOwners.
static unsigned Bit(RegToolCommand c)
{
    return 1u << c;
}

static int ExportOptions(const char *const values[OPT_COUNT], REGTOOL_ARGS *args, char *err,
                         size_t err_size)
{
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
        return UsageError(err, err_size, "--since '%s' is not a UTC time YYYY-MM-DD[THH:MM[:SS]]",
                          since);
    return 0;
}

// stats counts by local day: --since and --until name local days, turned
// here into the UTC instants the stored times compare with.
static int StatsOptions(const char *const values[OPT_COUNT], REGTOOL_ARGS *args, char *err,
                        size_t err_size)
{
    const char *format = values[OPT_FORMAT];
    args->Format = REGTOOL_TEXT;
    if (format && strcmp(format, "csv") == 0) {
        args->Format = REGTOOL_CSV;
    } else if (format && strcmp(format, "json") == 0) {
        args->Format = REGTOOL_JSON;
    } else if (format && strcmp(format, "text") != 0) {
        return UsageError(err, err_size, "unknown stats format '%s' (text, csv or json)", format);
    }
    const char *days[2] = {values[OPT_SINCE], values[OPT_UNTIL]};
    char *out[2] = {args->Since, args->Until};
    for (int k = 0; k < 2; k++) {
        char check[32];
        if (days[k] && (strlen(days[k]) != 10 || NormalizeUtcTime(days[k], check, sizeof check) != 0 ||
                        LocalDayStartUtc(days[k], k, out[k]) != 0))
            return UsageError(err, err_size, "--%s '%s' is not a day YYYY-MM-DD",
                              k == 0 ? "since" : "until", days[k]);
    }
    if (args->Since[0] && args->Until[0] && strcmp(args->Since, args->Until) >= 0)
        return UsageError(err, err_size, "--until is before --since");
    const char *station = values[OPT_STATION];
    if (station && (*station == '\0' || strlen(station) > kRegToolKeyMax))
        return UsageError(err, err_size, "--station needs a name of 1 to %zu characters",
                          kRegToolKeyMax);
    args->Station = station;
    return 0;
}

// Checks the options against the command and fills args from them.
// The line view's options: report, pools and serve.
static int ApplyViewOptions(const char *values[OPT_COUNT], const INI_LIST *ini,
                            REGTOOL_ARGS *args, char *err, size_t err_size)
{
    for (int k = 0; k < ini->Count; k++)
        args->Ini[k] = ini->Files[k];
    args->IniCount = ini->Count;
    args->Html = values[OPT_HTML];
    args->Listen = values[OPT_LISTEN];
    const char *station = values[OPT_STATION];
    if (station && (*station == '\0' || strlen(station) > kRegToolKeyMax))
        return UsageError(err, err_size, "--station needs a name of 1 to %zu characters",
                          kRegToolKeyMax);
    args->Station = station;
    if (args->Command == REGTOOL_REPORT && !args->Html)
        return UsageError(err, err_size, "report needs --html FILE");
    if (args->Command == REGTOOL_POOLS && ini->Count == 0)
        return UsageError(err, err_size, "pools needs --ini FILE (an allow-list)");
    const char *until = values[OPT_UNTIL];
    if (until && NormalizeUtcTime(until, args->Until, sizeof args->Until) != 0)
        return UsageError(err, err_size,
                          "--until '%s' is not a UTC time YYYY-MM-DD[THH:MM[:SS]]", until);
    const char *format = values[OPT_FORMAT];
    if (args->Command == REGTOOL_POOLS && format) {
        static const char *const names[] = {"text", "csv", "json"};
        int k = 0;
        while (k < 3 && strcmp(format, names[k]) != 0)
            k++;
        if (k == 3)
            return UsageError(err, err_size, "unknown pools format '%s' (text, csv or json)",
                              format);
        args->PoolFormat = static_cast<RegToolPoolFormat>(k);
    }
    return 0;
}

static int ApplyRelayOptions(const char *values[OPT_COUNT], REGTOOL_ARGS *args, char *err,
                             size_t err_size)
{
    const char *amqp = values[OPT_AMQP];
    if (!amqp || *amqp == '\0' || strlen(amqp) > kRegToolUrlMax)
        return UsageError(err, err_size, "relay needs --amqp URL (amqp://host[:port])");
    args->Amqp = amqp;
    const char *address = values[OPT_ADDRESS];
    if (address && (*address == '\0' || strlen(address) > kRegToolUrlMax))
        return UsageError(err, err_size, "--address needs a broker address");
    args->Address = address ? address : kRegToolDefaultAddress;
    args->Once = values[OPT_ONCE] != nullptr;
    args->KeepDays = 30;
    const char *days = values[OPT_KEEP_DAYS];
    if (days) {
        char *end = nullptr;
        long n = strtol(days, &end, 10);
        if (end == days || *end != '\0' || n < 1 || n > kRegToolKeepDaysMax)
            return UsageError(err, err_size, "--keep-days needs a number of days from 1 to %d",
                              kRegToolKeepDaysMax);
        args->KeepDays = static_cast<int>(n);
    }
    return 0;
}

static int ApplyOptions(const char *values[OPT_COUNT], const INI_LIST *ini, REGTOOL_ARGS *args,
                        char *err, size_t err_size)
{
    // The commands each option goes with (--registry: every one).
    static const unsigned kOwners[OPT_COUNT] = {
        ~0u,
        Bit(REGTOOL_RELEASE),
        Bit(REGTOOL_EXPORT) | Bit(REGTOOL_STATS) | Bit(REGTOOL_POOLS),
        Bit(REGTOOL_EXPORT) | Bit(REGTOOL_STATS) | Bit(REGTOOL_REPORT),
        Bit(REGTOOL_STATS) | Bit(REGTOOL_REPORT),
        Bit(REGTOOL_REPORT),
        Bit(REGTOOL_STATS) | Bit(REGTOOL_REPORT) | Bit(REGTOOL_SERVE),
        Bit(REGTOOL_SERVE),
        Bit(REGTOOL_PENDING),
        Bit(REGTOOL_RELAY),
        Bit(REGTOOL_RELAY),
        Bit(REGTOOL_RELAY),
        Bit(REGTOOL_OUTBOX),
        Bit(REGTOOL_REPORT) | Bit(REGTOOL_POOLS) | Bit(REGTOOL_SERVE),
        Bit(REGTOOL_RELAY),
        Bit(REGTOOL_OUTBOX),
    };
    for (int k = 0; k < OPT_COUNT; k++) {
        if (values[k] && !(kOwners[k] & Bit(args->Command)))
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
    if (args->Command == REGTOOL_EXPORT)
        return ExportOptions(values, args, err, err_size);
    if (args->Command == REGTOOL_STATS)
        return StatsOptions(values, args, err, err_size);
    if (args->Command == REGTOOL_REPORT) {
        const char *since = values[OPT_SINCE];
        if (since && NormalizeUtcTime(since, args->Since, sizeof args->Since) != 0)
            return UsageError(err, err_size,
                              "--since '%s' is not a UTC time YYYY-MM-DD[THH:MM[:SS]]", since);
    }
    if (args->Command == REGTOOL_REPORT || args->Command == REGTOOL_POOLS ||
        args->Command == REGTOOL_SERVE)
        return ApplyViewOptions(values, ini, args, err, err_size);
    if (args->Command == REGTOOL_RELAY)
        return ApplyRelayOptions(values, args, err, err_size);
    const char *older = values[OPT_OLDER_THAN];
    if (older && ParseDuration(older, &args->OlderThan) != 0)
        return UsageError(err, err_size,
                          "--older-than '%s' is not a duration such as 90s, 30m, 2h or 1d", older);
    args->Dead = values[OPT_DEAD] != nullptr;
    args->Retry = values[OPT_RETRY];
    if (args->Dead && args->Retry)
        return UsageError(err, err_size, "outbox takes --dead or --retry ID, not both");
    if (args->Retry && (*args->Retry == '\0' || strlen(args->Retry) > kRegToolKeyMax))
        return UsageError(err, err_size, "--retry needs a message id");
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
    INI_LIST ini = {};
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
            if (TakeOption(argc, argv, &i, values, &ini, err, err_size) != 0)
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
    return ApplyOptions(values, &ini, args, err, err_size);
}
