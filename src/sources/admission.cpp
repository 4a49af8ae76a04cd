#include "sources/admission.h"

#include <cstdio>

int MacIsAdmitted(const TALVEK_DATA *data, const uint8_t mac[6])
{
    int count = data->AvailabelMacCount;
    if (count > kMaxAvailabelMac)
        count = kMaxAvailabelMac;
    for (int e = 0; e < count; e++) {
        const AVAILABLE_MAC_STRUCT *entry = &data->AvailabelMac[e];
        int k = 0;
        while (k < kMacBytes &&
               static_cast<uint8_t>(mac[k] & static_cast<uint8_t>(entry->Mask[k])) ==
                   static_cast<uint8_t>(entry->Value[k]))
            k++;
        if (k == kMacBytes)
            return 1;
    }
    return 0;
}

int AdmitMac(const TALVEK_DATA *data, const uint8_t m[6])
{
    if (MacIsAdmitted(data, m))
        return 0;
    printf("Error! Mac %02X-%02X-%02X-%02X-%02X-%02X is invalid.\n", m[0], m[1], m[2], m[3], m[4],
           m[5]);
    return 1;
}

int CheckAdmission(const TALVEK_DATA *data)
{
    for (int p = 0; p < kMacPositions; p++) {
        if (data->MacIsImported[p] != 0 && AdmitMac(data, data->Mac[p]) != 0)
            return 1;
    }
    return 0;
}
