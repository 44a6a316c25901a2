#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"

#include "Sonora/AudioFiles/FloatChannelView.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <limits>

namespace sonora {

using detail::FloatChannelView;

namespace {

constexpr AVAudioFrameCount kPeakBlockFrames = 512;

std::shared_ptr<AVAudioPCMBuffer> makeLike(const AVAudioPCMBuffer& buffer) {
    return AVAudioPCMBuffer::make(buffer.format(), buffer.frameCapacity());
}

}  // namespace

std::optional<Peak> peak(const AVAudioPCMBuffer& buffer) {
    const AVAudioFrameCount length = buffer.frameLength();
    const auto samples = FloatChannelView::of(buffer);
    if (length == 0 || !samples) return std::nullopt;

    Peak result;
    float best = -10000.0f;
    AVAudioFrameCount end = 0;
    for (AVAudioFrameCount position = 0; position < length; position = end) {
        end = position + std::min(kPeakBlockFrames, length - position);
        for (unsigned c = 0; c < samples->channelCount(); ++c) {
            // A short last block counts as zero-padded, so a block maximum is never below 0.
            float blockMax = 0.0f;
            for (AVAudioFrameCount i = position; i < end; ++i) {
                const float magnitude = std::fabs(samples->at(c, i));
                if (magnitude > blockMax) blockMax = magnitude;  // NaN never compares greater
            }
            if (blockMax > best) {
                best = blockMax;
                result.framePosition = position;
                result.time = double(position) / buffer.format().sampleRate();
            }
        }
    }
    result.amplitude = best;
    return result;
}

std::optional<std::vector<std::vector<float>>> toFloatChannelData(const AVAudioPCMBuffer& buffer) {
    const auto samples = FloatChannelView::of(buffer);
    if (!samples) return std::nullopt;
    std::vector<std::vector<float>> channels(samples->channelCount(), std::vector<float>(buffer.frameLength()));
    for (unsigned c = 0; c < samples->channelCount(); ++c)
        for (AVAudioFrameCount i = 0; i < buffer.frameLength(); ++i) channels[c][i] = samples->at(c, i);
    return channels;
}

std::shared_ptr<AVAudioPCMBuffer> fade(const std::shared_ptr<AVAudioPCMBuffer>& buffer, double inTime,
                                       double outTime, bool linearRamp) {
    const auto refuse = [&] {
        Log({"Error fading buffer, returning original..."}, OSLog::general(), OSLogType::info);
        return buffer;
    };
    if (!buffer) return buffer;
    const auto source = FloatChannelView::of(*buffer);
    const bool fadeIn = inTime > 0;
    const bool fadeOut = outTime > 0;
    if (!source || (!fadeIn && !fadeOut)) return refuse();

    const double sampleRate = buffer->format().sampleRate();
    const AVAudioFrameCount length = buffer->frameLength();
    // Region bounds: frames before fadeInFrames ramp up, frames after fadeOutStart ramp down.
    int64_t fadeInFrames = 0;
    int64_t fadeOutStart = 0;
    if (fadeIn) {
        const auto frames = secondsToFrame(inTime, sampleRate);
        if (!frames) return refuse();
        fadeInFrames = *frames;
    }
    if (fadeOut) {
        const auto start = samplePositionToFrame(double(length) - sampleRate * outTime);
        if (!start) return refuse();
        fadeOutStart = *start;
    }

    auto faded = makeLike(*buffer);
    if (!faded) return nullptr;
    const FloatChannelView target = *FloatChannelView::of(*faded);

    const double dt = 1.0 / sampleRate;
    const double ln100 = std::log(100.0);
    const double ln004 = std::log(0.04);
    double gain = fadeIn ? (linearRamp ? 0.0 : 0.01) : 1.0;
    const double inStep = linearRamp ? dt / inTime : std::exp(ln100 * dt / inTime);
    const double outStep = linearRamp ? dt / outTime : std::exp(2.0 * ln004 * dt / outTime);

    // One gain per frame, shared by all of its channels, so channels stay aligned whatever their count.
    const auto rampFrames = [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
            if (fadeIn && i < fadeInFrames) {
                gain = linearRamp ? gain + inStep : gain * inStep;
                gain = std::clamp(gain, 0.0, 1.0);
            } else if (fadeOut && i > fadeOutStart) {
                gain = linearRamp ? gain - outStep : gain * outStep;
                gain = std::clamp(gain, 0.0, 1.0);
            } else {
                gain = 1.0;
            }
            const float g = static_cast<float>(gain);
            for (unsigned c = 0; c < source->channelCount(); ++c) target.at(c, i) = source->at(c, i) * g;
        }
    };
    // Between the two regions the gain is exactly 1: copy those frames in bulk.
    const int64_t middleBegin = fadeIn ? std::clamp<int64_t>(fadeInFrames, 0, length) : 0;
    const int64_t middleEnd = fadeOut ? std::clamp<int64_t>(fadeOutStart + 1, 0, length) : int64_t(length);
    if (middleBegin < middleEnd) {
        rampFrames(0, middleBegin);
        const size_t stride = source->stride();
        const size_t arrays = stride == 1 ? source->channelCount() : 1;
        for (unsigned c = 0; c < arrays; ++c)
            std::memcpy(target.channel(c) + middleBegin * stride, source->channel(c) + middleBegin * stride,
                        size_t(middleEnd - middleBegin) * stride * sizeof(float));
        gain = 1.0;
        rampFrames(middleEnd, length);
    } else {
        rampFrames(0, length);
    }
    faded->setFrameLength(length);
    return faded;
}

