#include "CleaningChoices.h"

bool CleaningChoices::optionEnabled(const XFSDiskOrDirectory &record, const char *key)
{
    for (const XFSDetailsFlagItem &item : record.detailsFlags()) {
        if (item.uniqueKey() == key)
            return item.enabled();
    }
    return false;
}

CleaningChoices CleaningChoices::of(const XFSDiskOrDirectory &record)
{
    CleaningChoices choices;
    choices.onlyCleanManually = optionEnabled(record, "onlyCleanManually");
    choices.dsStore = optionEnabled(record, "dsstore");
    choices.thumbsDb = optionEnabled(record, "thumbsdb");
    choices.desktopIni = optionEnabled(record, "desktopini");
    choices.apdisk = optionEnabled(record, "apdisk");
    choices.appleDouble = optionEnabled(record, "appledouble");
    choices.volumeAttrs = optionEnabled(record, "volumeAttrs");
    choices.securityData = optionEnabled(record, "securityData");
    choices.tags = optionEnabled(record, "tags");
    choices.aliasData = optionEnabled(record, "aliasData");
    choices.colorLabels = optionEnabled(record, "colorLabels");
    choices.customIcons = optionEnabled(record, "customIcons");
    choices.appleDoubleNetatalk = optionEnabled(record, "appledouble_netatalk");
    choices.eaDirSynology = optionEnabled(record, "eaDir_Synology");
    choices.iconFile = optionEnabled(record, "iconfile");
    choices.blackList = record.blackListItemsEnabled();
    for (const XFSDetailsFlagItem &item : record.dynamicFileItemsEnabled())
        choices.dynamicFileNames.push_back(item.fsName());
    return choices;
}
