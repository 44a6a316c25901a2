// AppleSequencer and MusicTrackManager over the platform music sequence, without audio.
#include "Sonora/Sequencing/AppleSequencer/AppleSequencer.h"

#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace sonora;
using namespace platform;

namespace {

bool logged(const std::string& text) {
    for (const auto& entry : LogSink::entries())
        if (entry.message.find(text) != std::string::npos) return true;
    return false;
}

std::shared_ptr<AppleSequencer> withTrack(std::shared_ptr<MusicTrackManager>* track) {
    auto sequencer = std::make_shared<AppleSequencer>();
    *track = sequencer->newTrack("Lead");
    return sequencer;
}

MusicTrack tempoTrackOf(const AppleSequencer& sequencer) {
    MusicTrack tempo = nullptr;
    MusicSequenceGetTempoTrack(*sequencer.sequence, &tempo);
    return tempo;
}

void addMeta(MusicTrack track, double time, uint8_t type, const std::vector<uint8_t>& data) {
    MIDIMetaEvent* block = makeMetaEvent(type, data);
    ASSERT_EQ(MusicTrackNewMetaEvent(track, time, block), 0);
    freeMetaEvent(block);
}

MusicTrackLoopInfo loopOf(const MusicTrackManager& track) {
    MusicTrackLoopInfo loop{-1, -1};
    uint32_t size = 0;
    MusicTrackGetProperty(*track.internalMusicTrack, kSequenceTrackProperty_LoopInfo, &loop, &size);
    return loop;
}

std::vector<std::pair<double, MIDINoteMessage>> notesOf(const MusicTrackManager& track) {
    std::vector<std::pair<double, MIDINoteMessage>> notes;
    const auto listed = track.noteData();
    for (const auto& e : *listed) {
        MIDINoteMessage m;
        std::memcpy(&m, e.data.data(), sizeof m);
        notes.emplace_back(e.time, m);
    }
    return notes;
}

// A two-track file in memory: notes in each track, a time signature 3/4 in the tempo track.
std::vector<uint8_t> smallFile(uint8_t firstKey) {
    std::vector<uint8_t> tempo{'M', 'T', 'r', 'k', 0, 0, 0, 12, 0, 0xFF, 0x58, 4, 3, 2, 24, 8, 0, 0xFF, 0x2F, 0};
    std::vector<uint8_t> notes{'M', 'T', 'r', 'k', 0, 0, 0, 13, 0, 0x90, firstKey, 100, 0x83, 0x60, 0x80, firstKey, 0,
                               0, 0xFF, 0x2F, 0};
    std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 1, 0xE0};
    file.insert(file.end(), tempo.begin(), tempo.end());
    file.insert(file.end(), notes.begin(), notes.end());
    return file;
}

}  // namespace

