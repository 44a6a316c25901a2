// The music sequence, its tracks and iterators, Standard MIDI File load and save, the schedule of
// a looping track and the player.
#include "platform/audiotoolbox/MusicPlayer.h"
#include "platform/audiotoolbox/MusicSequence.h"
#include "platform/audiotoolbox/detail/TrackSchedule.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/coremidi/MIDIObjects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

using Bytes = std::vector<uint8_t>;

struct Sequence {
    Sequence() { EXPECT_EQ(NewMusicSequence(&sequence), 0); }
    ~Sequence() {
        if (sequence) DisposeMusicSequence(sequence);
    }
    MusicTrack newTrack() {
        MusicTrack track = nullptr;
        EXPECT_EQ(MusicSequenceNewTrack(sequence, &track), 0);
        return track;
    }
    MusicTrack tempoTrack() const {
        MusicTrack track = nullptr;
        EXPECT_EQ(MusicSequenceGetTempoTrack(sequence, &track), 0);
        return track;
    }
    MusicTrack track(uint32_t i) const {
        MusicTrack track = nullptr;
        EXPECT_EQ(MusicSequenceGetIndTrack(sequence, i, &track), 0);
        return track;
    }
    uint32_t trackCount() const {
        uint32_t count = 0;
        MusicSequenceGetTrackCount(sequence, &count);
        return count;
    }
    MusicSequence sequence = nullptr;
};

struct Event {
    double time;
    MusicEventType type;
    Bytes data;
};

std::vector<Event> events(MusicTrack track) {
    std::vector<Event> result;
    MusicEventIterator it = nullptr;
    EXPECT_EQ(NewMusicEventIterator(track, &it), 0);
    bool has = false;
    while (MusicEventIteratorHasCurrentEvent(it, &has) == 0 && has) {
        Event e{};
        const void* data = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(MusicEventIteratorGetEventInfo(it, &e.time, &e.type, &data, &size), 0);
        e.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        result.push_back(e);
        MusicEventIteratorNextEvent(it);
    }
    DisposeMusicEventIterator(it);
    return result;
}

void addNote(MusicTrack track, double time, uint8_t note, float duration, uint8_t channel = 0) {
    const MIDINoteMessage message{channel, note, 100, 0, duration};
    ASSERT_EQ(MusicTrackNewMIDINoteEvent(track, time, &message), 0);
}

void addCC(MusicTrack track, double time, uint8_t value) {
    const MIDIChannelMessage message{0xB0, 7, value, 0};
    ASSERT_EQ(MusicTrackNewMIDIChannelEvent(track, time, &message), 0);
}

double trackLength(MusicTrack track) {
    double length = -1;
    EXPECT_EQ(MusicTrackGetProperty(track, kSequenceTrackProperty_TrackLength, &length), 0);
    return length;
}

std::vector<double> times(MusicTrack track) {
    std::vector<double> result;
    for (const auto& e : events(track)) result.push_back(e.time);
    return result;
}

std::vector<uint8_t> ccValues(MusicTrack track) {
    std::vector<uint8_t> result;
    for (const auto& e : events(track))
        if (e.type == kMusicEventType_MIDIChannelMessage) result.push_back(e.data[2]);
    return result;
}

// --- SMF building ---

