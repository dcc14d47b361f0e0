#pragma once

#include <cstdint>
#include <optional>

#include "ZZBytes.h"

// The record after an entry's data when flag bit 3 is set: an optional
// signature, the CRC-32, then both sizes in 4 bytes each (8 in zip64 form).
namespace ZZDataDescriptor
{
constexpr std::uint32_t sign = 0x08074b50;

// The exact length (12, 16, 20 or 24) of the descriptor at `at` whose values are
// the given ones, read only below `limit`; the zip64 forms are tried first when
// `wideFirst`. None when no form matches.
std::optional<std::uint64_t> lengthAt(const ZZBytes &bytes, std::uint64_t at, std::uint64_t limit, std::uint32_t crc32,
                                      std::uint64_t compressedSize, std::uint64_t uncompressedSize, bool wideFirst);
}
