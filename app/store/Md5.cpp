#include "Md5.h"

#include <cstring>
#include <memory>
#include <openssl/evp.h>
#include <stdexcept>

std::string md5(const std::string &string)
{
    // The C string form: an embedded NUL ends what is hashed.
    const std::size_t length = std::strlen(string.c_str());

    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1
        || EVP_DigestUpdate(context.get(), string.data(), length) != 1
        || EVP_DigestFinal_ex(context.get(), digest, &digestLength) != 1)
        throw std::runtime_error("MD5 is not available from libcrypto");

    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(digestLength * 2);
    for (unsigned int i = 0; i < digestLength; ++i) {
        hex.push_back(hexDigits[digest[i] >> 4]);
        hex.push_back(hexDigits[digest[i] & 0x0f]);
    }
    return hex;
}
