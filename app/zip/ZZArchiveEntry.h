#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Error.h"
#include "Value.h"

class ZZArchiveEntryWriter;
class ZZDataConsumer;
class ZZDataProvider;
class ZZInputStream;
class ZZOutputStream;

// An entry of an archive: one read from an archive, or a new one to be written.
// The base answers "nothing" everywhere.
class ZZArchiveEntry
{
public:
    using DataBlock = std::function<std::optional<Data>(Error *error)>;
    using StreamBlock = std::function<bool(ZZOutputStream &stream, Error *error)>;
    using DataConsumerBlock = std::function<bool(ZZDataConsumer &consumer, Error *error)>;

    virtual ~ZZArchiveEntry();

    virtual bool compressed() const;
    virtual bool encrypted() const;
    virtual Date lastModified() const;
    virtual std::uint32_t crc32() const;
    virtual std::uint64_t compressedSize() const;
    virtual std::uint64_t uncompressedSize() const;
    virtual std::uint16_t fileMode() const;
    virtual std::optional<std::string> fileName() const;

    std::unique_ptr<ZZInputStream> newStreamWithError(Error *error) const;
    virtual std::unique_ptr<ZZInputStream> newStreamWithPassword(const std::string &password, Error *error) const;
    virtual bool check(Error *error) const;
    std::optional<Data> newDataWithError(Error *error) const;
    virtual std::optional<Data> newDataWithPassword(const std::string &password, Error *error) const;
    std::unique_ptr<ZZDataProvider> newDataProviderWithError(Error *error) const;
    virtual std::unique_ptr<ZZDataProvider> newDataProviderWithPassword(const std::string &password,
                                                                        Error *error) const;
    virtual std::unique_ptr<ZZArchiveEntryWriter> newWriterCanSkipLocalFile(bool canSkipLocalFile,
                                                                            Error *error) const;

    static std::shared_ptr<ZZArchiveEntry> archiveEntryWithFileName(const std::string &fileName, bool compress,
                                                                     DataBlock dataBlock);
    static std::shared_ptr<ZZArchiveEntry> archiveEntryWithFileName(const std::string &fileName, bool compress,
                                                                     StreamBlock streamBlock);
    static std::shared_ptr<ZZArchiveEntry> archiveEntryWithFileName(const std::string &fileName, bool compress,
                                                                     DataConsumerBlock dataConsumerBlock);
    static std::shared_ptr<ZZArchiveEntry> archiveEntryWithDirectoryName(const std::string &directoryName);
    static std::shared_ptr<ZZArchiveEntry> archiveEntryWithFileName(const std::string &fileName,
                                                                     std::uint16_t fileMode, Date lastModified,
                                                                     std::int64_t compressionLevel,
                                                                     DataBlock dataBlock, StreamBlock streamBlock,
                                                                     DataConsumerBlock dataConsumerBlock);
};
