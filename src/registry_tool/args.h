// Command line of talvek-registry: one command, its operand and options.
#ifndef TALVEK_REGISTRY_TOOL_ARGS_H
#define TALVEK_REGISTRY_TOOL_ARGS_H

#include <cstddef>
#include <cstdint>

enum RegToolCommand {
    REGTOOL_NONE = 0,
    REGTOOL_HELP,
    REGTOOL_INIT,
    REGTOOL_WHO,
    REGTOOL_BOARD,
    REGTOOL_RELEASE,
    REGTOOL_EXPORT,
    REGTOOL_STATS,
    REGTOOL_REPORT,
    REGTOOL_POOLS,
    REGTOOL_SERVE,
    REGTOOL_PENDING,
    REGTOOL_RELAY,
    REGTOOL_OUTBOX,
    REGTOOL_CHECK,
};

enum RegToolFormat { REGTOOL_CSV = 0, REGTOOL_JSON, REGTOOL_TEXT };
enum RegToolPoolFormat { REGTOOL_POOLS_TEXT = 0, REGTOOL_POOLS_CSV, REGTOOL_POOLS_JSON };

// Longest board key, release reason and registry URL taken; longer input is
// a usage error rather than something silently cut short.
constexpr size_t kRegToolKeyMax = 255;
constexpr size_t kRegToolReasonMax = 500;
constexpr size_t kRegToolUrlMax = 1023;
constexpr int kRegToolMaxIni = 16;  // --ini files of one command
constexpr int kRegToolKeepDaysMax = 3650;

struct REGTOOL_ARGS {
    RegToolCommand Command;
    const char *Registry;  // --registry URL, or nullptr: TALVEK.conf decides
    uint8_t Mac[6];        // who, release
    const char *Key;       // board
    const char *Reason;    // release
    RegToolFormat Format;  // export (csv or json), stats (text unless --format)
    // export and report --since, or the start of stats --since's local day,
    // as "YYYY-MM-DDTHH:MM:SS.mmmZ"; "" = from the first run
    char Since[32];
    // report --until (UTC), or the end of stats --until's local day
    // (exclusive); "" = no end
    char Until[32];
    const char *Html;     // report --html FILE
    const char *Station;  // stats, report, serve --station NAME, or nullptr: every station
    const char *Ini[kRegToolMaxIni];  // report, pools, serve --ini FILE, in order
    int IniCount;
    RegToolPoolFormat PoolFormat;  // pools --format
    const char *Listen;            // serve --listen ADDR:PORT, or nullptr: the default
    long long OlderThan;           // pending --older-than, in seconds (0 when not given)
    const char *Amqp;      // relay --amqp URL
    const char *Address;   // relay --address, default kRegToolDefaultAddress
    int Once;              // relay --once
    int KeepDays;          // relay --keep-days, default 30
    int Dead;              // outbox --dead
    const char *Retry;     // outbox --retry ID, or nullptr
};

constexpr char kRegToolDefaultAddress[] = "/exchange/CFXExchange";

// Fills args from the command line (argv[0] is the program name; argv
// entries are kept, not copied). Options may come before or after the
// command, as "--name value" or "--name=value"; "--" ends the options.
// 0 on success; 2 on a usage error, with its one-line reason in err.
int ParseRegToolArgs(int argc, char **argv, REGTOOL_ARGS *args, char *err, size_t err_size);

// A UTC time "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.mmm]]" or the same with
// "T" and an optional "Z", to "YYYY-MM-DDTHH:MM:SS.mmmZ" in out (at least
// 25 bytes): the form the registry stores, so that times compare as text.
// 0 on success, 1 for anything else, impossible dates included.
int NormalizeUtcTime(const char *text, char *out, size_t out_size);

// A duration "90s", "30m", "2h", "1d" or a sum such as "1h30m" (at most
// 10 years) to seconds in *seconds. 0 on success, 1 for anything else.
int ParseDuration(const char *text, long long *seconds);

// The usage text, for --help (standard output) and usage errors (standard error).
extern const char kRegToolUsage[];

#endif
