#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "Error.h"
#include "ZZBytes.h"

// The bytes of one load of an archive and where its entries' local files lie in them. Before
// any entry's data is read or the archive is rewritten, every local file (header, data and data
// descriptor) is checked, once, to lie before the central directory and to overlap no other:
// an archive whose central records all name one local file would otherwise be read or written
// out as that many copies of it. The check costs one sort of the entries, nothing per byte.
class ZZArchiveLayout
{
public:
    // `centralFileHeaders`: the offset of each central record, in directory order; each record
    // and the fixed part of the local header it names are known to be readable.
    ZZArchiveLayout(ZZBytes contents, std::uint64_t localFilesEnd, std::vector<std::uint64_t> centralFileHeaders);

    const ZZBytes &contents() const;
    // Where the central record of the entry at `index` begins.
    std::uint64_t centralFileHeader(std::size_t index) const;
    // Where the central directory begins: every local file ends at or before it.
    std::uint64_t localFilesEnd() const;

    // Each entry's local file length, in directory order; none (code 3) when a local file
    // does not lie wholly before the central directory or two of them overlap.
    const std::vector<std::uint64_t> *localFileLengths(Error *error) const;

    // The exact length of the local file the central record at `centralFileHeader` names: its
    // header, data and data descriptor; none when it does not end at or before `localFilesEnd`.
    static std::optional<std::uint64_t> localFileLength(const ZZBytes &contents, std::uint64_t centralFileHeader,
                                                        std::uint64_t localFilesEnd);

private:
    void check() const;

    ZZBytes m_contents;
    std::uint64_t m_localFilesEnd;
    std::vector<std::uint64_t> m_centralFileHeaders;
    mutable std::once_flag m_checked;
    mutable std::vector<std::uint64_t> m_localFileLengths;
    mutable std::optional<Error> m_failure;
};
