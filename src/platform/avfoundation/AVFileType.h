// The file types a media writer can produce, named by their type identifiers.
#pragma once

#include <string>

namespace platform {

using AVFileType = std::string;

inline const AVFileType AVFileTypeAppleM4A = "com.apple.m4a-audio";          // AAC in MPEG-4 (ipod muxer)
inline const AVFileType AVFileTypeWAVE = "com.microsoft.waveform-audio";
inline const AVFileType AVFileTypeAIFF = "public.aiff-audio";
inline const AVFileType AVFileTypeAIFC = "public.aifc-audio";
inline const AVFileType AVFileTypeCoreAudioFormat = "com.apple.coreaudio-format";

}  // namespace platform
