// MIDIPlayer: loading from the bundle and from memory, looping over every track, lengths and
// positions as durations.
#include "Sonora/MIDI/MIDIPlayer.h"

#include "main/TestSupport.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sonora;
using namespace platform;

namespace {

// Two tracks of one note each, 2 and 3 beats long (480 PPQ).
std::vector<uint8_t> twoTracks() {
    std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xE0};
    for (uint8_t beats : {2, 3}) {
        const uint16_t ticks = uint16_t(beats * 480);
        const std::vector<uint8_t> body{0, 0x90, 60, 100, uint8_t(0x80 | (ticks >> 7)), uint8_t(ticks & 0x7F), 0x80, 60, 0,
                                        0, 0xFF, 0x2F, 0};
        file.insert(file.end(), {'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(body.size())});
        file.insert(file.end(), body.begin(), body.end());
    }
    return file;
}

bool logged(const std::string& text) {
    for (const auto& entry : LogSink::entries())
        if (entry.message.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(MIDIPlayer, WithoutAFileItHasNoTracksAndLoopingOnlyFlipsTheFlag) {
    MIDIPlayer player(AVAudioEngine::make(), "not-in-the-bundle");
    EXPECT_TRUE(player.tracks().empty());
    EXPECT_EQ(player.length().beats, 0.0);
    EXPECT_TRUE(std::isnan(player.positionInLoop().beats));
    player.toggleLooping();
    EXPECT_TRUE(player.loopEnabled());
    player.toggleLooping();
    EXPECT_FALSE(player.loopEnabled());
    LogSink::clear();
    player.play();  // the engine does not run
    EXPECT_TRUE(logged("Could not start the sequencer"));
}

TEST(MIDIPlayer, LoadsTracksFromTheBundleOrMemoryAndLoopsEveryTrack) {
    testsupport::ScratchDir dir;
    const auto bytes = twoTracks();
    testsupport::writeFile(dir / "song.mid", std::string(bytes.begin(), bytes.end()));
    const URL resources = Bundle::main().resourceURL();
    Bundle::main().setResourceURL(URL(dir.path()));
    MIDIPlayer player(AVAudioEngine::make(), "song");
    Bundle::main().setResourceURL(resources);
    ASSERT_EQ(player.tracks().size(), 2u);
    player.setTempo(90);
    EXPECT_EQ(player.length().beats, 3.0);
    EXPECT_EQ(player.length().tempo, 90.0);
    EXPECT_EQ(player.position().tempo, 60.0);

    player.loopWholeSequence();
    for (const auto& track : player.tracks()) {
        EXPECT_TRUE(track->isLoopingEnabled());
        EXPECT_EQ(track->loopRange().start, 0.0);
        EXPECT_EQ(track->loopRange().length, 3.0);
    }
    player.toggleLooping();
    player.toggleLooping();  // off, then on again over the whole length
    EXPECT_TRUE(player.loopEnabled());
    player.stopLooping();
    for (const auto& track : player.tracks()) EXPECT_FALSE(track->isLoopingEnabled());

    player.setLength(Duration(8));
    for (const auto& track : player.tracks()) {
        EXPECT_EQ(track->lengthInBeats(), 8.0);
        EXPECT_EQ(track->loopRange().length, 8.0);
    }
    EXPECT_EQ(player.tracks().size(), 2u);  // the tempo changed nothing of the tracks

    LogSink::clear();
    player.sequence({'M', 'T', 'h', 'd'});
    EXPECT_TRUE(logged("cannot load from data "));
    EXPECT_EQ(player.tracks().size(), 2u);  // what it held stays
}
