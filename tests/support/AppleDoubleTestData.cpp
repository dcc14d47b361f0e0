#include "AppleDoubleTestData.h"

#include <algorithm>

namespace
{
void put32(std::string &bytes, std::size_t offset, std::uint32_t value)
{
    bytes[offset] = char(value >> 24);
    bytes[offset + 1] = char(value >> 16);
    bytes[offset + 2] = char(value >> 8);
    bytes[offset + 3] = char(value);
}

void put16(std::string &bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = char(value >> 8);
    bytes[offset + 1] = char(value);
}
}

namespace AppleDoubleTestData
{
FinderInfoBytes finderInfo(const std::string &type, const std::string &creator, std::uint16_t flags)
{
    FinderInfoBytes bytes {};
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(type[i]);
        bytes[4 + i] = static_cast<std::uint8_t>(creator[i]);
    }
    bytes[8] = static_cast<std::uint8_t>(flags >> 8);
    bytes[9] = static_cast<std::uint8_t>(flags);
    return bytes;
}

std::string blankResourceFork()
{
    std::string fork(286, '\0');
    put32(fork, 0, 0x100);
    put32(fork, 4, 0x100);
    put32(fork, 8, 0);
    put32(fork, 12, 0x1E);
    const std::string text = "This resource fork intentionally left blank   ";
    fork.replace(16, text.size(), text);
    put32(fork, 256, 0x100);
    put32(fork, 260, 0x100);
    put32(fork, 268, 0x1E);
    put16(fork, 280, 0x1E);
    put16(fork, 282, 0xFFFF);
    return fork;
}

std::string companion(const FinderInfoBytes &finderInfo, const std::vector<Attribute> &attributes,
                      const std::string &resourceFork)
{
    const std::size_t attributeHeader = 0x54;
    std::size_t entries = attributeHeader + 36;
    std::size_t dataStart = entries;
    std::size_t dataLength = 0;
    for (const Attribute &attribute : attributes) {
        dataStart += (11 + attribute.name.size() + 1 + 3) & ~std::size_t(3);
        dataLength += attribute.value.size();
    }
    const std::size_t resourceForkOffset = std::max<std::size_t>(0xEE2, dataStart + dataLength);

    std::string bytes(resourceForkOffset, '\0');
    put32(bytes, 0, 0x00051607);
    put32(bytes, 4, 0x00020000);
    bytes.replace(8, 16, "Mac OS X        ");
    put16(bytes, 24, 2);
    put32(bytes, 26, 9);
    put32(bytes, 30, 0x32);
    put32(bytes, 34, static_cast<std::uint32_t>(resourceForkOffset - 0x32));
    put32(bytes, 38, 2);
    put32(bytes, 42, static_cast<std::uint32_t>(resourceForkOffset));
    put32(bytes, 46, static_cast<std::uint32_t>(resourceFork.size()));
    for (std::size_t i = 0; i < finderInfo.size(); ++i)
        bytes[0x32 + i] = char(finderInfo[i]);

    bytes.replace(attributeHeader, 4, "ATTR");
    put32(bytes, attributeHeader + 4, 0x1234);
    put32(bytes, attributeHeader + 8, static_cast<std::uint32_t>(resourceForkOffset));
    put32(bytes, attributeHeader + 12, static_cast<std::uint32_t>(dataStart));
    put32(bytes, attributeHeader + 16, static_cast<std::uint32_t>(dataLength));
    put16(bytes, attributeHeader + 34, static_cast<std::uint16_t>(attributes.size()));

    std::size_t value = dataStart;
    for (const Attribute &attribute : attributes) {
        put32(bytes, entries, static_cast<std::uint32_t>(value));
        put32(bytes, entries + 4, static_cast<std::uint32_t>(attribute.value.size()));
        bytes[entries + 10] = char(attribute.name.size() + 1);
        bytes.replace(entries + 11, attribute.name.size(), attribute.name);
        bytes.replace(value, attribute.value.size(), attribute.value);
        entries += (11 + attribute.name.size() + 1 + 3) & ~std::size_t(3);
        value += attribute.value.size();
    }
    return bytes + resourceFork;
}

std::uint32_t bigEndian32(const std::string &bytes, std::size_t offset)
{
    return (std::uint32_t(std::uint8_t(bytes[offset])) << 24) | (std::uint32_t(std::uint8_t(bytes[offset + 1])) << 16)
        | (std::uint32_t(std::uint8_t(bytes[offset + 2])) << 8) | std::uint8_t(bytes[offset + 3]);
}
}
