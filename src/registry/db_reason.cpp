// The one shape of a back end's error message, for both back ends.
#include <cstdio>

#include "registry/db_impl.h"

void CleanReason(const char *text, char *err, size_t err_size)
{
    // Back ends report over several lines and with tabs; fold every run of
    // white space into one blank.
    size_t n = 0;
    int blank = 0;
    for (const char *s = text; *s != '\0' && n + 1 < err_size; s++) {
        if (*s == '\n' || *s == '\r' || *s == '\t' || *s == ' ') {
            blank = n > 0;
            continue;
        }
        if (blank && n + 2 < err_size)
            err[n++] = ' ';
        blank = 0;
        err[n++] = *s;
    }
    while (n > 0 && (err[n - 1] == '.' || err[n - 1] == ' '))
        n--;
    err[n] = '\0';
    if (n == 0)
        snprintf(err, err_size, "unknown error");
}
