// The record that names an audio unit: type, sub-type and manufacturer codes, and flags.
#pragma once

#include "platform/coreaudio/CoreAudioTypes.h"

#include <cstdint>

namespace platform {

using OSType = uint32_t;

struct AudioComponentDescription {
    OSType componentType = 0;
    OSType componentSubType = 0;
    OSType componentManufacturer = 0;
    uint32_t componentFlags = 0;
    uint32_t componentFlagsMask = 0;

    bool operator==(const AudioComponentDescription&) const = default;
};

inline constexpr OSType kAudioUnitType_Output = FourCC("auou");
inline constexpr OSType kAudioUnitType_MusicDevice = FourCC("aumu");
inline constexpr OSType kAudioUnitType_MusicEffect = FourCC("aumf");
inline constexpr OSType kAudioUnitType_FormatConverter = FourCC("aufc");
inline constexpr OSType kAudioUnitType_Effect = FourCC("aufx");
inline constexpr OSType kAudioUnitType_Mixer = FourCC("aumx");
inline constexpr OSType kAudioUnitType_Panner = FourCC("aupn");
inline constexpr OSType kAudioUnitType_Generator = FourCC("augn");
inline constexpr OSType kAudioUnitManufacturer_Apple = FourCC("appl");
inline constexpr OSType kAudioUnitSubType_Sampler = FourCC("samp");
inline constexpr OSType kAudioUnitSubType_MultiChannelMixer = FourCC("mcmx");
inline constexpr OSType kAudioUnitSubType_GenericOutput = FourCC("genr");
inline constexpr OSType kAudioUnitSubType_HALOutput = FourCC("ahal");
inline constexpr uint32_t kAudioComponentFlag_SandboxSafe = 2;

namespace detail {
// The description of one of our built-in effects: 'aufx', 'appl' and the sub-type.
inline constexpr AudioComponentDescription effectDescription(OSType subType) {
    return {kAudioUnitType_Effect, subType, kAudioUnitManufacturer_Apple, 0, 0};
}
}  // namespace detail

}  // namespace platform
