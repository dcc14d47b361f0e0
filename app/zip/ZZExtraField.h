#pragma once

#include <cstdint>
#include <optional>

// Extra-field blocks: header id (2), data size (2), data.
namespace ZZExtraField
{
constexpr std::uint16_t winZipAESId = 0x9901;
constexpr std::uint16_t zip64Id = 0x0001;

struct Block
{
    const std::uint8_t *data;
    std::uint16_t size;
};

// Whether a block with the id begins inside the field (its data may run past it).
bool hasBlock(const std::uint8_t *field, std::uint16_t length, std::uint16_t id);
// The first block with the id whose header and data lie wholly inside the field.
std::optional<Block> find(const std::uint8_t *field, std::uint16_t length, std::uint16_t id);
}

// The WinZip-AES block's contents: vendor version (1 = AE-1, 2 = AE-2), key
// strength (1-3) and the actual compression method.
struct ZZWinZipAESExtra
{
    std::uint16_t vendorVersion = 0;
    std::uint8_t strength = 0;
    std::uint16_t compressionMethod = 0;

    static std::optional<ZZWinZipAESExtra> find(const std::uint8_t *field, std::uint16_t length);
};
