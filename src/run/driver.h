// The run driver: carries one run from the version banner to the exit status.
#ifndef TALVEK_RUN_DRIVER_H
#define TALVEK_RUN_DRIVER_H

// Returns the exit status: 0 for PASS or a completed offset update, else 1.
int RunTalvek(int op_s, char **op_str);

#endif