Bytes chunk(const char* id, const Bytes& body) {
    Bytes out(id, id + 4);
    const uint32_t n = uint32_t(body.size());
    out.insert(out.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
    return chunk("MThd", {uint8_t(format >> 8), uint8_t(format), uint8_t(tracks >> 8), uint8_t(tracks),
                          uint8_t(division >> 8), uint8_t(division)});
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A format 1 file at 96 PPQ: a tempo track (tempo 100, 6/8, a marker, a CC that belongs to a
// regular track) and a track with running status, a note-on of velocity 0 as note-off, two
// overlapping notes of one key, a note never ended, a SysEx message and an alien chunk between.
Bytes sampleFile() {
    const Bytes tempo = chunk("MTrk", Bytes{0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0} +     // 600000 µs
                                          Bytes{0x00, 0xFF, 0x58, 0x04, 6, 3, 24, 8} +
                                          Bytes{0x00, 0xFF, 0x06, 0x01, 'A'} +
                                          Bytes{0x00, 0xB2, 0x0A, 0x40} +
                                          Bytes{0x60, 0xFF, 0x2F, 0x00});
    const Bytes notes = chunk("MTrk", Bytes{0x00, 0x90, 60, 100} +                  // note 60 at 0
                                          Bytes{0x18, 64, 90} +                      // running status: note 64 at 0.25
                                          Bytes{0x18, 60, 0} +                       // 60 off at 0.5
                                          Bytes{0x00, 0x90, 62, 80} +               // 62 at 0.5
                                          Bytes{0x00, 62, 81} +                      // 62 again (FIFO)
                                          Bytes{0x30, 0x80, 62, 33} +               // first 62 ends at 1.0
                                          Bytes{0x30, 62, 44} +                      // second 62 ends at 1.5
                                          Bytes{0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7} + // SysEx at 1.5
                                          Bytes{0x60, 0xFF, 0x2F, 0x00});            // end at 2.5 (64 never ends)
    return header(1, 2, 96) + tempo + chunk("XFIH", {1, 2, 3}) + notes;
}

OSStatus load(Sequence& s, const Bytes& bytes) {
    return MusicSequenceFileLoadData(s.sequence, bytes, kMusicSequenceFile_MIDIType, 0);
}

MIDINoteMessage note(const Event& e) {
    MIDINoteMessage m;
    std::memcpy(&m, e.data.data(), sizeof m);
    return m;
}

}  // namespace

TEST(MusicSequence, EventsKeepTimeOrderAndTheLengthCoversTheLastNoteEnd) {
    Sequence s;
    MusicTrack track = s.newTrack();
    addCC(track, 2.0, 1);
    addCC(track, 1.0, 2);
    addCC(track, 2.0, 3);  // after the earlier event at the same time
    addNote(track, 1.5, 60, 3.0f);
    EXPECT_EQ(times(track), (std::vector<double>{1.0, 1.5, 2.0, 2.0}));
    EXPECT_EQ(ccValues(track), (std::vector<uint8_t>{2, 1, 3}));
    EXPECT_DOUBLE_EQ(trackLength(track), 4.5);
    ASSERT_EQ(MusicTrackSetProperty(track, kSequenceTrackProperty_TrackLength, 10.0), 0);
    EXPECT_DOUBLE_EQ(trackLength(track), 10.0);
    ASSERT_EQ(MusicTrackSetProperty(track, kSequenceTrackProperty_TrackLength, 1.0), 0);
    EXPECT_DOUBLE_EQ(trackLength(track), 4.5);

    const MusicTrackLoopInfo loop{4.0, 3};
    ASSERT_EQ(MusicTrackSetProperty(track, kSequenceTrackProperty_LoopInfo, &loop, sizeof loop), 0);
    MusicTrackLoopInfo read{};
    uint32_t size = 0;
    ASSERT_EQ(MusicTrackGetProperty(track, kSequenceTrackProperty_LoopInfo, &read, &size), 0);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(read.loopDuration, 4.0);
    EXPECT_EQ(read.numberOfLoops, 3);

    // Bad values are refused and change nothing; a tempo event has no place in a regular track.
    for (double bad : {-1.0, std::nan("")})
        EXPECT_NE(MusicTrackSetProperty(track, kSequenceTrackProperty_TrackLength, bad), 0) << bad;
    EXPECT_DOUBLE_EQ(trackLength(track), 4.5);
    EXPECT_EQ(MusicTrackNewExtendedTempoEvent(track, 0, 90), kAudioToolboxErr_InvalidEventType);
    uint32_t resolution = 0;
    size = 4;
    ASSERT_EQ(MusicTrackGetProperty(s.tempoTrack(), kSequenceTrackProperty_TimeResolution, &resolution, &size), 0);
    EXPECT_EQ(resolution, 480u);
    EXPECT_NE(MusicTrackSetProperty(s.tempoTrack(), kSequenceTrackProperty_TimeResolution, &resolution, 4), 0);
}

TEST(MusicSequence, ClearMergeAndCopyInsertWorkOnHalfOpenRanges) {
    struct Case {
        const char* name;
        OSStatus (*edit)(MusicTrack source, MusicTrack destination);
        std::vector<double> destinationTimes;
    };
    const Case cases[] = {
        {"clear [1, 3)", [](MusicTrack, MusicTrack d) { return MusicTrackClear(d, 1, 3); }, {0, 3}},
        {"merge [1, 3) at 10", [](MusicTrack s, MusicTrack d) { return MusicTrackMerge(s, 1, 3, d, 10); },
         {0, 1, 2, 3, 10, 11}},
        {"copy-insert [1, 3) at 1", [](MusicTrack s, MusicTrack d) { return MusicTrackCopyInsert(s, 1, 3, d, 1); },
         {0, 1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        Sequence s;
        MusicTrack source = s.newTrack(), destination = s.newTrack();
        for (double t : {0.0, 1.0, 2.0, 3.0}) {
            addCC(source, t, uint8_t(t));
            addCC(destination, t, uint8_t(t));
        }
        ASSERT_EQ(c.edit(source, destination), 0) << c.name;
        EXPECT_EQ(times(destination), c.destinationTimes) << c.name;
    }
}

TEST(MusicSequence, IteratorWalksSeeksDeletesAndRefusesAChangedTrack) {
    Sequence s;
    MusicTrack track = s.newTrack();
    for (double t : {0.0, 1.0, 1.0, 2.0}) addCC(track, t, uint8_t(10 * t));
    MusicEventIterator it = nullptr;
    ASSERT_EQ(NewMusicEventIterator(track, &it), 0);
    bool has = false;
    MusicEventIteratorHasPreviousEvent(it, &has);
    EXPECT_FALSE(has);
    ASSERT_EQ(MusicEventIteratorSeek(it, 0.5), 0);  // first at or after
    MusicTimeStamp time = -1;
    MusicEventIteratorGetEventInfo(it, &time, nullptr, nullptr, nullptr);
    EXPECT_EQ(time, 1.0);
    ASSERT_EQ(MusicEventIteratorDeleteEvent(it), 0);  // now on the other event at 1.0
    MusicEventIteratorGetEventInfo(it, &time, nullptr, nullptr, nullptr);
    EXPECT_EQ(time, 1.0);
    ASSERT_EQ(MusicEventIteratorPreviousEvent(it), 0);
    MusicEventIteratorGetEventInfo(it, &time, nullptr, nullptr, nullptr);
    EXPECT_EQ(time, 0.0);
    EXPECT_EQ(MusicEventIteratorPreviousEvent(it), kAudioToolboxErr_StartOfTrack);
    const MIDIChannelMessage louder{0xB0, 7, 127, 0};
    ASSERT_EQ(MusicEventIteratorSetEventInfo(it, kMusicEventType_MIDIChannelMessage, &louder), 0);
    EXPECT_EQ(ccValues(track), (std::vector<uint8_t>{127, 10, 20}));
    ASSERT_EQ(MusicEventIteratorSeek(it, 5), 0);
    MusicEventIteratorHasCurrentEvent(it, &has);
    EXPECT_FALSE(has);
    EXPECT_EQ(MusicEventIteratorGetEventInfo(it, &time, nullptr, nullptr, nullptr), kAudioToolboxErr_EndOfTrack);

    addCC(track, 3, 30);  // a change behind the iterator's back
    EXPECT_EQ(MusicEventIteratorHasCurrentEvent(it, &has), kAudioToolboxErr_InvalidEventIterator);
    EXPECT_EQ(MusicEventIteratorNextEvent(it), kAudioToolboxErr_InvalidEventIterator);
    EXPECT_EQ(DisposeMusicEventIterator(it), 0);
    EXPECT_EQ(DisposeMusicEventIterator(it), kAudioToolboxErr_InvalidEventIterator);
}

TEST(MusicSequence, StaleHandlesGiveErrorsAfterTheSequenceIsGone) {
    MusicSequence sequence = nullptr;
    ASSERT_EQ(NewMusicSequence(&sequence), 0);
    MusicTrack track = nullptr, tempo = nullptr;
    MusicSequenceNewTrack(sequence, &track);
    MusicSequenceGetTempoTrack(sequence, &tempo);
    MusicEventIterator it = nullptr;
    addCC(track, 0, 1);
    NewMusicEventIterator(track, &it);
    ASSERT_EQ(DisposeMusicSequence(sequence), 0);

    double value = 0;
    bool has = false;
    EXPECT_EQ(DisposeMusicSequence(sequence), kAudioToolboxErr_NoSequence);
    EXPECT_EQ(MusicSequenceNewTrack(sequence, &track), kAudioToolboxErr_NoSequence);
    EXPECT_EQ(MusicTrackGetProperty(track, kSequenceTrackProperty_TrackLength, &value), kAudioToolboxErr_TrackNotFound);
    EXPECT_EQ(MusicTrackNewExtendedTempoEvent(tempo, 0, 120), kAudioToolboxErr_TrackNotFound);
    EXPECT_EQ(MusicTrackClear(track, 0, 1), kAudioToolboxErr_TrackNotFound);
    EXPECT_NE(MusicEventIteratorHasCurrentEvent(it, &has), 0);
    EXPECT_NE(NewMusicEventIterator(track, &it), 0);
    // A handle of the wrong kind is just as unknown.
    EXPECT_EQ(MusicSequenceNewTrack(reinterpret_cast<MusicSequence>(tempo), &track), kAudioToolboxErr_NoSequence);
    EXPECT_EQ(MusicTrackSetDestNode(track, 1), kAudioToolboxErr_TrackNotFound);
}

TEST(MusicSequence, TempoMapIntegratesTempoSteps) {
    Sequence s;
    MusicTrack tempo = s.tempoTrack();
    ASSERT_EQ(MusicTrackNewExtendedTempoEvent(tempo, 0, 100), 0);
    ASSERT_EQ(MusicTrackNewExtendedTempoEvent(tempo, 4, 140), 0);
    const struct {
        double beats, seconds;
    } cases[] = {{0, 0}, {2, 1.2}, {4, 2.4}, {7.5, 2.4 + 3.5 * 60 / 140}};
    for (const auto& c : cases) {
        double seconds = -1, beats = -1;
        ASSERT_EQ(MusicSequenceGetSecondsForBeats(s.sequence, c.beats, &seconds), 0);
        ASSERT_EQ(MusicSequenceGetBeatsForSeconds(s.sequence, c.seconds, &beats), 0);
        EXPECT_NEAR(seconds, c.seconds, 1e-9) << c.beats;
        EXPECT_NEAR(beats, c.beats, 1e-9) << c.seconds;
    }
    Sequence plain;  // 120 BPM with no tempo event
    double seconds = 0;
    MusicSequenceGetSecondsForBeats(plain.sequence, 3, &seconds);
    EXPECT_DOUBLE_EQ(seconds, 1.5);
}

TEST(MusicSequenceFile, LoadPairsNotesAndSortsEventsIntoTracks) {
    Sequence s;
    ASSERT_EQ(load(s, sampleFile()), 0);
    uint32_t resolution = 0, size = 4;
    MusicTrackGetProperty(s.tempoTrack(), kSequenceTrackProperty_TimeResolution, &resolution, &size);
    EXPECT_EQ(resolution, 96u);

    const auto tempo = events(s.tempoTrack());
    ASSERT_EQ(tempo.size(), 3u);  // tempo, time signature, marker; the CC went to a regular track
    double bpm = 0;
    std::memcpy(&bpm, tempo[0].data.data(), 8);
    EXPECT_EQ(tempo[0].type, kMusicEventType_ExtendedTempo);
    EXPECT_DOUBLE_EQ(bpm, 100);
    EXPECT_EQ(tempo[1].type, kMusicEventType_Meta);
    EXPECT_EQ(tempo[1].data, (Bytes{0x58, 0, 0, 0, 4, 0, 0, 0, 6, 3, 24, 8}));

    ASSERT_EQ(s.trackCount(), 2u);  // the tempo track's channel events, then the file's note track
    const auto notes = events(s.track(1));
    struct Expected {
        double time;
        uint8_t key, velocity, release;
        float duration;
    };
    const Expected expected[] = {{0, 60, 100, 0, 0.5f}, {0.25, 64, 90, 0, 2.25f}, {0.5, 62, 80, 33, 0.5f},
                                 {0.5, 62, 81, 44, 1.0f}};
    ASSERT_EQ(notes.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(notes[i].time, expected[i].time) << i;
        const auto m = note(notes[i]);
        EXPECT_EQ(m.note, expected[i].key) << i;
        EXPECT_EQ(m.velocity, expected[i].velocity) << i;
        EXPECT_EQ(m.releaseVelocity, expected[i].release) << i;
        EXPECT_FLOAT_EQ(m.duration, expected[i].duration) << i;
    }
    EXPECT_EQ(notes[4].type, kMusicEventType_MIDIRawData);
    EXPECT_EQ(notes[4].data, (Bytes{4, 0, 0, 0, 0xF0, 0x7E, 0x01, 0xF7}));
    EXPECT_DOUBLE_EQ(trackLength(s.track(1)), 2.5);
    const auto moved = events(s.track(0));
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].data, (Bytes{0xB2, 0x0A, 0x40, 0}));
}

TEST(MusicSequenceFile, CreateDataWritesAFileThatLoadsBackTheSame) {
    Sequence s;
    ASSERT_EQ(load(s, sampleFile()), 0);
    std::vector<uint8_t>* data = nullptr;
    ASSERT_EQ(MusicSequenceFileCreateData(s.sequence, kMusicSequenceFile_MIDIType, kMusicSequenceFileFlags_EraseFile,
                                          480, &data),
              0);
    ASSERT_NE(data, nullptr);
    const Bytes bytes = *data;
    delete data;
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 14), header(1, 3, 480));

    Sequence back;
    ASSERT_EQ(load(back, bytes), 0);
    ASSERT_EQ(back.trackCount(), 2u);
    for (uint32_t t = 0; t < 2; ++t) {
        const auto a = events(s.track(t)), b = events(back.track(t));
        ASSERT_EQ(a.size(), b.size()) << t;
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].time, b[i].time) << t << " " << i;
            EXPECT_EQ(a[i].data, b[i].data) << t << " " << i;
        }
        EXPECT_DOUBLE_EQ(trackLength(back.track(t)), trackLength(s.track(t)));
    }
    EXPECT_EQ(events(back.tempoTrack()).size(), events(s.tempoTrack()).size());
}

