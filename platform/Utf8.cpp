#include "Utf8.h"

#include <unicode/utf8.h>

bool isValidUTF8(std::string_view bytes)
{
    const char *data = bytes.data();
    const auto length = static_cast<std::int32_t>(bytes.size());
    if (static_cast<std::size_t>(length) != bytes.size())
        return false;
    std::int32_t offset = 0;
    while (offset < length) {
        UChar32 c = 0;
        U8_NEXT(data, offset, length, c);
        if (c < 0)
            return false;
    }
    return true;
}
