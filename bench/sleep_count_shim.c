/*
 * Preloaded into TALVEK by the benchmark: sleep() returns at once and, when
 * BENCH_SLEEP_LOG names a file, appends "sleep N" to it, so the wall time of
 * a run is what TALVEK spends beyond the waits it asks for, and the waits
 * are still counted.
 *
 * The library takes itself out of the environment as it loads: the shell
 * and the tool that TALVEK starts for every request run exactly as they
 * would on the station, without it.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void LeaveNoTrace(void)
{
    unsetenv("LD_PRELOAD");
}

unsigned int sleep(unsigned int seconds)
{
    const char *path = getenv("BENCH_SLEEP_LOG");
    if (path != NULL && path[0] != '\0') {
        int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            char line[32];
            int n = snprintf(line, sizeof(line), "sleep %u\n", seconds);
            if (n > 0 && write(fd, line, (size_t)n) < 0) {
                /* the benchmark counts what arrived */
            }
            close(fd);
        }
    }
    return 0;
}
