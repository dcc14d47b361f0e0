#include "ZZArchive.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include "ZZArchiveEntryWriter.h"
#include "ZZArchiveLayout.h"
#include "ZZCentralFileHeader.h"
#include "ZZDataChannel.h"
#include "ZZEndOfCentralDirectory.h"
#include "ZZError.h"
#include "ZZFileChannel.h"
#include "ZZLittleEndian.h"
#include "ZZLocalFileHeader.h"
#include "ZZOldArchiveEntry.h"
#include "ZZStringEncoding.h"

const char *const ZZOpenOptionsEncodingKey = "ZZOpenOptionsEncodingKey";
const char *const ZZOpenOptionsCreateIfMissingKey = "ZZOpenOptionsCreateIfMissingKey";

namespace
{
constexpr std::uint32_t saturated32 = 0xFFFFFFFF;
constexpr std::uint16_t saturated16 = 0xFFFF;

// Removes the temporary channel on every way out of a rewrite.
class TemporaryChannelRemover
{
public:
    explicit TemporaryChannelRemover(ZZChannel &channel) : m_channel(channel) {}
    ~TemporaryChannelRemover() { m_channel.removeAsTemporary(); }
    TemporaryChannelRemover(const TemporaryChannelRemover &) = delete;
    TemporaryChannelRemover &operator=(const TemporaryChannelRemover &) = delete;

private:
    ZZChannel &m_channel;
};
}

ZZArchive::ZZArchive(std::shared_ptr<ZZChannel> channel, std::uint64_t encoding)
    : m_channel(std::move(channel)), m_encoding(encoding)
{
}

std::unique_ptr<ZZArchive> ZZArchive::archiveWithURL(const std::string &URL, Error *error)
{
    return initWithURL(URL, {}, error);
}

std::unique_ptr<ZZArchive> ZZArchive::initWithURL(const std::string &URL, const Dictionary &options, Error *error)
{
    return initWithChannel(std::make_shared<ZZFileChannel>(URL), options, error);
}

std::unique_ptr<ZZArchive> ZZArchive::archiveWithData(Data data, Error *error)
{
    return initWithData(std::move(data), {}, error);
}

std::unique_ptr<ZZArchive> ZZArchive::initWithData(Data data, const Dictionary &options, Error *error)
{
    return initWithChannel(std::make_shared<ZZDataChannel>(std::move(data)), options, error);
}

std::unique_ptr<ZZArchive> ZZArchive::initWithChannel(std::shared_ptr<ZZChannel> channel, const Dictionary &options,
                                                      Error *error)
{
    std::uint64_t encoding = ZZUTF8StringEncoding;
    const auto encodingOption = options.find(ZZOpenOptionsEncodingKey);
    if (encodingOption != options.end() && encodingOption->second.asInteger())
        encoding = static_cast<std::uint64_t>(*encodingOption->second.asInteger());
    bool createIfMissing = false;
    const auto createOption = options.find(ZZOpenOptionsCreateIfMissingKey);
    if (createOption != options.end() && createOption->second.asBoolean())
        createIfMissing = *createOption->second.asBoolean();
    std::unique_ptr<ZZArchive> archive(new ZZArchive(std::move(channel), encoding));
    if (!archive->loadCanMiss(createIfMissing, error))
        return nullptr;
    return archive;
}

std::string ZZArchive::URL() const
{
    return m_channel->URL();
}

const ZZBytes &ZZArchive::contents() const
{
    return m_contents;
}

const std::vector<std::shared_ptr<ZZArchiveEntry>> &ZZArchive::entries() const
{
    return m_entries;
}

ZZChannel &ZZArchive::channel() const
{
    return *m_channel;
}

