// The registry's writes at the end of a run: the append-only runs row, and
// the PASS that marks the run's MACs verified. Used by session.cpp and by
// talvek-registry's tests; TALVEK's stages use registry.h.
#ifndef TALVEK_REGISTRY_RUNS_H
#define TALVEK_REGISTRY_RUNS_H

#include <cstddef>

#include "registry/registry.h"

// Appends the run's row (verdict PASS for exit status 0, else FAIL) in a
// transaction of its own. 0 on success; 1 with a reason in err.
int RegistryAppendRun(REGISTRY_RUN *run, int exit_status, char *err, size_t err_size);

// One transaction: every MAC the run holds ('reserved' or kept) on a port that
// passed becomes 'verified' with its read-back, and the PASS row is appended.
int RegistryWritePass(REGISTRY_RUN *run, char *err, size_t err_size);

#endif
