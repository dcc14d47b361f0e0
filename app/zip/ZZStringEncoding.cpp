#include "ZZStringEncoding.h"

namespace
{
bool isValidUTF8(const std::uint8_t *bytes, std::size_t length)
{
    std::size_t i = 0;
    while (i < length) {
        const std::uint8_t lead = bytes[i];
        std::size_t extra = 0;
        std::uint32_t codePoint = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (length - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
        }
        static const std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (codePoint < smallest[extra] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}
}

std::optional<std::string> zzDecodeString(const std::uint8_t *bytes, std::size_t length, std::uint64_t encoding)
{
    if (encoding == ZZISOLatin1StringEncoding) {
        std::string text;
        text.reserve(length);
        for (std::size_t i = 0; i < length; ++i) {
            if (bytes[i] < 0x80) {
                text.push_back(static_cast<char>(bytes[i]));
            } else {
                text.push_back(static_cast<char>(0xC0 | (bytes[i] >> 6)));
                text.push_back(static_cast<char>(0x80 | (bytes[i] & 0x3F)));
            }
        }
        return text;
    }
    if (encoding != ZZUTF8StringEncoding || !isValidUTF8(bytes, length))
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(bytes), length);
}
