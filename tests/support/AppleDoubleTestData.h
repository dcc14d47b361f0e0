#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Companions laid out byte by byte as a Mac writes them on a FAT disk, for tests of the
// attribute layer: 4096 bytes when the attributes fit, Finder info entry at 0x32, the
// attribute header at 0x54, the resource fork last.
namespace AppleDoubleTestData
{
struct Attribute
{
    std::string name;
    std::string value;
};

using FinderInfoBytes = std::array<std::uint8_t, 32>;

// Finder info of a file with the given type and creator codes and Finder flags.
FinderInfoBytes finderInfo(const std::string &type, const std::string &creator, std::uint16_t flags);
// The 286-byte resource fork a Mac writes when a file has none.
std::string blankResourceFork();
std::string companion(const FinderInfoBytes &finderInfo, const std::vector<Attribute> &attributes,
                      const std::string &resourceFork = blankResourceFork());

std::uint32_t bigEndian32(const std::string &bytes, std::size_t offset);
}
