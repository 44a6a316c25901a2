// Four-character codes ('aumu', 'lpcm', ...) from their text.
#pragma once

#include <cstdint>
#include <string_view>

namespace sonora {

// The 4 bytes of the text as a big-endian number, first byte most significant. A text that is
// not exactly 4 bytes long is logged as an error and gives 0.
uint32_t fourCC(std::string_view text);

}  // namespace sonora
