// An audio file open for reading or for writing, handing out and taking frames in its processing
// format (Float32, non-interleaved, at the file's rate and channel count).
//
// Reading detects the format by content: WAV, AIFF/AIFC, CAF, FLAC, Ogg, AU and W64 through
// libsndfile, everything else (MP3, AAC/M4A/MP4/MOV, ALAC, ...) through FFmpeg. The length is exact
// in frames: encoder delay and padding are trimmed.
// Writing picks the container from the extension (caf, wav, aif/aiff, aifc; none or unknown: CAF)
// and the sample type from the settings; the header on disk is valid after every write.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <memory>
#include <vector>

namespace platform {

namespace detail {
class AudioFileBackend;
}

class AVAudioFile {
public:
    // What a file opened for reading may state; anything else is refused as damaged.
    static constexpr double kMinimumSampleRate = 1;
    static constexpr double kMaximumSampleRate = 1536000;
    static constexpr uint32_t kMaximumChannels = 256;

    // init(forReading:). Throws NSErrorException for a missing, unreadable or damaged file.
    static std::shared_ptr<AVAudioFile> forReading(const URL& url);

    // init(forWriting:settings:). Replaces an existing file. Throws NSErrorException when the file
    // cannot be created or the settings describe no writable format.
    static std::shared_ptr<AVAudioFile> forWriting(const URL& url, const AVAudioSettings& settings);
    // init(forWriting:settings:commonFormat:interleaved:): the processing format is Float32 (the only
    // common format offered here; others are refused) and interleaved or not as asked.
    static std::shared_ptr<AVAudioFile> forWriting(const URL& url, const AVAudioSettings& settings,
                                                   AVAudioCommonFormat commonFormat, bool interleaved);

    ~AVAudioFile();
    AVAudioFile(const AVAudioFile&) = delete;
    AVAudioFile& operator=(const AVAudioFile&) = delete;

    const URL& url() const { return url_; }
    // The data format on disk. Compressed data: commonFormat otherFormat, 0 bits per channel.
    const AVAudioFormat& fileFormat() const { return fileFormat_; }
    // Float32, non-interleaved, at the file's rate and channel count.
    const AVAudioFormat& processingFormat() const { return processingFormat_; }
    // Frames in the file (for a file open for writing: frames written so far).
    AVAudioFramePosition length() const;
    // The next frame to read or write. Setting it seeks frame-accurately; it costs nothing when the
    // position does not change.
    AVAudioFramePosition framePosition() const { return framePosition_; }
    void setFramePosition(AVAudioFramePosition position);

    // read(into:) / read(into:frameCount:): fills the buffer from frame 0 with up to its capacity (or
    // frameCount) frames, sets its frameLength and advances. At the end: success with 0 frames.
    // Throws NSErrorException on a damaged file, a buffer in another format, or a file open for writing.
    void read(AVAudioPCMBuffer& buffer);
    void read(AVAudioPCMBuffer& buffer, AVAudioFrameCount frameCount);

    // Integer PCM files read by their own bytes: readRaw() fills `bytes` with up to `frameCount`
    // frames in fileFormat()'s layout and advances, as read() does. 0 at the end.
    bool readsRaw() const;
    AVAudioFrameCount readRaw(void* bytes, AVAudioFrameCount frameCount);

    // write(from:): appends the buffer's frameLength frames. The buffer holds Float32 samples,
    // interleaved or not, at the file's rate and channel count; integer files clip them. The
    // header is updated, so a reader opened meanwhile sees every frame. Throws NSErrorException on
    // failure.
    void write(const AVAudioPCMBuffer& buffer);

    // Flushes and closes; later calls fail. The destructor closes too. A written file is on the
    // disk when close() returns.
    void close();
    // As close(), but leaves a written file to the system's write-back instead of waiting for the
    // disk: for outputs a crash may lose (a command-line tool's output).
    void closeWithoutSync();
    bool isOpen() const;
    bool isForWriting() const { return writing_; }

private:
    AVAudioFile() = default;
    URL url_;
    AVAudioFormat fileFormat_;
    AVAudioFormat processingFormat_;
    AVAudioFramePosition framePosition_ = 0;
    AVAudioFramePosition closedLength_ = 0;  // the length once closed
    bool writing_ = false;
    std::unique_ptr<detail::AudioFileBackend> backend_;
    std::vector<float> deinterleaved_;  // scratch for interleaved buffers
};

// Error codes the file layer reports (NSOSStatusErrorDomain), with the platform's values.
inline constexpr OSStatus kAudioFileUnspecifiedError = FourCC("wht?");
inline constexpr OSStatus kAudioFileUnsupportedFileTypeError = FourCC("typ?");
inline constexpr OSStatus kAudioFileUnsupportedDataFormatError = FourCC("fmt?");
inline constexpr OSStatus kAudioFileInvalidFileError = FourCC("dta?");
inline constexpr OSStatus kAudioFileNotOpenError = -38;
inline constexpr OSStatus kAudioFileFileNotFoundError = -43;  // fnfErr
inline constexpr OSStatus kAudioFilePermissionsError = FourCC("prm?");

}  // namespace platform
