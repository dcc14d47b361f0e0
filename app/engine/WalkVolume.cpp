#include "WalkVolume.h"

#include <QString>
#include <algorithm>

#include "VolumeFactsSource.h"
#include "XTWStore.h"

std::string comparableRecordPath(const std::string &path)
{
    // Most paths are ASCII: lowered byte by byte, without the round trip through UTF-16.
    const bool ascii = std::all_of(path.begin(), path.end(), [](char c) { return (unsigned char)c < 0x80; });
    std::string lowered = ascii ? path : QString::fromStdString(path).toLower().toStdString();
    if (ascii) {
        for (char &c : lowered) {
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        }
    }
    if (!lowered.ends_with('/'))
        lowered.push_back('/');
    return lowered;
}

WalkContext WalkContext::current()
{
    WalkContext context;
    context.whiteList = XTWStore::whiteList();
    XTWStore &store = XTWStore::shared();
    for (const XTWStore::Records &records : {store.builtInDisksOrDirectories(), store.userSuppliedDisksOrDirectories()}) {
        for (const XFSDiskOrDirectory &record : records) {
            // As the store matches them: by the path as stored and as resolved.
            context.recordPaths.push_back(comparableRecordPath(record.path()));
            if (record.resolvedPath() != record.path())
                context.recordPaths.push_back(comparableRecordPath(record.resolvedPath()));
        }
    }
    return context;
}

std::vector<bool> WalkContext::recordsGoverning(const std::string &comparablePath) const
{
    std::vector<bool> governing;
    governing.reserve(recordPaths.size());
    for (const std::string &recordPath : recordPaths)
        governing.push_back(comparablePath.starts_with(recordPath));
    return governing;
}

std::shared_ptr<WalkVolume> WalkVolume::read(const std::string &path)
{
    auto volume = std::make_shared<WalkVolume>();
    const std::shared_ptr<const VolumeFactsSource> source = VolumeFactsSource::current();
    const std::optional<VolumeFacts> facts = source->factsForPath(path);
    volume->unusable = !facts || facts->isHidden || facts->isReadOnly;
    if (facts && !facts->mountPoint.empty())
        volume->mountPoint = URL::fileURLWithPath(facts->mountPoint);
    TWVolumeInfo info;
    if (CFUGetVolumeInfo(path, &info) == 0)
        volume->info = info;
    volume->location = source->locate(path);
    return volume;
}
