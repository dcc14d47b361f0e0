#include "ZZDataDescriptor.h"

#include "ZZLittleEndian.h"

std::optional<std::uint64_t> ZZDataDescriptor::lengthAt(const ZZBytes &bytes, std::uint64_t at, std::uint64_t limit,
                                                        std::uint32_t crc32, std::uint64_t compressedSize,
                                                        std::uint64_t uncompressedSize, bool wideFirst)
{
    if (limit > bytes.size)
        limit = bytes.size;
    const auto matches = [&](std::uint64_t start, bool wide) -> bool {
        const std::uint64_t length = 4 + (wide ? 16 : 8);
        if (start > limit || limit - start < length)
            return false;
        const std::uint8_t *p = bytes.data + start;
        if (zzRead32(p) != crc32)
            return false;
        if (wide)
            return zzRead64(p + 4) == compressedSize && zzRead64(p + 12) == uncompressedSize;
        return zzRead32(p + 4) == compressedSize && zzRead32(p + 8) == uncompressedSize;
    };
    const bool signature = at <= limit && limit - at >= 4 && zzRead32(bytes.data + at) == sign;
    for (const bool wide : {wideFirst, !wideFirst}) {
        if (signature && matches(at + 4, wide))
            return (wide ? 20 : 12) + 4;
        if (matches(at, wide))
            return wide ? 20 : 12;
    }
    return std::nullopt;
}
