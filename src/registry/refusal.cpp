// The refusal a line operator can act on: a MAC the registry gives to
// another board stops the run, and the screen says whose it is and what to
// do, in lines of at most 80 columns.
#include <cstdio>
#include <cstring>

#include "output/reasons.h"
#include "registry/board_line.h"
#include "registry/mac48.h"

// The newest real board serial the runs table holds for the board key.
static const char kSerial[] =
    "SELECT board_serial FROM runs WHERE board_key = ?1 AND board_serial IS NOT NULL"
    " AND board_serial_placeholder = 0 ORDER BY started_utc DESC LIMIT 1";

static int TakeSerial(void *ctx, int ncols, const char *const *cols)
{
    if (ncols >= 1 && cols[0] != nullptr)
        snprintf(static_cast<char *>(ctx), kIdValueSize, "%s", cols[0]);
    return 0;
}

// How the holder is named: by the serial on its label where the registry
// knows one, else by its key (a GUID in groups, a product UUID, or a board
// serial that became the key).
static void NameHolder(REGISTRY_RUN *run, const char *key, char *out, size_t out_size)
{
    if (key == nullptr) {
        snprintf(out, out_size, "no identity (GUID, UUID and serials were placeholders)");
        return;
    }
    char serial[kIdValueSize] = "";
    char err[kDbErrorSize];
    const char *params[] = {key};
    if (RegDbQuery(run->Db, kSerial, 1, params, TakeSerial, serial, err, sizeof(err)) == 0 &&
        serial[0] != '\0') {
        snprintf(out, out_size, "serial %s", serial);
        return;
    }
    char grouped[kIdValueSize + 8];
    GroupGuid(key, grouped, sizeof(grouped));
    if (strcmp(grouped, key) != 0)
        snprintf(out, out_size, "GUID %s", grouped);
    else if (strlen(key) == 36 && key[8] == '-' && key[13] == '-' && key[18] == '-' &&
             key[23] == '-')
        snprintf(out, out_size, "UUID %s", key);
    else
        snprintf(out, out_size, "serial %s", key);
}

void RegistryShowRefusal(REGISTRY_RUN *run, const uint8_t m[6], const char *holder_key,
                         const char *station, const char *since_utc)
{
    NoteFailCause(CAUSE_REGISTERED);
    char text[kMacHexSize];
    MacHexText(m, text);
    char holder[kIdValueSize + 64], since[64], when[96];
    NameHolder(run, holder_key, holder, sizeof(holder));
    LocalTimeOfStamp(since_utc, since, sizeof(since));
    snprintf(when, sizeof(when), "%s (local time)", since);

    char dashed[kMacDashedSize];
    MacDashedText(m, dashed);
    printf("Error! Mac %s is already registered to another board:\n", dashed);
    char fitted[4 * kScreenColumns + 1];
    static const char *const kPrefix[] = {"  board    ", "  station  ", "  since    "};
    const char *values[] = {holder, station, when};
    for (int k = 0; k < 3; k++) {
        FitColumns(values[k], kScreenColumns - strlen(kPrefix[k]), fitted, sizeof(fitted));
        printf("%s%s\n", kPrefix[k], fitted);
    }
    puts("Set this board aside with its label and fetch a line engineer, who runs:");
    printf("  talvek-registry who %s\n", text);
    if (holder_key != nullptr)
        return;
    // A board without identity cannot be told from another one: a re-run of
    // the very board that holds the MAC looks the same as a second board.
    puts("If it is the same board run again, the engineer releases the MAC first:");
    printf("  talvek-registry release %s --reason \"...\"\n", text);
}
