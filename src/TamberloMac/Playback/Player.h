// The editor's playback service, one per process: one file player per clip, summed by one mixer
// that is the output of an engine. It schedules every clip from the playhead position `start`,
// applies clip and track mute, solo (only the first soloed track sounds), track and master volume,
// runs clip fades as volume steps of 0.1 s, reports the elapsed timeline position every 0.02 s to
// updateTimeBlock, and holds the editor's selected clip. Main thread only.
//
//   auto& player = Player::shared();
//   player.updateTimeBlock = [](double seconds) { moveThePlayhead(seconds); };
//   player.setTracks(tracks);   // rebuilds the graph
//   player.start = 3.0;         // the playhead
//   player.play();
#pragma once

#include "TamberloMac/Model/MusicModel.h"
#include "TamberloMac/Model/TrackModel.h"
#include "platform/avfaudio/AVAudioTime.h"
#include "platform/foundation/NSTimer.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>


namespace sonora {
class AudioEngine;
class AudioPlayer;
class Node;
}  // namespace sonora

namespace tamberlo {

class Player {
public:
    // The process-wide service, created on first use (on the main thread, with the Qt
    // application in place: its position timer lives in the main event loop).
    static Player& shared();

    // The editor's selected clip, or null.
    std::shared_ptr<MusicModel> selectMusic() const { return selectMusic_; }
    // Stores the clip (or null) and posts "NotifyManager.SelectedMusicDidChange" (no object).
    void setSelectMusic(std::shared_ptr<MusicModel> music);

    // The tracks to play.
    const std::vector<std::shared_ptr<TrackModel>>& tracks() const { return tracks_; }
    // Stores the list and rebuilds the graph (also for the same list): the engine is replaced and
    // left stopped; isPlay does not change.
    void setTracks(std::vector<std::shared_ptr<TrackModel>> tracks);

    bool isPlay() const { return isPlay_; }
    // Stores the state, posts "NotifyManager.PlayStateDidChange" and cancels pending fade steps.
    void setIsPlay(bool isPlay);

    // Master gain; takes effect at the next updatePlayer.
    double mainVolume = 1.0;
    // Timeline position (seconds) from which the next scheduling starts: the playhead.
    double start = 0;
    // Called on every timer tick with the elapsed timeline position.
    std::function<void(double)> updateTimeBlock;
    // Called by play() just before it starts the engine: where a headless run asks the output
    // device to capture what it plays.
    std::function<void(sonora::AudioEngine&)> engineWillStart;

    // Starts playback from `start` (nothing at all when there is no clip).
    void play();
    // Stops playback; `start` stays, so the next play resumes from the playhead.
    void stop();
    // While playing: reapplies mute, solo, volumes and fades and reschedules every clip from `start`.
    void updatePlayer();
    // The timer's action: reports now − the instant of timeline position 0.
    void updatePlayTime();

    // The graph's engine (replaced by every setTracks).
    const std::shared_ptr<sonora::AudioEngine>& engine() const { return engine_; }
    // Every clip of every track, flattened; clip i feeds the mixer's input i.
    const std::vector<std::shared_ptr<MusicModel>>& allPlayers() const { return allPlayers_; }
    // The fade generation: raised by play, stop, updatePlayer and setIsPlay.
    long lastFadeIdentify() const { return lastFadeIdentify_; }
    // Whether the position timer is running.
    bool isTimerRunning() const;

private:
    Player();

    enum class Fade { in, out };

    void rebuildPlayers();
    void applySoloRule(size_t index, std::shared_ptr<sonora::Node> node, const platform::AVAudioTime& anchor);
    void scheduleClip(const std::shared_ptr<MusicModel>& clip, const std::shared_ptr<TrackModel>& owner,
                      const std::shared_ptr<sonora::AudioPlayer>& player, const platform::AVAudioTime& anchor);
    void fadeStep(std::shared_ptr<MusicModel> clip, std::shared_ptr<sonora::AudioPlayer> player, float gain,
                  double remaining, Fade direction, long generation);

    std::shared_ptr<sonora::AudioEngine> engine_;
    std::vector<std::shared_ptr<MusicModel>> allPlayers_;
    // The monotonic instant of timeline position 0 of the current run.
    std::chrono::steady_clock::time_point playStart_;
    std::shared_ptr<platform::NSTimer> timer_;
    long lastFadeIdentify_ = 0;
    bool isPlay_ = false;
    std::vector<std::shared_ptr<TrackModel>> tracks_;
    std::shared_ptr<MusicModel> selectMusic_;
};

}  // namespace tamberlo
