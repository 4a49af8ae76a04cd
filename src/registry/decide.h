// The reservation's decision table for one MAC M of a selected port, given
// who holds it. Pure; used by reserve.cpp alone.
#ifndef TALVEK_REGISTRY_DECIDE_H
#define TALVEK_REGISTRY_DECIDE_H

// The decision for one MAC M of a selected port, given who holds it.
enum REG_DECISION {
    REG_RESERVE = 0,          // not held, or released: reserve M for this board
    REG_KEEP = 1,             // held for this board's key
    REG_KEEP_RECORD_KEY = 2,  // held for a board without a key, and this board holds M
    REG_REFUSE = 3,           // held for another board
};

// The holder of a MAC as the registry has it.
struct REG_HOLDER {
    int Exists;       // 0: the registry has no row for M
    int Released;     // the row's state is 'released'
    const char *Key;  // nullptr: the holder had no key (a placeholder key counts as none)
};

// The decision table (pure): board_key is "" when this board has no key;
// board_holds is 1 when the BMC already reports M on a port of this board.
int RegistryDecide(const REG_HOLDER *holder, const char *board_key, int board_holds);

#endif
