// The result record "TALVEK.txt" read by the line's scripts, and the
// failure log "MAC_LOG.txt".
#ifndef TALVEK_OUTPUT_RECORDS_H
#define TALVEK_OUTPUT_RECORDS_H

#include <cstddef>
#include <cstdint>

#include "TALVEK.h"

// Replaces "TALVEK.txt" atomically with text: a reader sees the old
// complete record or the new complete one. A record that is a symbolic link
// is followed and its target replaced, in the target's directory; the link
// stays. Where no new file can be made beside the record, an existing
// writable record is rewritten in place under an exclusive lock. Either way
// concurrent runs leave one whole record. 0 on success, 1 on failure
// (nothing printed).
int WriteResultRecord(const char *text, size_t len);

// WriteResultRecord, printing "Error! System can not open file TALVEK.txt."
// (once per run) when it fails.
int StoreResultRecord(const char *text, size_t len);

// Formats the record for the given pass selection into out (at least 64
// bytes). Returns its length, or 0 when the selection names no port.
size_t FormatPassRecord(int mac_param, const uint8_t mac0[6], const uint8_t mac1[6], char *out,
                        size_t out_size);

// Pass 0 writes the failure record "N\n"; any other value the pass record
// chosen by FastSetGetMacOemCmd.MacParam. 0 when written (or nothing was
// to be written), 1 when the file could not be written; the error message
// has been printed then.
int AddLog(TALVEK_DATA *data, int Pass);

// The failure record "N\n"; prints the error message when it cannot be written.
int WriteFailRecord();

// Appends the current local time in ctime form and an empty line.
void AppendDateTimeToLogFile(const char *MemoString);

#endif
