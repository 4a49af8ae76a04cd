// Shared by the fuzz targets that drive code reading files by relative name:
// a private scratch directory as the working directory, and standard output
// sent to /dev/null (the loaders print every line they take).
//
// The scratch directory is made under $TMPDIR (else /tmp) and removed at
// exit. Because the working directory changes before libFuzzer reads its
// corpus, corpus and artifact paths must be absolute (scripts/fuzz passes
// them so).
#ifndef TALVEK_FUZZ_SUPPORT_H
#define TALVEK_FUZZ_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

// Aborts with a message: libFuzzer reports the abort as a finding and saves
// the input.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);               \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// For the targets' own oracles: not coverage-instrumented, so that libFuzzer
// steers by the program's code alone and no time goes into tracing the
// checks' comparisons.
#define FUZZ_ORACLE __attribute__((no_sanitize("coverage")))

namespace fuzz {

inline std::string &ScratchDir()
{
    static std::string dir;
    return dir;
}

inline void RemoveScratch()
{
    const std::string &dir = ScratchDir();
    if (dir.empty())
        return;
    for (const char *name : {"TALVEK.ini", "TALVEK1.DAT", "TALVEK2.DAT", "TALVEK.txt"})
        unlink((dir + "/" + name).c_str());
    rmdir(dir.c_str());
}

inline void EnterScratchDirAndSilence()
{
    const char *tmp = getenv("TMPDIR");
    std::string tmpl =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/talvek-fuzz-XXXXXX";
    if (mkdtemp(&tmpl[0]) == nullptr || chdir(tmpl.c_str()) != 0) {
        perror("talvek fuzz: scratch directory");
        abort();
    }
    ScratchDir() = tmpl;
    atexit(RemoveScratch);

    fflush(stdout);
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull < 0 || dup2(devnull, STDOUT_FILENO) < 0) {
        perror("talvek fuzz: /dev/null");
        abort();
    }
    close(devnull);
}

// Writes data to name in the working directory, replacing it. The old file
// is unlinked rather than truncated: ext4 flushes a truncated-and-rewritten
// file on close, which would make every execution wait for the disk.
inline void WriteFile(const char *name, const uint8_t *data, size_t size)
{
    unlink(name);
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        perror(name);
        abort();
    }
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) {
            perror(name);
            abort();
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace fuzz

#endif
