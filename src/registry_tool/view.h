// The line view: the report file, the pools table and the live page, all
// drawn from the same figures (figures.h).
#ifndef TALVEK_REGISTRY_TOOL_VIEW_H
#define TALVEK_REGISTRY_TOOL_VIEW_H

#include <string>
#include <vector>

#include "registry/conf.h"
#include "registry/db.h"
#include "registry_tool/args.h"
#include "registry_tool/figures.h"

// One self-contained HTML page: inline CSS and SVG only, and a
// Content-Security-Policy that forbids the browser to fetch anything, so
// it reads the same from a USB stick on an offline PC. Hours and days are
// local time. refresh_s > 0 makes the browser reload the page that often.
std::string RenderViewHtml(const VIEW_FIGURES &figures, const VIEW_PERIOD &period,
                           const char *now_utc, int refresh_s);

// The page shown while the registry cannot be read: says so, names nothing
// of the connection, and reloads itself.
std::string RenderUnavailableHtml(const char *now_utc, int refresh_s);

// A failure message as a reason: a closing parenthesis part is dropped and
// every word that holds a digit (a MAC, a board key, a time) becomes "#",
// so the same failure on different boards falls into one group.
std::string ViewReason(const std::string &message);

// The ranges of every --ini file, in order. 0 on success; 1 after printing why not.
int ReadIniRanges(const REGTOOL_ARGS *args, std::vector<VIEW_RANGE> *ranges);

// report: writes the page to args->Html (through a temporary file beside
// it, so a reader never sees half a report) and prints where it is.
int RegToolReport(REG_DB *db, const REGTOOL_ARGS *args);

// pools: the pool table on standard output; 1 also when a pool alarms.
// conf names the registry db is open on: where a statement runs on one
// core, the counts take a second connection to it.
int RegToolPools(const REGISTRY_CONF *conf, REG_DB *db, const std::vector<VIEW_RANGE> &ranges,
                 RegToolPoolFormat format);

// serve: answers GET and HEAD of "/" with the live page until SIGINT or
// SIGTERM; owns the connection (opens it, re-opens it when lost). Returns
// 0 after a signal, 1 when the address cannot be used.
int RegToolServe(const REGISTRY_CONF *conf, const REGTOOL_ARGS *args);

#endif
