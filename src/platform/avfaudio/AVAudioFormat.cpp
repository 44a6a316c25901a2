#include "platform/avfaudio/AVAudioFormat.h"

#include <cmath>
#include <cstdio>

namespace platform {

namespace {

bool goodRate(double rate) { return std::isfinite(rate) && rate > 0; }

// A packed linear PCM description in the platform's conventions: one frame per packet, bytes per
// frame counting one channel when each channel has its own array.
AudioStreamBasicDescription pcmDescription(double rate, AVAudioChannelCount channels, uint32_t bits, bool isFloat,
                                           bool bigEndian, bool nonInterleaved) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = kAudioFormatFlagIsPacked | (isFloat ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger) |
                     (bigEndian ? kAudioFormatFlagIsBigEndian : 0) | (nonInterleaved ? kAudioFormatFlagIsNonInterleaved : 0);
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bits;
    d.mFramesPerPacket = 1;
    const uint32_t sampleBytes = (bits + 7) / 8;
    d.mBytesPerFrame = nonInterleaved ? sampleBytes : sampleBytes * channels;
    d.mBytesPerPacket = d.mBytesPerFrame;
    return d;
}

std::string fourCCText(uint32_t id) {
    std::string s = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((id >> shift) & 0xff);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s + "'";
}

std::string number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

// The flags that change what the samples mean; packing and meaningless bits are dropped.
AudioFormatFlags normalizedFlags(const AudioStreamBasicDescription& d) {
    if (d.mFormatID != kAudioFormatLinearPCM) return d.mFormatFlags;
    AudioFormatFlags f = d.mFormatFlags & (kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian |
                                           kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved |
                                           kAudioFormatFlagIsAlignedHigh);
    if (f & kAudioFormatFlagIsFloat) f &= ~kAudioFormatFlagIsSignedInteger;
    if (d.mBitsPerChannel <= 8) f &= ~kAudioFormatFlagIsBigEndian;
    const uint32_t perChannel = (f & kAudioFormatFlagIsNonInterleaved) || d.mChannelsPerFrame == 0
                                    ? d.mBytesPerFrame
                                    : d.mBytesPerFrame / d.mChannelsPerFrame;
    if (perChannel * 8 == d.mBitsPerChannel) f &= ~kAudioFormatFlagIsAlignedHigh;  // packed: alignment is moot
    return f;
}

}  // namespace

AVAudioFormat AVAudioFormat::standardFormatWithSampleRate(double sampleRate, AVAudioChannelCount channels) {
    return AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, sampleRate, channels, false);
}

AVAudioFormat::AVAudioFormat(AVAudioCommonFormat format, double sampleRate, AVAudioChannelCount channels,
                             bool interleaved) {
    if (!goodRate(sampleRate) || channels == 0) return;
    switch (format) {
    case AVAudioCommonFormat::pcmFormatFloat32:
        asbd_ = pcmDescription(sampleRate, channels, 32, true, false, !interleaved);
        break;
    case AVAudioCommonFormat::pcmFormatFloat64:
        asbd_ = pcmDescription(sampleRate, channels, 64, true, false, !interleaved);
        break;
    case AVAudioCommonFormat::pcmFormatInt16:
        asbd_ = pcmDescription(sampleRate, channels, 16, false, false, !interleaved);
        break;
    case AVAudioCommonFormat::pcmFormatInt32:
        asbd_ = pcmDescription(sampleRate, channels, 32, false, false, !interleaved);
        break;
    default: return;
    }
    finish();
}

AVAudioFormat AVAudioFormat::standardFormatWithSampleRate(double sampleRate, const AVAudioChannelLayout& layout) {
    AVAudioFormat format = standardFormatWithSampleRate(sampleRate, layout.channelCount());
    if (format.isValid()) format.layout_ = layout;
    return format;
}

AVAudioFormat::AVAudioFormat(const AudioStreamBasicDescription& asbd) : asbd_(asbd) {
    if (asbd_.mFormatID == kAudioFormatLinearPCM) {
        // Fill what a caller may leave out of an otherwise complete PCM description.
        if (asbd_.mFramesPerPacket == 0) asbd_.mFramesPerPacket = 1;
        if (asbd_.mBytesPerFrame == 0 && asbd_.mBitsPerChannel > 0) {
            const uint32_t sampleBytes = (asbd_.mBitsPerChannel + 7) / 8;
            asbd_.mBytesPerFrame = (asbd_.mFormatFlags & kAudioFormatFlagIsNonInterleaved)
                                       ? sampleBytes
                                       : sampleBytes * asbd_.mChannelsPerFrame;
        }
        if (asbd_.mBytesPerPacket == 0) asbd_.mBytesPerPacket = asbd_.mBytesPerFrame * asbd_.mFramesPerPacket;
    }
    finish();
}

AVAudioFormat::AVAudioFormat(const AVAudioSettings& settings) {
    auto get = [&](const char* key, double fallback) {
        auto it = settings.find(key);
        return it == settings.end() ? fallback : it->second;
    };
    const double idValue = get(AVFormatIDKey, double(kAudioFormatLinearPCM));
    const double rate = get(AVSampleRateKey, 0);
    const double channels = get(AVNumberOfChannelsKey, 0);
    if (!std::isfinite(idValue) || idValue <= 0 || idValue > double(UINT32_MAX)) return;
    if (!std::isfinite(channels) || channels < 1 || channels > 65535 || channels != std::floor(channels)) return;
    if (!goodRate(rate)) return;
    const auto formatID = AudioFormatID(idValue);
    if (formatID != kAudioFormatLinearPCM) {
        asbd_.mSampleRate = rate;
        asbd_.mFormatID = formatID;
        asbd_.mChannelsPerFrame = AVAudioChannelCount(channels);
        finish();
        return;
    }
    const double bits = get(AVLinearPCMBitDepthKey, 16);
    const bool isFloat = get(AVLinearPCMIsFloatKey, 0) != 0;
    const bool bigEndian = get(AVLinearPCMIsBigEndianKey, 0) != 0;
    const bool nonInterleaved = get(AVLinearPCMIsNonInterleaved, 0) != 0;
    const bool bitsOK = isFloat ? (bits == 32 || bits == 64) : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    if (!bitsOK) return;
    asbd_ = pcmDescription(rate, AVAudioChannelCount(channels), uint32_t(bits), isFloat, bigEndian, nonInterleaved);
    finish();
}