std::shared_ptr<AVAudioPCMBuffer> normalize(const std::shared_ptr<AVAudioPCMBuffer>& buffer) {
    if (!buffer) return buffer;
    const auto source = FloatChannelView::of(*buffer);
    if (!source) return buffer;

    auto normalized = makeLike(*buffer);
    const auto loudest = peak(*buffer);
    // A silent or non-finite peak has no gain that reaches full scale; keep the source.
    if (!loudest || !(loudest->amplitude > 0) || !std::isfinite(loudest->amplitude)) {
        Log({"Failed getting peak amplitude, returning original buffer"}, OSLog::general(), OSLogType::info);
        return buffer;
    }
    if (!normalized) return nullptr;

    const FloatChannelView target = *FloatChannelView::of(*normalized);
    const float gain = 1.0f / loudest->amplitude;
    for (AVAudioFrameCount i = 0; i < buffer->frameLength(); ++i)
        for (unsigned c = 0; c < source->channelCount(); ++c) target.at(c, i) = source->at(c, i) * gain;
    normalized->setFrameLength(buffer->frameLength());
    return normalized;
}

std::shared_ptr<AVAudioPCMBuffer> reverse(const AVAudioPCMBuffer& buffer) {
    const auto source = FloatChannelView::of(buffer);
    if (!source) return nullptr;
    auto reversed = makeLike(buffer);
    if (!reversed) return nullptr;
    const FloatChannelView target = *FloatChannelView::of(*reversed);
    const AVAudioFrameCount length = buffer.frameLength();
    for (AVAudioFrameCount i = 0; i < length; ++i)
        for (unsigned c = 0; c < source->channelCount(); ++c) target.at(c, i) = source->at(c, length - 1 - i);
    reversed->setFrameLength(length);
    return reversed;
}

std::shared_ptr<AVAudioPCMBuffer> makeBuffer(AVAudioFile& file) {
    file.setFramePosition(0);
    const AVAudioFramePosition length = file.length();
    if (length < 0 || length > AVAudioFramePosition(std::numeric_limits<AVAudioFrameCount>::max())) {
        Log({"File is too long to read into one buffer:", file.url(), "frames:", length}, OSLog::fileHandling(),
            OSLogType::error);
        return nullptr;
    }
    auto buffer = AVAudioPCMBuffer::make(file.processingFormat(), AVAudioFrameCount(length));
    if (!buffer) return nullptr;
    file.read(*buffer);
    return buffer;
}

std::shared_ptr<AVAudioPCMBuffer> makeBuffer(const URL& url) {
    std::shared_ptr<AVAudioFile> file;
    try {
        file = AVAudioFile::forReading(url);
    } catch (const platform::NSErrorException&) {
        return nullptr;
    }
    return makeBuffer(*file);
}

}  // namespace sonora
