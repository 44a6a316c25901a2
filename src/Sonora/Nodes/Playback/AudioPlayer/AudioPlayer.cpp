#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace sonora {

using platform::AVAudioNodeBus;

AudioPlayer::AudioPlayer()
    : playerNode_(std::make_shared<platform::AVAudioPlayerNode>()),
      mixerNode_(std::make_shared<platform::AVAudioMixerNode>()) {}

AudioPlayer::AudioPlayer(std::shared_ptr<AVAudioFile> file, std::optional<bool> buffered) : AudioPlayer() {
    load(std::move(file), buffered, false);
}

AudioPlayer::AudioPlayer(std::shared_ptr<AVAudioPCMBuffer> buffer) : AudioPlayer() {
    setBuffer(std::move(buffer));
    setIsBuffered(true);
}

std::shared_ptr<AudioPlayer> AudioPlayer::make(const platform::URL& url, std::optional<bool> buffered) {
    std::shared_ptr<AVAudioFile> file;
    try {
        file = AVAudioFile::forReading(url);
    } catch (const platform::NSErrorException& e) {
        Log({e.error()}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
    return std::make_shared<AudioPlayer>(std::move(file), buffered);
}

AudioPlayer::~AudioPlayer() {
    // Waits for a completion that is running for this player right now.
    std::shared_ptr<UnownedLink> link;
    {
        std::lock_guard lock(mutex_);
        link = std::move(unownedLink_);
    }
    if (link) {
        std::lock_guard lock(link->mutex);
        link->player = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Loading

void AudioPlayer::load(const platform::URL& url, std::optional<bool> buffered) {
    auto file = AVAudioFile::forReading(url);  // throws before anything changes
    load(std::move(file), buffered, false);
}

void AudioPlayer::load(std::shared_ptr<AVAudioFile> file, std::optional<bool> buffered, bool preserveEditTime) {
    bool reconnect = false;
    const auto previous = this->file();
    if (previous && file && !(previous->fileFormat() == file->fileFormat())) {
        Log({"Format has changed, player will be reconnected with format", file->fileFormat()});
        // The player's only connection is its output into the mixer; dropping it lets
        // makeInternalConnections() connect again in the new processing format.
        if (const auto engine = mixerNode_->engine()) engine->disconnectNodeOutput(playerNode_);
        reconnect = true;
    }
    setFile(std::move(file));
    if (!preserveEditTime) {
        setEditStartTime(0);
        setEditEndTime(0);
    }
    if (reconnect) makeInternalConnections();
    if (buffered) setIsBuffered(*buffered);
    if (isBuffered_) updateBuffer(false);
}

void AudioPlayer::load(std::shared_ptr<AVAudioPCMBuffer> buffer) {
    setBuffer(std::move(buffer));
    setIsBuffered(true);
}

// ---------------------------------------------------------------------------------------------
// Wiring

std::shared_ptr<platform::AVAudioNode> AudioPlayer::avAudioNode() const { return mixerNode_; }

void AudioPlayer::makeInternalConnections() {
    const auto engine = mixerNode_->engine();
    if (!engine) {
        Log({"Engine is nil"}, OSLog::general(), OSLogType::error);
        return;
    }
    if (!playerNode_->engine()) engine->attach(playerNode_);
    const auto playerEngine = playerNode_->engine();
    if (!playerEngine) return;  // attached elsewhere and refused
    for (AVAudioNodeBus bus = 0; bus < playerNode_->numberOfOutputs(); ++bus)
        for (const auto& point : playerEngine->outputConnectionPoints(playerNode_, bus))
            if (point.node() == mixerNode_) return;
    const auto material = file();
    engine->connect(playerNode_, mixerNode_,
                    material ? std::optional(material->processingFormat()) : std::optional<platform::AVAudioFormat>());
}

// ---------------------------------------------------------------------------------------------
// Properties

float AudioPlayer::volume() const { return playerNode_->volume(); }
void AudioPlayer::setVolume(float volume) { playerNode_->setVolume(volume); }

bool AudioPlayer::isScheduled() const { return scheduleTime().has_value(); }

std::optional<AudioPlayer::AVAudioTime> AudioPlayer::scheduleTime() const {
    std::lock_guard lock(mutex_);
    return scheduleTime_;
}

void AudioPlayer::setScheduleTime(std::optional<AVAudioTime> time) {
    std::lock_guard lock(mutex_);
    scheduleTime_ = time;
}

double AudioPlayer::duration() const {
    std::shared_ptr<AVAudioFile> file;
    std::shared_ptr<AVAudioPCMBuffer> buffer;
    {
        std::lock_guard lock(mutex_);
        file = file_;
        buffer = buffer_;
    }
    double seconds = 0;
    if (file) {
        seconds = double(file->length()) / file->fileFormat().sampleRate();
    } else if (buffer) {
        seconds = double(buffer->frameLength()) / buffer->format().sampleRate();
    }
    // A format without a usable rate has no duration to clamp against.
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

double AudioPlayer::clamp(double time) const {
    if (!(time > 0)) return 0;  // negative, zero or not a number
    return std::min(time, duration());
}

void AudioPlayer::setEditStartTime(double time) { editStartTime_ = clamp(time); }

void AudioPlayer::setEditEndTime(double time) {
    if (time == 0) time = duration();
    editEndTime_ = clamp(time);
}

void AudioPlayer::setIsEditTimeEnabled(bool enabled) {
    if (!enabled) {
        savedEditStartTime_ = editStartTime();
        savedEditEndTime_ = editEndTime();
        setEditStartTime(0);
        setEditEndTime(0);
        isEditTimeEnabled_ = false;
    } else {
        setEditStartTime(savedEditStartTime_.value_or(0));
        setEditEndTime(savedEditEndTime_.value_or(0));
        isEditTimeEnabled_ = true;
    }
}

void AudioPlayer::setIsBuffered(bool buffered) {
    if (buffered == isBuffered_) return;
    isBuffered_ = buffered;
    if (!buffered) setBuffer(nullptr);
}

void AudioPlayer::setIsReversed(bool reversed) {
    if (reversed == isReversed_) return;
    isReversed_ = reversed;
    if (isPlaying_) stop();
    if (reversed && !isBuffered_) {
        isBuffered_ = true;
        updateBuffer(true);
    }
}

void AudioPlayer::setIsLooping(bool looping) {
    isLooping_ = looping;
    bufferOptions_ = looping ? platform::AVAudioPlayerNodeBufferLoops : platform::AVAudioPlayerNodeBufferInterrupts;
}

AudioPlayer::CompletionHandler AudioPlayer::completionHandler() const {
    std::lock_guard lock(mutex_);
    return completionHandler_;
}

void AudioPlayer::setCompletionHandler(CompletionHandler handler) {
    std::lock_guard lock(mutex_);
    completionHandler_ = std::move(handler);
}

std::shared_ptr<AudioPlayer::AVAudioFile> AudioPlayer::file() const {
    std::lock_guard lock(mutex_);
    return file_;
}

void AudioPlayer::setFile(std::shared_ptr<AVAudioFile> file) {
    std::shared_ptr<AVAudioFile> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(file_, std::move(file));
    }
    fileDidChange(previous);
}

void AudioPlayer::fileDidChange(const std::shared_ptr<AVAudioFile>& previous) {
    setScheduleTime(std::nullopt);
    const bool wasPlaying = isPlaying_;
    if (wasPlaying) stop();
    if (isBuffered_ && file() != previous) updateBuffer(true);
    if (wasPlaying) play();
}

std::shared_ptr<AudioPlayer::AVAudioPCMBuffer> AudioPlayer::buffer() const {
    std::lock_guard lock(mutex_);
    return buffer_;
}

void AudioPlayer::setBuffer(std::shared_ptr<AVAudioPCMBuffer> buffer) {
    {
        std::lock_guard lock(mutex_);
        buffer_ = std::move(buffer);
    }
    bufferDidChange();
}

void AudioPlayer::bufferDidChange() {
    setIsBuffered(this->buffer() != nullptr);
    setScheduleTime(std::nullopt);
    if (isPlaying_) {
        stop();
        play();
    }
}

std::optional<AudioPlayer::AVAudioFramePosition> AudioPlayer::startingFrame() const {
    std::lock_guard lock(mutex_);
    return startingFrame_;
}

std::optional<AudioPlayer::AVAudioFramePosition> AudioPlayer::endingFrame() const {
    std::lock_guard lock(mutex_);
    return endingFrame_;
}

}  // namespace sonora
