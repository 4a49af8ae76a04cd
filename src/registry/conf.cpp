#include "registry/conf.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "registry/utf8.h"

static const char *const kKeys[4] = {"registry", "station", "dmi_dir", "cfx_handle"};

void DefaultRegistryConf(REGISTRY_CONF *conf)
{
    memset(conf, 0, sizeof(*conf));
    conf->Kind = REGISTRY_OFF;
    if (gethostname(conf->Station, sizeof(conf->Station) - 1) != 0 || conf->Station[0] == '\0')
        snprintf(conf->Station, sizeof(conf->Station), "unknown");
    snprintf(conf->DmiDir, sizeof(conf->DmiDir), "%s", TALVEK_DEFAULT_DMI_DIR);
}

static int Reason(char *err, size_t err_size, const char *format, const char *arg = "")
{
    snprintf(err, err_size, format, arg);
    return 1;
}

// Copies value into a field, refusing (not cutting) what does not fit.
static int CopyValue(char *field, size_t size, const char *value, const char *key, char *err,
                     size_t err_size)
{
    if (value[0] == '\0')
        return Reason(err, err_size, "%s needs a value", key);
    if (strlen(value) >= size)
        return Reason(err, err_size, "the value of %s is too long", key);
    memcpy(field, value, strlen(value) + 1);
    return 0;
}

// SQLite names that open a database in memory or a temporary file: every
// run would start from an empty registry and hand out MACs already given.
static bool IsThrowawaySqlite(const char *path)
{
    if (strcmp(path, ":memory:") == 0)
        return true;
    if (strncasecmp(path, "file:", 5) != 0)
        return false;
    const char *rest = path + 5;
    const char *query = strchr(rest, '?');
    return rest[0] == '\0' || rest[0] == '?' || strncmp(rest, ":memory:", 8) == 0 ||
           (query != nullptr && strcasestr(query, "mode=memory") != nullptr);
}

int ParseRegistryTarget(const char *value, REGISTRY_CONF *conf, char *err, size_t err_size)
{
    if (strcmp(value, "sqlite") == 0) {
        conf->Kind = REGISTRY_SQLITE;
        snprintf(conf->Target, sizeof(conf->Target), "%s", TALVEK_DEFAULT_DB);
        return 0;
    }
    if (strncmp(value, "sqlite:", 7) == 0) {
        if (value[7] == '\0')
            return Reason(err, err_size, "sqlite: needs a file name");
        if (IsThrowawaySqlite(value + 7))
            return Reason(err, err_size,
                          "%s is a SQLite database in memory, empty at every run: name a file",
                          value);
        if (CopyValue(conf->Target, sizeof(conf->Target), value + 7, "registry", err, err_size))
            return 1;
        conf->Kind = REGISTRY_SQLITE;
        return 0;
    }
    // libpq takes both URI schemes, and key/value strings ("host=... dbname=...").
    if (strncmp(value, "postgresql://", 13) == 0 || strncmp(value, "postgres://", 11) == 0 ||
        strchr(value, '=') != nullptr) {
        if (CopyValue(conf->Target, sizeof(conf->Target), value, "registry", err, err_size))
            return 1;
        conf->Kind = REGISTRY_POSTGRES;
        return 0;
    }
    // Only the scheme is echoed: a mistyped URI may carry a password.
    char scheme[61];
    snprintf(scheme, sizeof(scheme), "%.*s", static_cast<int>(strcspn(value, ":@")), value);
    return Reason(err, err_size,
                  "registry must be sqlite, sqlite:PATH or a PostgreSQL connection string, "
                  "not \"%s\"",
                  scheme);
}

int CheckCfxHandle(const char *value, char *err, size_t err_size)
{
    int parts = 1;
    size_t run = 0;  // characters of the current part
    for (const char *p = value; *p != '\0'; p++) {
        if (*p == '.') {
            if (run == 0)
                break;
            parts++;
            run = 0;
        } else if (isalnum(static_cast<unsigned char>(*p)) || *p == '-' || *p == '_') {
            run++;
        } else {
            return Reason(err, err_size,
                          "cfx_handle may hold only letters, digits, '-', '_' and dots");
        }
    }
    if (parts < 3 || run == 0)
        return Reason(err, err_size, "cfx_handle must be Vendor.Model.Serial, not \"%s\"", value);
    return 0;
}

static const char *SkipBlanks(const char *s)
{
    while (*s == ' ' || *s == '\t')
        s++;
    return s;
}

// The end of s with trailing blanks (and a DOS line end) left out.
static size_t TrimmedLength(const char *s, size_t len)
{
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t' || s[len - 1] == '\r'))
        len--;
    return len;
}

