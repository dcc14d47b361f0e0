#include "ZZStandardCryptoEngine.h"

#include <zlib.h>

namespace
{
std::uint32_t crc32Byte(std::uint32_t crc, std::uint8_t byte)
{
    static const z_crc_t *table = get_crc_table();
    return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}
}

void ZZStandardCryptoEngine::initKeys(const std::string &password)
{
    m_keys[0] = 0x12345678;
    m_keys[1] = 0x23456789;
    m_keys[2] = 0x34567890;
    for (const char c : password)
        updateKeys(static_cast<std::uint8_t>(c));
}

void ZZStandardCryptoEngine::updateKeys(std::uint8_t plain)
{
    m_keys[0] = crc32Byte(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = crc32Byte(m_keys[2], static_cast<std::uint8_t>(m_keys[1] >> 24));
}

std::uint8_t ZZStandardCryptoEngine::decryptByte() const
{
    const std::uint32_t temp = (m_keys[2] & 0xFFFF) | 2;
    return static_cast<std::uint8_t>((temp * (temp ^ 1)) >> 8);
}

std::uint8_t ZZStandardCryptoEngine::decrypt(std::uint8_t cipher)
{
    const std::uint8_t plain = cipher ^ decryptByte();
    updateKeys(plain);
    return plain;
}
