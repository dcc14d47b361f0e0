#include "ZipCleaner.h"

#include "ZZArchive.h"
#include "ZZOldArchiveEntry.h"
#include "ZZStringEncoding.h"

std::int64_t ZipCleaner::cleanZipAtURL(const std::string &URL, std::vector<std::string> *itemsRemoved, Error *error)
{
    Error archiveError;
    auto archive = ZZArchive::archiveWithURL(URL, &archiveError);
    if (!archive) {
        if (error)
            *error = archiveError;
        return 0;
    }
    std::vector<std::shared_ptr<ZZArchiveEntry>> kept;
    kept.reserve(archive->entries().size());
    std::vector<std::string> removedNames;
    std::int64_t removed = 0;
    for (const auto &entry : archive->entries()) {
        // Names in another encoding are judged by their bytes; the metadata prefixes are ASCII.
        const std::string_view raw = static_cast<const ZZOldArchiveEntry &>(*entry).rawFileName();
        if (!shouldRemoveItem(raw)) {
            kept.push_back(entry);
            continue;
        }
        const auto name = entry->fileName();
        removedNames.push_back(name ? *name
                                    : *zzDecodeString(reinterpret_cast<const std::uint8_t *>(raw.data()), raw.size(),
                                                      ZZISOLatin1StringEncoding));
        ++removed;
    }
    // An archive without metadata is left exactly as it is.
    if (removed == 0)
        return 0;
    // An archive that could not be rewritten still holds every entry: nothing was removed.
    if (!archive->updateEntries(kept, &archiveError)) {
        if (error)
            *error = archiveError;
        return 0;
    }
    if (itemsRemoved)
        itemsRemoved->insert(itemsRemoved->end(), removedNames.begin(), removedNames.end());
    return removed;
}

bool ZipCleaner::shouldRemoveItem(std::string_view name)
{
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = name.find('/', start);
        const std::string_view component = name.substr(start, slash == std::string_view::npos ? std::string_view::npos
                                                                                              : slash - start);
        if (component.starts_with("._") || component.starts_with("__MACOSX") || component.starts_with(".DS_Store"))
            return true;
        if (slash == std::string_view::npos)
            return false;
        start = slash + 1;
    }
}
