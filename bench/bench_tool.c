/*
 * Benchmark stand-in for the station's IPMI tool: answers every request
 * TALVEK sends at once, in the tool's reply format (blank + two hex digits
 * per byte, one line). The two MACs live in bench_tool.state in the working
 * directory (absent: both zero), so a run that writes MACs reads them back
 * and passes. Like the simulated tool, it appends each request to
 * kovripmi.journal, so the fixture counts what a run sent.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char kState[] = "bench_tool.state";

static void LoadMacs(unsigned char macs[12])
{
    memset(macs, 0, 12);
    int fd = open(kState, O_RDONLY);
    if (fd < 0)
        return;
    if (read(fd, macs, 12) != 12)
        memset(macs, 0, 12);
    close(fd);
}

static int SaveMacs(const unsigned char macs[12])
{
    int fd = open(kState, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 1;
    int bad = write(fd, macs, 12) != 12;
    close(fd);
    return bad;
}

static void PrintBytes(const unsigned char *b, int n)
{
    char out[256];
    int len = 0;
    for (int i = 0; i < n; i++)
        len += snprintf(out + len, sizeof(out) - (size_t)len, " %02x", b[i]);
    out[len++] = '\n';
    fwrite(out, 1, (size_t)len, stdout);
}

static void Journal(int argc, char **argv)
{
    char line[512];
    size_t n = 0;
    for (int i = 1; i < argc && n < sizeof(line) - 1; i++)
        n += (size_t)snprintf(line + n, sizeof(line) - n, i > 1 ? " %s" : "%s", argv[i]);
    if (n >= sizeof(line) - 1)
        return;
    line[n++] = '\n';
    int fd = open("kovripmi.journal", O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, n) != (ssize_t)n) {
        /* the benchmark notices the missing request */
    }
    close(fd);
}

int main(int argc, char **argv)
{
    Journal(argc, argv);
    if (argc < 4 || strcmp(argv[1], "raw") != 0 || argc - 2 > 64)
        return 1;
    unsigned char b[64];
    int n = 0;
    for (int i = 2; i < argc; i++) {
        char *end;
        long v = strtol(argv[i], &end, 0);
        if (*end != '\0' || v < 0 || v > 255)
            return 1;
        b[n++] = (unsigned char)v;
    }

    static const unsigned char kDeviceId[15] = {0x20, 0x01, 0x81, 0x25, 0x02, 0xbf, 0x00, 0x00,
                                                0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00};
    unsigned char macs[12];
    if (b[0] == 0x06 && b[1] == 0x01 && n == 2) {
        PrintBytes(kDeviceId, 15);
    } else if (b[0] == 0x06 && b[1] == 0x02 && n == 2) {
        PrintBytes(NULL, 0);
    } else if (b[0] == 0x3a && b[1] == 0xa1 && n == 3 && b[2] <= 1) {
        LoadMacs(macs);
        PrintBytes(macs + 6 * b[2], 6);
    } else if (b[0] == 0x3a && b[1] == 0xa0 && n == 9 && b[2] <= 1) {
        LoadMacs(macs);
        memcpy(macs + 6 * b[2], b + 3, 6);
        if (SaveMacs(macs) != 0)
            return 1;
        PrintBytes(NULL, 0);
    } else if (b[0] == 0x3a && b[1] == 0xa0 && n == 15 && b[2] == 2) {
        memcpy(macs, b + 3, 12);
        if (SaveMacs(macs) != 0)
            return 1;
        PrintBytes(NULL, 0);
    } else {
        return 1;
    }
    return fflush(stdout) != 0;
}
