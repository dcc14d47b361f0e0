#include "ZZNewArchiveEntry.h"

#include <cerrno>

#include "ZZError.h"
#include "ZZNewArchiveEntryWriter.h"

ZZNewArchiveEntry::ZZNewArchiveEntry(std::string fileName, std::uint16_t fileMode, Date lastModified,
                                     std::int64_t compressionLevel, DataBlock dataBlock, StreamBlock streamBlock,
                                     DataConsumerBlock dataConsumerBlock)
    : m_fileName(std::move(fileName)), m_fileMode(fileMode), m_lastModified(lastModified),
      m_compressionLevel(compressionLevel), m_dataBlock(std::move(dataBlock)), m_streamBlock(std::move(streamBlock)),
      m_dataConsumerBlock(std::move(dataConsumerBlock))
{
}

bool ZZNewArchiveEntry::compressed() const
{
    return m_compressionLevel != 0;
}

Date ZZNewArchiveEntry::lastModified() const
{
    return m_lastModified;
}

std::uint16_t ZZNewArchiveEntry::fileMode() const
{
    return m_fileMode;
}

std::optional<std::string> ZZNewArchiveEntry::fileName() const
{
    return m_fileName;
}

std::unique_ptr<ZZArchiveEntryWriter> ZZNewArchiveEntry::newWriterCanSkipLocalFile(bool, Error *error) const
{
    // A name the header's 16-bit length cannot hold is refused, never cut.
    if (m_fileName.size() > 0xFFFF) {
        zzFail(error, Error::posix(ENAMETOOLONG));
        return nullptr;
    }
    return std::make_unique<ZZNewArchiveEntryWriter>(m_fileName, m_fileMode, m_lastModified, m_compressionLevel,
                                                     m_dataBlock, m_streamBlock, m_dataConsumerBlock);
}
