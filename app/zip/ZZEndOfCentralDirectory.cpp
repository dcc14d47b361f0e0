#include "ZZEndOfCentralDirectory.h"

#include "ZZLittleEndian.h"

std::uint32_t ZZEndOfCentralDirectory::signature() const { return zzRead32(m_bytes); }
std::uint16_t ZZEndOfCentralDirectory::numberOfThisDisk() const { return zzRead16(m_bytes + 4); }
std::uint16_t ZZEndOfCentralDirectory::numberOfTheDiskWithTheStartOfTheCentralDirectory() const { return zzRead16(m_bytes + 6); }
std::uint16_t ZZEndOfCentralDirectory::totalNumberOfEntriesInTheCentralDirectoryOnThisDisk() const { return zzRead16(m_bytes + 8); }
std::uint16_t ZZEndOfCentralDirectory::totalNumberOfEntriesInTheCentralDirectory() const { return zzRead16(m_bytes + 10); }
std::uint32_t ZZEndOfCentralDirectory::sizeOfTheCentralDirectory() const { return zzRead32(m_bytes + 12); }
std::uint32_t ZZEndOfCentralDirectory::offsetOfStartOfCentralDirectory() const { return zzRead32(m_bytes + 16); }
std::uint16_t ZZEndOfCentralDirectory::zipFileCommentLength() const { return zzRead16(m_bytes + 20); }

void ZZEndOfCentralDirectory::make(std::uint8_t *record, std::uint16_t entries, std::uint32_t centralSize,
                                   std::uint32_t centralOffset)
{
    zzWrite32(record, sign);
    zzWrite16(record + 4, 0);
    zzWrite16(record + 6, 0);
    zzWrite16(record + 8, entries);
    zzWrite16(record + 10, entries);
    zzWrite32(record + 12, centralSize);
    zzWrite32(record + 16, centralOffset);
    zzWrite16(record + 20, 0);
}
