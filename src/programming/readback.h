// The final read-back of every programmed port and the PASS/FAIL verdict.
#ifndef TALVEK_PROGRAMMING_READBACK_H
#define TALVEK_PROGRAMMING_READBACK_H

#include "TALVEK.h"

// 0 for PASS; 1 for FAIL and for a failed request (then no verdict is
// given here and the driver writes the failure record).
int ReadbackAndCheck(TALVEK_DATA *data);

#endif