// What a file holds is written back as it was, however late; what a file cannot hold fails the save.
TEST(MusicSequenceFile, CreateDataKeepsLateTicksAndHighMetaTypesAndRefusesWhatAFileCannotHold) {
    const auto save = [](const Sequence& s, int16_t resolution, Bytes& out) {
        std::vector<uint8_t>* data = nullptr;
        const OSStatus status =
            MusicSequenceFileCreateData(s.sequence, kMusicSequenceFile_MIDIType, kMusicSequenceFileFlags_EraseFile, resolution, &data);
        if (data) out = *data;
        delete data;
        return status;
    };
    // Three notes, each after the largest delta, then two metas of types a file may carry above 0x7F.
    const Bytes late{0xFF, 0xFF, 0xFF, 0x7F};
    Bytes body;
    for (uint8_t key = 60; key < 63; ++key) body = body + late + Bytes{0x90, key, 100} + Bytes{0x01, 0x80, key, 0};
    body = body + Bytes{0x00, 0xFF, 0x80, 0x01, 'a'} + Bytes{0x00, 0xFF, 0xFF, 0x01, 'b'} + Bytes{0x00, 0xFF, 0x2F, 0x00};
    Sequence s;
    ASSERT_EQ(load(s, header(0, 1, 480) + chunk("MTrk", body)), 0);
    const auto read = events(s.track(0));
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(std::llround(read[2].time * 480), 3LL * 0x0FFFFFFF + 2);

    Bytes written;
    ASSERT_EQ(save(s, 480, written), 0);
    Sequence back;
    ASSERT_EQ(load(back, written), 0);
    const auto again = events(back.track(0));
    ASSERT_EQ(again.size(), read.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(again[i].time, read[i].time) << i;
        EXPECT_EQ(again[i].data, read[i].data) << i;
    }
    EXPECT_EQ(again[3].data[0], 0x80);
    EXPECT_EQ(again[4].data[0], 0xFF);

    // At 96 ticks a beat the same times need deltas a file holds; at 960 they need twice the largest.
    Bytes coarse;
    EXPECT_EQ(save(s, 96, coarse), 0);
    Bytes fine;
    EXPECT_EQ(save(s, 960, fine), kAudioToolboxErr_CannotDoInCurrentContext);
    EXPECT_TRUE(fine.empty());

    // 65535 tracks with the tempo track are a file's most.
    Sequence many;
    for (int t = 0; t < 65534; ++t) many.newTrack();
    Bytes most;
    ASSERT_EQ(save(many, 480, most), 0);
    EXPECT_EQ(Bytes(most.begin(), most.begin() + 14), header(1, 65535, 480));
    many.newTrack();
    EXPECT_EQ(save(many, 480, most), kAudioToolboxErr_CannotDoInCurrentContext);
}

