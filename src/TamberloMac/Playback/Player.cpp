#include "TamberloMac/Playback/Player.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Utilities/AVAudioTimeArithmetic.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "TamberloMac/Interface/GCD.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Interface/TimerAddition.h"
#include "TamberloMac/detail/DebugText.h"
#include "platform/foundation/OSLog.h"


#include <algorithm>
#include <cmath>
#include <iostream>

namespace tamberlo {

using detail::debugBool;
using detail::debugNumber;

namespace {

constexpr int kTimerIntervalMs = 20;
constexpr double kFadeStepSeconds = 0.1;

const platform::OSLog& playerLog() {
    static const platform::OSLog log{"io.tamberlo.editor", "Player"};
    return log;
}

// The value of a linear fade `length` seconds long with `left` seconds of it still to come: rising
// for a fade-in, falling for a fade-out. A fade that was removed meanwhile counts as full gain.
double fadeFraction(double length, double left, bool fadeIn) {
    if (!(length > 0)) return 1.0;
    const double done = (length - left) * (1.0 / length);
    return std::clamp(fadeIn ? done : 1.0 - done, 0.0, 1.0);
}

// Stops every clip player of an engine's output. Called with the engine stopped, so that the
// players drop what they had scheduled at once (file readers and completion handlers included):
// a stop sent to a running engine is applied by its next render cycle, which a stop of the engine
// right after it would never run.
void stopPlayers(const sonora::AudioEngine& engine) {
    const auto output = engine.output();
    if (!output) return;
    for (const auto& input : output->connections())
        if (auto player = std::dynamic_pointer_cast<sonora::AudioPlayer>(input)) player->stop();
}

}  // namespace

Player& Player::shared() {
    // Lives as long as the process: clips, engine and timer must outlast every caller.
    static Player* player = new Player();
    return *player;
}

Player::Player() : engine_(std::make_shared<sonora::AudioEngine>()), playStart_(std::chrono::steady_clock::now()) {
    // Created paused: it runs only while playing.
    timer_ = platform::NSTimer::make(kTimerIntervalMs / 1000.0, true, [this](platform::NSTimer&) { updatePlayTime(); });
    pause(*timer_);
}

void Player::setSelectMusic(std::shared_ptr<MusicModel> music) {
    selectMusic_ = std::move(music);
    NotifyManager::post(NotifyManager::SelectedMusicDidChange());
}

void Player::setTracks(std::vector<std::shared_ptr<TrackModel>> tracks) {
    tracks_ = std::move(tracks);
    rebuildPlayers();
}

void Player::setIsPlay(bool isPlay) {
    isPlay_ = isPlay;
    NotifyManager::post(NotifyManager::PlayStateDidChange());
    ++lastFadeIdentify_;
}

bool Player::isTimerRunning() const { return timer_->fireDate() != platform::NSTimer::distantFuture(); }

void Player::rebuildPlayers() {
    allPlayers_.clear();
    for (const auto& track : tracks_) {
        if (!track) continue;
        for (const auto& clip : track->musics)
            if (clip) allPlayers_.push_back(clip);
    }

    engine_->stop();
    stopPlayers(*engine_);
    engine_ = std::make_shared<sonora::AudioEngine>();

    std::vector<std::shared_ptr<sonora::Node>> players;
    players.reserve(allPlayers_.size());
    for (const auto& clip : allPlayers_) {
        // A clip without audio still gets a (silent) player, so that input i stays clip i.
        if (clip->file)
            players.push_back(std::make_shared<sonora::AudioPlayer>(clip->file));
        else
            players.push_back(std::make_shared<sonora::AudioPlayer>());
    }
    engine_->setOutput(std::make_shared<sonora::Mixer>(std::move(players)));
    std::cout << engine_->connectionTreeDescription() << std::endl;
}

void Player::play() {
    const auto output = engine_->output();
    if (!output || output->connections().empty()) return;

    resume(*timer_);
    // The clock counts nanoseconds in 64 bits: a start beyond ~292 years would wrap, not a past.
    const double startSeconds = std::isfinite(start) ? std::clamp(start, 0.0, 9.0e9) : 0.0;
    playStart_ = std::chrono::steady_clock::now() -
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(startSeconds));
    if (engineWillStart) engineWillStart(*engine_);
    try {
        engine_->start();
    } catch (const platform::NSErrorException& e) {
        // Playback goes on without sound (the players refuse to play); the reason must not be lost.
        platform::os_log(playerLog(), platform::OSLogType::error,
                         "could not start the audio engine: " + e.error().localizedDescription);
    }
    isPlay_ = true;
    NotifyManager::post(NotifyManager::PlayStateDidChange());
    ++lastFadeIdentify_;
    updatePlayer();
}

