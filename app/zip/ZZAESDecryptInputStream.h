#pragma once

#include <memory>
#include <string>

#include "ZZBytes.h"
#include "ZZInputStream.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;

// Decrypts WinZip AES (counter mode, little-endian counter) read from its
// upstream, and checks the trailing authentication code when the data ends.
class ZZAESDecryptInputStream : public ZZInputStream
{
public:
    static constexpr std::uint64_t authenticationCodeLength = 10;
    static std::uint64_t saltLength(std::uint8_t strength);

    // `header` holds the salt and the 2-byte password verifier; `authenticationCode`
    // the 10 bytes after the data. None with code 12 for a wrong password.
    static std::unique_ptr<ZZAESDecryptInputStream> create(std::unique_ptr<ZZInputStream> upstream,
                                                           const std::string &password, const std::uint8_t *header,
                                                           std::uint8_t strength, ZZBytes authenticationCode,
                                                           Error *error);
    ~ZZAESDecryptInputStream() override;
    ZZAESDecryptInputStream(const ZZAESDecryptInputStream &) = delete;
    ZZAESDecryptInputStream &operator=(const ZZAESDecryptInputStream &) = delete;

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t *buffer, std::uint64_t maxLength) override;
    ZZStreamStatus streamStatus() const override;
    std::optional<Error> streamError() const override;

private:
    explicit ZZAESDecryptInputStream(std::unique_ptr<ZZInputStream> upstream);
    std::int64_t fail(Error error);

    std::unique_ptr<ZZInputStream> m_upstream;
    ZZStreamStatus m_status = ZZStreamStatusNotOpen;
    std::optional<Error> m_error;
    std::uint32_t m_counterNonce[4] = {0, 0, 0, 0};
    std::uint8_t m_keystream[16] = {};
    std::uint64_t m_keystreamPos = 16;
    EVP_CIPHER_CTX *m_aes = nullptr;
    EVP_MAC_CTX *m_authentication = nullptr;
    ZZBytes m_authenticationCode;
};
