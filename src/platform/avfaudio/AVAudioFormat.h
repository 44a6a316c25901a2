// An audio format: sample type, rate, channel count and layout, over a stream description.
// A refused combination gives an empty format (isValid() false), as a plain AVAudioFormat() is.
#pragma once

#include "platform/avfaudio/AVAudioChannelLayout.h"
#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <optional>
#include <string>

namespace platform {

enum class AVAudioCommonFormat : uint32_t {
    otherFormat = 0,
    pcmFormatFloat32 = 1,
    pcmFormatFloat64 = 2,
    pcmFormatInt16 = 3,
    pcmFormatInt32 = 4,
};

class AVAudioFormat {
public:
    AVAudioFormat() = default;  // empty and invalid

    // init(standardFormatWithSampleRate:channels:): Float32, non-interleaved. Invalid for a rate
    // that is not finite and positive, or for 0 channels.
    static AVAudioFormat standardFormatWithSampleRate(double sampleRate, AVAudioChannelCount channels);
    // init(standardFormatWithSampleRate:channelLayout:): as many channels as the layout has.
    static AVAudioFormat standardFormatWithSampleRate(double sampleRate, const AVAudioChannelLayout& layout);

    // init(commonFormat:sampleRate:channels:interleaved:). Invalid for otherFormat.
    AVAudioFormat(AVAudioCommonFormat format, double sampleRate, AVAudioChannelCount channels, bool interleaved);

    // init(streamDescription:): linear PCM and compressed descriptions alike.
    explicit AVAudioFormat(const AudioStreamBasicDescription& asbd);

    // init(settings:): the AV...Key dictionary; missing PCM keys take 16-bit signed interleaved.
    explicit AVAudioFormat(const AVAudioSettings& settings);

    bool isValid() const { return valid_; }
    const AudioStreamBasicDescription& streamDescription() const { return asbd_; }
    double sampleRate() const { return asbd_.mSampleRate; }
    AVAudioChannelCount channelCount() const { return asbd_.mChannelsPerFrame; }
    AVAudioCommonFormat commonFormat() const { return common_; }
    // The layout the format was made with, if any.
    const std::optional<AVAudioChannelLayout>& channelLayout() const { return layout_; }
    bool isInterleaved() const;
    // Float32 non-interleaved.
    bool isStandard() const;
    bool isPCM() const { return asbd_.mFormatID == kAudioFormatLinearPCM; }

    // The AV...Key dictionary that re-creates this format (AVAudioFormat(settings()) == *this).
    AVAudioSettings settings() const;

    // A one-line description: "<AVAudioFormat: 2 ch, 44100 Hz, Float32, deinterleaved>".
    std::string description() const;

    // Equal when the description fields that matter are equal (both invalid compare equal).
    bool operator==(const AVAudioFormat& other) const;

private:
    void finish();
    AudioStreamBasicDescription asbd_{};
    AVAudioCommonFormat common_ = AVAudioCommonFormat::otherFormat;
    bool valid_ = false;
    std::optional<AVAudioChannelLayout> layout_;
};

}  // namespace platform