void AVAudioFormat::finish() {
    common_ = AVAudioCommonFormat::otherFormat;
    valid_ = goodRate(asbd_.mSampleRate) && asbd_.mChannelsPerFrame > 0 && asbd_.mFormatID != 0;
    if (!valid_) {
        asbd_ = AudioStreamBasicDescription{};
        return;
    }
    if (asbd_.mFormatID != kAudioFormatLinearPCM) return;
    if (asbd_.mBitsPerChannel == 0 || asbd_.mBytesPerFrame == 0) {
        valid_ = false;
        asbd_ = AudioStreamBasicDescription{};
        return;
    }
    const AudioFormatFlags f = asbd_.mFormatFlags;
    const uint32_t bits = asbd_.mBitsPerChannel;
    const uint32_t perChannel =
        (f & kAudioFormatFlagIsNonInterleaved) ? asbd_.mBytesPerFrame : asbd_.mBytesPerFrame / asbd_.mChannelsPerFrame;
    // Only packed, native-endian samples are one of the common formats.
    if (perChannel * 8 != bits || (f & kAudioFormatFlagIsBigEndian)) return;
    if (f & kAudioFormatFlagIsFloat) {
        if (bits == 32) common_ = AVAudioCommonFormat::pcmFormatFloat32;
        if (bits == 64) common_ = AVAudioCommonFormat::pcmFormatFloat64;
    } else if (f & kAudioFormatFlagIsSignedInteger) {
        if (bits == 16) common_ = AVAudioCommonFormat::pcmFormatInt16;
        if (bits == 32) common_ = AVAudioCommonFormat::pcmFormatInt32;
    }
}

bool AVAudioFormat::isInterleaved() const { return !(asbd_.mFormatFlags & kAudioFormatFlagIsNonInterleaved); }

bool AVAudioFormat::isStandard() const { return common_ == AVAudioCommonFormat::pcmFormatFloat32 && !isInterleaved(); }

AVAudioSettings AVAudioFormat::settings() const {
    AVAudioSettings s;
    if (!valid_) return s;
    s[AVFormatIDKey] = double(asbd_.mFormatID);
    s[AVSampleRateKey] = asbd_.mSampleRate;
    s[AVNumberOfChannelsKey] = double(asbd_.mChannelsPerFrame);
    if (isPCM()) {
        s[AVLinearPCMBitDepthKey] = double(asbd_.mBitsPerChannel);
        s[AVLinearPCMIsFloatKey] = (asbd_.mFormatFlags & kAudioFormatFlagIsFloat) ? 1 : 0;
        s[AVLinearPCMIsBigEndianKey] = (asbd_.mFormatFlags & kAudioFormatFlagIsBigEndian) ? 1 : 0;
        s[AVLinearPCMIsNonInterleaved] = isInterleaved() ? 0 : 1;
    }
    return s;
}

std::string AVAudioFormat::description() const {
    std::string text = "<AVAudioFormat: " + std::to_string(asbd_.mChannelsPerFrame) + " ch, " +
                       number(asbd_.mSampleRate) + " Hz";
    if (!valid_) return text + ">";
    if (!isPCM()) return text + ", " + fourCCText(asbd_.mFormatID) + ">";
    switch (common_) {
    case AVAudioCommonFormat::pcmFormatFloat32: text += ", Float32"; break;
    case AVAudioCommonFormat::pcmFormatFloat64: text += ", Float64"; break;
    case AVAudioCommonFormat::pcmFormatInt16: text += ", Int16"; break;
    case AVAudioCommonFormat::pcmFormatInt32: text += ", Int32"; break;
    default: {
        const AudioFormatFlags f = asbd_.mFormatFlags;
        text += ", " + std::to_string(asbd_.mBitsPerChannel) + "-bit ";
        if (asbd_.mBitsPerChannel > 8) text += (f & kAudioFormatFlagIsBigEndian) ? "big-endian " : "little-endian ";
        text += (f & kAudioFormatFlagIsFloat) ? "float"
                : (f & kAudioFormatFlagIsSignedInteger) ? "signed integer"
                                                        : "unsigned integer";
    }
    }
    if (asbd_.mChannelsPerFrame > 1) text += isInterleaved() ? ", interleaved" : ", deinterleaved";
    return text + ">";
}

bool AVAudioFormat::operator==(const AVAudioFormat& other) const {
    if (valid_ != other.valid_) return false;
    if (!valid_) return true;
    const auto& a = asbd_;
    const auto& b = other.asbd_;
    return a.mSampleRate == b.mSampleRate && a.mFormatID == b.mFormatID && normalizedFlags(a) == normalizedFlags(b) &&
           a.mBitsPerChannel == b.mBitsPerChannel && a.mChannelsPerFrame == b.mChannelsPerFrame &&
           a.mBytesPerFrame == b.mBytesPerFrame && a.mFramesPerPacket == b.mFramesPerPacket;
}

}  // namespace platform
