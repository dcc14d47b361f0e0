#include "ZZOldArchiveEntryWriter.h"

#include <cerrno>

#include "ZZCentralFileHeader.h"
#include "ZZError.h"
#include "ZZLittleEndian.h"

ZZOldArchiveEntryWriter::ZZOldArchiveEntryWriter(ZZBytes centralFileHeader, ZZBytes localFile,
                                                 std::uint64_t localFileHeaderOffset, bool canSkipLocalFile)
    : m_centralFileHeader(std::move(centralFileHeader)), m_localFileLength(localFile.size),
      m_localFileHeaderOffset(localFileHeaderOffset)
{
    if (!canSkipLocalFile) {
        m_movedCentralFileHeader.assign(m_centralFileHeader.data, m_centralFileHeader.data + m_centralFileHeader.size);
        m_localFile = std::move(localFile);
    }
}

std::uint64_t ZZOldArchiveEntryWriter::offsetToLocalFileEnd() const
{
    return m_localFile ? 0 : m_localFileHeaderOffset + m_localFileLength;
}

bool ZZOldArchiveEntryWriter::writeLocalFileToChannelOutput(ZZChannelOutput &channelOutput, std::uint64_t initialSkip,
                                                            Error *error)
{
    if (!m_localFile)
        return true;
    const std::uint64_t offset = initialSkip + channelOutput.offset();
    if (offset > 0xFFFFFFFF)
        return zzFail(error, Error::posix(EFBIG));
    zzWrite32(m_movedCentralFileHeader.data() + ZZCentralFileHeader::relativeOffsetOfLocalHeaderOffset,
              static_cast<std::uint32_t>(offset));
    return channelOutput.writeData(*m_localFile, error);
}

bool ZZOldArchiveEntryWriter::writeCentralFileHeaderToChannelOutput(ZZChannelOutput &channelOutput, Error *error)
{
    if (m_localFile)
        return channelOutput.writeData(m_movedCentralFileHeader.data(), m_movedCentralFileHeader.size(), error);
    return channelOutput.writeData(m_centralFileHeader.data, m_centralFileHeader.size, error);
}
