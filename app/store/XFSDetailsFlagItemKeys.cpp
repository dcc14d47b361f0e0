#include "XFSDetailsFlagItemKeys.h"

const std::array<XFSDetailsFlagItemKeys, 19> allDetailsFlagItemKeys{
    XFSDetailsFlagItemKeys::dsstore,
    XFSDetailsFlagItemKeys::thumbsdb,
    XFSDetailsFlagItemKeys::desktopini,
    XFSDetailsFlagItemKeys::apdisk,
    XFSDetailsFlagItemKeys::blacklisted,
    XFSDetailsFlagItemKeys::appledouble,
    XFSDetailsFlagItemKeys::appledouble_netatalk,
    XFSDetailsFlagItemKeys::colorLabels,
    XFSDetailsFlagItemKeys::customIcons,
    XFSDetailsFlagItemKeys::securityData,
    XFSDetailsFlagItemKeys::aliasData,
    XFSDetailsFlagItemKeys::tags,
    XFSDetailsFlagItemKeys::volumeAttrs,
    XFSDetailsFlagItemKeys::onlyCleanManually,
    XFSDetailsFlagItemKeys::volumeicon,
    XFSDetailsFlagItemKeys::eaDir_Synology,
    XFSDetailsFlagItemKeys::iconfile,
    XFSDetailsFlagItemKeys::Xattrs,
    XFSDetailsFlagItemKeys::timeMachineDoNotPresent,
};

std::string rawValue(XFSDetailsFlagItemKeys key)
{
    switch (key) {
    case XFSDetailsFlagItemKeys::dsstore:
        return "dsstore";
    case XFSDetailsFlagItemKeys::thumbsdb:
        return "thumbsdb";
    case XFSDetailsFlagItemKeys::desktopini:
        return "desktopini";
    case XFSDetailsFlagItemKeys::apdisk:
        return "apdisk";
    case XFSDetailsFlagItemKeys::blacklisted:
        return "blacklisted";
    case XFSDetailsFlagItemKeys::appledouble:
        return "appledouble";
    case XFSDetailsFlagItemKeys::appledouble_netatalk:
        return "appledouble_netatalk";
    case XFSDetailsFlagItemKeys::colorLabels:
        return "colorLabels";
    case XFSDetailsFlagItemKeys::customIcons:
        return "customIcons";
    case XFSDetailsFlagItemKeys::securityData:
        return "securityData";
    case XFSDetailsFlagItemKeys::aliasData:
        return "aliasData";
    case XFSDetailsFlagItemKeys::tags:
        return "tags";
    case XFSDetailsFlagItemKeys::volumeAttrs:
        return "volumeAttrs";
    case XFSDetailsFlagItemKeys::onlyCleanManually:
        return "onlyCleanManually";
    case XFSDetailsFlagItemKeys::volumeicon:
        return "volumeicon";
    case XFSDetailsFlagItemKeys::eaDir_Synology:
        return "eaDir_Synology";
    case XFSDetailsFlagItemKeys::iconfile:
        return "iconfile";
    case XFSDetailsFlagItemKeys::Xattrs:
        return "Xattrs";
    case XFSDetailsFlagItemKeys::timeMachineDoNotPresent:
        return ".com.apple.timemachine.donotpresent";
    }
    return {};
}
