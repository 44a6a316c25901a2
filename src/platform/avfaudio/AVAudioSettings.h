// The settings dictionary of an audio format or file: AV...Key names to numeric values.
#pragma once

#include <map>
#include <string>

namespace platform {

using AVAudioSettings = std::map<std::string, double>;

inline constexpr const char* AVFormatIDKey = "AVFormatIDKey";                       // four-char code
inline constexpr const char* AVSampleRateKey = "AVSampleRateKey";                   // Hz
inline constexpr const char* AVNumberOfChannelsKey = "AVNumberOfChannelsKey";
inline constexpr const char* AVLinearPCMBitDepthKey = "AVLinearPCMBitDepthKey";     // 8, 16, 24, 32, 64
inline constexpr const char* AVLinearPCMIsFloatKey = "AVLinearPCMIsFloatKey";       // 0 / 1
inline constexpr const char* AVLinearPCMIsBigEndianKey = "AVLinearPCMIsBigEndianKey";
inline constexpr const char* AVLinearPCMIsNonInterleaved = "AVLinearPCMIsNonInterleaved";
inline constexpr const char* AVEncoderBitRateKey = "AVEncoderBitRateKey";           // bit/s
inline constexpr const char* AVEncoderAudioQualityKey = "AVEncoderAudioQualityKey";
inline constexpr const char* AVEncoderBitDepthHintKey = "AVEncoderBitDepthHintKey";
inline constexpr const char* AVSampleRateConverterAudioQualityKey = "AVSampleRateConverterAudioQualityKey";

}  // namespace platform