TEST(AppleSequencer, FreshLoadedAndReloadedSequencers) {
    AppleSequencer fresh;
    EXPECT_EQ(fresh.length().beats, 0.0);
    EXPECT_EQ(fresh.trackCount(), 0);
    EXPECT_FALSE(fresh.isPlaying());
    EXPECT_EQ(fresh.rate(), 1.0);

    auto sequencer = AppleSequencer::fromData(smallFile(60));
    ASSERT_EQ(sequencer->tracks.size(), 1u);
    EXPECT_EQ(sequencer->timeResolution(), 480u);
    EXPECT_DOUBLE_EQ(sequencer->length().beats, 1.0);
    sequencer->enableLooping();
    sequencer->loadMIDIFile(smallFile(72));  // the second file's tracks only, looped over its length
    ASSERT_EQ(sequencer->tracks.size(), 1u);
    EXPECT_EQ(sequencer->trackCount(), 1);
    EXPECT_EQ(sequencer->tracks[0]->name, "InitializedTrack");
    const auto notes = notesOf(*sequencer->tracks[0]);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].second.note, 72);
    EXPECT_EQ(loopOf(*sequencer->tracks[0]).loopDuration, 1.0);
    EXPECT_EQ(sequencer->allTimeSignatureEvents().size(), 1u);  // the first file's signature went

    sequencer->disableLooping();
    EXPECT_EQ(loopOf(*sequencer->tracks[0]).loopDuration, 0.0);
    EXPECT_EQ(loopOf(*sequencer->tracks[0]).numberOfLoops, 0);
    EXPECT_FALSE(sequencer->loopEnabled());
    // Counts beyond 32 bits saturate rather than wrap.
    for (const auto& [count, stored] : std::vector<std::pair<int64_t, int32_t>>{
             {int64_t(1) << 32, std::numeric_limits<int32_t>::max()}, {-(int64_t(1) << 40), std::numeric_limits<int32_t>::min()}}) {
        sequencer->enableLooping(Duration(2), count);
        EXPECT_EQ(loopOf(*sequencer->tracks[0]).numberOfLoops, stored) << count;
        sequencer->tracks[0]->setLoopInfo(2, count);
        EXPECT_EQ(loopOf(*sequencer->tracks[0]).numberOfLoops, stored) << count;
    }

    const auto data = sequencer->genData();
    ASSERT_TRUE(data);
    ASSERT_GE(data->size(), 14u);
    EXPECT_EQ(std::string(data->begin(), data->begin() + 4), "MThd");
    LogSink::clear();
    sequencer->loadMIDIFile(std::vector<uint8_t>{'M', 'T', 'h', 'd'});
    EXPECT_TRUE(logged("error reading midi data, read status: "));
    EXPECT_TRUE(sequencer->tracks.empty());
}

TEST(AppleSequencer, TrackBookkeepingTimeConversionAndQuantizing) {
    std::shared_ptr<MusicTrackManager> track;
    auto sequencer = withTrack(&track);
    track->add(60, 100, Duration(0), Duration(4));
    const auto second = sequencer->newTrack("Second");
    EXPECT_EQ(second, sequencer->tracks.back());
    LogSink::clear();
    sequencer->deleteTrack(2);
    EXPECT_TRUE(logged("Can't get track for index"));
    EXPECT_EQ(sequencer->tracks.size(), 2u);
    sequencer->deleteTrack(1);
    EXPECT_EQ(sequencer->trackCount(), 1);

    sequencer->addTempoEventAt(60, Duration(0));
    EXPECT_DOUBLE_EQ(sequencer->seconds(Duration(2)), 2.0);
    EXPECT_DOUBLE_EQ(sequencer->seconds(Duration(-2)), -2.0);
    EXPECT_DOUBLE_EQ(sequencer->duration(2).beats, 2.0);
    EXPECT_DOUBLE_EQ(sequencer->duration(-2).beats, -sequencer->duration(2).beats);

    // Length 4, grid of 1: position 1.5 is halfway and goes to the later point; 3.75 wraps to 0.
    const struct {
        double position, previous, next, nearest;
    } cases[] = {{1.5, 1, 2, 2}, {1.25, 1, 2, 1}, {3.75, 3, 0, 0}};
    for (const auto& c : cases) {
        sequencer->setTime(c.position);
        EXPECT_DOUBLE_EQ(sequencer->previousQuantizedPosition(1).beats, c.previous) << c.position;
        EXPECT_DOUBLE_EQ(sequencer->nextQuantizedPosition(1).beats, c.next) << c.position;
        EXPECT_DOUBLE_EQ(sequencer->nearestQuantizedPosition(1).beats, c.nearest) << c.position;
    }
    sequencer->setRate(0);  // refused: the rate stays
    sequencer->setRate(-1);
    EXPECT_EQ(sequencer->rate(), 1.0);
    sequencer->setRate(2);
    EXPECT_EQ(sequencer->rate(), 2.0);
}

