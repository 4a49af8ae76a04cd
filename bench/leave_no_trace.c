/*
 * Linked into the benchmark's copy of the test sleep shim (tests/sleep_shim.c:
 * sleep() returns at once and appends "sleep N" to TALVEK_TEST_JOURNAL).
 * The library takes itself out of the environment as it loads, so the shell
 * and the tool that TALVEK starts for every request run exactly as they
 * would on the station, without it.
 */
#include <stdlib.h>

__attribute__((constructor)) static void LeaveNoTrace(void)
{
    unsetenv("LD_PRELOAD");
}