TEST(MusicSequenceFile, MalformedFilesGiveAnErrorAndKeepWhatLoaded) {
    const Bytes good = sampleFile();
    const struct {
        const char* name;
        Bytes bytes;
        uint32_t tracksKept;
    } cases[] = {
        {"empty", {}, 0},
        {"not a MIDI file", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 4, 1, 2, 3, 4}, 0},
        {"short header", chunk("MThd", {0, 1, 0, 1}), 0},
        {"zero division", header(1, 1, 0) + chunk("MTrk", {0, 0xFF, 0x2F, 0}), 0},
        {"format 3", header(3, 1, 96) + chunk("MTrk", {0, 0xFF, 0x2F, 0}), 0},
        {"data byte without a status", header(0, 1, 96) + chunk("MTrk", {0, 0x40, 0x40}), 1},
        {"endless delta", header(0, 1, 96) + chunk("MTrk", {0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), 1},
        {"meta longer than its chunk", header(0, 1, 96) + chunk("MTrk", {0, 0x90, 60, 1, 0, 0xFF, 1, 0x7F}), 1},
        {"system message in a track", header(0, 1, 96) + chunk("MTrk", {0, 0xF8}), 1},
        {"cut inside the second track", Bytes(good.begin(), good.end() - 9), 2},
        {"cut inside a chunk header", Bytes(good.begin(), good.begin() + 14 + 36 + 6), 1},
        {"fewer tracks than the header says", Bytes(good.begin(), good.begin() + 14 + 36), 1},
    };
    for (const auto& c : cases) {
        Sequence s;
        EXPECT_NE(load(s, c.bytes), 0) << c.name;
        EXPECT_EQ(s.trackCount(), c.tracksKept) << c.name;
    }
    // Every cut of a real file ends with an error status, and nothing lost before the cut.
    for (size_t n = 0; n < good.size(); ++n) {
        Sequence s;
        EXPECT_NE(load(s, Bytes(good.begin(), good.begin() + std::ptrdiff_t(n))), 0) << n;
    }
    Sequence s;
    EXPECT_EQ(load(s, Bytes(good.begin(), good.end() - 9)), kAudioFileInvalidFileError);
    EXPECT_EQ(note(events(s.track(1))[0]).note, 60);
    EXPECT_EQ(MusicSequenceFileLoadData(s.sequence, good, kMusicSequenceFile_MIDIType, 1),
              kAudioToolboxErr_InvalidSequenceType);
}

