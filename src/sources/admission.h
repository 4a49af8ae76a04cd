// The admission check: no MAC reaches the BMC unless an allow-list entry
// admits it.
#ifndef TALVEK_SOURCES_ADMISSION_H
#define TALVEK_SOURCES_ADMISSION_H

#include <cstdint>

#include "TALVEK.h"

// 1 when some entry of the loaded list admits mac: (mac & Mask) == Value in
// all six bytes.
int MacIsAdmitted(const TALVEK_DATA *data, const uint8_t mac[6]);

// 0 when the loaded list admits m; 1 after printing the refusal line
// "Error! Mac 02-AB-3C-56-01-A1 is invalid.".
int AdmitMac(const TALVEK_DATA *data, const uint8_t m[6]);

// Checks every taken-in MAC, position 0 first. 0 when all are admitted;
// 1 after printing the refusal line for the first refused one.
int CheckAdmission(const TALVEK_DATA *data);

#endif