TEST(AppleSequencer, TempoEventsClampListAndReplaceWithoutTouchingOtherMetas) {
    AppleSequencer sequencer;
    sequencer.setTempo(5);
    EXPECT_EQ(sequencer.allTempoEvents(), (std::vector<std::pair<double, double>>{{0, 10}}));
    sequencer.setTempo(300);
    EXPECT_EQ(sequencer.allTempoEvents(), (std::vector<std::pair<double, double>>{{0, 280}}));

    EXPECT_EQ(sequencer.getTempo(3), 280.0);
    sequencer.setTempo(100);
    sequencer.addTempoEventAt(140, Duration(8));
    sequencer.addTimeSignatureEvent(0, TimeSignature{6, TimeSignatureBottomValue::eight}, 24, 8, true);
    addMeta(tempoTrackOf(sequencer), 2, 0x06, {'A'});  // a marker
    EXPECT_EQ(sequencer.getTempo(7.99), 100.0);
    EXPECT_EQ(sequencer.getTempo(8), 140.0);
    sequencer.setTime(8);
    EXPECT_EQ(sequencer.tempo(), 120.0);  // standing on the event at 8: the marker at 2 is before it
    sequencer.setTime(9);
    EXPECT_EQ(sequencer.tempo(), 140.0);

    sequencer.addTempoEventAt(90, Duration(4));
    sequencer.setTempo(120);
    EXPECT_EQ(sequencer.allTempoEvents(), (std::vector<std::pair<double, double>>{{0, 120}}));
    // The time signature and the marker stay.
    const auto signatures = sequencer.allTimeSignatureEvents();
    ASSERT_EQ(signatures.size(), 1u);
    EXPECT_EQ(signatures[0].second, (TimeSignature{6, TimeSignatureBottomValue::eight}));
    size_t metas = 0;
    iterateMusicTrack(tempoTrackOf(sequencer), [&](auto, auto, MusicEventType type, auto, auto, bool&) {
        metas += type == kMusicEventType_Meta;
    });
    EXPECT_EQ(metas, 2u);
}

TEST(AppleSequencer, TimeSignaturesWrittenReadAndMalformedOnesSkipped) {
    AppleSequencer sequencer;
    EXPECT_EQ(sequencer.getTimeSignature(3), TimeSignature{});
    sequencer.addTimeSignatureEvent(0, TimeSignature{6, TimeSignatureBottomValue::eight}, 24, 8, false);
    sequencer.addTimeSignatureEvent(4, TimeSignature{3, TimeSignatureBottomValue::four}, 24, 8, false);
    std::vector<std::vector<uint8_t>> blocks;
    iterateMusicTrack(tempoTrackOf(sequencer), [&](auto, auto, MusicEventType, const void* data, uint32_t size, bool&) {
        blocks.emplace_back(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    });
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], (std::vector<uint8_t>{0x58, 0, 0, 0, 4, 0, 0, 0, 6, 3, 24, 8}));

    // Blocks too short for a bottom value, or with one outside 1-4, are reported and left out.
    for (const auto& data : std::vector<std::vector<uint8_t>>{{}, {5}, {4, 0, 24, 8}, {4, 5, 24, 8}}) {
        AppleSequencer other;
        addMeta(tempoTrackOf(other), 1, 0x58, data);
        other.addTimeSignatureEvent(2, TimeSignature{3, TimeSignatureBottomValue::four}, 24, 8, false);
        LogSink::clear();
        const auto listed = other.allTimeSignatureEvents();
        EXPECT_TRUE(logged("Inavlid time signature bottom value")) << data.size();
        ASSERT_EQ(listed.size(), 1u) << data.size();
        EXPECT_EQ(listed[0].first, 2.0);
    }
    const auto listed = sequencer.allTimeSignatureEvents();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(sequencer.getTimeSignature(3.9), (TimeSignature{6, TimeSignatureBottomValue::eight}));
    EXPECT_EQ(sequencer.getTimeSignature(4), (TimeSignature{3, TimeSignatureBottomValue::four}));
    sequencer.addTimeSignatureEvent(8, TimeSignature{2, TimeSignatureBottomValue::two}, 24, 8, true);
    EXPECT_EQ(sequencer.allTimeSignatureEvents().size(), 1u);
}