TEST(MusicSequenceFile, SMPTEDivisionTimesAreSecondsAt120BPM) {
    Sequence s;
    // 25 frames per second, 40 ticks per frame: 1000 ticks a second, so 500 ticks are half a second = 1 beat.
    const Bytes file = header(0, 1, uint16_t(uint8_t(-25) << 8 | 40)) +
                       chunk("MTrk", Bytes{0x83, 0x74, 0xB0, 7, 1} + Bytes{0, 0xFF, 0x2F, 0});
    ASSERT_EQ(load(s, file), 0);
    const auto e = events(s.track(0));
    ASSERT_EQ(e.size(), 1u);
    EXPECT_DOUBLE_EQ(e[0].time, 1.0);
}

TEST(MusicPlayer, AnEventPastTheClocksRangeWaitsInsteadOfPlayingAtOnce) {
    MIDIEndpointRef device = 0;
    ASSERT_EQ(loopback::createExternalDestination("far device", &device), noErr);
    Sequence s;
    const MusicTrack track = s.newTrack();
    addNote(track, 0, 60, 0.01f);
    addNote(track, 1e12, 61, 1);  // some 16 000 years ahead at 120 BPM: beyond any host time
    ASSERT_EQ(MusicTrackSetDestMIDIEndpoint(track, device), 0);
    MusicPlayer player = nullptr;
    ASSERT_EQ(NewMusicPlayer(&player), 0);
    ASSERT_EQ(MusicPlayerSetSequence(player, s.sequence), 0);
    ASSERT_EQ(MusicPlayerStart(player), 0);

    std::vector<loopback::ReceivedPacket> got;
    const auto heard = [&](uint8_t status, uint8_t key) {
        return std::any_of(got.begin(), got.end(), [&](const auto& p) {
            return p.bytes.size() == 3 && p.bytes[0] == status && p.bytes[1] == key;
        });
    };
    for (int i = 0; i < 500 && !heard(0x80, 60); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (auto& p : loopback::takeReceived(device)) got.push_back(std::move(p));
    }
    ASSERT_TRUE(heard(0x80, 60)) << "the first note did not play";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (auto& p : loopback::takeReceived(device)) got.push_back(std::move(p));
    EXPECT_FALSE(heard(0x90, 61)) << "the far note played at once";
    bool playing = false;
    EXPECT_EQ(MusicPlayerIsPlaying(player, &playing), 0);
    EXPECT_TRUE(playing);
    EXPECT_EQ(DisposeMusicPlayer(player), 0);
    MIDIEndpointDispose(device);
}

