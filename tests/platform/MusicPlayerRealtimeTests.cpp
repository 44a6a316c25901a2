// The music player against the real-time clock: what it sends to a virtual destination, when, and
// when it stops. At 600 BPM a beat lasts 0.1 s, so each case plays for well under a second.
#include "platform/audiotoolbox/MusicPlayer.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace platform;

namespace {

struct Received {
    uint64_t stamp;
    std::vector<uint8_t> bytes;
};

// A sequence at 600 BPM with two tracks sending to one virtual destination:
//   melody: notes 60, 61, 62 at beats 0, 1, 2, each half a beat long;
//   bass:   note 40 at beat 0.5, a quarter beat long.
class PlayerRig {
public:
    PlayerRig() {
        EXPECT_EQ(MIDIClientCreateWithBlock("player test", &client_, nullptr), 0);
        EXPECT_EQ(MIDIDestinationCreateWithBlock(client_, "player test in", &destination_,
                                                 [this](const MIDIPacketList* list, size_t, void*) {
                                                     std::lock_guard lock(mutex_);
                                                     const MIDIPacket* packet = &list->packet[0];
                                                     for (uint32_t i = 0; i < list->numPackets; ++i) {
                                                         received_.push_back({packet->timeStamp,
                                                                              {packet->data, packet->data + packet->length}});
                                                         packet = MIDIPacketNext(packet);
                                                     }
                                                 }),
                  0);
        EXPECT_EQ(NewMusicSequence(&sequence_), 0);
        MusicTrack tempo = nullptr;
        EXPECT_EQ(MusicSequenceGetTempoTrack(sequence_, &tempo), 0);
        EXPECT_EQ(MusicTrackNewExtendedTempoEvent(tempo, 0, 600), 0);
        melody = newTrack({{0, 60, 0.5f}, {1, 61, 0.5f}, {2, 62, 0.5f}});
        bass = newTrack({{0.5, 40, 0.25f}});
        EXPECT_EQ(NewMusicPlayer(&player), 0);
        EXPECT_EQ(MusicPlayerSetSequence(player, sequence_), 0);
    }
    ~PlayerRig() {
        DisposeMusicPlayer(player);
        DisposeMusicSequence(sequence_);
        MIDIDrain();
        MIDIEndpointDispose(destination_);
        MIDIClientDispose(client_);
    }

