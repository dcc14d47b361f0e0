#include "ZZAESDecryptInputStream.h"

#include <cstring>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <vector>

#include "ZZError.h"
#include "ZZLittleEndian.h"

namespace
{
std::uint64_t keyLength(std::uint8_t strength)
{
    return 8u + 8u * strength;
}

const EVP_CIPHER *cipherFor(std::uint8_t strength)
{
    switch (strength) {
    case 1: return EVP_aes_128_ecb();
    case 2: return EVP_aes_192_ecb();
    default: return EVP_aes_256_ecb();
    }
}
}

std::uint64_t ZZAESDecryptInputStream::saltLength(std::uint8_t strength)
{
    return 4u + 4u * strength;
}

ZZAESDecryptInputStream::ZZAESDecryptInputStream(std::unique_ptr<ZZInputStream> upstream)
    : m_upstream(std::move(upstream))
{
}

ZZAESDecryptInputStream::~ZZAESDecryptInputStream()
{
    EVP_CIPHER_CTX_free(m_aes);
    EVP_MAC_CTX_free(m_authentication);
}

std::unique_ptr<ZZAESDecryptInputStream> ZZAESDecryptInputStream::create(
    std::unique_ptr<ZZInputStream> upstream, const std::string &password, const std::uint8_t *header,
    std::uint8_t strength, ZZBytes authenticationCode, Error *error)
{
    if (strength < 1 || strength > 3 || authenticationCode.size != authenticationCodeLength) {
        zzFail(error, zzError(ZZUnsupportedEncryptionMethod));
        return nullptr;
    }
    const std::uint64_t keySize = keyLength(strength);
    const std::uint64_t salt = saltLength(strength);
    std::vector<std::uint8_t> derived(2 * keySize + 2);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), header, static_cast<int>(salt), 1000,
                          EVP_sha1(), static_cast<int>(derived.size()), derived.data()) != 1) {
        zzFail(error, zzError(ZZUnsupportedEncryptionMethod));
        return nullptr;
    }
    if (std::memcmp(derived.data() + 2 * keySize, header + salt, 2) != 0) {
        zzFail(error, zzError(ZZWrongPassword));
        return nullptr;
    }
    std::unique_ptr<ZZAESDecryptInputStream> stream(new ZZAESDecryptInputStream(std::move(upstream)));
    stream->m_authenticationCode = std::move(authenticationCode);
    stream->m_aes = EVP_CIPHER_CTX_new();
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (mac)
        stream->m_authentication = EVP_MAC_CTX_new(mac);
    EVP_MAC_free(mac);
    char digest[] = "SHA1";
    const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
    const bool ready = stream->m_aes && stream->m_authentication
        && EVP_EncryptInit_ex(stream->m_aes, cipherFor(strength), nullptr, derived.data(), nullptr) == 1
        && EVP_CIPHER_CTX_set_padding(stream->m_aes, 0) == 1
        && EVP_MAC_init(stream->m_authentication, derived.data() + keySize, keySize, parameters) == 1;
    OPENSSL_cleanse(derived.data(), derived.size());
    if (!ready) {
        zzFail(error, zzError(ZZUnsupportedEncryptionMethod));
        return nullptr;
    }
    return stream;
}

void ZZAESDecryptInputStream::open()
{
    m_upstream->open();
    m_status = ZZStreamStatusOpen;
}

void ZZAESDecryptInputStream::close()
{
    m_upstream->close();
    m_status = ZZStreamStatusClosed;
}

std::int64_t ZZAESDecryptInputStream::read(std::uint8_t *buffer, std::uint64_t maxLength)
{
    if (m_status == ZZStreamStatusError)
        return -1;
    const std::int64_t count = m_upstream->read(buffer, maxLength);
    if (count < 0)
        return fail(m_upstream->streamError().value_or(zzError(ZZInvalidCRChecksum)));
    if (count == 0) {
        if (m_status == ZZStreamStatusOpen) {
            std::uint8_t code[EVP_MAX_MD_SIZE];
            std::size_t codeLength = 0;
            if (EVP_MAC_final(m_authentication, code, &codeLength, sizeof code) != 1
                || codeLength < authenticationCodeLength
                || CRYPTO_memcmp(code, m_authenticationCode.data, authenticationCodeLength) != 0)
                return fail(zzError(ZZInvalidCRChecksum));
            m_status = ZZStreamStatusAtEnd;
        }
        return 0;
    }
    if (EVP_MAC_update(m_authentication, buffer, static_cast<std::size_t>(count)) != 1)
        return fail(zzError(ZZInvalidCRChecksum));
    for (std::int64_t i = 0; i < count; ++i) {
        if (m_keystreamPos == 16) {
            ++m_counterNonce[0];
            std::uint8_t block[16];
            for (int word = 0; word < 4; ++word)
                zzWrite32(block + 4 * word, m_counterNonce[word]);
            int produced = 0;
            if (EVP_EncryptUpdate(m_aes, m_keystream, &produced, block, 16) != 1 || produced != 16)
                return fail(zzError(ZZInvalidCRChecksum));
            m_keystreamPos = 0;
        }
        buffer[i] ^= m_keystream[m_keystreamPos++];
    }
    return count;
}

ZZStreamStatus ZZAESDecryptInputStream::streamStatus() const
{
    return m_status;
}

std::optional<Error> ZZAESDecryptInputStream::streamError() const
{
    return m_error;
}

std::int64_t ZZAESDecryptInputStream::fail(Error error)
{
    m_status = ZZStreamStatusError;
    m_error = std::move(error);
    return -1;
}
