#include "AppleDoubleFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "Error.h"
#include "FileDescriptor.h"
#include "OwnChanges.h"
#include "OwnTemporaryFiles.h"
#include "Utf8.h"

namespace
{
constexpr std::uint32_t magicNumber = 0x00051607;
constexpr std::uint32_t versionNumber = 0x00020000;
constexpr std::uint32_t resourceForkEntryID = 2;
constexpr std::uint32_t finderInfoEntryID = 9;

constexpr std::size_t headerLength = 26;
constexpr std::size_t entryDescriptorLength = 12;
// The attribute header follows the Finder info after two bytes of padding.
constexpr std::size_t attributeHeaderGap = 2;
constexpr std::size_t attributeHeaderLength = 36;
constexpr std::size_t attributeEntryFixedLength = 11;
// Where a Mac's 4096-byte companion puts the resource fork: the least end of the attribute area.
constexpr std::size_t macAttributeAreaEnd = 0xEE2;
// Companions beyond this are not read into memory.
constexpr off_t largestCompanion = 256 * 1024 * 1024;

constexpr std::string_view blankResourceForkText = "This resource fork intentionally left blank";
constexpr std::size_t blankResourceForkLength = 286;
constexpr std::string_view systemAttributePrefix = "com.apple.system.";
constexpr std::array<std::uint8_t, 16> macFiller = {'M', 'a', 'c', ' ', 'O', 'S', ' ', 'X',
                                                     ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

// Bounds-checked big-endian reads: nullopt when the value would reach past the end.
class BigEndianReader
{
public:
    explicit BigEndianReader(const Data &bytes) : m_bytes(bytes) {}

    bool contains(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
    }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const
    {
        if (!contains(offset, 4))
            return std::nullopt;
        const std::uint8_t *p = m_bytes.data() + offset;
        return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
    }
    std::optional<std::uint16_t> u16(std::uint64_t offset) const
    {
        if (!contains(offset, 2))
            return std::nullopt;
        const std::uint8_t *p = m_bytes.data() + offset;
        return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
    }
    std::optional<std::uint8_t> u8(std::uint64_t offset) const
    {
        if (!contains(offset, 1))
            return std::nullopt;
        return m_bytes[offset];
    }
    Data slice(std::uint64_t offset, std::uint64_t length) const
    {
        return Data(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                    m_bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
    }

private:
    const Data &m_bytes;
};

void appendU32(Data &out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendU16(Data &out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void putU32(Data &out, std::size_t offset, std::uint32_t value)
{
    out[offset] = static_cast<std::uint8_t>(value >> 24);
    out[offset + 1] = static_cast<std::uint8_t>(value >> 16);
    out[offset + 2] = static_cast<std::uint8_t>(value >> 8);
    out[offset + 3] = static_cast<std::uint8_t>(value);
}

std::size_t roundedUpToFour(std::size_t length)
{
    return (length + 3) & ~std::size_t(3);
}

bool isBlankResourceFork(const Data &fork)
{
    if (fork.size() != blankResourceForkLength)
        return false;
    const std::string_view text(reinterpret_cast<const char *>(fork.data()), fork.size());
    return text.find(blankResourceForkText) != std::string_view::npos;
}

Error damagedCompanion(const std::string &name)
{
    return Error(Error::POSIXDomain, EINVAL,
                 Dictionary{{Error::LocalizedDescriptionKey, Value("The AppleDouble file \"" + name + "\" is damaged.")}});
}

// The attributes of the "ATTR" area that begins at `header`; entries must lie before `limit`.
std::optional<std::vector<AppleDoubleFile::Attribute>> parseAttributes(const BigEndianReader &reader, std::uint64_t header,
                                                                      std::uint64_t limit, std::uint32_t &debugTag,
                                                                      std::uint16_t &flags)
{
    const auto tag = reader.u32(header + 4);
    const auto headerFlags = reader.u16(header + 32);
    const auto count = reader.u16(header + 34);
    if (!tag || !headerFlags || !count)
        return std::nullopt;
    debugTag = *tag;
    flags = *headerFlags;

    std::vector<AppleDoubleFile::Attribute> attributes;
    // Values are packed without overlap in a real companion; their sum is bounded by the area.
    std::uint64_t valueBytes = 0;
    std::uint64_t entry = header + attributeHeaderLength;
    for (unsigned index = 0; index < *count; ++index) {
        if (entry + attributeEntryFixedLength > limit)
            return std::nullopt;
        const auto valueOffset = reader.u32(entry);
        const auto valueLength = reader.u32(entry + 4);
        const auto entryFlags = reader.u16(entry + 8);
        const auto nameLength = reader.u8(entry + 10);
        if (!valueOffset || !valueLength || !entryFlags || !nameLength)
            return std::nullopt;
        // The name length counts the closing NUL; an empty name is no name.
        if (*nameLength < 2 || entry + attributeEntryFixedLength + *nameLength > limit)
            return std::nullopt;
        const Data nameBytes = reader.slice(entry + attributeEntryFixedLength, *nameLength);
        if (nameBytes.back() != 0 || std::find(nameBytes.begin(), nameBytes.end() - 1, 0) != nameBytes.end() - 1)
            return std::nullopt;
        valueBytes += *valueLength;
        if (!reader.contains(*valueOffset, *valueLength) || valueBytes > limit - header)
            return std::nullopt;
        std::string name(nameBytes.begin(), nameBytes.end() - 1);
        // These two live in their own entries, and a name is there once: anything else is not a Mac's doing.
        if (name == AppleDoubleFile::finderInfoName || name == AppleDoubleFile::resourceForkName
            || std::any_of(attributes.begin(), attributes.end(), [&name](const auto &seen) { return seen.name == name; }))
            return std::nullopt;
        attributes.push_back({std::move(name), reader.slice(*valueOffset, *valueLength), *entryFlags});
        entry += roundedUpToFour(attributeEntryFixedLength + *nameLength);
    }
    return attributes;
}

std::string temporaryName()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator(std::random_device {}());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof letters - 2);
    std::string unique;
    for (int i = 0; i < 8; ++i)
        unique += letters[pick(generator)];
    return OwnTemporaryFiles::companionCopyName(unique);
}
}

AppleDoubleFile::AppleDoubleFile()
    : m_filler(macFiller)
{
}

std::optional<AppleDoubleFile> AppleDoubleFile::parse(const Data &bytes)
{
    const BigEndianReader reader(bytes);
    if (reader.u32(0) != magicNumber || reader.u32(4) != versionNumber)
        return std::nullopt;
    const auto entryCount = reader.u16(24);
    if (!entryCount || !reader.contains(headerLength, std::uint64_t(*entryCount) * entryDescriptorLength))
        return std::nullopt;

    AppleDoubleFile file;
    std::copy(bytes.begin() + 8, bytes.begin() + 24, file.m_filler.begin());
    bool sawFinderInfo = false;
    bool sawResourceFork = false;
    // Entries never share bytes in a real companion; bounding their sum bounds what a hostile one costs.
    std::uint64_t entryBytes = 0;
    for (unsigned index = 0; index < *entryCount; ++index) {
        const std::uint64_t descriptor = headerLength + std::uint64_t(index) * entryDescriptorLength;
        const std::uint32_t id = *reader.u32(descriptor);
        const std::uint32_t offset = *reader.u32(descriptor + 4);
        const std::uint32_t length = *reader.u32(descriptor + 8);
        entryBytes += length;
        if (!reader.contains(offset, length) || entryBytes > bytes.size())
            return std::nullopt;

        if (id == finderInfoEntryID) {
            if (sawFinderInfo || length < finderInfoLength)
                return std::nullopt;
            sawFinderInfo = true;
            std::copy_n(bytes.begin() + offset, finderInfoLength, file.m_finderInfo.begin());
            const std::uint64_t header = std::uint64_t(offset) + finderInfoLength + attributeHeaderGap;
            const std::uint64_t end = std::uint64_t(offset) + length;
            // Without the "ATTR" mark the rest of the entry is padding and holds no attributes.
            if (header + attributeHeaderLength <= end && std::memcmp(bytes.data() + header, "ATTR", 4) == 0) {
                auto attributes = parseAttributes(reader, header, end, file.m_attributeDebugTag, file.m_attributeFlags);
                if (!attributes)
                    return std::nullopt;
                file.m_attributes = std::move(*attributes);
            }
        } else if (id == resourceForkEntryID) {
            if (sawResourceFork)
                return std::nullopt;
            sawResourceFork = true;
            file.m_resourceFork = reader.slice(offset, length);
        } else {
            file.m_otherEntries.emplace_back(id, reader.slice(offset, length));
        }
    }
    return file;
}

Data AppleDoubleFile::serialized() const
{
    const std::size_t entryCount = 2 + m_otherEntries.size();
    const std::size_t finderInfoOffset = headerLength + entryCount * entryDescriptorLength;
    const std::size_t attributeHeader = finderInfoOffset + finderInfoLength + attributeHeaderGap;

    std::size_t entriesLength = 0;
    std::size_t dataLength = 0;
    for (const Attribute &attribute : m_attributes) {
        entriesLength += roundedUpToFour(attributeEntryFixedLength + attribute.name.size() + 1);
        dataLength += attribute.value.size();
    }
    const std::size_t dataStart = attributeHeader + attributeHeaderLength + entriesLength;
    const std::size_t attributeAreaEnd = std::max(dataStart + dataLength, macAttributeAreaEnd);

    Data out;
    out.reserve(attributeAreaEnd + m_resourceFork.size());
    appendU32(out, magicNumber);
    appendU32(out, versionNumber);
    out.insert(out.end(), m_filler.begin(), m_filler.end());
    appendU16(out, static_cast<std::uint16_t>(entryCount));

    // Offsets of the other entries and the resource fork are known once the attribute area is laid out.
    std::size_t nextOffset = attributeAreaEnd;
    appendU32(out, finderInfoEntryID);
    appendU32(out, static_cast<std::uint32_t>(finderInfoOffset));
    appendU32(out, static_cast<std::uint32_t>(attributeAreaEnd - finderInfoOffset));
    const std::size_t resourceForkDescriptor = out.size();
    appendU32(out, resourceForkEntryID);
    appendU32(out, 0);
    appendU32(out, static_cast<std::uint32_t>(m_resourceFork.size()));
    for (const auto &[id, bytes] : m_otherEntries) {
        appendU32(out, id);
        appendU32(out, static_cast<std::uint32_t>(nextOffset));
        appendU32(out, static_cast<std::uint32_t>(bytes.size()));
        nextOffset += bytes.size();
    }
    putU32(out, resourceForkDescriptor + 4, static_cast<std::uint32_t>(nextOffset));

    out.insert(out.end(), m_finderInfo.begin(), m_finderInfo.end());
    out.resize(out.size() + attributeHeaderGap, 0);
    out.insert(out.end(), {'A', 'T', 'T', 'R'});
    appendU32(out, m_attributeDebugTag);
    appendU32(out, static_cast<std::uint32_t>(attributeAreaEnd));
    appendU32(out, static_cast<std::uint32_t>(dataStart));
    appendU32(out, static_cast<std::uint32_t>(dataLength));
    out.resize(out.size() + 12, 0);
    appendU16(out, m_attributeFlags);
    appendU16(out, static_cast<std::uint16_t>(m_attributes.size()));

    std::size_t valueOffset = dataStart;
    for (const Attribute &attribute : m_attributes) {
        const std::size_t entryStart = out.size();
        appendU32(out, static_cast<std::uint32_t>(valueOffset));
        appendU32(out, static_cast<std::uint32_t>(attribute.value.size()));
        appendU16(out, attribute.flags);
        out.push_back(static_cast<std::uint8_t>(attribute.name.size() + 1));
        out.insert(out.end(), attribute.name.begin(), attribute.name.end());
        out.push_back(0);
        out.resize(entryStart + roundedUpToFour(out.size() - entryStart), 0);
        valueOffset += attribute.value.size();
    }
    for (const Attribute &attribute : m_attributes)
        out.insert(out.end(), attribute.value.begin(), attribute.value.end());
    out.resize(attributeAreaEnd, 0);

    for (const auto &entry : m_otherEntries)
        out.insert(out.end(), entry.second.begin(), entry.second.end());
    out.insert(out.end(), m_resourceFork.begin(), m_resourceFork.end());
    return out;
}

std::optional<AppleDoubleFile> AppleDoubleFile::read(int directoryFd, const std::string &name)
{
    const FileDescriptor fd(openat(directoryFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid()) {
        // A name too long for the "._" prefix cannot have a companion.
        if (errno == ENOENT || errno == ENAMETOOLONG)
            return std::nullopt;
        throw Error::POSIXerrno();
    }
    struct stat status;
    if (fstat(fd.get(), &status) != 0)
        throw Error::POSIXerrno();
    if (!S_ISREG(status.st_mode) || status.st_size > largestCompanion)
        throw damagedCompanion(name);

    Data bytes(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t result = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            throw Error::POSIXerrno();
        }
        if (result == 0)
            break;
        filled += static_cast<std::size_t>(result);
    }
    // A file that shrank while being read is judged by what was there.
    bytes.resize(filled);

    std::optional<AppleDoubleFile> file = parse(bytes);
    if (!file)
        throw damagedCompanion(name);
    return file;
}

void AppleDoubleFile::write(int directoryFd, const std::string &name) const
{
    const Data bytes = serialized();
    struct stat existing;
    // A link or other non-file in the companion's place is replaced, and lends it nothing.
    const bool replacingFile = fstatat(directoryFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(existing.st_mode);

    std::string temporary;
    FileDescriptor fd;
    for (int attempt = 0; attempt < 100 && !fd.isValid(); ++attempt) {
        temporary = temporaryName();
        OwnChanges::noteScratchFileAt(directoryFd, temporary);
        fd.reset(openat(directoryFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd.isValid() && errno != EEXIST)
            throw Error::POSIXerrno();
    }
    if (!fd.isValid())
        throw Error::posix(EEXIST);

    try {
        if (replacingFile) {
            // The rewritten companion keeps the old one's permissions and, where allowed, its owner.
            // Only the superuser may give a file away, and FAT keeps neither: failures change nothing.
            (void)!fchmod(fd.get(), existing.st_mode & 07777);
            (void)!fchown(fd.get(), existing.st_uid, existing.st_gid);
        }
        if (!writeFully(fd.get(), bytes.data(), bytes.size()) || fsync(fd.get()) != 0)
            throw Error::POSIXerrno();
        fd.reset();
        OwnChanges::noteReplacementAt(directoryFd, name);
        if (renameat(directoryFd, temporary.c_str(), directoryFd, name.c_str()) != 0)
            throw Error::POSIXerrno();
    } catch (...) {
        fd.reset();
        unlinkat(directoryFd, temporary.c_str(), 0);
        throw;
    }
    // Copies a killed rewrite left here go with this one's success.
    OwnTemporaryFiles::removeAllStaleUnlessJustDone(directoryFd);
}

std::vector<std::string> AppleDoubleFile::attributeNames() const
{
    std::vector<std::string> names;
    if (hasFinderInfo())
        names.emplace_back(finderInfoName);
    if (hasResourceFork())
        names.emplace_back(resourceForkName);
    // Names that are not UTF-8 are passed over, as they are when listed from the file system.
    for (const Attribute &attribute : m_attributes) {
        if (!isSystemAttributeName(attribute.name) && isValidUTF8(attribute.name))
            names.push_back(attribute.name);
    }
    return names;
}

std::optional<Data> AppleDoubleFile::value(const std::string &name) const
{
    if (name == finderInfoName)
        return hasFinderInfo() ? std::optional<Data>(Data(m_finderInfo.begin(), m_finderInfo.end())) : std::nullopt;
    if (name == resourceForkName)
        return hasResourceFork() ? std::optional<Data>(m_resourceFork) : std::nullopt;
    for (const Attribute &attribute : m_attributes) {
        if (attribute.name == name)
            return attribute.value;
    }
    return std::nullopt;
}

bool AppleDoubleFile::removeAttribute(const std::string &name)
{
    if (name == finderInfoName) {
        if (!hasFinderInfo())
            return false;
        m_finderInfo.fill(0);
        return true;
    }
    if (name == resourceForkName) {
        if (!hasResourceFork())
            return false;
        m_resourceFork.clear();
        return true;
    }
    return std::erase_if(m_attributes, [&](const Attribute &attribute) { return attribute.name == name; }) > 0;
}

bool AppleDoubleFile::holdsNoAttributes() const
{
    return !hasFinderInfo() && !hasResourceFork() && m_attributes.empty();
}

bool AppleDoubleFile::isSystemAttributeName(const std::string &name)
{
    return name.starts_with(systemAttributePrefix);
}

bool AppleDoubleFile::hasFinderInfo() const
{
    return std::any_of(m_finderInfo.begin(), m_finderInfo.end(), [](std::uint8_t byte) { return byte != 0; });
}

bool AppleDoubleFile::hasResourceFork() const
{
    return !m_resourceFork.empty() && !isBlankResourceFork(m_resourceFork);
}