// A value goes into the database (a PostgreSQL database in UTF-8 refuses
// anything else, and only at the end of a run) and onto the operator's
// console: it must be UTF-8 text without control characters, C1 included.
static int CheckText(const char *text, const char *what, char *err, size_t err_size)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (*p != '\0') {
        int n = *p < 0x80 ? 1 : Utf8SequenceLength(p);
        if (n == 0)
            return Reason(err, err_size, "%s is not UTF-8 text", what);
        bool c1 = n == 2 && p[0] == 0xC2 && p[1] < 0xA0;
        if (*p < 0x20 || *p == 0x7F || c1)
            return Reason(err, err_size, "%s holds a control character", what);
        p += n;
    }
    return 0;
}

int ParseConfLine(const char *line, REGISTRY_CONF *conf, char *err, size_t err_size)
{
    const char *s = SkipBlanks(line);
    if (TrimmedLength(s, strlen(s)) == 0 || s[0] == '#')
        return 0;
    const char *eq = strchr(s, '=');
    if (eq == nullptr)
        return Reason(err, err_size, "expected \"key = value\"");
    char key[32];
    size_t key_len = TrimmedLength(s, static_cast<size_t>(eq - s));
    if (key_len == 0)
        return Reason(err, err_size, "a key is missing before \"=\"");
    if (key_len >= sizeof(key))
        return Reason(err, err_size, "unknown key");
    memcpy(key, s, key_len);
    key[key_len] = '\0';
    if (CheckText(key, "the key", err, err_size) != 0)
        return 1;
    char value[kConfLineSize];
    const char *v = SkipBlanks(eq + 1);
    size_t value_len = TrimmedLength(v, strlen(v));
    if (value_len >= sizeof(value))
        return Reason(err, err_size, "the value of %s is too long", key);
    memcpy(value, v, value_len);
    value[value_len] = '\0';
    char what[64];
    snprintf(what, sizeof(what), "the value of %s", key);
    if (CheckText(value, what, err, err_size) != 0)
        return 1;

    for (int k = 0; k < 4; k++) {
        if (strcmp(key, kKeys[k]) != 0)
            continue;
        if (conf->SeenKey[k])
            return Reason(err, err_size, "%s is given twice", key);
        conf->SeenKey[k] = 1;
        if (k == 0) {
            if (value[0] == '\0')
                return Reason(err, err_size, "registry needs a value");
            return ParseRegistryTarget(value, conf, err, err_size);
        }
        if (k == 1)
            return CopyValue(conf->Station, sizeof(conf->Station), value, key, err, err_size);
        if (k == 3) {
            if (CopyValue(conf->CfxHandle, sizeof(conf->CfxHandle), value, key, err, err_size))
                return 1;
            return CheckCfxHandle(conf->CfxHandle, err, err_size);
        }
        return CopyValue(conf->DmiDir, sizeof(conf->DmiDir), value, key, err, err_size);
    }
    return Reason(err, err_size, "unknown key \"%s\"", key);
}

// Reads one line into buf without its "\n". 1 when a line was read, 0 at the
// end of the file; -1 for a line too long or holding a NUL byte, -2 for a
// read error.
static int ReadConfLine(FILE *f, char *buf, size_t size)
{
    size_t n = 0;
    int c;
    int bad = 0;
    while ((c = getc(f)) != EOF && c != '\n') {
        if (c == '\0' || n + 1 >= size)
            bad = 1;
        else
            buf[n++] = static_cast<char>(c);
    }
    buf[n] = '\0';
    if (ferror(f))
        return -2;
    if (bad)
        return -1;
    return (c == EOF && n == 0) ? 0 : 1;
}

int LoadRegistryConf(REGISTRY_CONF *conf, char *err, size_t err_size)
{
    FILE *f = fopen(TALVEK_CONF_NAME, "r");
    if (f == nullptr) {
        if (errno == ENOENT)
            return 0;
        snprintf(err, err_size, TALVEK_CONF_NAME ": cannot be read (%s)", strerror(errno));
        return 1;
    }
    char line[kConfLineSize];
    char why[kConfErrorSize];
    int status = 0;
    for (int n = 1; status == 0; n++) {
        int r = ReadConfLine(f, line, sizeof(line));
        if (r == 0)
            break;
        if (r == -2) {
            snprintf(err, err_size, TALVEK_CONF_NAME ": cannot be read (%s)", strerror(errno));
            status = 1;
        } else if (r == -1) {
            snprintf(err, err_size, TALVEK_CONF_NAME " line %d: line too long or not text", n);
            status = 1;
        } else if (ParseConfLine(line, conf, why, sizeof(why)) != 0) {
            snprintf(err, err_size, TALVEK_CONF_NAME " line %d: %s", n, why);
            status = 1;
        }
    }
    fclose(f);
    return status;
}
