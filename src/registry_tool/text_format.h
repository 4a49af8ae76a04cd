// Field encoders of the export: RFC 4180 CSV and JSON strings. The MES on
// the other side parses them, so every byte that could end a field or a
// line early is escaped here, in one place.
#ifndef TALVEK_REGISTRY_TOOL_TEXT_FORMAT_H
#define TALVEK_REGISTRY_TOOL_TEXT_FORMAT_H

#include <cstdio>

// One CSV field: as it is, or in double quotes with inner quotes doubled
// when it holds a comma, a double quote, CR or LF, or starts or ends with
// a blank (which some readers would trim). nullptr (SQL NULL) is an empty field.
// A value starting with '=', '+', '-', '@', tab or CR gets a leading
// apostrophe, so that a spreadsheet shows it as text instead of running it.
void PutCsvField(FILE *out, const char *text);

// One JSON string with its quotes; nullptr is written as null. Quote,
// backslash and control characters are escaped; bytes that are not valid
// UTF-8 become U+FFFD, so the line stays valid JSON whatever a board's
// firmware put into its serial number.
void PutJsonString(FILE *out, const char *text);

#endif
