// The MES feed's benchmark figures (feed_bench.cpp), for talvek_bench's table.
#ifndef TALVEK_BENCH_FEED_BENCH_H
#define TALVEK_BENCH_FEED_BENCH_H

#include <string>
#include <vector>

struct FEED_FIGURE {
    std::string Figure, Measured;
    std::string Budget;  // "-": information only
    bool Over;           // the figure misses its budget
};

// What cfx_handle adds to a run's final registry transaction (SQLite, and
// PostgreSQL when pg_server is not nullptr), and the relay's rate to the
// broker at amqp_url (nullptr: a row that says it was not measured).
std::vector<FEED_FIGURE> FeedFigures(const std::string &dir, const char *pg_server,
                                     const char *amqp_url);

#endif
