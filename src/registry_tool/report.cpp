// report: the line view written to a file that can go anywhere.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "registry/stamp.h"
#include "registry_tool/commands.h"
#include "registry_tool/pools.h"
#include "registry_tool/view.h"

int ReadIniRanges(const REGTOOL_ARGS *args, std::vector<VIEW_RANGE> *ranges)
{
    char err[512];
    for (int k = 0; k < args->IniCount; k++) {
        if (ReadPoolRanges(args->Ini[k], ranges, err, sizeof err) != 0)
            return RegToolError("--ini: %s", err);
    }
    return 0;
}

// Writes text to path through path.tmp-PID and a rename, so the file is
// either the old report or the whole new one, never half of it.
static int WriteWhole(const char *path, const std::string &text)
{
    std::string tmp = std::string(path) + ".tmp-" + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return RegToolError("cannot write %s: %s", tmp.c_str(), strerror(errno));
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    int saved = errno;
    bool ok = done == text.size() && fsync(fd) == 0;
    if (close(fd) != 0)
        ok = false;
    if (ok && rename(tmp.c_str(), path) == 0)
        return 0;
    saved = ok ? errno : saved;
    unlink(tmp.c_str());
    return RegToolError("cannot write %s: %s", path, strerror(saved));
}

int RegToolReport(REG_DB *db, const REGTOOL_ARGS *args)
{
    std::vector<VIEW_RANGE> ranges;
    if (ReadIniRanges(args, &ranges) != 0)
        return 1;
    VIEW_PERIOD period = {};
    snprintf(period.Since, sizeof period.Since, "%s", args->Since);
    snprintf(period.Until, sizeof period.Until, "%s", args->Until);
    snprintf(period.Station, sizeof period.Station, "%s", args->Station ? args->Station : "");
    char now[kStampSize];
    UtcStamp(now);
    VIEW_FIGURES figures;
    char err[kDbErrorSize] = "";
    if (LoadViewFigures(db, &period, ranges, now, &figures, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (WriteWhole(args->Html, RenderViewHtml(figures, period, now, 0)) != 0)
        return 1;
    printf("Report written to %s (runs: %ld)\n", args->Html, figures.Summary.Runs);
    return 0;
}
