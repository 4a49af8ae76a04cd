// The run record: everything one run of TALVEK decides and gathers.
// The driver owns exactly one zero-initialised instance and hands it by
// pointer to each stage; nothing in it lives on the heap.
#ifndef TALVEK_TALVEK_H
#define TALVEK_TALVEK_H

#include <cstdint>

#define TALVEK_VERSION "V0.37"

// Number of MAC positions the record holds: 0 = eth0, 1 = eth1.
constexpr int kMacPositions = 2;
constexpr int kMacBytes = 6;
// Size of the allow-list table.
constexpr int kMaxAvailabelMac = 1024;
// Values of FastSetGetMacOemCmd.MacParam.
constexpr int kMacParamEth0 = 0;
constexpr int kMacParamEth1 = 1;
constexpr int kMacParamBoth = 2;
constexpr int kMacParamNone = 255;

// One allow-list entry: a MAC is admitted when (MAC & Mask) == Value
// for all six bytes.
struct AVAILABLE_MAC_STRUCT {
    char Mask[kMacBytes];
    char Value[kMacBytes];
};

struct REGISTRY_RUN;  // registry/registry.h

struct FAST_SET_GET_MAC_OEM_CMD {
    int32_t MacParam;       // 0 eth0, 1 eth1, 2 both, 255 none
    int32_t CmdSupport[2];  // [0] Fast Set MAC, [1] Fast Get MAC
};

struct TALVEK_DATA {
    uint8_t Mac[kMacPositions][kMacBytes];
    int32_t SecondDelayTimeAfterMacProgramming;
    int32_t ShowUsage;
    int32_t GetMacFromKb[kMacPositions];
    int32_t ProgramMac[kMacPositions];
    int32_t DelayAfterMacProgramming;
    int32_t ReadbackAndCheck;
    int32_t WriteDelay;
    int32_t NeedFailLog;
    int32_t MacIsImported[kMacPositions];
    int32_t AvailabelMacCount;
    AVAILABLE_MAC_STRUCT AvailabelMac[kMaxAvailabelMac];
    FAST_SET_GET_MAC_OEM_CMD FastSetGetMacOemCmd;
    int32_t CheckMacOrder;
    int32_t BMCReboot;
    // The MAC registry's handle for this run (RegistryStart); none (nullptr)
    // while the registry is off (no TALVEK.conf, or no "registry" key in it).
    REGISTRY_RUN *Registry;
};

#endif
