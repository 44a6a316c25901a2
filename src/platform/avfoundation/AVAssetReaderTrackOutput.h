// Reads the samples of one audio track of an asset reader's asset, as sample buffers.
#pragma once

#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/avfoundation/AVAssetTrack.h"
#include "platform/coremedia/CMSampleBuffer.h"

#include <memory>
#include <optional>

namespace platform {

namespace detail {
class AssetReadingCore;
}

class AVAssetReaderTrackOutput {
public:
    // init(track:outputSettings:). No settings: the track's stored linear PCM layout (a compressed
    // track is decoded to Float32 interleaved). Linear PCM settings (AVFormatIDKey 'lpcm',
    // AVSampleRateKey, AVNumberOfChannelsKey, AVLinearPCMBitDepthKey, AVLinearPCMIsFloatKey,
    // AVLinearPCMIsBigEndianKey, AVLinearPCMIsNonInterleaved): converted to that layout, rate and
    // channel count. Other settings make the reader refuse the output (canAdd false).
    AVAssetReaderTrackOutput(AVAssetTrack track, std::optional<AVAudioSettings> outputSettings);
    ~AVAssetReaderTrackOutput();
    AVAssetReaderTrackOutput(const AVAssetReaderTrackOutput&) = delete;
    AVAssetReaderTrackOutput& operator=(const AVAssetReaderTrackOutput&) = delete;

    const AVAssetTrack& track() const { return track_; }
    const std::optional<AVAudioSettings>& outputSettings() const { return outputSettings_; }
    AVMediaType mediaType() const { return track_.mediaType(); }

    // The next chunk of samples in order, or nullptr once there are no more: the end, a failure or a
    // cancellation. The reader's status then tells which (never still reading). nullptr too before
    // the reader started reading.
    std::shared_ptr<CMSampleBuffer> copyNextSampleBuffer();

private:
    friend class AVAssetReader;
    AVAssetTrack track_;
    std::optional<AVAudioSettings> outputSettings_;
    std::shared_ptr<detail::AssetReadingCore> core_;  // set when added to a reader
    int slot_ = -1;                                   // this output's place in the core
};

}  // namespace platform
