// The codec side of AVAudioFile: one open file read or written through a library (libsndfile or
// FFmpeg), handing out and taking non-interleaved float frames.
#pragma once

#include "platform/coreaudio/CoreAudioTypes.h"

#include <cstdint>

namespace platform::detail {

class AudioFileBackend {
public:
    virtual ~AudioFileBackend() = default;

    // The data format on disk.
    virtual AudioStreamBasicDescription fileDescription() const = 0;
    // Frames in the file: exact, and never more than reads can deliver.
    virtual int64_t length() const = 0;
    // The frame the next read or write takes.
    virtual int64_t position() const = 0;
    // Moves to a frame (0 ... length). Throws NSErrorException when the file cannot seek there.
    virtual void seek(int64_t frame) = 0;
    // Reads up to frameCount frames into one array per channel; 0 at the end. Throws on damaged data.
    virtual uint32_t read(float* const* channels, uint32_t frameCount) = 0;
    // True when readRaw() hands out the file's own bytes.
    virtual bool readsRaw() const { return false; }
    // Reads up to frameCount frames in the file's own byte layout (fileDescription(), interleaved);
    // 0 at the end. Only when readsRaw(). Throws on damaged data.
    virtual uint32_t readRaw(void* /*bytes*/, uint32_t /*frameCount*/) { return 0; }
    // Writes frameCount frames from one array per channel. Throws on failure.
    virtual void write(const float* const* channels, uint32_t frameCount) = 0;
    // Writes frameCount frames already in the file's own byte layout (fileDescription(), interleaved).
    // False when this file takes no such writes; throws on failure.
    virtual bool writeRaw(const void* /*bytes*/, uint32_t /*frameCount*/) { return false; }
    // Flushes and releases the file; later calls are not made.
    virtual void close() = 0;
    // Lets close() leave the written data to the system's own write-back rather than wait for it
    // to reach the disk: for outputs that a crash may lose.
    virtual void skipSyncOnClose() {}
};

}  // namespace platform::detail
