// The way samples of one track enter an asset writer: appended sample buffers are converted
// (rate, channels, sample type) and encoded to the output settings.
#pragma once

#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/avfoundation/AVMediaFormat.h"
#include "platform/coremedia/CMFormatDescription.h"
#include "platform/coremedia/CMSampleBuffer.h"
#include "platform/dispatch/DispatchQueue.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

class AVAssetWriter;

namespace detail {
class AssetWritingCore;
}

// AVEncoderBitRateStrategyKey values (the settings hold numbers).
inline constexpr const char* AVEncoderBitRateStrategyKey = "AVEncoderBitRateStrategyKey";
inline constexpr double AVAudioBitRateStrategy_Constant = 0;
inline constexpr double AVAudioBitRateStrategy_LongTermAverage = 1;
inline constexpr double AVAudioBitRateStrategy_VariableConstrained = 2;
inline constexpr double AVAudioBitRateStrategy_Variable = 3;

class AVAssetWriterInput : public std::enable_shared_from_this<AVAssetWriterInput> {
public:
    // init(mediaType:outputSettings:sourceFormatHint:). Make it with std::make_shared.
    // AAC settings: AVFormatIDKey 'aac ', AVSampleRateKey, AVNumberOfChannelsKey, AVEncoderBitRateKey
    // (AVEncoderBitRateStrategyKey accepted). Linear PCM settings: AVFormatIDKey 'lpcm',
    // AVSampleRateKey, AVNumberOfChannelsKey, AVLinearPCMBitDepthKey, AVLinearPCMIsFloatKey,
    // AVLinearPCMIsBigEndianKey, AVLinearPCMIsNonInterleaved. A missing rate or channel count comes
    // from the hint; without either, startWriting fails. The writer refuses other settings (canAdd).
    AVAssetWriterInput(AVMediaType mediaType, std::optional<AVAudioSettings> outputSettings,
                       std::optional<CMAudioFormatDescription> sourceFormatHint = std::nullopt);
    ~AVAssetWriterInput();
    AVAssetWriterInput(const AVAssetWriterInput&) = delete;
    AVAssetWriterInput& operator=(const AVAssetWriterInput&) = delete;

    AVMediaType mediaType() const { return mediaType_; }
    const std::optional<AVAudioSettings>& outputSettings() const { return outputSettings_; }
    const std::optional<CMAudioFormatDescription>& sourceFormatHint() const { return sourceFormatHint_; }

    // True while the writer is writing (or has failed: appends then return false at once, so a
    // pump runs to its end and learns of the failure from finishWriting) and the input is not
    // finished. False before startWriting, after markAsFinished, and once the writer completed or
    // was cancelled.
    bool isReadyForMoreMediaData() const;

    // Converts and encodes the buffer's frames (linear PCM in any layout). False when the writer is
    // not writing, the session has not started, the input is finished, the buffer is not linear
    // PCM, or encoding fails (the writer's status is then failed, its error set).
    bool append(const CMSampleBuffer& sampleBuffer);
    bool append(const std::shared_ptr<CMSampleBuffer>& sampleBuffer) { return sampleBuffer && append(*sampleBuffer); }

    // No more buffers follow. Stops the media-data requests: the block is not called again and is
    // released.
    void markAsFinished();

    // Calls the block on the serial queue again and again while the input is ready for more data,
    // until markAsFinished() (never after it) or until the writer completed or was cancelled. The
    // queue is kept alive for as long as the block may be called. A second request replaces the first.
    void requestMediaDataWhenReady(std::shared_ptr<DispatchQueue> queue, std::function<void()> block);

private:
    friend class AVAssetWriter;
    void scheduleRequest(uint64_t generation, bool soon);
    void serveRequest(uint64_t generation);

    AVMediaType mediaType_;
    std::optional<AVAudioSettings> outputSettings_;
    std::optional<CMAudioFormatDescription> sourceFormatHint_;
    std::shared_ptr<detail::AssetWritingCore> core_;  // set when added to a writer

    mutable std::mutex requestMutex_;
    std::shared_ptr<DispatchQueue> requestQueue_;
    std::function<void()> requestBlock_;
    uint64_t requestGeneration_ = 0;
    bool finished_ = false;
};

}  // namespace platform
