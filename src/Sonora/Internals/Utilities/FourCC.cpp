#include "Sonora/Internals/Utilities/FourCC.h"

#include "Sonora/Internals/Utilities/Log.h"

namespace sonora {

uint32_t fourCC(std::string_view text) {
    if (text.size() != 4) {
        Log({"fourCC needs exactly 4 bytes, got", std::string(text)}, OSLog::general(), OSLogType::error);
        return 0;
    }
    uint32_t code = 0;
    for (const char c : text) code = (code << 8) | uint8_t(c);
    return code;
}

}  // namespace sonora
