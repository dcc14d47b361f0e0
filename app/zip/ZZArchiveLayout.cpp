#include "ZZArchiveLayout.h"

#include <algorithm>

#include "ZZCentralFileHeader.h"
#include "ZZDataDescriptor.h"
#include "ZZError.h"
#include "ZZExtraField.h"
#include "ZZLocalFileHeader.h"

namespace
{
constexpr std::uint16_t dataDescriptorFlag = 1 << 3;
}

ZZArchiveLayout::ZZArchiveLayout(ZZBytes contents, std::uint64_t localFilesEnd,
                                 std::vector<std::uint64_t> centralFileHeaders)
    : m_contents(std::move(contents)), m_localFilesEnd(localFilesEnd),
      m_centralFileHeaders(std::move(centralFileHeaders))
{
}

const ZZBytes &ZZArchiveLayout::contents() const
{
    return m_contents;
}

std::uint64_t ZZArchiveLayout::centralFileHeader(std::size_t index) const
{
    return m_centralFileHeaders[index];
}

std::uint64_t ZZArchiveLayout::localFilesEnd() const
{
    return m_localFilesEnd;
}

std::optional<std::uint64_t> ZZArchiveLayout::localFileLength(const ZZBytes &contents, std::uint64_t centralFileHeader,
                                                              std::uint64_t localFilesEnd)
{
    const ZZCentralFileHeader central(contents.data + centralFileHeader);
    const std::uint64_t localFileHeader = central.relativeOffsetOfLocalHeader();
    if (localFilesEnd > contents.size || localFileHeader > localFilesEnd
        || localFilesEnd - localFileHeader < ZZLocalFileHeader::fixedLength)
        return std::nullopt;
    const ZZLocalFileHeader local(contents.data + localFileHeader);
    const std::uint64_t start = localFileHeader + local.totalLength();
    const std::uint64_t compressed = central.compressedSize();
    if (start > localFilesEnd || compressed > localFilesEnd - start)
        return std::nullopt;
    std::uint64_t end = start + compressed;
    if (local.generalPurposeBitFlag() & dataDescriptorFlag) {
        const bool wide = ZZExtraField::hasBlock(local.extraField(), local.extraFieldLength(), ZZExtraField::zip64Id);
        const auto descriptor = ZZDataDescriptor::lengthAt(contents, end, localFilesEnd, central.crc32(), compressed,
                                                           central.uncompressedSize(), wide);
        if (!descriptor)
            return std::nullopt;
        end += *descriptor;
    }
    return end - localFileHeader;
}

const std::vector<std::uint64_t> *ZZArchiveLayout::localFileLengths(Error *error) const
{
    std::call_once(m_checked, [this] { check(); });
    if (m_failure) {
        zzFail(error, *m_failure);
        return nullptr;
    }
    return &m_localFileLengths;
}

void ZZArchiveLayout::check() const
{
    struct Span
    {
        std::uint64_t start;
        std::uint64_t end;
    };
    std::vector<Span> spans;
    spans.reserve(m_centralFileHeaders.size());
    m_localFileLengths.reserve(m_centralFileHeaders.size());
    for (const std::uint64_t centralFileHeader : m_centralFileHeaders) {
        const auto length = localFileLength(m_contents, centralFileHeader, m_localFilesEnd);
        if (!length) {
            m_failure = zzError(ZZLocalFileReadErrorCode);
            m_localFileLengths.clear();
            return;
        }
        const std::uint64_t start = ZZCentralFileHeader(m_contents.data + centralFileHeader).relativeOffsetOfLocalHeader();
        spans.push_back({start, start + *length});
        m_localFileLengths.push_back(*length);
    }
    std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.start < b.start; });
    for (std::size_t k = 1; k < spans.size(); ++k) {
        if (spans[k - 1].end > spans[k].start) {
            m_failure = zzError(ZZLocalFileReadErrorCode, std::nullopt, nullptr,
                                "The zip archive's entries overlap one another.");
            m_localFileLengths.clear();
            return;
        }
    }
}
