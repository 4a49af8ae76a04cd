#include <cstring>

#include "registry/identity.h"
#include "registry/decide.h"

int RegistryDecide(const REG_HOLDER *holder, const char *board_key, int board_holds)
{
    if (!holder->Exists || holder->Released)
        return REG_RESERVE;
    // A key that is now known to be a placeholder (a registry filled before
    // the filler was known) named no board: such a holder counts as keyless.
    if (holder->Key != nullptr && !IsPlaceholderId(holder->Key)) {
        // A keyed holder is this board only when this board shows the same
        // key; a board without a key can never prove it is that board.
        if (board_key[0] != '\0' && strcmp(holder->Key, board_key) == 0)
            return REG_KEEP;
        return REG_REFUSE;
    }
    // The holder had no key: only the board that still holds the MAC can be
    // that board (a repeat run).
    return board_holds ? REG_KEEP_RECORD_KEY : REG_REFUSE;
}
