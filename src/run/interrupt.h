// Signals once a run is on the registry's record. From the reservation on,
// SIGINT, SIGTERM and SIGHUP no longer end the process where they land: the
// request to the BMC in flight finishes, nothing more is sent, and the run
// ends as ABORTED (the runs row says so, "N" in TALVEK.txt, FAIL banner), the
// process then ending by the same signal (a shell shows 128 + its number).
// Before the reservation, and on a station without the registry, signals act
// as they always did: nothing here is armed.
#ifndef TALVEK_RUN_INTERRUPT_H
#define TALVEK_RUN_INTERRUPT_H

#include "registry/registry.h"

// Called after the reservation; arms only when it committed the run's row
// (RegistryAwaitsFinalRow), so nothing is armed without a registry. Catches
// the three signals (a
// signal the station ignores, as under nohup, stays ignored), makes every
// BMC request a checkpoint, before it is sent and after it returned, and
// starts each request's processes with the three ignored, so that a Ctrl-C
// that reaches the whole process group lets the request finish.
void ArmInterrupts(REGISTRY_RUN *registry);

// A checkpoint: when armed and a signal came, ends the run as ABORTED and
// the process by that signal; otherwise returns at once. Once the final
// runs row is in (a PASS the registry committed), a signal is too late and
// the run ends as recorded.
void EndRunIfInterrupted();

#endif
