#pragma once

#include <cstdint>
#include <optional>
#include <string>

// String encodings for entry names written without the UTF-8 flag (the
// platform's encoding numbers).
enum ZZStringEncoding : std::uint64_t
{
    ZZUTF8StringEncoding = 4,
    ZZISOLatin1StringEncoding = 5
};

// The bytes as UTF-8; none when they are not valid in the encoding.
std::optional<std::string> zzDecodeString(const std::uint8_t *bytes, std::size_t length, std::uint64_t encoding);
