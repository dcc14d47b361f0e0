#pragma once

#include "ZZArchiveEntry.h"
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
// contents, which it keeps alive. Every read of the local side is checked to lie
// inside the local-file area (before the central directory).
class ZZOldArchiveEntry : public ZZArchiveEntry
{
public:
    // The central header's fixed part, name, extra field and comment lie inside
    // `contents`, and the local header's fixed part below `localFilesEnd`.
    ZZOldArchiveEntry(ZZBytes contents, std::uint64_t centralFileHeaderOffset, std::uint64_t localFileHeaderOffset,
                      std::uint64_t localFilesEnd, std::uint64_t encoding);

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

    // The name's bytes as stored, whatever their encoding.
    std::string rawFileName() const;
    std::uint16_t compressionMethod() const;
    ZZEncryptionMode encryptionMode() const;
    bool checkEncryptionAndCompression(Error *error) const;
    // The entry's stored bytes without encryption header, salt, verifier or authentication code.
    std::optional<ZZBytes> fileData(Error *error) const;
    std::unique_ptr<ZZInputStream> streamForData(const ZZBytes &data, const std::string &password, Error *error) const;

    std::uint64_t localFileHeaderOffset() const;
    // Local header, data and data descriptor, sized exactly; none (code 3) when
    // they do not lie inside the local-file area.
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

    ZZBytes m_contents;
    std::uint64_t m_centralFileHeader;
    std::uint64_t m_localFileHeader;
    std::uint64_t m_localFilesEnd;
    std::uint64_t m_encoding;
    ZZEncryptionMode m_encryptionMode = ZZEncryptionModeNone;
};
