#include "run/line_mode.h"

#include <cerrno>
#include <unistd.h>

#include "output/reasons.h"
#include "registry/conf.h"

static int g_line;

void StartLineMode()
{
    // Only a file that is not there at all leaves the station plain, as it
    // leaves the registry off; any other failure to look is a line station's.
    g_line = access(TALVEK_CONF_NAME, F_OK) == 0 || errno != ENOENT;
    ShowReasons(g_line);
}

int LineStation()
{
    return g_line;
}
