// Audio file services: the file type codes, the creation flags and the channel layout a new file
// can be given.
#pragma once

#include "platform/coreaudio/CoreAudioTypes.h"
#include "platform/foundation/NSError.h"

#include <cstdint>

namespace platform {

using AudioFileTypeID = uint32_t;
using AudioFileFlags = uint32_t;

inline constexpr AudioFileTypeID kAudioFileWAVEType = FourCC("WAVE");
inline constexpr AudioFileTypeID kAudioFileAIFFType = FourCC("AIFF");
inline constexpr AudioFileTypeID kAudioFileAIFCType = FourCC("AIFC");
inline constexpr AudioFileTypeID kAudioFileCAFType = FourCC("caff");
inline constexpr AudioFileTypeID kAudioFileNextType = FourCC("NeXT");
inline constexpr AudioFileTypeID kAudioFileMPEG4Type = FourCC("mp4f");
inline constexpr AudioFileTypeID kAudioFileM4AType = FourCC("m4af");
inline constexpr AudioFileTypeID kAudioFileAAC_ADTSType = FourCC("adts");
inline constexpr AudioFileTypeID kAudioFileMP3Type = FourCC("MPG3");

// Replace an existing file instead of failing.
inline constexpr AudioFileFlags kAudioFileFlags_EraseFile = 1;
inline constexpr AudioFileFlags kAudioFileFlags_DontPageAlignAudioData = 2;

// A file is in the way and the erase flag was not given (the platform's dupFNErr).
inline constexpr OSStatus kAudioFileDuplicateFileError = -48;

// The channel layout of a file. New files take the default layout of their channel count; the
// layout argument is accepted and not otherwise used.
struct AudioChannelLayout {
    uint32_t mChannelLayoutTag = 0;
    uint32_t mChannelBitmap = 0;
    uint32_t mNumberChannelDescriptions = 0;
};

}  // namespace platform
