#include "ZZExtraField.h"

#include "ZZLittleEndian.h"

std::optional<ZZExtraField::Block> ZZExtraField::find(const std::uint8_t *field, std::uint16_t length, std::uint16_t id)
{
    std::uint32_t at = 0;
    while (at + 4 <= length) {
        const std::uint16_t blockId = zzRead16(field + at);
        const std::uint16_t size = zzRead16(field + at + 2);
        if (at + 4 + size > length)
            return std::nullopt;
        if (blockId == id)
            return Block{field + at + 4, size};
        at += 4 + size;
    }
    return std::nullopt;
}

bool ZZExtraField::hasBlock(const std::uint8_t *field, std::uint16_t length, std::uint16_t id)
{
    std::uint32_t at = 0;
    while (at + 4 <= length) {
        if (zzRead16(field + at) == id)
            return true;
        at += 4 + zzRead16(field + at + 2);
    }
    return false;
}

std::optional<ZZWinZipAESExtra> ZZWinZipAESExtra::find(const std::uint8_t *field, std::uint16_t length)
{
    const auto block = ZZExtraField::find(field, length, ZZExtraField::winZipAESId);
    if (!block || block->size < 7)
        return std::nullopt;
    ZZWinZipAESExtra extra;
    extra.vendorVersion = zzRead16(block->data);
    extra.strength = block->data[4];
    extra.compressionMethod = zzRead16(block->data + 5);
    return extra;
}