bool ZZArchive::loadCanMiss(bool canMiss, Error *error)
{
    Error inputError;
    auto input = m_channel->newInput(&inputError);
    if (!input) {
        if (canMiss && inputError.domain() == ZZCocoaErrorDomain && inputError.code() == ZZFileReadNoSuchFileError) {
            m_contents = ZZBytes();
            m_entries.clear();
            m_layout.reset();
            return true;
        }
        return zzFail(error, zzError(ZZOpenReadErrorCode, std::nullopt, &inputError));
    }
    const ZZBytes &bytes = *input;
    const Error noEndRecord = zzError(ZZEndOfCentralDirectoryReadErrorCode);
    if (bytes.size < ZZEndOfCentralDirectory::fixedLength)
        return zzFail(error, noEndRecord);

    // The last signature within reach of the longest comment decides; no earlier one is tried.
    const std::uint64_t last = bytes.size - ZZEndOfCentralDirectory::fixedLength;
    const std::uint64_t first = last > ZZEndOfCentralDirectory::maximumCommentLength
        ? last - ZZEndOfCentralDirectory::maximumCommentLength
        : 0;
    std::uint64_t position = last;
    while (zzRead32(bytes.data + position) != ZZEndOfCentralDirectory::sign) {
        if (position == first)
            return zzFail(error, noEndRecord);
        --position;
    }
    const ZZEndOfCentralDirectory end(bytes.data + position);
    const std::uint64_t total = end.totalNumberOfEntriesInTheCentralDirectory();
    const std::uint64_t centralOffset = end.offsetOfStartOfCentralDirectory();
    const std::uint64_t centralSize = end.sizeOfTheCentralDirectory();
    if (end.numberOfThisDisk() != 0 || end.numberOfTheDiskWithTheStartOfTheCentralDirectory() != 0
        || end.totalNumberOfEntriesInTheCentralDirectoryOnThisDisk() != total || centralOffset + centralSize > position
        || end.zipFileCommentLength() != bytes.size - position - ZZEndOfCentralDirectory::fixedLength)
        return zzFail(error, noEndRecord);
    // A zip64 archive keeps its real counts and offsets elsewhere; it is refused rather than half read.
    const bool saturated = total == saturated16 || centralSize == saturated32 || centralOffset == saturated32;
    if (saturated && position >= ZZEndOfCentralDirectory::zip64LocatorLength
        && zzRead32(bytes.data + position - ZZEndOfCentralDirectory::zip64LocatorLength)
            == ZZEndOfCentralDirectory::zip64LocatorSign)
        return zzFail(error, noEndRecord);

    // The directory is read by its size and offset and must hold exactly the count's records: a
    // count that wrapped past 65,535 (or that falls short) never stands for the records there.
    const std::uint64_t centralEnd = centralOffset + centralSize;
    const Error countMismatch = zzError(ZZEndOfCentralDirectoryReadErrorCode, std::nullopt, nullptr,
                                        "The zip archive's central directory does not hold the number of entries its "
                                        "end record gives.");
    if (ZZCentralFileHeader::fixedLength * total > centralSize)
        return zzFail(error, countMismatch);
    std::vector<std::uint64_t> centralFileHeaders;
    centralFileHeaders.reserve(total);
    std::uint64_t offset = centralOffset;
    for (std::uint64_t index = 0; index < total; ++index) {
        if (offset == centralEnd)
            return zzFail(error, countMismatch);
        if (offset > centralEnd || centralEnd - offset < ZZCentralFileHeader::fixedLength)
            return zzFail(error, zzError(ZZCentralFileHeaderReadErrorCode, static_cast<std::int64_t>(index)));
        const ZZCentralFileHeader header(bytes.data + offset);
        if (header.signature() != ZZCentralFileHeader::sign || header.diskNumberStart() != 0
            || std::uint64_t(header.relativeOffsetOfLocalHeader()) + ZZLocalFileHeader::fixedLength > centralOffset
            || header.totalLength() > centralEnd - offset
            || header.compressedSize() == saturated32 || header.uncompressedSize() == saturated32)
            return zzFail(error, zzError(ZZCentralFileHeaderReadErrorCode, static_cast<std::int64_t>(index)));
        centralFileHeaders.push_back(offset);
        offset += header.totalLength();
    }
    if (offset != centralEnd)
        return zzFail(error, countMismatch);

    const auto layout = std::make_shared<const ZZArchiveLayout>(*input, centralOffset, std::move(centralFileHeaders));
    std::vector<std::shared_ptr<ZZArchiveEntry>> entries;
    entries.reserve(total);
    for (std::size_t index = 0; index < total; ++index)
        entries.push_back(std::make_shared<ZZOldArchiveEntry>(layout, index, m_encoding));
    m_contents = std::move(*input);
    m_entries = std::move(entries);
    m_layout = layout;
    return true;
}

std::optional<std::size_t> ZZArchive::keptPrefixLength(const std::vector<std::shared_ptr<ZZArchiveEntry>> &newEntries,
                                                       Error *error) const
{
    std::size_t kept = 0;
    while (kept < std::min(newEntries.size(), m_entries.size()) && newEntries[kept] == m_entries[kept])
        ++kept;
    if (kept == 0)
        return kept;
    // Every local file of the archive, kept or not, lies before the central directory and
    // overlaps no other; otherwise nothing is written.
    const std::vector<std::uint64_t> *lengths = m_layout->localFileLengths(error);
    if (!lengths)
        return std::nullopt;
    const auto startOf = [this](std::size_t k) {
        return static_cast<const ZZOldArchiveEntry &>(*m_entries[k]).localFileHeaderOffset();
    };
    // Kept local files must follow one another without a gap, so the kept
    // beginning of the file holds them and nothing of any other entry.
    for (std::size_t k = 1; k < kept; ++k) {
        if (startOf(k) != startOf(k - 1) + (*lengths)[k - 1]) {
            kept = k;
            break;
        }
    }
    std::vector<std::uint64_t> laterStart(m_entries.size() + 1, std::numeric_limits<std::uint64_t>::max());
    for (std::size_t k = m_entries.size(); k-- > 0;)
        laterStart[k] = std::min(laterStart[k + 1], startOf(k));
    while (kept > 0 && laterStart[kept] < startOf(kept - 1) + (*lengths)[kept - 1])
        --kept;
    return kept;
}

