// The station configuration "TALVEK.conf": an opt-in file in the working
// (station) directory that switches the MAC registry on.
//
//   # comment lines start with '#'
//   registry = sqlite                      (TALVEK.db in the station directory)
//   registry = sqlite:PATH                 (relative to the station directory unless absolute)
//   registry = postgresql://host/db        (or key/value: host=... dbname=...)
//   station  = line3-st07                  (default: the host name)
//   dmi_dir  = /sys/class/dmi/id           (the board's SMBIOS identity files)
//   cfx_handle = Vendor.Model.Serial       (the MES feed: this station's CFX endpoint
//                                           handle; without it no feed message is made)
//
// Blanks around key and value are dropped. Passwords never have to be in the
// file: libpq's own means (PGPASSWORD, ~/.pgpass) serve. Without the file, or
// without a "registry" key, the registry is off and TALVEK behaves exactly as
// it does without this feature.
#ifndef TALVEK_REGISTRY_CONF_H
#define TALVEK_REGISTRY_CONF_H

#include <cstddef>

#define TALVEK_CONF_NAME "TALVEK.conf"
#define TALVEK_DEFAULT_DB "TALVEK.db"
#define TALVEK_DEFAULT_DMI_DIR "/sys/class/dmi/id"

constexpr size_t kConfLineSize = 1024;  // longest line accepted, terminator included
constexpr size_t kConfTargetSize = 1024;
constexpr size_t kConfStationSize = 64;
constexpr size_t kConfDirSize = 512;
constexpr size_t kConfErrorSize = 256;
constexpr size_t kConfHandleSize = 128;

enum REGISTRY_KIND {
    REGISTRY_OFF = 0,
    REGISTRY_SQLITE = 1,    // Target is a file path
    REGISTRY_POSTGRES = 2,  // Target is a libpq connection string (URI or key/value)
};

struct REGISTRY_CONF {
    int Kind;                        // REGISTRY_KIND
    char Target[kConfTargetSize];    // SQLite path or PostgreSQL connection string
    char Station[kConfStationSize];  // the station's name in the registry
    char DmiDir[kConfDirSize];       // where product_uuid, board_serial, product_serial live
    char CfxHandle[kConfHandleSize];  // "" when the feed is off
    int SeenKey[4];  // registry, station, dmi_dir, cfx_handle given (a key twice is an error)
};

// Sets the defaults: registry off, station = host name, dmi_dir = TALVEK_DEFAULT_DMI_DIR.
void DefaultRegistryConf(REGISTRY_CONF *conf);

// Parses the value of a "registry" key (or of talvek-registry's --registry)
// into Kind and Target. 0 on success; 1 with a reason in err otherwise. A
// SQLite database in memory (":memory:", a "file:" name with ":memory:",
// "mode=memory" or no path) is refused: every run would find it empty.
int ParseRegistryTarget(const char *value, REGISTRY_CONF *conf, char *err, size_t err_size);

// A CFX endpoint handle: at least three dot-separated parts
// (Vendor.Model.Serial), each of letters, digits, '-' and '_'. 0 when it is
// one; 1 with a reason in err otherwise.
int CheckCfxHandle(const char *value, char *err, size_t err_size);

// Parses one line (without its line end) into conf. Blank and comment lines
// are accepted and change nothing. A key or value that is not UTF-8 text, or
// holds a control character, is refused. 0 on success; 1 with a reason (no line
// number, no final period) in err.
int ParseConfLine(const char *line, REGISTRY_CONF *conf, char *err, size_t err_size);

// Reads TALVEK_CONF_NAME from the working directory into conf (which
// DefaultRegistryConf has prepared). A missing file is no error and leaves the
// registry off. 0 on success; 1 with "TALVEK.conf line N: reason" (or
// "TALVEK.conf: reason" for a file that exists but cannot be read) in err.
int LoadRegistryConf(REGISTRY_CONF *conf, char *err, size_t err_size);

#endif