TEST(MusicTrackManager, NamedTrackAndEventsTheAddersWrite) {
    MusicTrackManager track("Bass");
    const auto events = *track.eventData();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kMusicEventType_Meta);
    EXPECT_EQ(events[0].data, (std::vector<uint8_t>{3, 0, 0, 0, 4, 0, 0, 0, 'B', 'a', 's', 's'}));
    EXPECT_EQ(track.initLength(), 0.0);
    EXPECT_TRUE(track.isNotEmpty());

    track.addController(7, 100, Duration(1), 17);
    track.addPitchBend(16383, Duration(2), 0);
    track.resetPitchBend(Duration(3), 0);
    track.addChannelAftertouch(64, Duration(4), 2);
    track.addAftertouch(60, 30, Duration(5), 1);
    track.addSysEx({0xF0, 0x7E, 0xF7}, Duration(6));
    const auto channel = *track.getRawEventData(kMusicEventType_MIDIChannelMessage);
    const std::vector<std::vector<uint8_t>> expected{
        {0xB1, 7, 100, 0}, {0xE0, 0x7F, 0x7F, 0}, {0xE0, 0x00, 0x40, 0}, {0xD2, 64, 0, 0}, {0xA1, 60, 30, 0}};
    ASSERT_EQ(channel.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(channel[i].data, expected[i]) << i;
    EXPECT_EQ(track.getRawEventData(kMusicEventType_MIDIRawData)->at(0).data,
              (std::vector<uint8_t>{3, 0, 0, 0, 0xF0, 0x7E, 0xF7}));
    EXPECT_TRUE(track.getRawEventData(kMusicEventType_MIDINoteMessage)->empty());
}

TEST(MusicTrackManager, SetLengthTrimsNotesThatSoundPastIt) {
    MusicTrackManager track("T");
    track.add(60, 100, Duration(3), Duration(2));
    track.add(62, 100, Duration(1), Duration(2));
    track.setLength(Duration(4));
    EXPECT_DOUBLE_EQ(track.length(), 4.0);
    const auto notes = notesOf(track);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].first, 1.0);
    EXPECT_EQ(notes[0].second.duration, 2.0f);
    EXPECT_EQ(notes[1].first, 3.0);
    EXPECT_EQ(notes[1].second.duration, 1.0f);
    EXPECT_EQ(notes[1].second.releaseVelocity, 0);
    // A length that is no length changes nothing, and loses no event.
    for (double bad : {std::nan(""), -1.0}) {
        track.setLength(Duration(bad));
        EXPECT_EQ(track.getMIDINoteData().size(), 2u) << bad;
        EXPECT_DOUBLE_EQ(track.length(), 4.0) << bad;
    }

    MusicTrackManager empty("E");
    empty.clear();
    empty.setLength(Duration(7));
    EXPECT_DOUBLE_EQ(empty.length(), 7.0);
    for (double bad : {std::nan(""), -1.0}) {
        empty.setLength(Duration(bad));
        EXPECT_DOUBLE_EQ(empty.length(), 7.0) << bad;
    }
}

TEST(MusicTrackManager, ClearNoteNoteDataRoundTripAndReset) {
    MusicTrackManager track("T");
    track.add(60, 100, Duration(0), Duration(1), 0);
    track.add(60, 90, Duration(0), Duration(1), 3);  // adjacent match on another channel
    track.add(62, 80, Duration(1), Duration(0.5), 1);
    track.add(60, 70, Duration(2), Duration(1), 0);
    track.addController(7, 1, Duration(2));
    auto notes = track.getMIDINoteData();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[2], (MIDINoteData{62, 80, 1, Duration(0.5), Duration(1)}));
    EXPECT_EQ(notes[2].duration.tempo, 60.0);

    track.clearNote(60);
    ASSERT_EQ(track.getMIDINoteData().size(), 1u);
    EXPECT_EQ(track.getRawEventData(kMusicEventType_MIDIChannelMessage)->size(), 1u);

    track.replaceMIDINoteData(notes);
    EXPECT_EQ(track.getMIDINoteData(), notes);
    for (const auto& [time, note] : notesOf(track)) EXPECT_EQ(note.releaseVelocity, 0) << time;

    // The initial copy made when a sequencer wraps a track comes back on reset.
    auto sequencer = AppleSequencer::fromData(smallFile(64));
    auto& loaded = *sequencer->tracks[0];
    loaded.clear();
    loaded.add(70, 1, Duration(0), Duration(0.5));
    loaded.resetToInit();
    ASSERT_EQ(loaded.getMIDINoteData().size(), 1u);
    EXPECT_EQ(loaded.getMIDINoteData()[0].noteNumber, 64);
    EXPECT_DOUBLE_EQ(loaded.length(), 1.0);
}

