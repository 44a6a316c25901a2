#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"

#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"

#include <cstdint>

namespace sonora {

void AudioPlayer::updateBuffer(bool force) {
    const auto material = file();
    if (!material) {
        if (!buffer())
            Log({"It's not possible to create edited buffers without a file reference."}, OSLog::general(),
                OSLogType::error);
        return;
    }
    const double rate = material->fileFormat().sampleRate();
    const platform::AVAudioFormat format = material->processingFormat();
    const bool reversed = isReversed_;

    // Edit times are positions in the material as played: reversed, a range a … b covers the
    // file from duration − b to duration − a. An end of 0 means the end of the material either way.
    const double total = duration();
    const double end = editEndTime() > 0 ? editEndTime() : total;
    const double start = editStartTime();
    const int64_t startFrame = secondsToFrame(reversed ? total - end : start, rate).value_or(0);
    const int64_t endFrame = secondsToFrame(reversed ? total - start : end, rate).value_or(0);

    if (!force) {
        std::lock_guard lock(mutex_);
        // The direction is part of the cache: a range read forwards is not the same buffer backwards.
        if (buffer_ && startingFrame_ == startFrame && endingFrame_ == endFrame && cachedReversed_ == reversed) return;
    }

    if (material->length() <= 0) {
        Log({material->url().lastPathComponent(), "has no frames to read"}, OSLog::general(), OSLogType::error);
        return;
    }
    const int64_t frames = endFrame - startFrame;
    if (frames <= 0) {
        Log({"Error, endFrame must be after startFrame. Unable to fill buffer.", "startFrame", startFrame, "endFrame",
             endFrame},
            OSLog::general(), OSLogType::error);
        return;
    }
    // A buffer's frame count is 32 bits: a longer range cannot be held at all.
    if (frames > int64_t(UINT32_MAX)) {
        Log({"Error, the range is too long for one buffer. Unable to fill buffer.", "startFrame", startFrame,
             "endFrame", endFrame},
            OSLog::general(), OSLogType::error);
        return;
    }
    frameCount_ = AVAudioFrameCount(frames);

    const auto read = AVAudioPCMBuffer::make(format, frameCount_);
    if (!read) return;
    try {
        material->setFramePosition(startFrame);
        material->read(*read, frameCount_);
    } catch (const platform::NSErrorException& e) {
        Log({"Couldn't read data into buffer. " + e.error().localizedDescription}, OSLog::general(), OSLogType::error);
        return;
    }

    const platform::AVAudioFormat outputFormat = playerNode_->outputFormat(0);
    if (format.channelCount() < outputFormat.channelCount()) {
        Log({"Copying mono data to 2 channel buffer...", format});
        const auto widened = AVAudioPCMBuffer::make(outputFormat, frameCount_);
        float* const* source = read->floatChannelData();
        if (!widened || !source) {
            Log({"Failed to setup mono conversion buffer"}, OSLog::general(), OSLogType::error);
            return;
        }
        // Only the first channel is copied, into every output channel.
        if (float* const* destination = widened->floatChannelData()) {
            const auto channels = outputFormat.channelCount();
            for (AVAudioFrameCount i = 0; i < read->frameLength(); ++i)
                for (platform::AVAudioChannelCount c = 0; c < channels; ++c) destination[c][i] = source[0][i];
        }
        widened->setFrameLength(read->frameLength());
        setBuffer(widened);
    } else {
        setBuffer(read);
    }

    if (reversed) {
        Log({"Reversing..."});
        if (const auto current = buffer(); isBuffered_ && current)
            if (auto backwards = reverse(*current)) setBuffer(std::move(backwards));
    }

    std::lock_guard lock(mutex_);
    startingFrame_ = startFrame;
    endingFrame_ = endFrame;
    cachedReversed_ = reversed;
}

}  // namespace sonora
