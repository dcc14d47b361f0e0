#pragma once

#include <array>
#include <string>

// The unique keys of the default option items; the engine finds a record's options by them.
enum class XFSDetailsFlagItemKeys {
    dsstore,
    thumbsdb,
    desktopini,
    apdisk,
    blacklisted,
    appledouble,
    appledouble_netatalk,
    colorLabels,
    customIcons,
    securityData,
    aliasData,
    tags,
    volumeAttrs,
    onlyCleanManually,
    volumeicon,
    eaDir_Synology,
    iconfile,
    Xattrs,
    timeMachineDoNotPresent,
};

// Every key, in order.
extern const std::array<XFSDetailsFlagItemKeys, 19> allDetailsFlagItemKeys;

// The key as stored ("dsstore", ".com.apple.timemachine.donotpresent").
std::string rawValue(XFSDetailsFlagItemKeys key);
