#pragma once

#include <cstdint>

// Zip records are little-endian and unaligned.
std::uint16_t zzRead16(const std::uint8_t *at);
std::uint32_t zzRead32(const std::uint8_t *at);
std::uint64_t zzRead64(const std::uint8_t *at);
void zzWrite16(std::uint8_t *at, std::uint16_t value);
void zzWrite32(std::uint8_t *at, std::uint32_t value);
