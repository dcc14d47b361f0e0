#include "DataAppend.h"

void appendUInt32(Data &data, std::uint32_t value)
{
    appendUInt16(data, static_cast<std::uint16_t>(value));
    appendUInt16(data, static_cast<std::uint16_t>(value >> 16));
}

void appendUInt16(Data &data, std::uint16_t value)
{
    appendUInt8(data, static_cast<std::uint8_t>(value));
    appendUInt8(data, static_cast<std::uint8_t>(value >> 8));
}

void appendUInt8(Data &data, std::uint8_t value)
{
    data.push_back(value);
}
