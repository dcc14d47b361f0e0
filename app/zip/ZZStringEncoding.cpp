#include "ZZStringEncoding.h"

#include "Utf8.h"

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
    if (encoding != ZZUTF8StringEncoding || !isValidUTF8(std::string_view(reinterpret_cast<const char *>(bytes), length)))
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(bytes), length);
}
