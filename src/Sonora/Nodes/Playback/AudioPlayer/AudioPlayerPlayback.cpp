#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"

#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"
#include "Sonora/Internals/Utilities/AVAudioTimeArithmetic.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"

#include <cstdint>
#include <string>

namespace sonora {

using platform::AVAudioPlayerNodeBufferInterrupts;
using platform::AVAudioPlayerNodeBufferLoops;

platform::AVAudioPlayerNodeCompletionHandler AudioPlayer::completionClosure() {
    // The node keeps this closure with its material, and the player keeps the node: a strong capture
    // would make a cycle that outlives the engine. The engine may still hold the node when the
    // player is gone, so the closure never holds a plain pointer to it.
    std::weak_ptr<AudioPlayer> weak = weak_from_this();
    if (weak.expired()) {
        std::shared_ptr<UnownedLink> link;
        {
            std::lock_guard lock(mutex_);
            if (!unownedLink_) {
                unownedLink_ = std::make_shared<UnownedLink>();
                unownedLink_->player = this;
            }
            link = unownedLink_;
        }
        return [weakLink = std::weak_ptr<UnownedLink>(link)](CompletionCallbackType) {
            const auto link = weakLink.lock();
            if (!link) return;
            std::lock_guard lock(link->mutex);
            if (link->player) link->player->handleCompletion();
        };
    }
    return [weak = std::move(weak)](CompletionCallbackType) {
        if (auto player = weak.lock()) player->handleCompletion();
    };
}

void AudioPlayer::play(std::optional<double> from, std::optional<double> to, std::optional<AVAudioTime> at,
                       CompletionCallbackType completionCallbackType) {
    if (isPaused_) {
        resume();
        return;
    }
    if (isPlaying_) stop();

    const auto engine = playerNode_->engine();
    if (!engine) {
        Log({"🛑 Error: AudioPlayer must be attached before playback."}, OSLog::general(), OSLogType::error);
        return;
    }
    if (!engine->isRunning()) {
        Log({"🛑 Error: AudioPlayer's engine must be running before playback."}, OSLog::general(), OSLogType::error);
        return;
    }
    if (at) {
        setScheduleTime(std::nullopt);
        playerNode_->stop();
    }
    setEditStartTime(from.value_or(editStartTime()));
    setEditEndTime(to.value_or(editEndTime()));
    if (!scheduleTime() || isSeeking_) schedule(at, completionCallbackType);
    playerNode_->play();
    isPlaying_ = true;
}

void AudioPlayer::pause() {
    if (!isPlaying_ || isPaused_) return;
    pausedTime_ = currentTime();
    playerNode_->pause();
    isPaused_ = true;
}

void AudioPlayer::resume() {
    isPaused_ = false;
    if (!isBuffered_) seek(pausedTime_);
    playerNode_->play();
}

void AudioPlayer::stop() {
    if (!isPlaying_) return;
    pausedTime_ = currentTime();
    // Cleared before the node stops: the completions that stopping runs must find nothing playing.
    isPlaying_ = false;
    isSeeking_ = false;
    // A stopped player is not paused any more, so that the next play schedules and starts.
    isPaused_ = false;
    playerNode_->stop();
    setScheduleTime(std::nullopt);
}

void AudioPlayer::seek(double time) {
    const double t = clamp(time);
    isSeeking_ = true;
    if (isPlaying_) {
        play(t, duration(), std::nullopt, CompletionCallbackType::dataPlayedBack);
    } else {
        setEditStartTime(t);
        setEditEndTime(duration());
    }
    isSeeking_ = false;
}

double AudioPlayer::currentTime() const {
    if (const auto nodeTime = playerNode_->lastRenderTime(); nodeTime && nodeTime->isSampleTimeValid()) {
        if (const auto playerTime = playerNode_->playerTime(*nodeTime); playerTime && playerTime->sampleRate() > 0)
            return double(playerTime->sampleTime()) / playerTime->sampleRate() + editStartTime();
    }
    return isPaused_ ? pausedTime_.load() : editStartTime();
}

void AudioPlayer::schedule(std::optional<AVAudioTime> at, CompletionCallbackType completionCallbackType) {
    setScheduleTime(at ? *at : now());
    if (isBuffered_) {
        updateBuffer(false);
        scheduleBuffer(at, completionCallbackType);
    } else if (file()) {
        scheduleSegment(at, completionCallbackType);
    } else {
        Log({"The player needs a file or a valid buffer to schedule"}, OSLog::general(), OSLogType::error);
    }
}

void AudioPlayer::scheduleBuffer(std::optional<AVAudioTime> at, CompletionCallbackType completionCallbackType) {
    const auto outputFormat = playerNode_->outputFormat(0);
    if (const auto current = buffer(); !current || !(outputFormat == current->format())) {
        Log({"Format of the buffer doesn't match the player"});
        Log({"Player", outputFormat, "Buffer", current ? current->format().description() : std::string("nil")});
        updateBuffer(true);
    }
    const auto material = buffer();
    if (!material) {
        Log({"Failed to fill buffer"});
        return;
    }
    const BufferOptions options =
        AVAudioPlayerNodeBufferInterrupts | (isLooping_ ? AVAudioPlayerNodeBufferLoops : BufferOptions(0));
    playerNode_->scheduleBuffer(material, at, options, completionCallbackType, completionClosure());
    playerNode_->prepare(material->frameLength());
}

void AudioPlayer::scheduleSegment(std::optional<AVAudioTime> at, CompletionCallbackType completionCallbackType) {
    const auto material = file();
    if (!material) {
        Log({"File is nil"});
        return;
    }
    const double rate = material->fileFormat().sampleRate();
    const int64_t length = material->length();
    const int64_t startFrame = secondsToFrame(editStartTime(), rate).value_or(0);
    int64_t endFrame = secondsToFrame(editEndTime(), rate).value_or(0);
    if (endFrame == 0) endFrame = length;
    const int64_t totalFrames = endFrame - startFrame;
    // A segment's frame count is 32 bits: a longer range cannot be scheduled at all.
    if (totalFrames <= 0 || totalFrames > int64_t(UINT32_MAX)) {
        Log({"Unable to schedule file. totalFrames to play: " + std::to_string(totalFrames) +
             ". file.length: " + std::to_string(length)},
            OSLog::general(), OSLogType::error);
        return;
    }
    playerNode_->scheduleSegment(material, startFrame, AVAudioFrameCount(totalFrames), at, completionCallbackType,
                                 completionClosure());
    playerNode_->prepare(AVAudioFrameCount(totalFrames));
}

void AudioPlayer::handleCompletion() {
    if (isSeeking_ || !isPlaying_) return;
    {
        const auto engine = mixerNode_->engine();
        if (!engine || engine->isInManualRenderingMode()) return;
    }
    setScheduleTime(std::nullopt);
    isPlaying_ = false;

    if (const auto handler = completionHandler()) handler();

    if (isBuffered_ || !isLooping_) return;
    const auto engine = mixerNode_->engine();
    if (!engine || !engine->isRunning()) return;
    if (!isEditTimeEnabled_) {
        setEditStartTime(0);
        setEditEndTime(duration());
    }
    play();
}

// ---------------------------------------------------------------------------------------------
// Scheduling without starting

void AudioPlayer::scheduleBuffer(std::shared_ptr<AVAudioPCMBuffer> buffer, std::optional<AVAudioTime> at,
                                 BufferOptions options) {
    setBuffer(std::move(buffer));
    const bool loops = options == AVAudioPlayerNodeBufferLoops;
    isLooping_ = loops;
    bufferOptions_ = loops ? AVAudioPlayerNodeBufferLoops : AVAudioPlayerNodeBufferInterrupts;
    schedule(at, CompletionCallbackType::dataPlayedBack);
}

void AudioPlayer::scheduleBuffer(const platform::URL& url, std::optional<AVAudioTime> at, BufferOptions options) {
    std::shared_ptr<AVAudioPCMBuffer> material;
    try {
        material = makeBuffer(url);
    } catch (const platform::NSErrorException&) {
        material = nullptr;
    }
    if (!material || material->frameLength() == 0) {
        Log({"Failed to create buffer"}, OSLog::general(), OSLogType::error);
        return;
    }
    scheduleBuffer(std::move(material), at, options);
}

void AudioPlayer::scheduleFile(std::shared_ptr<AVAudioFile> file, std::optional<AVAudioTime> at) {
    setFile(std::move(file));
    schedule(at, CompletionCallbackType::dataPlayedBack);
}

}  // namespace sonora
