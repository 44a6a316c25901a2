// The variable-length quantity of Standard MIDI Files: seven bits per byte, most significant first,
// ended by the first byte below 0x80.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace sonora {

struct MIDIVariableLengthQuantity {
    std::vector<uint8_t> data;
    std::pair<int64_t, uint32_t> vlqResult{0, 0};

    // (byte length, value) of the quantity at the start of the bytes. The value keeps its low 32
    // bits; the last byte ends the quantity whatever its bit 7; nothing gives (0, 0).
    static std::pair<int64_t, uint32_t> lengthOf(std::span<const uint8_t> bytes);

    // None for empty bytes.
    static std::optional<MIDIVariableLengthQuantity> fromBytes(std::span<const uint8_t> bytes);

    int64_t length() const { return vlqResult.first; }
    uint32_t quantity() const { return vlqResult.second; }
};

}  // namespace sonora
