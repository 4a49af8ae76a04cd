#include "output/records.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static const char kRecordName[] = "TALVEK.txt";
static const char kLogName[] = "MAC_LOG.txt";

static int WriteAll(int fd, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 1;
        text += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

// Longest record path followed, and most links in a chain (the kernel's own
// limit): a longer or looping chain is a station fault, reported as a record
// that cannot be written.
static const size_t kPathMax = 4096;
static const int kMaxLinkHops = 40;

// Where the record really lives. A "TALVEK.txt" that is a symbolic link (a
// line may point every station's record at one shared place) stays a link:
// the record is the file the chain ends at, created there if missing. 0 with
// the path in path; 1 when the chain cannot be followed or ends at something
// other than a regular file (a device or a directory elsewhere is never
// replaced).
static int ResolveRecordPath(char *path, size_t size)
{
    snprintf(path, size, "%s", kRecordName);
    bool followed = false;
    for (int hop = 0; hop < kMaxLinkHops; hop++) {
        struct stat st;
        if (lstat(path, &st) != 0)
            return errno == ENOENT ? 0 : 1;
        if (!S_ISLNK(st.st_mode))
            return followed && !S_ISREG(st.st_mode) ? 1 : 0;
        char link[kPathMax];
        ssize_t n = readlink(path, link, sizeof(link));
        if (n <= 0 || static_cast<size_t>(n) >= sizeof(link))
            return 1;
        link[n] = '\0';
        // A relative link is relative to the directory that holds it.
        const char *slash = strrchr(path, '/');
        int dirlen = link[0] == '/' || slash == nullptr ? 0 : static_cast<int>(slash - path) + 1;
        char next[kPathMax];
        int len = snprintf(next, sizeof(next), "%.*s%s", dirlen, path, link);
        if (len < 0 || static_cast<size_t>(len) >= size)
            return 1;
        memcpy(path, next, static_cast<size_t>(len) + 1);
        followed = true;
    }
    return 1;
}

// Flushes the directory that holds path, so that a rename in it is durable.
static void SyncDirectoryOf(const char *path)
{
    char dir[kPathMax];
    const char *slash = strrchr(path, '/');
    if (slash == nullptr)
        snprintf(dir, sizeof(dir), ".");
    else if (slash == path)
        snprintf(dir, sizeof(dir), "/");
    else
        snprintf(dir, sizeof(dir), "%.*s", static_cast<int>(slash - path), path);
    int dirfd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        fsync(dirfd);
        close(dirfd);
    }
}

// The new content goes to a temporary file beside the record, reaches the
// disk, and only then replaces the record by rename, so that a reader never
// meets an empty or half-written record, not even after the station loses
// power mid-write. The fsync calls are what makes that last promise hold;
// keep them, whatever they cost. 0 when replaced, 1 when not (nothing is
// left behind then).
static int ReplaceRecord(const char *path, const char *text, size_t len)
{
    char tmp[kPathMax];
    int n = snprintf(tmp, sizeof(tmp), "%s.XXXXXX", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(tmp))
        return 1;
    int fd = mkstemp(tmp);
    if (fd < 0)
        return 1;
    // mkstemp creates the file 0600; give it the mode fopen("w") would: an
    // existing record keeps its permissions, a new one gets 0666 less the
    // umask. Best effort: file systems without modes may refuse the change.
    struct stat old;
    mode_t mode;
    if (stat(path, &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    (void)fchmod(fd, mode);
    int failed = WriteAll(fd, text, len);
    failed |= fsync(fd) != 0;
    failed |= close(fd) != 0;
    if (!failed && rename(tmp, path) != 0)
        failed = 1;
    if (failed) {
        unlink(tmp);
        return 1;
    }
    SyncDirectoryOf(path);
    return 0;
}

// The fallback for a directory that takes no new files but holds a writable
// record: truncate, write and fsync the record itself. An exclusive lock on
// it keeps a second TALVEK of the same station from interleaving its bytes
// with ours, so the record ends up whole, one run's or the other's. A reader
// may meet it empty for that moment, which is why this is only the fallback.
static int RewriteRecordInPlace(const char *path, const char *text, size_t len)
{
    // O_NONBLOCK: a FIFO in the record's place must not hang the run.
    int fd = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return 1;
    struct stat st;
    int rc;
    do {
        rc = flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    int failed = rc != 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
    if (!failed)
        failed = ftruncate(fd, 0) != 0 || WriteAll(fd, text, len) != 0 || fsync(fd) != 0;
    failed |= close(fd) != 0;
    return failed;
}

int WriteResultRecord(const char *text, size_t len)
{
    char path[kPathMax];
    if (ResolveRecordPath(path, sizeof(path)) != 0)
        return 1;
    if (ReplaceRecord(path, text, len) == 0)
        return 0;
    return RewriteRecordInPlace(path, text, len);
}

size_t FormatPassRecord(int mac_param, const uint8_t a[6], const uint8_t b[6], char *out,
                        size_t out_size)
{
    int n;
    switch (mac_param) {
    case kMacParamEth0:
        n = snprintf(out, out_size, "P\neth0:%02X%02X%02X%02X%02X%02X\n", a[0], a[1], a[2], a[3],
                     a[4], a[5]);
        break;
    case kMacParamEth1:
        n = snprintf(out, out_size, "P\neth1:%02X%02X%02X%02X%02X%02X\n", b[0], b[1], b[2], b[3],
                     b[4], b[5]);
        break;
    case kMacParamBoth:
        n = snprintf(out, out_size,
                     "P\neth0:%02X%02X%02X%02X%02X%02X\neth1:%02X%02X%02X%02X%02X%02X\n", a[0],
                     a[1], a[2], a[3], a[4], a[5], b[0], b[1], b[2], b[3], b[4], b[5]);
        break;
    default:
        return 0;
    }
    if (n < 0 || static_cast<size_t>(n) >= out_size)
        return 0;
    return static_cast<size_t>(n);
}

// A record that cannot be written is reported once per run, however many
// writes (a pass record, then the failure record in its place) fail.
static int ReportRecordWrite(int failed)
{
    static bool reported = false;
    if (failed && !reported) {
        printf("Error! System can not open file %s.\n", kRecordName);
        reported = true;
    }
    return failed;
}

int StoreResultRecord(const char *text, size_t len)
{
    return ReportRecordWrite(WriteResultRecord(text, len));
}

int WriteFailRecord()
{
    return StoreResultRecord("N\n", 2);
}

int AddLog(TALVEK_DATA *data, int Pass)
{
    if (Pass == 0)
        return WriteFailRecord();
    char text[64];
    size_t len = FormatPassRecord(data->FastSetGetMacOemCmd.MacParam, data->Mac[0], data->Mac[1],
                                  text, sizeof(text));
    if (len == 0)
        return 0;
    return StoreResultRecord(text, len);
}

void AppendDateTimeToLogFile(const char *MemoString)
{
    // The entry holds the date and time alone; the memo names the cause for
    // a reader of this code, the line's tools expect the 26-byte entry.
    (void)MemoString;
    FILE *fp = fopen(kLogName, "a");
    if (fp == nullptr) {
        printf("Error! System can not open file %s.\n", kLogName);
        return;
    }
    time_t now = time(nullptr);
    const char *stamp = ctime(&now);
    fprintf(fp, "%s\n", stamp != nullptr ? stamp : "");
    if (fclose(fp) != 0)
        printf("Error! System can not open file %s.\n", kLogName);
}
