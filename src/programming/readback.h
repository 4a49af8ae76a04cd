// The final read-back of every programmed port and the PASS/FAIL verdict.
#ifndef TALVEK_PROGRAMMING_READBACK_H
#define TALVEK_PROGRAMMING_READBACK_H

#include "TALVEK.h"

// 0 for PASS; 1 for FAIL and for a failed request (then no verdict is
// given here and the driver writes the failure record).
int ReadbackAndCheck(TALVEK_DATA *data);

// Both ports selected with one requested MAC would leave a board with a
// duplicate MAC, so such a run is refused before anything is written: the
// same reason line, FAIL banner, failure record and failure-log entry as a
// failed verdict. 1 when refused (the verdict has been given), else 0.
int RefuseSameMacForBothPorts(TALVEK_DATA *data);

#endif
