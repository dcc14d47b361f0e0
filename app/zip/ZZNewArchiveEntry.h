#pragma once

#include "ZZArchiveEntry.h"

// An entry to be added: its name, mode, date, compression level and the block
// that produces its data while the archive is written (none for a folder).
class ZZNewArchiveEntry : public ZZArchiveEntry
{
public:
    ZZNewArchiveEntry(std::string fileName, std::uint16_t fileMode, Date lastModified, std::int64_t compressionLevel,
                      DataBlock dataBlock, StreamBlock streamBlock, DataConsumerBlock dataConsumerBlock);

    bool compressed() const override;
    Date lastModified() const override;
    std::uint16_t fileMode() const override;
    std::optional<std::string> fileName() const override;
    std::unique_ptr<ZZArchiveEntryWriter> newWriterCanSkipLocalFile(bool canSkipLocalFile,
                                                                    Error *error) const override;

private:
    std::string m_fileName;
    std::uint16_t m_fileMode;
    Date m_lastModified;
    std::int64_t m_compressionLevel;
    DataBlock m_dataBlock;
    StreamBlock m_streamBlock;
    DataConsumerBlock m_dataConsumerBlock;
};
