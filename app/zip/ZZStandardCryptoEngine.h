#pragma once

#include <cstdint>
#include <string>

// The traditional PKWARE cipher: three keys stirred by each plain byte.
class ZZStandardCryptoEngine
{
public:
    void initKeys(const std::string &password);
    void updateKeys(std::uint8_t plain);
    std::uint8_t decryptByte() const;
    // Decrypts one byte and stirs the keys with the result.
    std::uint8_t decrypt(std::uint8_t cipher);

private:
    std::uint32_t m_keys[3] = {0, 0, 0};
};