TEST(TrackSchedule, AWalkThroughALoopMeetsEveryOccurrenceOnceAndInOrder) {
    // Loop bounds and times that are no binary fractions: mapping a beat of a later pass back into
    // the loop rounds, and must never find the occurrence it came from again.
    const struct {
        std::vector<double> times;
        double start, end;
        int64_t passes;
    } cases[] = {
        {{0, 0.1, 0.2}, 0, 0.3, 1000},
        {{0.1, 0.35, 0.5, 0.65}, 0.3, 0.7, 1000},
        {{0, 1.0 / 3, 2.0 / 3}, 0, 1, 1000},
        {{0.25, 0.3}, 0.25, 0.35, 1000},
        {{0.05, 0.0722}, 0.05, 0.062382680649017169, 1000},  // one event, right at the loop's start
    };
    for (const auto& c : cases) {
        std::vector<detail::SequenceEvent> events;
        for (double t : c.times) events.push_back({t, kMusicEventType_MIDIChannelMessage, {0}, 0});
        const detail::LoopRegion loop{true, c.start, c.end, c.passes};
        size_t inLoop = 0, beforeEnd = 0;
        double lastInLoop = 0;
        for (double t : c.times) {
            if (t >= c.start && t < c.end) ++inLoop, lastInLoop = t;
            beforeEnd += t < c.end;
        }
        std::vector<double> beats;
        double cursor = 0;
        bool inclusive = true;
        while (beats.size() < 100000) {
            const auto o = detail::nextOccurrence(events, loop, cursor, inclusive);
            if (!o) break;
            ASSERT_TRUE(inclusive || o->beat > cursor) << c.start << " stood still at " << cursor;
            beats.push_back(o->beat);
            cursor = o->beat;
            inclusive = false;
        }
        ASSERT_EQ(beats.size(), beforeEnd + inLoop * size_t(c.passes)) << c.start;
        EXPECT_NEAR(beats.back(), c.end + double(c.passes - 1) * (c.end - c.start) + (lastInLoop - c.start), 1e-9) << c.start;
    }
}
