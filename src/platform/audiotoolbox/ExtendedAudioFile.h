// Extended audio file services: an audio file read or written in a client format of the caller's
// choice. Reading decodes whatever AVAudioFile reads (libsndfile or FFmpeg); writing goes to
// WAVE/AIFF/AIFC/CAF/NeXT (linear PCM, libsndfile) or to M4A/MP4/ADTS (AAC or ALAC, FFmpeg).
// Between file and client the shared PCM converter changes sample type, byte order, interleaving,
// channel count and sample rate.
//
//   ExtAudioFileRef file = nullptr;
//   if (ExtAudioFileOpenURL(url, &file) != noErr) return;
//   ExtAudioFileSetProperty(file, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client);
//   UInt32 frames = 4096; ExtAudioFileRead(file, &frames, list);  // 0 frames: the end
//   ExtAudioFileDispose(file);
#pragma once

#include "platform/audiotoolbox/AudioFile.h"
#include "platform/coreaudio/CoreAudioTypes.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <cstdint>

namespace platform {

class ExtAudioFile;  // opaque
using ExtAudioFileRef = ExtAudioFile*;
using ExtAudioFilePropertyID = uint32_t;

// AudioStreamBasicDescription (40 bytes): the data format on disk. Read only.
inline constexpr ExtAudioFilePropertyID kExtAudioFileProperty_FileDataFormat = FourCC("ffmt");
// AudioStreamBasicDescription: the linear PCM format frames are exchanged in. Read and write.
inline constexpr ExtAudioFilePropertyID kExtAudioFileProperty_ClientDataFormat = FourCC("cfmt");
// int64_t: frames in the file, in the file's sample rate (for a new file: written so far). Read only.
inline constexpr ExtAudioFilePropertyID kExtAudioFileProperty_FileLengthFrames = FourCC("#frm");

inline constexpr OSStatus kExtAudioFileError_InvalidProperty = -66561;
inline constexpr OSStatus kExtAudioFileError_InvalidPropertySize = -66562;
inline constexpr OSStatus kExtAudioFileError_NonPCMClientFormat = -66563;
inline constexpr OSStatus kExtAudioFileError_InvalidOperationOrder = -66565;
inline constexpr OSStatus kExtAudioFileError_InvalidDataFormat = -66566;
inline constexpr OSStatus kExtAudioFileError_InvalidSeek = -66568;

// Opens a file for reading. −43 for a missing file, 'typ?' for content of no known type, 'dta?'
// for damaged data; *outExtAudioFile stays null on failure. The client format starts as the file
// format when that is linear PCM, and must be set before reading compressed data.
OSStatus ExtAudioFileOpenURL(const URL& url, ExtAudioFileRef* outExtAudioFile);

// Creates a file of the given type holding `streamDesc`, whatever the URL's extension:
// 'WAVE', 'AIFF', 'AIFC', 'caff', 'NeXT' with linear PCM; 'm4af', 'mp4f' with 'aac ' or 'alac';
// 'adts' with 'aac '. Anything else is 'fmt?'. Without kAudioFileFlags_EraseFile an existing file
// is kAudioFileDuplicateFileError. `layout` may be null.
OSStatus ExtAudioFileCreateWithURL(const URL& url, AudioFileTypeID fileType, const AudioStreamBasicDescription* streamDesc,
                                   const AudioChannelLayout* layout, uint32_t flags, ExtAudioFileRef* outExtAudioFile);

// Closes the file: a new file's encoder is flushed and its trailer written. Null: −50.
OSStatus ExtAudioFileDispose(ExtAudioFileRef file);

// Reads up to *ioNumberFrames client frames into ioData, never more than its buffers' mDataByteSize
// hold, and sets *ioNumberFrames and each mDataByteSize to what was read (0 frames at the end).
// A list that does not match the client format (buffer count, channels per buffer) is −50. On
// failure *ioNumberFrames is 0.
OSStatus ExtAudioFileRead(ExtAudioFileRef file, uint32_t* ioNumberFrames, AudioBufferList* ioData);

// Appends inNumberFrames client frames from ioData (converted to the file format). A list that does
// not match the client format or holds fewer bytes than the frames need is −50.
OSStatus ExtAudioFileWrite(ExtAudioFileRef file, uint32_t inNumberFrames, const AudioBufferList* ioData);

// Moves a file open for reading to a frame, counted in the file's sample rate.
OSStatus ExtAudioFileSeek(ExtAudioFileRef file, int64_t frameOffset);
// The frame the next read starts at, counted in the file's sample rate.
OSStatus ExtAudioFileTell(ExtAudioFileRef file, int64_t* outFrameOffset);

// The size of a property's value and whether it can be set.
OSStatus ExtAudioFileGetPropertyInfo(ExtAudioFileRef file, ExtAudioFilePropertyID propertyID, uint32_t* outSize,
                                     bool* outWritable);
// Copies a property's value; *ioPropertyDataSize must be at least its size and receives it.
OSStatus ExtAudioFileGetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID propertyID, uint32_t* ioPropertyDataSize,
                                 void* outPropertyData);
// Sets a property. ClientDataFormat accepts linear PCM: signed 8/16/24/32-bit, unsigned 8-bit,
// float 32/64, either byte order, interleaved or not, any rate and channel count; else 'fmt?'.
OSStatus ExtAudioFileSetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID propertyID, uint32_t propertyDataSize,
                                 const void* propertyData);

}  // namespace platform
