#include "platform/foundation/MD5.h"

#include <openssl/evp.h>

#include <memory>

namespace platform {

MD5Digest MD5(const void* data, size_t size) {
    MD5Digest digest{};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned int length = 0;
    static const unsigned char kNothing = 0;
    // EVP does not accept a null pointer even for zero bytes.
    const void* bytes = data ? data : &kNothing;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes, size) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        // MD5 is built into every OpenSSL we link; a failure here means a broken library.
        return MD5Digest{};
    }
    return digest;
}

std::string hexString(const MD5Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

}  // namespace platform
