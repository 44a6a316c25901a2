#include "Sonora/Internals/Utilities/ObjectAddress.h"

#include <cinttypes>
#include <cstdio>

namespace sonora {

std::string objectAddressString(const void* object) {
    // Spelled out rather than "%018p": the C library prints a null pointer as "(nil)".
    char text[32];
    std::snprintf(text, sizeof text, "0x%016" PRIxPTR, reinterpret_cast<uintptr_t>(object));
    return text;
}

}  // namespace sonora
