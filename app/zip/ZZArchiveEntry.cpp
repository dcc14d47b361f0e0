#include "ZZArchiveEntry.h"

#include "ZZArchiveEntryWriter.h"
#include "ZZDataProvider.h"
#include "ZZInputStream.h"
#include "ZZNewArchiveEntry.h"

ZZArchiveEntry::~ZZArchiveEntry() = default;

bool ZZArchiveEntry::compressed() const { return false; }
bool ZZArchiveEntry::encrypted() const { return false; }
Date ZZArchiveEntry::lastModified() const { return Date{}; }
std::uint32_t ZZArchiveEntry::crc32() const { return 0; }
std::uint64_t ZZArchiveEntry::compressedSize() const { return 0; }
std::uint64_t ZZArchiveEntry::uncompressedSize() const { return 0; }
std::uint16_t ZZArchiveEntry::fileMode() const { return 0; }
std::optional<std::string> ZZArchiveEntry::fileName() const { return std::nullopt; }
bool ZZArchiveEntry::check(Error *) const { return true; }

std::unique_ptr<ZZInputStream> ZZArchiveEntry::newStreamWithError(Error *error) const
{
    return newStreamWithPassword({}, error);
}

std::unique_ptr<ZZInputStream> ZZArchiveEntry::newStreamWithPassword(const std::string &, Error *) const
{
    return nullptr;
}

std::optional<Data> ZZArchiveEntry::newDataWithError(Error *error) const
{
    return newDataWithPassword({}, error);
}

std::optional<Data> ZZArchiveEntry::newDataWithPassword(const std::string &, Error *) const
{
    return std::nullopt;
}

std::unique_ptr<ZZDataProvider> ZZArchiveEntry::newDataProviderWithError(Error *error) const
{
    return newDataProviderWithPassword({}, error);
}

std::unique_ptr<ZZDataProvider> ZZArchiveEntry::newDataProviderWithPassword(const std::string &, Error *) const
{
    return nullptr;
}

std::unique_ptr<ZZArchiveEntryWriter> ZZArchiveEntry::newWriterCanSkipLocalFile(bool, Error *) const
{
    return nullptr;
}

std::shared_ptr<ZZArchiveEntry> ZZArchiveEntry::archiveEntryWithFileName(const std::string &fileName, bool compress,
                                                                          DataBlock dataBlock)
{
    return archiveEntryWithFileName(fileName, 0100644, Date::now(), compress ? -1 : 0, std::move(dataBlock), {}, {});
}

std::shared_ptr<ZZArchiveEntry> ZZArchiveEntry::archiveEntryWithFileName(const std::string &fileName, bool compress,
                                                                          StreamBlock streamBlock)
{
    return archiveEntryWithFileName(fileName, 0100644, Date::now(), compress ? -1 : 0, {}, std::move(streamBlock), {});
}

std::shared_ptr<ZZArchiveEntry> ZZArchiveEntry::archiveEntryWithFileName(const std::string &fileName, bool compress,
                                                                          DataConsumerBlock dataConsumerBlock)
{
    return archiveEntryWithFileName(fileName, 0100644, Date::now(), compress ? -1 : 0, {}, {},
                                    std::move(dataConsumerBlock));
}

std::shared_ptr<ZZArchiveEntry> ZZArchiveEntry::archiveEntryWithDirectoryName(const std::string &directoryName)
{
    return archiveEntryWithFileName(directoryName, 040755, Date::now(), 0, {}, {}, {});
}

std::shared_ptr<ZZArchiveEntry> ZZArchiveEntry::archiveEntryWithFileName(const std::string &fileName,
                                                                          std::uint16_t fileMode, Date lastModified,
                                                                          std::int64_t compressionLevel,
                                                                          DataBlock dataBlock, StreamBlock streamBlock,
                                                                          DataConsumerBlock dataConsumerBlock)
{
    return std::make_shared<ZZNewArchiveEntry>(fileName, fileMode, lastModified, compressionLevel,
                                               std::move(dataBlock), std::move(streamBlock),
                                               std::move(dataConsumerBlock));
}
