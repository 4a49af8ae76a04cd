// export: the runs table for the MES, one row per run and port.
#include <cstdio>
#include <cstring>

#include "registry_tool/commands.h"
#include "registry_tool/text_format.h"

// The run's columns, in the order of the runs query; the port's four
// columns go between them (see kFields).
static const char kRunQuery[] =
    "SELECT run_id, tool_version, station, mode, started_utc, ended_utc, "
    "system_guid, system_guid_placeholder, product_uuid, product_uuid_placeholder, "
    "board_serial, board_serial_placeholder, product_serial, product_serial_placeholder, "
    "board_key, verdict, exit_status, message, "
    "eth0_before, eth0_requested, eth0_readback, eth0_result, "
    "eth1_before, eth1_requested, eth1_readback, eth1_result "
    "FROM runs WHERE started_utc >= ?1 ORDER BY started_utc, run_id";
constexpr int kRunColumns = 18;
constexpr int kQueryColumns = kRunColumns + 8;

enum FIELD_KIND { TEXT_FIELD, NUMBER_FIELD, FLAG_FIELD };

// An exported field: its name (CSV header, JSON key), kind, and where its
// value is: a query column, or -1 for the port's name, or 100 + k for the
// port's k-th column.
struct FIELD {
    const char *Name;
    FIELD_KIND Kind;
    int Column;
};

static const FIELD kFields[] = {
    {"run_id", TEXT_FIELD, 0},          {"tool_version", TEXT_FIELD, 1},
    {"station", TEXT_FIELD, 2},         {"mode", TEXT_FIELD, 3},
    {"started_utc", TEXT_FIELD, 4},     {"ended_utc", TEXT_FIELD, 5},
    {"system_guid", TEXT_FIELD, 6},     {"system_guid_placeholder", FLAG_FIELD, 7},
    {"product_uuid", TEXT_FIELD, 8},    {"product_uuid_placeholder", FLAG_FIELD, 9},
    {"board_serial", TEXT_FIELD, 10},   {"board_serial_placeholder", FLAG_FIELD, 11},
    {"product_serial", TEXT_FIELD, 12}, {"product_serial_placeholder", FLAG_FIELD, 13},
    {"board_key", TEXT_FIELD, 14},      {"port", TEXT_FIELD, -1},
    {"mac_before", TEXT_FIELD, 100},    {"mac_requested", TEXT_FIELD, 101},
    {"mac_readback", TEXT_FIELD, 102},  {"port_result", TEXT_FIELD, 103},
    {"verdict", TEXT_FIELD, 15},        {"exit_status", NUMBER_FIELD, 16},
    {"message", TEXT_FIELD, 17},
};

struct EXPORT_CTX {
    RegToolFormat Format;
    FILE *Out;
};

static void PutValue(const EXPORT_CTX *x, const FIELD &f, const char *value)
{
    if (x->Format == REGTOOL_CSV) {
        PutCsvField(x->Out, value);
    } else if (!value) {
        fputs("null", x->Out);
    } else if (f.Kind == FLAG_FIELD) {
        fputs(strcmp(value, "0") == 0 ? "false" : "true", x->Out);
    } else if (f.Kind == NUMBER_FIELD) {
        // Only digits (and a sign) reach the output unquoted; anything else
        // would break the line's JSON.
        bool numeric = value[strspn(value, "-0123456789")] == '\0' && value[0] != '\0';
        if (numeric) {
            fputs(value, x->Out);
        } else {
            PutJsonString(x->Out, value);
        }
    } else {
        PutJsonString(x->Out, value);
    }
}

// One output row: the run's columns c with port's columns (port -1: none).
static void PutRow(const EXPORT_CTX *x, const char *const *c, int port)
{
    static const char *const port_names[] = {"eth0", "eth1"};
    if (x->Format == REGTOOL_JSON)
        putc('{', x->Out);
    for (size_t k = 0; k < sizeof kFields / sizeof kFields[0]; k++) {
        const FIELD &f = kFields[k];
        const char *value;
        if (f.Column == -1) {
            value = port >= 0 ? port_names[port] : nullptr;
        } else if (f.Column >= 100) {
            value = port >= 0 ? c[kRunColumns + 4 * port + (f.Column - 100)] : nullptr;
        } else {
            value = c[f.Column];
        }
        if (k > 0)
            putc(',', x->Out);
        if (x->Format == REGTOOL_JSON) {
            PutJsonString(x->Out, f.Name);
            putc(':', x->Out);
        }
        PutValue(x, f, value);
    }
    fputs(x->Format == REGTOOL_JSON ? "}\n" : "\r\n", x->Out);
}

static int ExportRun(void *ctx, int ncols, const char *const *c)
{
    const EXPORT_CTX *x = static_cast<const EXPORT_CTX *>(ctx);
    if (ncols != kQueryColumns)
        return 1;
    int rows = 0;
    for (int port = 0; port < 2; port++) {
        const char *const *p = c + kRunColumns + 4 * port;
        if (p[0] || p[1] || p[2] || p[3]) {
            PutRow(x, c, port);
            rows++;
        }
    }
    // A run that stopped before it knew anything of a port is still on record.
    if (rows == 0)
        PutRow(x, c, -1);
    return ferror(x->Out) ? 1 : 0;
}

int RegToolExport(REG_DB *db, RegToolFormat format, const char *since, FILE *out)
{
    EXPORT_CTX x = {format, out};
    if (format == REGTOOL_CSV) {
        for (size_t k = 0; k < sizeof kFields / sizeof kFields[0]; k++)
            fprintf(out, "%s%s", k ? "," : "", kFields[k].Name);
        fputs("\r\n", out);
    }
    char err[kDbErrorSize] = "";
    const char *param = since;
    if (RegDbQuery(db, kRunQuery, 1, &param, ExportRun, &x, err, sizeof err) != 0) {
        if (ferror(out))
            return RegToolError("cannot write the export");
        return RegToolUnavailable(err);
    }
    return 0;
}
