// The zip reader (every entry checked and read) and the cleaner (on a file), fed any bytes.
#include <cstdint>
#include <filesystem>

#include "FuzzSupport.h"
#include "ZZArchive.h"
#include "ZZArchiveEntry.h"
#include "ZZInputStream.h"
#include "ZipCleaner.h"

namespace
{
void readEveryEntry(const ZZArchive &archive)
{
    for (const auto &entry : archive.entries()) {
        Error error;
        entry->fileName();
        if (entry->encrypted()) {
            if (auto stream = entry->newStreamWithPassword("password", &error)) {
                std::uint8_t buffer[4096];
                while (stream->read(buffer, sizeof buffer) > 0) {
                }
            }
            continue;
        }
        entry->check(&error);
        entry->newDataWithError(&error);
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Error error;
    if (const auto archive = ZZArchive::archiveWithData(Data(data, data + size), &error))
        readEveryEntry(*archive);

    const std::string path = fuzzFolder() + "/archive.zip";
    writeWholeFile(path, bytesOf(data, size));
    std::vector<std::string> removed;
    Error cleanError;
    const std::int64_t count = ZipCleaner().cleanZipAtURL(path, &removed, &cleanError);
    if (count > 0 && cleanError.code() == 0) {
        // What the cleaner wrote must load again, without metadata.
        Error reloadError;
        const auto cleaned = ZZArchive::archiveWithURL(path, &reloadError);
        if (!cleaned)
            fuzzFinding("the cleaned archive does not load: " + reloadError.localizedDescription());
        for (const auto &entry : cleaned->entries()) {
            if (entry->fileName() && ZipCleaner::shouldRemoveItem(*entry->fileName()))
                fuzzFinding("the cleaned archive still holds " + *entry->fileName());
        }
        readEveryEntry(*cleaned);
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return 0;
}
