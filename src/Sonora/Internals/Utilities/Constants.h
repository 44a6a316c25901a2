// Constants shared by the audio layer.
#pragma once

#include <cstdint>

namespace sonora {

// MIDI status bytes of a note-on and a note-off on channel 0.
inline constexpr uint8_t noteOnByte = 0x90;
inline constexpr uint8_t noteOffByte = 0x80;

// Flags of a node parameter: readable, writable and able to ramp.
inline constexpr uint32_t nodeParameterDefaultFlags = 0xC2000000;

}  // namespace sonora
