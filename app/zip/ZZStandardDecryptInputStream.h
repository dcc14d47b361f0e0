#pragma once

#include <memory>
#include <string>

#include "ZZInputStream.h"
#include "ZZStandardCryptoEngine.h"

// Decrypts traditional PKWARE encryption read from its upstream.
class ZZStandardDecryptInputStream : public ZZInputStream
{
public:
    // Checks the password against the 12-byte encryption header; none with code 12 when it is wrong.
    static std::unique_ptr<ZZStandardDecryptInputStream> create(std::unique_ptr<ZZInputStream> upstream,
                                                                const std::string &password,
                                                                const std::uint8_t *header, std::uint16_t check,
                                                                std::uint8_t version, Error *error);

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t *buffer, std::uint64_t maxLength) override;
    ZZStreamStatus streamStatus() const override;
    std::optional<Error> streamError() const override;

private:
    explicit ZZStandardDecryptInputStream(std::unique_ptr<ZZInputStream> upstream);

    std::unique_ptr<ZZInputStream> m_upstream;
    ZZStreamStatus m_status = ZZStreamStatusNotOpen;
    ZZStandardCryptoEngine m_crypto;
};
