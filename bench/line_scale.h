// The line-scale rows of the benchmark: many stations at once on one
// registry, each programming boards in a row.
#ifndef TALVEK_BENCH_LINE_SCALE_H
#define TALVEK_BENCH_LINE_SCALE_H

#include <string>

// printf into a string of at most 511 bytes, for the benchmark's rows.
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Measures a line of 1, 8 and 32 stations on the PostgreSQL server named by
// pg_server (a libpq connection string; nullptr: those rows say why not),
// the same again with the stations connecting through the pooler in front
// of that server named by pg_pooled (nullptr: those rows say why not), and
// of 1 and 8 stations on one shared SQLite file. Returns the table rows
// ("| figure | measured | budget | result |" lines); *over becomes 1 when a
// budget is missed or a run failed.
std::string LineScaleRows(const char *pg_server, const char *pg_pooled, int *over);

// "talvek_bench --line-board N" in a station's directory: the registry
// calls of a two-port PASS run for board N, in a process of their own as in
// a TALVEK run. Prints their time in milliseconds; exit status 0, or 1 when
// a call failed.
int LineScaleBoard(const char *board);

#endif
