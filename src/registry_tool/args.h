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
    REGTOOL_CHECK,
};

enum RegToolFormat { REGTOOL_CSV = 0, REGTOOL_JSON };

// Longest board key, release reason and registry URL taken; longer input is
// a usage error rather than something silently cut short.
constexpr size_t kRegToolKeyMax = 255;
constexpr size_t kRegToolReasonMax = 500;
constexpr size_t kRegToolUrlMax = 1023;

struct REGTOOL_ARGS {
    RegToolCommand Command;
    const char *Registry;  // --registry URL, or nullptr: TALVEK.conf decides
    uint8_t Mac[6];        // who, release
    const char *Key;       // board
    const char *Reason;    // release
    RegToolFormat Format;  // export
    char Since[32];        // export --since, as "YYYY-MM-DDTHH:MM:SS.mmmZ"; "" = all
};

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

// The usage text, for --help (standard output) and usage errors (standard error).
extern const char kRegToolUsage[];

#endif