TEST(MusicTrackManager, ListingDumpAndRecordsThatOutliveChanges) {
    MusicTrackManager track("T");
    track.clearMetaEvents();
    track.add(60, 100, Duration(0), Duration(1), 0);
    const MIDIChannelMessage program{0xC2, 5, 0, 0};
    MusicTrackNewMIDIChannelEvent(*track.internalMusicTrack, 4, &program);
    track.addController(7, 100, Duration(1.5), 1);
    addMeta(*track.internalMusicTrack, 2, 0x58, {6, 3, 24, 8});
    addMeta(*track.internalMusicTrack, 3, 0x01, {});
    const std::vector<std::string> expected{
        "MIDI Note @:0.0 note:60 velocity:100 duration:1.0 channel:0",
        "MIDI Channel Message @1.5 data1:7 data2:100 status:controllerChange",
        "MIDI Meta @ 2.0 - size: 4 - type: 88 - data: 6",
        "MIDI Meta @ 3.0 - size: 0 - type: 1 - data: 0",
        "MIDI Program Change @ 4.0 - program: 5 - channel: 2",
    };
    EXPECT_EQ(track.debugLines(), expected);
    LogSink::clear();
    track.debug();
    for (const auto& line : expected) EXPECT_TRUE(logged(line)) << line;
    const auto programs = track.programChangeEvents();
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].time, 4.0);
    EXPECT_EQ(programs[0].channel, 2);
    EXPECT_EQ(programs[0].number, 5);

    const auto listed = *track.eventData();
    track.clearNote(60);  // the listed records keep their own bytes
    track.addController(1, 2, Duration(0));
    EXPECT_EQ(listed[0].data, (std::vector<uint8_t>{0, 60, 100, 0, 0, 0, 0x80, 0x3F}));

    AppleSequencer tempo;
    tempo.setTempo(90);
    MusicTrackManager wrapper(tempoTrackOf(tempo), std::make_shared<AppleSequencer>());
    EXPECT_EQ(wrapper.debugLines(), (std::vector<std::string>{"MIDI Event @ 0.0"}));
}

TEST(MusicTrackManager, ManagerOutlivingItsSequenceAndOneWithoutATrack) {
    std::shared_ptr<MusicTrackManager> track;
    {
        auto sequencer = withTrack(&track);
        track->add(60, 100, Duration(0), Duration(1));
    }
    // The sequence is gone: every call answers from a missing track instead of touching freed memory.
    EXPECT_TRUE(track->isEmpty());
    EXPECT_EQ(track->length(), 0.0);
    EXPECT_TRUE(track->getMIDINoteData().empty());
    track->add(61, 100, Duration(0), Duration(1));
    track->setLength(Duration(2));
    track->clearNote(60);
    track->resetToInit();
    EXPECT_TRUE(track->eventData()->empty());

    MusicTrackManager none("N");
    none.internalMusicTrack.reset();
    LogSink::clear();
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(logged("internalMusicTrack does not exist"));
    EXPECT_EQ(none.makeCopy(), nullptr);
    EXPECT_FALSE(none.eventData());
    EXPECT_TRUE(none.programChangeEvents().empty());
}
