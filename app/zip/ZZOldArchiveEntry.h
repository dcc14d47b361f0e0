#pragma once

#include <memory>
#include <string_view>

#include "ZZArchiveEntry.h"
#include "ZZArchiveLayout.h"
#include "ZZBytes.h"
#include "ZZCentralFileHeader.h"
#include "ZZLocalFileHeader.h"

enum ZZEncryptionMode : std::int64_t
{
    ZZEncryptionModeNone = 0,
    ZZEncryptionModeStandard = 1,
    ZZEncryptionModeStrong = 2,
    ZZEncryptionModeWinZipAES = 3
};

// An entry of an opened archive: views of its two headers inside the archive's
// contents, which it keeps alive with the layout of its load. Every read of the local
// side is checked to lie inside the local-file area (before the central directory),
// and its data is read, or copied into a rewrite, only when no local file of the
// archive overlaps another.
class ZZOldArchiveEntry : public ZZArchiveEntry
{
public:
    // The entry at `index` of the layout's central directory; its record's name, extra
    // field and comment lie inside the contents, and the fixed part of its local header
    // before the central directory.
    ZZOldArchiveEntry(std::shared_ptr<const ZZArchiveLayout> layout, std::size_t index, std::uint64_t encoding);

    bool compressed() const override;
    bool encrypted() const override;
    Date lastModified() const override;
    std::uint32_t crc32() const override;
    std::uint64_t compressedSize() const override;
    std::uint64_t uncompressedSize() const override;
    std::uint16_t fileMode() const override;
    std::optional<std::string> fileName() const override;

    std::unique_ptr<ZZInputStream> newStreamWithPassword(const std::string &password, Error *error) const override;
    bool check(Error *error) const override;
    std::optional<Data> newDataWithPassword(const std::string &password, Error *error) const override;
    std::unique_ptr<ZZDataProvider> newDataProviderWithPassword(const std::string &password,
                                                                Error *error) const override;
    std::unique_ptr<ZZArchiveEntryWriter> newWriterCanSkipLocalFile(bool canSkipLocalFile,
                                                                    Error *error) const override;

    // The name's bytes as stored, whatever their encoding; valid while the entry lives.
    std::string_view rawFileName() const;
    std::uint16_t compressionMethod() const;
    ZZEncryptionMode encryptionMode() const;
    bool checkEncryptionAndCompression(Error *error) const;
    // The entry's stored bytes without encryption header, salt, verifier or authentication code.
    std::optional<ZZBytes> fileData(Error *error) const;
    std::unique_ptr<ZZInputStream> streamForData(const ZZBytes &data, const std::string &password, Error *error) const;

    std::uint64_t localFileHeaderOffset() const;
    // Local header, data and data descriptor, sized exactly; none (code 3) when
    // they do not lie inside the local-file area or local files of the archive overlap.
    std::optional<std::uint64_t> localFileLength(Error *error) const;

private:
    ZZCentralFileHeader centralFileHeader() const;
    // The local header with its name and extra field readable; none (code 3) otherwise.
    std::optional<ZZLocalFileHeader> localFileHeader(Error *error) const;
    std::uint64_t dataOffset(const ZZLocalFileHeader &local) const;
    // The uncompressed size the data can plausibly give; code 11 when the central
    // header claims more.
    bool checkUncompressedSize(std::uint64_t dataLength, Error *error) const;
    std::optional<std::uint32_t> expectedCRC32() const;

    const ZZBytes &contents() const;

    std::shared_ptr<const ZZArchiveLayout> m_layout;
    std::size_t m_index;
    std::uint64_t m_centralFileHeader;
    std::uint64_t m_localFileHeader;
    std::uint64_t m_encoding;
    ZZEncryptionMode m_encryptionMode = ZZEncryptionModeNone;
};
