/*
 * Test seam, preloaded into TALVEK by the end-to-end tests and the
 * benchmark: sleep() returns at once and, when TALVEK_TEST_JOURNAL names a
 * file, appends "sleep N" to it. The simulated tool appends every request to
 * the same journal, so a test sees requests and pauses in the order they
 * happened, and no test ever really waits.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Out of the environment as it loads: the shell and the tool that TALVEK
 * starts for every request run as they would on a station, without it. */
__attribute__((constructor)) static void LeaveNoTrace(void)
{
    unsetenv("LD_PRELOAD");
}

unsigned int sleep(unsigned int seconds)
{
    const char *path = getenv("TALVEK_TEST_JOURNAL");
    if (path != NULL && path[0] != '\0') {
        int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            char line[32];
            int n = snprintf(line, sizeof(line), "sleep %u\n", seconds);
            if (n > 0 && write(fd, line, (size_t)n) < 0) {
                /* nothing to do: the test will see the missing line */
            }
            close(fd);
        }
    }
    return 0;
}