void Player::stop() {
    pause(*timer_);
    engine_->stop();
    stopPlayers(*engine_);
    isPlay_ = false;
    NotifyManager::post(NotifyManager::PlayStateDidChange());
    ++lastFadeIdentify_;
}

void Player::updatePlayTime() {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - playStart_).count();
    if (updateTimeBlock) updateTimeBlock(elapsed);
}

void Player::updatePlayer() {
    if (!isPlay_) return;
    ++lastFadeIdentify_;
    const auto output = engine_->output();
    if (!output) return;
    // One instant for every clip, so that their distances on the timeline are kept exactly.
    const platform::AVAudioTime anchor = sonora::now();
    const auto inputs = output->connections();
    for (size_t i = 0; i < inputs.size(); ++i) applySoloRule(i, inputs[i], anchor);
}

void Player::applySoloRule(size_t index, std::shared_ptr<sonora::Node> node, const platform::AVAudioTime& anchor) {
    while (node) {
        const auto inputs = node->connections();
        if (inputs.empty()) break;
        node = inputs.front();
    }
    const auto player = std::dynamic_pointer_cast<sonora::AudioPlayer>(node);
    if (!player || index >= allPlayers_.size()) return;

    const auto& clip = allPlayers_[index];
    std::shared_ptr<TrackModel> owner;
    std::shared_ptr<TrackModel> soloTrack;
    for (const auto& track : tracks_) {
        if (!track) continue;
        if (!owner && track->holds(clip)) owner = track;
        if (!soloTrack && track->isOnlyPlay) soloTrack = track;
    }
    if (!soloTrack || soloTrack->holds(clip))
        scheduleClip(clip, owner, player, anchor);
    else
        player->stop();
}

void Player::scheduleClip(const std::shared_ptr<MusicModel>& clip, const std::shared_ptr<TrackModel>& owner,
                          const std::shared_ptr<sonora::AudioPlayer>& player, const platform::AVAudioTime& anchor) {
    const double s = start;
    const double c = clip->startTime;
    const double atWhen = s <= c ? c - s : 0;
    const double seek = c < s ? s - c : 0;
    std::cout << "start===" << debugNumber(s) << ",atwhen===" << debugNumber(atWhen) << ",seek===" << debugNumber(seek)
              << ",ismute===" << debugBool(clip->isMute) << "\n"
              << "trackVolume===" << debugNumber(owner ? owner->volume : 0)
              << ",trackMute===" << debugBool(owner && owner->isMute) << std::endl;

    if (clip->isMute || (owner && owner->isMute)) {
        player->setVolume(0);
    } else {
        const float gain = float((owner ? owner->volume : 1.0) * mainVolume);
        player->setVolume(gain);
        const long generation = lastFadeIdentify_;

        const double fadeInLeft = clip->fadeInTime - seek;
        if (fadeInLeft > 0) {
            player->setVolume(float(fadeFraction(clip->fadeInTime, fadeInLeft, true)) * gain);
            GCDAfterMain([this, clip, player, gain, fadeInLeft, generation] {
                fadeStep(clip, player, gain, fadeInLeft, Fade::in, generation);
            }, atWhen);
        }

        const double duration = clip->duration();
        const double fadeOutLength = std::min(clip->fadeOutTime, duration - seek);
        if (fadeOutLength > 0) {
            // Never before the clip itself starts: a fade-out longer than what is left of the clip
            // begins with the clip, at the matching ramp value.
            const double delay = atWhen + std::max(0.0, duration - clip->fadeOutTime - seek);
            GCDAfterMain([this, clip, player, gain, fadeOutLength, generation] {
                fadeStep(clip, player, gain, fadeOutLength, Fade::out, generation);
            }, delay);
        }
    }

    if (seek > player->duration()) {
        player->stop();
    } else {
        player->play(seek, std::nullopt, anchor + atWhen, platform::AVAudioPlayerNodeCompletionCallbackType::dataPlayedBack);
    }
}

void Player::fadeStep(std::shared_ptr<MusicModel> clip, std::shared_ptr<sonora::AudioPlayer> player, float gain,
                      double remaining, Fade direction, long generation) {
    if (lastFadeIdentify_ != generation) return;
    const double left = std::max(remaining, 0.0);
    const bool fadeIn = direction == Fade::in;
    const double fraction = fadeFraction(fadeIn ? clip->fadeInTime : clip->fadeOutTime, left, fadeIn);
    player->setVolume(float(fraction) * gain);
    if (remaining > 0) {
        GCDAfterMain([this, clip = std::move(clip), player = std::move(player), gain, remaining, direction, generation] {
            fadeStep(clip, player, gain, remaining - kFadeStepSeconds, direction, generation);
        }, kFadeStepSeconds);
    }
}

}  // namespace tamberlo
