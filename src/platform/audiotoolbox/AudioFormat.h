// Audio format services: questions about formats that need no file, such as completing a partial
// stream description.
#pragma once

#include "platform/coreaudio/CoreAudioTypes.h"
#include "platform/foundation/NSError.h"

#include <cstdint>

namespace platform {

using AudioFormatPropertyID = uint32_t;

// In/out: a stream description with at least the format ID (and for linear PCM the bits, flags and
// channels) set; the call fills in what follows from those. The specifier (a magic cookie) may be
// null.
inline constexpr AudioFormatPropertyID kAudioFormatProperty_FormatInfo = FourCC("fmti");

inline constexpr OSStatus kAudioFormatUnspecifiedError = FourCC("what");
inline constexpr OSStatus kAudioFormatUnsupportedPropertyError = FourCC("prop");
inline constexpr OSStatus kAudioFormatBadPropertySizeError = FourCC("!siz");
inline constexpr OSStatus kAudioFormatUnsupportedDataFormatError = FourCC("fmt?");
inline constexpr OSStatus kAudioFormatUnknownFormatError = FourCC("!fmt");

// FormatInfo: 'aac ' gets 1024 frames per packet, '.mp3' 1152, 'alac' 4096 (all with 0 bytes per
// packet and frame, 0 bits); 'lpcm' gets 1 frame per packet and the byte sizes its bits, channels
// and interleaving give. Other format IDs: kAudioFormatUnsupportedDataFormatError. A size other than
// 40 bytes: kAudioFormatBadPropertySizeError. Other properties: kAudioFormatUnsupportedPropertyError.
OSStatus AudioFormatGetProperty(AudioFormatPropertyID propertyID, uint32_t specifierSize, const void* specifier,
                                uint32_t* ioPropertyDataSize, void* outPropertyData);

}  // namespace platform