    // Plays from beat 0 until the player stops by itself (or five seconds pass); the messages seen.
    std::vector<Received> playToTheEnd() {
        EXPECT_EQ(MusicPlayerSetTime(player, 0), 0);
        const uint64_t started = mach_absolute_time();
        EXPECT_EQ(MusicPlayerStart(player), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        bool playing = true;
        while (playing && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_EQ(MusicPlayerIsPlaying(player, &playing), 0);
        }
        EXPECT_FALSE(playing) << "the player did not stop after its last track ended";
        MIDIDrain();
        std::lock_guard lock(mutex_);
        auto seen = std::move(received_);
        received_.clear();
        for (auto& message : seen) message.stamp -= started;
        return seen;
    }

    MusicPlayer player = nullptr;
    MusicTrack melody = nullptr;
    MusicTrack bass = nullptr;

private:
    struct Note {
        double beat;
        uint8_t key;
        float duration;
    };
    MusicTrack newTrack(const std::vector<Note>& notes) {
        MusicTrack track = nullptr;
        EXPECT_EQ(MusicSequenceNewTrack(sequence_, &track), 0);
        for (const auto& note : notes) {
            const MIDINoteMessage message{0, note.key, 100, 0, note.duration};
            EXPECT_EQ(MusicTrackNewMIDINoteEvent(track, note.beat, &message), 0);
        }
        EXPECT_EQ(MusicTrackSetDestMIDIEndpoint(track, destination_), 0);
        return track;
    }

    MIDIClientRef client_ = 0;
    MIDIEndpointRef destination_ = 0;
    MusicSequence sequence_ = nullptr;
    std::mutex mutex_;
    std::vector<Received> received_;
};

// "on 60" / "off 60" for each message, in arrival order.
std::vector<std::string> notesOf(const std::vector<Received>& seen) {
    std::vector<std::string> notes;
    for (const auto& m : seen)
        if (m.bytes.size() == 3)
            notes.push_back(std::string((m.bytes[0] & 0xF0) == 0x90 ? "on " : "off ") + std::to_string(m.bytes[1]));
    return notes;
}

// The stamp of the first message with these bytes, in seconds after the start.
double stampOf(const std::vector<Received>& seen, uint8_t status, uint8_t key, int occurrence = 0) {
    for (const auto& m : seen)
        if (m.bytes.size() == 3 && m.bytes[0] == status && m.bytes[1] == key && occurrence-- == 0)
            return double(m.stamp) * 1e-9;
    ADD_FAILURE() << "no message " << int(status) << " " << int(key);
    return -1;
}

}  // namespace

TEST(MusicPlayerRealtime, SendsEveryNoteStampedAtItsTempoMapTimeAndStopsAtTheEnd) {
    PlayerRig rig;
    const auto seen = rig.playToTheEnd();
    // A note-off due with a note-on goes first.
    EXPECT_EQ(notesOf(seen), (std::vector<std::string>{"on 60", "off 60", "on 40", "off 40", "on 61", "off 61",
                                                         "on 62", "off 62"}));
    // Stamps are the due times, so their spacing is exact whatever the thread's wake-up delay.
    const double first = stampOf(seen, 0x90, 60);
    EXPECT_NEAR(stampOf(seen, 0x90, 40) - first, 0.05, 1e-4);
    EXPECT_NEAR(stampOf(seen, 0x80, 60) - first, 0.05, 1e-4);
    EXPECT_NEAR(stampOf(seen, 0x90, 61) - first, 0.1, 1e-4);
    EXPECT_NEAR(stampOf(seen, 0x80, 62) - first, 0.25, 1e-4);
    MusicTimeStamp end = 0;
    EXPECT_EQ(MusicPlayerGetTime(rig.player, &end), 0);
    EXPECT_DOUBLE_EQ(end, 2.5);
}

TEST(MusicPlayerRealtime, MuteSoloAndPlayRate) {
    struct Case {
        const char* name;
        bool muteBass, soloBass;
        double rate;
        std::vector<std::string> notes;
        double lastOnAfterFirst;  // seconds from the first note-on to the last
    };
    const std::vector<Case> cases = {
        {"bass muted", true, false, 1, {"on 60", "off 60", "on 61", "off 61", "on 62", "off 62"}, 0.2},
        {"bass soloed", false, true, 1, {"on 40", "off 40"}, 0},
        {"muted and soloed", true, true, 1, {}, 0},
        {"twice as fast", false, false, 2,
         {"on 60", "off 60", "on 40", "off 40", "on 61", "off 61", "on 62", "off 62"}, 0.1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlayerRig rig;
        EXPECT_EQ(MusicTrackSetProperty(rig.bass, kSequenceTrackProperty_MuteStatus, c.muteBass), 0);
        EXPECT_EQ(MusicTrackSetProperty(rig.bass, kSequenceTrackProperty_SoloStatus, c.soloBass), 0);
        EXPECT_EQ(MusicPlayerSetPlayRateScalar(rig.player, c.rate), 0);
        const auto seen = rig.playToTheEnd();
        EXPECT_EQ(notesOf(seen), c.notes);
        if (c.notes.size() > 2) {
            EXPECT_NEAR(stampOf(seen, 0x90, 62) - stampOf(seen, 0x90, 60), c.lastOnAfterFirst, 1e-4);
        }
    }
}

TEST(MusicPlayerRealtime, ALoopRepeatsTheEndOfTheTrackThenThePlayerStops) {
    PlayerRig rig;
    // A three-beat melody whose last beat (note 62) plays twice more: at beats 2, 3 and 4.
    EXPECT_EQ(MusicTrackSetProperty(rig.melody, kSequenceTrackProperty_TrackLength, 3.0), 0);
    EXPECT_EQ(MusicTrackSetProperty(rig.melody, kSequenceTrackProperty_LoopInfo, MusicTrackLoopInfo{1.0, 2}), 0);
    const auto seen = rig.playToTheEnd();
    const auto notes = notesOf(seen);
    EXPECT_EQ(std::count(notes.begin(), notes.end(), "on 62"), 3);
    EXPECT_EQ(std::count(notes.begin(), notes.end(), "on 60"), 1);
    const double first = stampOf(seen, 0x90, 60);
    for (int pass = 0; pass < 3; ++pass)
        EXPECT_NEAR(stampOf(seen, 0x90, 62, pass) - first, 0.2 + 0.1 * pass, 1e-4) << "pass " << pass;
    MusicTimeStamp end = 0;
    EXPECT_EQ(MusicPlayerGetTime(rig.player, &end), 0);
    EXPECT_DOUBLE_EQ(end, 5.0);
}

TEST(MusicPlayerRealtime, TracksWithoutADestinationAndNoSoundFontAreDroppedWithOneLogLine) {
    const std::string missing = ::testing::TempDir() + "/no-such-bank.sf2";
    ::setenv("TAMBERLO_DEFAULT_SOUNDFONT", missing.c_str(), 1);
    LogSink::clear();
    for (int play = 0; play < 2; ++play) {
        PlayerRig rig;
        EXPECT_EQ(MusicTrackSetDestMIDIEndpoint(rig.bass, 0), 0);
        const auto notes = notesOf(rig.playToTheEnd());
        EXPECT_EQ(notes, (std::vector<std::string>{"on 60", "off 60", "on 61", "off 61", "on 62", "off 62"}));
    }
    ::unsetenv("TAMBERLO_DEFAULT_SOUNDFONT");
    int lines = 0;
    for (const auto& entry : LogSink::entries())
        if (entry.message.find("no General MIDI SoundFont at " + missing) != std::string::npos) ++lines;
    EXPECT_EQ(lines, 1);
}
