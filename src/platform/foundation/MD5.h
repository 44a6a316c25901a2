// MD5 digests, the platform's Insecure.MD5: for fingerprints, never for security.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using MD5Digest = std::array<uint8_t, 16>;

// The MD5 digest of `size` bytes at `data` (data may be null when size is 0).
MD5Digest MD5(const void* data, size_t size);

// The digest as 32 lower-case hexadecimal digits.
std::string hexString(const MD5Digest& digest);

}  // namespace platform
