#include "registry/holder.h"

#include <cstdio>

static void CopyCol(char *out, size_t size, const char *col)
{
    snprintf(out, size, "%s", col != nullptr ? col : "");
}

int TakeHolder(void *ctx, int ncols, const char *const *cols)
{
    HOLDER_ROW *h = static_cast<HOLDER_ROW *>(ctx);
    if (ncols < 5)
        return 1;
    h->Exists = 1;
    h->KeyNull = cols[0] == nullptr;
    CopyCol(h->Key, sizeof(h->Key), cols[0]);
    CopyCol(h->State, sizeof(h->State), cols[1]);
    CopyCol(h->Station, sizeof(h->Station), cols[2]);
    CopyCol(h->Reserved, sizeof(h->Reserved), cols[3]);
    CopyCol(h->RunId, sizeof(h->RunId), cols[4]);
    return 0;
}