bool ZZArchive::updateEntries(const std::vector<std::shared_ptr<ZZArchiveEntry>> &newEntries, Error *error)
{
    // Shortened by another program since it was read: refused as a changed file.
    if (!m_contents.isWhole()) {
        const Error changed = Error::posix(ESTALE);
        return zzFail(error, zzError(ZZReplaceWriteErrorCode, std::nullopt, &changed));
    }
    // An archive whose local files overlap one another or the central directory is refused as
    // it is, before anything is written.
    if (m_layout && !m_layout->localFileLengths(error))
        return false;
    // A kept entry goes into the new archive as it stands: one whose local record the reader
    // would refuse (a broken signature, a header disagreeing with its central record) is refused
    // here rather than carried into an archive reported as rewritten.
    for (const auto &entry : newEntries) {
        if (entry && !entry->check(error))
            return false;
    }
    const auto keptPrefix = keptPrefixLength(newEntries, error);
    if (!keptPrefix)
        return false;
    const std::size_t kept = *keptPrefix;
    std::vector<std::unique_ptr<ZZArchiveEntryWriter>> writers;
    writers.reserve(newEntries.size());
    for (std::size_t k = 0; k < newEntries.size(); ++k) {
        Error writerError;
        auto writer = newEntries[k] ? newEntries[k]->newWriterCanSkipLocalFile(k < kept, &writerError) : nullptr;
        if (!writer)
            return zzFail(error, zzError(ZZLocalFileWriteErrorCode, static_cast<std::int64_t>(k),
                                         writerError.domain().empty() ? nullptr : &writerError));
        writers.push_back(std::move(writer));
    }
    const std::uint64_t initialSkip = kept > 0 ? writers[kept - 1]->offsetToLocalFileEnd() : 0;

    Error channelError;
    auto temporary = m_channel->temporaryChannel(&channelError);
    if (!temporary)
        return zzFail(error, zzError(ZZOpenWriteErrorCode, std::nullopt, &channelError));
    TemporaryChannelRemover remover(*temporary);
    auto output = temporary->newOutput(&channelError);
    if (!output)
        return zzFail(error, zzError(ZZOpenWriteErrorCode, std::nullopt, &channelError));
    if (!writeArchive(*output, initialSkip, kept, writers, error))
        return false;
    if (!m_channel->replaceWithChannel(*temporary, &channelError))
        return zzFail(error, zzError(ZZReplaceWriteErrorCode, std::nullopt, &channelError));
    return loadCanMiss(false, error);
}

bool ZZArchive::writeArchive(ZZChannelOutput &output, std::uint64_t initialSkip, std::size_t firstWritten,
                             const std::vector<std::unique_ptr<ZZArchiveEntryWriter>> &writers, Error *error) const
{
    Error writeError;
    // The new file starts with the unchanged beginning of the old one, byte for byte.
    if (initialSkip > 0 && !output.writeData(m_contents.slice(0, initialSkip), &writeError))
        return zzFail(error, zzError(ZZReplaceWriteErrorCode, std::nullopt, &writeError));
    for (std::size_t k = firstWritten; k < writers.size(); ++k) {
        if (!writers[k]->writeLocalFileToChannelOutput(output, 0, &writeError))
            return zzFail(error, zzError(ZZLocalFileWriteErrorCode, static_cast<std::int64_t>(k), &writeError));
    }
    const std::uint64_t centralOffset = output.offset();
    for (std::size_t k = 0; k < writers.size(); ++k) {
        if (!writers[k]->writeCentralFileHeaderToChannelOutput(output, &writeError))
            return zzFail(error, zzError(ZZCentralFileHeaderWriteErrorCode, static_cast<std::int64_t>(k), &writeError));
    }
    const std::uint64_t centralSize = output.offset() - centralOffset;
    // Counts and offsets that do not fit the record are refused rather than cut.
    if (writers.size() > saturated16 - 1 || centralOffset >= saturated32 || centralSize >= saturated32) {
        const Error tooLarge = Error::posix(EFBIG);
        return zzFail(error, zzError(ZZEndOfCentralDirectoryWriteErrorCode, std::nullopt, &tooLarge));
    }
    std::uint8_t record[ZZEndOfCentralDirectory::fixedLength];
    ZZEndOfCentralDirectory::make(record, static_cast<std::uint16_t>(writers.size()),
                                  static_cast<std::uint32_t>(centralSize), static_cast<std::uint32_t>(centralOffset));
    if (!output.writeData(record, sizeof record, &writeError) || !output.close(&writeError))
        return zzFail(error, zzError(ZZEndOfCentralDirectoryWriteErrorCode, std::nullopt, &writeError));
    return true;
}
