#include "output/records.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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

int WriteResultRecord(const char *text, size_t len)
{
    // The new content goes to a temporary file beside the record, reaches
    // the disk, and only then replaces the record by rename, so that a
    // reader never meets an empty or half-written record, not even after
    // the station loses power mid-write. The fsync calls are what makes
    // that last promise hold; keep them, whatever they cost.
    char tmp[] = "TALVEK.txt.XXXXXX";
    int fd = mkstemp(tmp);
    if (fd < 0)
        return 1;
    // mkstemp creates the file 0600; give it the mode fopen("w") would: an
    // existing record keeps its permissions, a new one gets 0666 less the
    // umask. Best effort: file systems without modes may refuse the change.
    struct stat old;
    mode_t mode;
    if (stat(kRecordName, &old) == 0 && S_ISREG(old.st_mode)) {
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
    if (!failed && rename(tmp, kRecordName) != 0)
        failed = 1;
    if (failed) {
        unlink(tmp);
        return 1;
    }
    // Make the rename itself durable.
    int dirfd = open(".", O_RDONLY | O_DIRECTORY);
    if (dirfd >= 0) {
        fsync(dirfd);
        close(dirfd);
    }
    return 0;
}

size_t FormatPassRecord(int mac_param, const uint8_t a[6], const uint8_t b[6],
                        char *out, size_t out_size)
{
    int n;
    switch (mac_param) {
    case kMacParamEth0:
        n = snprintf(out, out_size, "P\neth0:%02X%02X%02X%02X%02X%02X\n",
                     a[0], a[1], a[2], a[3], a[4], a[5]);
        break;
    case kMacParamEth1:
        n = snprintf(out, out_size, "P\neth1:%02X%02X%02X%02X%02X%02X\n",
                     b[0], b[1], b[2], b[3], b[4], b[5]);
        break;
    case kMacParamBoth:
        n = snprintf(out, out_size,
                     "P\neth0:%02X%02X%02X%02X%02X%02X\neth1:%02X%02X%02X%02X%02X%02X\n",
                     a[0], a[1], a[2], a[3], a[4], a[5], b[0], b[1], b[2], b[3], b[4], b[5]);
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
    size_t len = FormatPassRecord(data->FastSetGetMacOemCmd.MacParam, data->Mac[0],
                                  data->Mac[1], text, sizeof(text));
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
