#include "WalkVolume.h"

#include "OwnTemporaryFiles.h"

#include <QString>
#include <algorithm>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>
#include <unordered_set>

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
        for (const XFSDiskOrDirectory &record : records)
            context.recordPaths.push_back(comparableRecordPath(record.path()));
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

namespace
{
bool equalIgnoringCase(std::string_view left, std::string_view right)
{
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(a) == lower(b);
           });
}
}

void FolderContents::add(std::string_view name, bool isDirectory, bool isRegularFile, bool isMountRoot)
{
    // A name is at most 255 bytes (a name of any length gets a block of its own).
    const std::size_t needed = name.size() + 1;
    if (m_blockUsed + needed > nameBlockSize) {
        m_nameBlocks.push_back(std::make_unique<char[]>(std::max(nameBlockSize, needed)));
        m_blockUsed = 0;
    }
    char *bytes = m_nameBlocks.back().get() + m_blockUsed;
    std::copy(name.begin(), name.end(), bytes);
    bytes[name.size()] = '\0';
    m_blockUsed += needed;
    m_entries.push_back(WalkEntry{bytes, static_cast<std::uint32_t>(name.size()), isDirectory, false, isRegularFile,
                                  isMountRoot});
}

bool FolderContents::mark(std::string_view name)
{
    if (name.find('/') != std::string_view::npos)
        return true;
    bool found = false;
    for (WalkEntry &entry : m_entries) {
        if (equalIgnoringCase(entry.name(), name)) {
            entry.mayBeRemoved = true;
            found = true;
        }
    }
    return found;
}

bool FolderContents::markAppleDoubleFiles()
{
    bool found = false;
    for (WalkEntry &entry : m_entries) {
        if (entry.name().starts_with("._")) {
            entry.mayBeRemoved = true;
            found = true;
        }
    }
    return found;
}

bool FolderContents::markOwnTemporaryFiles()
{
    bool found = false;
    for (WalkEntry &entry : m_entries) {
        if (entry.isRegularFile && OwnTemporaryFiles::isOwnTemporaryName(entry.name())) {
            entry.mayBeRemoved = true;
            found = true;
        }
    }
    return found;
}

bool FolderContents::markMatching(const std::vector<std::string> &patterns)
{
    bool found = false;
    if (patterns.empty())
        return false;
    for (WalkEntry &entry : m_entries) {
        for (const std::string &pattern : patterns) {
            if (fnmatch(pattern.c_str(), entry.nameBytes, FNM_NOESCAPE | FNM_PATHNAME | FNM_LEADING_DIR) == 0) {
                entry.mayBeRemoved = true;
                found = true;
                break;
            }
        }
    }
    return found;
}

void FolderContents::dropRemoved(int folderFd, const std::vector<std::string> &removed)
{
    if (removed.empty())
        return;
    const auto lowered = [](std::string_view name) {
        std::string lower(name);
        for (char &c : lower) {
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        }
        return lower;
    };
    const std::unordered_set<std::string_view> exact(removed.begin(), removed.end());
    std::unordered_set<std::string> anyCase;
    for (const std::string &name : removed)
        anyCase.insert(lowered(name));
    std::erase_if(m_entries, [&](const WalkEntry &entry) {
        if (!entry.mayBeRemoved)
            return false;
        if (exact.contains(entry.name()))
            return true;
        return anyCase.contains(lowered(entry.name()))
               && faccessat(folderFd, entry.nameBytes, F_OK, AT_SYMLINK_NOFOLLOW) != 0;
    });
}
