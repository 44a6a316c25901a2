// The platform's plain C audio types: stream descriptions, buffer lists and format codes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using AudioFormatID = uint32_t;
using AudioFormatFlags = uint32_t;

constexpr uint32_t FourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
           uint32_t(uint8_t(s[3]));
}

inline constexpr AudioFormatID kAudioFormatLinearPCM = FourCC("lpcm");
inline constexpr AudioFormatID kAudioFormatMPEG4AAC = FourCC("aac ");
inline constexpr AudioFormatID kAudioFormatMPEGLayer3 = FourCC(".mp3");
inline constexpr AudioFormatID kAudioFormatAppleLossless = FourCC("alac");
inline constexpr AudioFormatID kAudioFormatFLAC = FourCC("flac");
inline constexpr AudioFormatID kAudioFormatOpus = FourCC("opus");

inline constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 1u << 1;
inline constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 1u << 2;
inline constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 1u << 3;
inline constexpr AudioFormatFlags kAudioFormatFlagIsAlignedHigh = 1u << 4;
inline constexpr AudioFormatFlags kAudioFormatFlagIsNonInterleaved = 1u << 5;
inline constexpr AudioFormatFlags kAudioFormatFlagIsNonMixable = 1u << 6;
inline constexpr AudioFormatFlags kLinearPCMFormatFlagIsFloat = kAudioFormatFlagIsFloat;
inline constexpr AudioFormatFlags kLinearPCMFormatFlagIsBigEndian = kAudioFormatFlagIsBigEndian;
inline constexpr AudioFormatFlags kLinearPCMFormatFlagIsSignedInteger = kAudioFormatFlagIsSignedInteger;
inline constexpr AudioFormatFlags kLinearPCMFormatFlagIsPacked = kAudioFormatFlagIsPacked;
inline constexpr AudioFormatFlags kLinearPCMFormatFlagIsNonInterleaved = kAudioFormatFlagIsNonInterleaved;
inline constexpr AudioFormatFlags kAudioFormatFlagsNativeFloatPacked = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;

// The 40-byte description of an audio stream.
struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    AudioFormatID mFormatID = 0;
    AudioFormatFlags mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

struct AudioBuffer {
    uint32_t mNumberChannels = 0;
    uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

// A variable-length list: mBuffers holds mNumberBuffers entries (allocate with AudioBufferListSize).
struct AudioBufferList {
    uint32_t mNumberBuffers = 0;
    AudioBuffer mBuffers[1];
};

constexpr size_t AudioBufferListSize(uint32_t numberBuffers) {
    return offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * (numberBuffers ? numberBuffers : 1);
}

using AVAudioFrameCount = uint32_t;
using AVAudioFramePosition = int64_t;
using AVAudioChannelCount = uint32_t;
using AVAudioPacketCount = uint32_t;

}  // namespace platform
