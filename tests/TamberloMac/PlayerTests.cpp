// The playback service's graph, scheduling rules and state, on the null output device (no timing
// is measured here; see PlayerRealtimeTests.cpp for that).
#include "EditorFixtures.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Playback/Player.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace tamberlo;
namespace fs = std::filesystem;

namespace {

// Clips over short files: 44100 Hz stereo, `seconds` long.
struct Clips {
    testsupport::ScratchDir dir;
    int files = 0;

    std::shared_ptr<MusicModel> clip(double startTime, double seconds = 4.0) {
        const fs::path path = dir / ("clip" + std::to_string(files++) + ".wav");
        editortest::writeWav16(path, 44100, 2, uint32_t(seconds * 44100), [](uint32_t, uint16_t) { return int16_t(1000); });
        auto music = MusicModel::make();
        music->file = platform::AVAudioFile::forReading(platform::URL(path));
        music->startTime = startTime;
        return music;
    }
    std::shared_ptr<TrackModel> track(std::vector<std::shared_ptr<MusicModel>> musics) {
        auto track = TrackModel::make();
        track->musics = std::move(musics);
        return track;
    }
};

std::vector<std::shared_ptr<sonora::AudioPlayer>> players() {
    std::vector<std::shared_ptr<sonora::AudioPlayer>> list;
    for (const auto& node : Player::shared().engine()->output()->connections())
        list.push_back(std::dynamic_pointer_cast<sonora::AudioPlayer>(node));
    return list;
}

// Plays the tracks from `start` and returns what the scheduling wrote to stdout.
std::string playFrom(const std::vector<std::shared_ptr<TrackModel>>& tracks, double start) {
    auto& player = Player::shared();
    testing::internal::CaptureStdout();
    player.setTracks(tracks);
    player.start = start;
    player.play();
    return testing::internal::GetCapturedStdout();
}

void stopQuietly() {
    testing::internal::CaptureStdout();
    Player::shared().stop();
    testing::internal::GetCapturedStdout();
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(Player, SettingTracksRebuildsOnePlayerPerClipWithoutPlaying) {
    Clips clips;
    auto a = clips.clip(0), b = clips.clip(5), c = clips.clip(0);
    auto& player = Player::shared();
    testing::internal::CaptureStdout();
    player.setTracks({clips.track({a, b}), clips.track({c, MusicModel::make()})});
    const std::string tree = testing::internal::GetCapturedStdout();
    EXPECT_EQ(player.allPlayers().size(), 4u);
    EXPECT_EQ(player.allPlayers()[1], b);
    EXPECT_EQ(players().size(), 4u);
    EXPECT_EQ(count(tree, "↳AudioPlayer"), 4u);
    EXPECT_FALSE(player.isPlay());
    EXPECT_FALSE(player.engine()->avEngine()->isRunning());
}

TEST(Player, PlayWithoutClipsDoesNothing) {
    auto& player = Player::shared();
    testing::internal::CaptureStdout();
    player.setTracks({TrackModel::make()});
    testing::internal::GetCapturedStdout();
    int posts = 0;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto token = center.addObserver(NotifyManager::PlayStateDidChange(), [&](const platform::Notification&) { ++posts; });
    const long generation = player.lastFadeIdentify();
    player.play();
    EXPECT_FALSE(player.isPlay());
    EXPECT_FALSE(player.isTimerRunning());
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(player.lastFadeIdentify(), generation);
    center.removeObserver(token);
}

TEST(Player, PlayAndStopPostAndCancelFades) {
    Clips clips;
    auto& player = Player::shared();
    int posts = 0;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto token = center.addObserver(NotifyManager::PlayStateDidChange(), [&](const platform::Notification&) { ++posts; });

    long generation = player.lastFadeIdentify();
    playFrom({clips.track({clips.clip(0)})}, 0);
    EXPECT_TRUE(player.isPlay());
    EXPECT_TRUE(player.isTimerRunning());
    EXPECT_EQ(player.lastFadeIdentify(), generation + 2);  // play and its updatePlayer
    EXPECT_EQ(posts, 1);

    generation = player.lastFadeIdentify();
    testing::internal::CaptureStdout();
    player.updatePlayer();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(player.lastFadeIdentify(), generation + 1);

    player.start = 1.5;
    stopQuietly();
    EXPECT_FALSE(player.isPlay());
    EXPECT_FALSE(player.isTimerRunning());
    EXPECT_EQ(player.lastFadeIdentify(), generation + 2);
    EXPECT_EQ(player.start, 1.5);  // the next play resumes from the playhead
    EXPECT_EQ(posts, 2);

    player.setIsPlay(false);
    EXPECT_EQ(player.lastFadeIdentify(), generation + 3);
    EXPECT_EQ(posts, 3);
    testing::internal::CaptureStdout();
    player.updatePlayer();  // not playing: nothing
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(player.lastFadeIdentify(), generation + 3);
    center.removeObserver(token);
}

TEST(Player, ClipsAreScheduledFromThePlayhead) {
    Clips clips;
    struct Case {
        double start;
        std::string line;
        bool playing;
    };
    const std::vector<Case> cases{
        {4.0, "start===4.0,atwhen===6.0,seek===0.0,ismute===false\n", true},
        {12.0, "start===12.0,atwhen===0.0,seek===2.0,ismute===false\n", true},
        {15.0, "start===15.0,atwhen===0.0,seek===5.0,ismute===false\n", false},  // past its end: stopped
    };
    auto track = clips.track({clips.clip(10.0)});
    track->volume = 0.8;
    for (const auto& c : cases) {
        const std::string out = playFrom({track}, c.start);
        EXPECT_NE(out.find(c.line + "trackVolume===0.8,trackMute===false\n"), std::string::npos) << out;
        EXPECT_EQ(players()[0]->isPlaying(), c.playing) << c.start;
        stopQuietly();
    }
}

TEST(Player, GainsFollowMuteSoloAndVolumes) {
    Clips clips;
    auto& player = Player::shared();
    auto first = clips.track({clips.clip(0)});
    auto second = clips.track({clips.clip(0), clips.clip(5)});
    auto third = clips.track({clips.clip(0)});
    first->volume = 0.8;
    player.mainVolume = 0.5;

    // No solo: every clip at track volume × master volume; a muted clip at 0 but scheduled.
    second->musics[1]->isMute = true;
    playFrom({first, second, third}, 0);
    auto list = players();
    EXPECT_EQ(list[0]->volume(), float(0.8 * 0.5));
    EXPECT_EQ(list[1]->volume(), 0.5f);
    EXPECT_EQ(list[2]->volume(), 0.0f);
    EXPECT_TRUE(list[2]->isPlaying());
    stopQuietly();

    // Two soloed tracks: only the first of them is scheduled.
    second->isOnlyPlay = third->isOnlyPlay = true;
    const std::string out = playFrom({first, second, third}, 0);
    EXPECT_EQ(count(out, "start==="), 2u);
    list = players();
    EXPECT_FALSE(list[0]->isPlaying());
    EXPECT_TRUE(list[1]->isPlaying());
    EXPECT_FALSE(list[3]->isPlaying());
    stopQuietly();

    // A soloed track that is muted is silent, and the others are stopped.
    second->isMute = true;
    playFrom({first, second, third}, 0);
    list = players();
    EXPECT_EQ(list[1]->volume(), 0.0f);
    EXPECT_FALSE(list[0]->isPlaying());
    stopQuietly();
    player.mainVolume = 1.0;
}

TEST(Player, PlayingInsideAFadeStartsAtTheRampValue) {
    Clips clips;
    auto inClip = clips.clip(0, 4.0);
    inClip->fadeInTime = 2.0;
    auto outClip = clips.clip(0, 4.0);
    outClip->fadeOutTime = 3.0;
    auto removed = clips.clip(0, 4.0);
    removed->fadeInTime = 2.0;
    auto track = clips.track({inClip});
    playFrom({track, clips.track({outClip}), clips.track({removed})}, 1.0);
    EXPECT_FLOAT_EQ(players()[0]->volume(), 0.5f);  // 1 s into a 2 s fade-in
    EXPECT_FLOAT_EQ(players()[1]->volume(), 1.0f);  // fade-out not reached yet
    // A fade removed while its steps are pending gives full gain rather than a division by zero.
    removed->fadeInTime = 0;
    editortest::spinFor(0.15);
    EXPECT_FLOAT_EQ(players()[2]->volume(), 1.0f);
    EXPECT_TRUE(std::isfinite(players()[0]->volume()));
    stopQuietly();

    // 2 s of the clip left at the playhead with a 3 s fade-out: it starts at once at two thirds.
    playFrom({clips.track({outClip})}, 2.0);
    editortest::spinFor(0.05);
    EXPECT_NEAR(players()[0]->volume(), 2.0f / 3.0f, 1e-6);
    stopQuietly();
}

TEST(Player, AnEngineThatCannotStartIsLogged) {
    Clips clips;
    const std::string previous = std::getenv("TAMBERLO_AUDIO_DEVICE") ? std::getenv("TAMBERLO_AUDIO_DEVICE") : "";
    ::setenv("TAMBERLO_AUDIO_DEVICE", "fail", 1);
    platform::LogSink::clear();
    playFrom({clips.track({clips.clip(0)})}, 0);
    ::setenv("TAMBERLO_AUDIO_DEVICE", previous.c_str(), 1);
    EXPECT_TRUE(Player::shared().isPlay());  // the service still plays (silently)
    bool logged = false;
    for (const auto& entry : platform::LogSink::entries())
        logged |= entry.type == platform::OSLogType::error &&
                  entry.message.find("could not start the audio engine") != std::string::npos;
    EXPECT_TRUE(logged);
    stopQuietly();
}

TEST(Player, PlayStopAndRebuildsLeaveNothingBehind) {
    Clips clips;
    std::vector<std::shared_ptr<MusicModel>> musics;
    for (int i = 0; i < 10; ++i) musics.push_back(clips.clip(i * 0.5, 1.0));
    auto track = clips.track(musics);
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    auto& player = Player::shared();
    const auto before = openFiles();
    std::weak_ptr<sonora::AudioPlayer> aPlayer;
    testing::internal::CaptureStdout();
    for (int cycle = 0; cycle < 5; ++cycle) {
        player.setTracks({track});
        aPlayer = players()[0];
        player.play();
        editortest::spinFor(0.03);
        if (cycle % 2) player.stop();  // otherwise the next setTracks rebuilds under a playing graph
    }
    player.setTracks({});
    player.stop();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(aPlayer.expired());
    EXPECT_LE(openFiles(), before);
}
