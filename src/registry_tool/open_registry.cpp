#include "registry_tool/open_registry.h"

#include <cstdio>

#include "registry/schema.h"
#include "registry_tool/commands.h"

int ResolveRegistry(const char *url, REGISTRY_CONF *conf)
{
    char err[kConfErrorSize];
    DefaultRegistryConf(conf);
    // The station name comes from TALVEK.conf even with --registry, so a
    // release made at a station is on record under that station's name.
    if (LoadRegistryConf(conf, err, sizeof err) != 0)
        return RegToolError("%s", err);
    if (url) {
        if (ParseRegistryTarget(url, conf, err, sizeof err) != 0)
            return RegToolError("--registry: %s", err);
        return 0;
    }
    if (conf->Kind == REGISTRY_OFF)
        return RegToolError("no registry: there is no " TALVEK_CONF_NAME
                            " with a registry line in this directory; give --registry URL");
    return 0;
}

int OpenRegistry(const REGISTRY_CONF *conf, int creating, REG_DB **db)
{
    char err[kDbErrorSize];
    *db = nullptr;
    // Opening a SQLite file creates it; a mistyped path must not leave an
    // empty registry behind that looks like one with nothing in it.
    if (!creating && RegDbMissing(conf))
        return RegToolError("no registry at %s (talvek-registry init creates one)", conf->Target);
    if (RegDbOpen(conf, db, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (creating)
        return 0;
    int version = 0;
    if (RegistrySchemaVersion(*db, &version, err, sizeof err) != 0) {
        RegToolUnavailable(err);
    } else if (version == 0) {
        RegToolError("the registry has no tables yet (talvek-registry init creates them)");
    } else if (version > kRegistrySchemaVersion) {
        RegToolError("the registry's schema version %d is newer than this program's %d", version,
                     kRegistrySchemaVersion);
    } else if (version < kRegistrySchemaVersion) {
        RegToolError("the registry's schema version %d is older than this program's %d "
                     "(talvek-registry init upgrades it)",
                     version, kRegistrySchemaVersion);
    } else {
        return 0;
    }
    RegDbClose(*db);
    *db = nullptr;
    return 1;
}
