#pragma once

#include <cstdint>

#include "TallowExport.h"
#include "Value.h"

// Append a value's bytes to data, least significant byte first.
TALLOW_EXPORT void appendUInt32(Data &data, std::uint32_t value);
TALLOW_EXPORT void appendUInt16(Data &data, std::uint16_t value);
TALLOW_EXPORT void appendUInt8(Data &data, std::uint8_t value);
