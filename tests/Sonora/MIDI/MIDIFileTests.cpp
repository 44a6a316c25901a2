#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/MIDI/MIDIFile/MIDIFile.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileTrackNoteMap.h"
#include "Sonora/MIDI/MIDIMessage.h"
#include "main/TestSupport.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sonora;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes chunk(const char* type, const Bytes& payload, std::optional<uint32_t> length = std::nullopt) {
    const uint32_t n = length.value_or(uint32_t(payload.size()));
    Bytes bytes(type, type + 4);
    for (int shift : {24, 16, 8, 0}) bytes.push_back(uint8_t(n >> shift));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes header(uint16_t format, uint16_t tracks, uint8_t division0, uint8_t division1) {
    return chunk("MThd", {uint8_t(format >> 8), uint8_t(format), uint8_t(tracks >> 8), uint8_t(tracks), division0,
                          division1});
}

MIDIFile file(const Bytes& bytes) { return MIDIFile(bytes, "test.mid"); }

// A track chunk followed by one more byte of the file (a chunk needs 9 bytes to be recognised).
MIDIFileTrackChunk trackChunk(const Bytes& payload) {
    return MIDIFileTrackChunk::fromData(join({chunk("MTrk", payload), {0}})).value();
}

std::vector<Bytes> messages(const MIDIFileTrackChunk& c) {
    std::vector<Bytes> result;
    for (const auto& e : c.parsedEvents()) result.push_back(e.messageBytes());
    return result;
}

const Bytes kEnd{0x00, 0xFF, 0x2F, 0x00};

}  // namespace

TEST(MIDIFileContainer, HeaderValues) {
    const struct {
        uint8_t b4, b5;
        std::optional<MIDITimeFormat> format;
        std::optional<int> ticksPerBeat, framesPerSecond, ticksPerFrame;
        int timeDivision;
    } cases[] = {
        {0x01, 0xE0, MIDITimeFormat::ticksPerBeat, 480, std::nullopt, std::nullopt, 480},
        {0xE7, 0x28, MIDITimeFormat::framesPerSecond, std::nullopt, 103, 40, 59176},
        {0x00, 0x60, MIDITimeFormat::ticksPerBeat, 96, std::nullopt, std::nullopt, 96},
    };
    for (const auto& c : cases) {
        const auto f = file(join({header(1, 2, c.b4, c.b5), chunk("MTrk", kEnd)}));
        EXPECT_EQ(f.timeFormat(), c.format);
        EXPECT_EQ(f.ticksPerBeat(), c.ticksPerBeat);
        EXPECT_EQ(f.framesPerSecond(), c.framesPerSecond);
        EXPECT_EQ(f.ticksPerFrame(), c.ticksPerFrame);
        EXPECT_EQ(f.timeDivision(), c.timeDivision);
        EXPECT_EQ(f.format(), 1);
        EXPECT_EQ(f.numberOfTracks(), 2);
    }
    const auto none = file({});
    EXPECT_TRUE(none.chunks.empty());
    EXPECT_TRUE(none.trackChunks().empty());
    EXPECT_EQ(none.format(), 0);
    EXPECT_FALSE(none.timeFormat());
    // A short header payload answers only what it holds.
    const auto shortHeader = file(join({chunk("MThd", {0, 1, 0}), chunk("MTrk", kEnd)}));
    EXPECT_EQ(shortHeader.format(), 1);
    EXPECT_EQ(shortHeader.numberOfTracks(), 0);
    EXPECT_FALSE(shortHeader.ticksPerBeat());
    EXPECT_EQ(shortHeader.timeDivision(), 0);
}

TEST(MIDIFileContainer, ChunkWalk) {
    const Bytes track = chunk("MTrk", kEnd);
    const struct {
        const char* name;
        Bytes bytes;
        size_t chunks, trackChunks;
    } cases[] = {
        {"header and three tracks", join({header(1, 3, 1, 0xE0), track, track, track}), 4, 3},
        {"second header after a track", join({header(1, 3, 1, 0xE0), track, header(1, 3, 1, 0xE0), track}), 4, 0},
        {"zero-length chunk then a byte", join({header(0, 1, 1, 0xE0), chunk("MTrk", {}), {0}}), 2, 1},
        {"zero-length chunk last", join({header(0, 1, 1, 0xE0), chunk("MTrk", {})}), 1, 0},
        {"other case", join({header(0, 1, 1, 0xE0), chunk("mtrk", kEnd)}), 1, 0},
        {"alien chunk skipped", join({header(1, 2, 1, 0xE0), chunk("XFIH", {1, 2, 3}), track, track}), 3, 2},
        {"trailing bytes", join({header(1, 2, 1, 0xE0), track, {1, 2, 3}}), 2, 1},
        {"8-byte final chunk", join({header(1, 2, 1, 0xE0), track, chunk("XFIH", {})}), 2, 1},
        {"header only", header(0, 0, 1, 0xE0), 1, 0},
        {"length 0xFFFFFFFF", join({header(0, 1, 1, 0xE0), chunk("MTrk", kEnd, 0xFFFFFFFF)}), 2, 1},
        {"header running past the end", chunk("MThd", {0, 0, 0, 1, 1, 0xE0}, 100), 0, 0},
        {"alien running past the end", join({header(0, 1, 1, 0xE0), chunk("XFIH", {1}, 0xFFFFFFF0), track}), 1, 0},
    };
    for (const auto& c : cases) {
        const auto f = file(c.bytes);
        EXPECT_EQ(f.chunks.size(), c.chunks) << c.name;
        EXPECT_EQ(f.trackChunks().size(), c.trackChunks) << c.name;
        // Bytes handed over rather than copied read the same.
        const MIDIFile handedOver(Bytes(c.bytes), "test.mid");
        EXPECT_EQ(handedOver.chunks.size(), c.chunks) << c.name;
        EXPECT_EQ(handedOver.trackChunks().size(), c.trackChunks) << c.name;
    }
}

TEST(MIDIFileContainer, TrackChunksTakeTheHeadersDivision) {
    const Bytes track = chunk("MTrk", {0x60, 0x90, 0x3C, 0x64, 0x00, 0xFF, 0x2F, 0x00});
    const auto ppq96 = file(join({header(0, 1, 0x00, 0x60), track}));
    ASSERT_EQ(ppq96.trackChunks().size(), 1u);
    EXPECT_EQ(ppq96.trackChunks()[0].timeDivision(), 96);
    EXPECT_EQ(ppq96.tracks()[0].events()[0].positionInBeats, 1.0);

    const auto smpte = file(join({header(0, 1, 0xE7, 0x28), track}));
    EXPECT_EQ(smpte.trackChunks()[0].timeFormat(), MIDITimeFormat::framesPerSecond);
    EXPECT_FALSE(smpte.tracks()[0].events()[0].positionInBeats);

    // Without a header: 480 ticks per beat.
    EXPECT_EQ(file(track).trackChunks()[0].timeDivision(), 480);
    EXPECT_EQ(trackChunk(kEnd).timeDivision(), 480);
}

TEST(MIDIFileContainer, ATruncatedLastTrackKeepsItsCompleteEvents) {
    const Bytes melody{0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x00, 0x00, 0x90, 0x3E, 0x64, 0x60, 0x3E, 0x00};
    const Bytes whole = join({header(1, 2, 0, 0x60), chunk("MTrk", kEnd), chunk("MTrk", melody)});
    const Bytes cut(whole.begin(), whole.end() - 3);
    const auto f = file(cut);
    ASSERT_EQ(f.trackChunks().size(), 2u);
    EXPECT_TRUE(f.trackChunks()[1].isInvalid());
    EXPECT_EQ(f.tracks()[0].events().size(), 3u);
}

TEST(MIDIFileTrackParser, Events) {
    {
        const auto c = trackChunk({0x00, 0x90, 0x3C, 0x64, 0x00, 0x3C, 0x00});
        const auto& events = c.parsedEvents();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(Bytes(events[0].data().begin(), events[0].data().end()), (Bytes{0x00, 0x90, 0x3C, 0x64}));
        EXPECT_FALSE(events[0].runningStatus);
        EXPECT_EQ(Bytes(events[1].data().begin(), events[1].data().end()), (Bytes{0x00, 0x3C, 0x00}));
        EXPECT_EQ(events[1].runningStatus->byte, 0x90);
        EXPECT_EQ(events[1].messageBytes(), (Bytes{0x90, 0x3C, 0x00}));
    }
    {
        const auto c = trackChunk({0x60, 0x90, 0x3C, 0x64, 0x83, 0x60, 0x80, 0x3C, 0x40});
        const auto& events = c.parsedEvents();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[1].timeOffset, 96);
        EXPECT_EQ(events[1].deltaTime(), 480u);
        EXPECT_DOUBLE_EQ(*c.positionInBeats(events[1]), 1.2);
        EXPECT_DOUBLE_EQ(*c.positionInBeats(events[0]), 0.2);
    }
    EXPECT_EQ(trackChunk(kEnd).parsedEvents()[0].typeByteIndex(), 2u);

    const struct {
        const char* name;
        Bytes payload;
        std::vector<Bytes> messages;
    } cases[] = {
        {"data byte after a meta event", {0x00, 0xFF, 0x2F, 0x00, 0x00, 0x40}, {{0xFF, 0x2F, 0x00}}},
        {"delta at the end", {0x00, 0xC0, 0x05, 0x81}, {{0xC0, 0x05}}},
        {"short note at the end", {0x00, 0x90, 0x3C}, {{0x90, 0x3C}}},
        {"empty", {}, {}},
        {"unlisted meta after running status",
         {0x00, 0x90, 0x3C, 0x64, 0x00, 0xFF, 0x60, 0x01, 0x07, 0x00, 0x90, 0x3E, 0x64},
         {{0x90, 0x3C, 0x64}, {0xFF, 0x60, 0x01, 0x07}, {0x90, 0x3E, 0x64}}},
        {"F7 escape after running status",
         {0x00, 0x90, 0x3C, 0x64, 0x00, 0x3E, 0x64, 0x00, 0xF7, 0x02, 0x01, 0x02, 0x00, 0x80, 0x3C, 0x00},
         {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0xF7, 0x02, 0x01, 0x02}, {0x80, 0x3C, 0x00}}},
        {"F0 00 at the end", {0x00, 0x90, 0x3C, 0x64, 0x00, 0xF0, 0x00}, {{0x90, 0x3C, 0x64}, {0xF0, 0x00}}},
        {"running-status bytes without a status", {0x00, 0x3C, 0x64}, {}},
        {"five-byte delta", {0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xC0, 0x01}, {{0xC0, 0x01}}},
        {"SysEx of 2^28-1 bytes", {0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01}, {{0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01}}},
    };
    for (const auto& c : cases) EXPECT_EQ(messages(trackChunk(c.payload)), c.messages) << c.name;
}

TEST(MIDIFileTrackParser, ParseErrorIsLoggedWithItsPosition) {
    Settings::setEnableLogging(true);
    platform::LogSink::clear();
    const auto c = trackChunk({0x00, 0xC0, 0x05, 0x00, 0xFF, 0x2F, 0x00, 0x00, 0x40});
    EXPECT_EQ(c.parsedEvents().size(), 2u);
    bool found = false;
    for (const auto& entry : platform::LogSink::entries())
        found |= entry.message.find("error parsing midi file, byte is 64, processed 8 of 9") != std::string::npos;
    EXPECT_TRUE(found);
}

TEST(MIDIFileTracks, ViewsAndTempo) {
    const Bytes tempoTrack{0x00, 0xFF, 0x03, 0x05, 'T', 'e', 'm', 'p', 'o', 0x00, 0xFF, 0x51, 0x03,
                           0x07, 0xA1, 0x20, 0x8F, 0x00, 0xFF, 0x2F, 0x00};
    const Bytes melody{0x00, 0xC0, 0x05, 0x00, 0x90, 0x3C, 0x64, 0x83, 0x60, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00};
    const Bytes body = join({chunk("MTrk", tempoTrack), chunk("MTrk", melody), chunk("MTrk", kEnd)});
    const auto format1 = file(join({header(1, 3, 0x01, 0xE0), body}));
    ASSERT_EQ(format1.tracks().size(), 2u);
    ASSERT_TRUE(format1.tempoTrack());
    EXPECT_FLOAT_EQ(format1.tempoTrack()->tempo(), 120.0f);
    EXPECT_EQ(format1.tempoTrack()->track.name(), "Tempo");
    EXPECT_DOUBLE_EQ(format1.tempoTrack()->track.length(), 4.0);  // end of track at tick 1920
    for (uint16_t format : {0, 2}) {
        const auto other = file(join({header(format, 3, 0x01, 0xE0), body}));
        EXPECT_EQ(other.tracks().size(), 3u);
        EXPECT_FALSE(other.tempoTrack());
    }

    const MIDIFileTrack track = format1.tracks()[0];
    EXPECT_FALSE(track.name());
    const auto events = track.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].data, (Bytes{0x90, 0x3C, 0x00}));  // status restored
    EXPECT_DOUBLE_EQ(*events[2].positionInBeats, 1.0);
    EXPECT_EQ(track.channelEvents().size(), 3u);
    ASSERT_EQ(track.metaEvents().size(), 1u);
    EXPECT_EQ(track.metaEvents()[0].type, MIDICustomMetaEventType::endOfTrack);

    const Bytes noteBytes{0x81, 0x70, 0x90, 1, 2};
    const MIDIFileChunkEvent chunkEvent(noteBytes, std::nullopt, 720);
    EXPECT_DOUBLE_EQ(*MIDIEvent::fileEvent(chunkEvent, MIDITimeFormat::ticksPerBeat, 480)->positionInBeats, 2.0);
    EXPECT_FALSE(MIDIEvent::fileEvent(chunkEvent, MIDITimeFormat::framesPerSecond, 480)->positionInBeats);
    EXPECT_FALSE(MIDIEvent::fileEvent(MIDIFileChunkEvent(kEnd, std::nullopt, 0), MIDITimeFormat::ticksPerBeat, 480));
    EXPECT_FALSE(MIDIFileTempoTrack::fromTrackChunk(trackChunk({0x00, 0x90, 0x3C, 0x64})));
    EXPECT_DOUBLE_EQ(MIDIFileTrack(trackChunk({0x00, 0x90, 0x3C, 0x64})).length(), 0.0);

    const struct {
        Bytes tempoData;
        float bpm;
    } tempos[] = {
        {{0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, 120.0f},
        {{0xFF, 0x51, 0x03, 0x06, 0x8A, 0x1B}, 140.0001f},
        {{}, 120.0f},
        {{0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}, INFINITY},
        {{0xFF, 0x51, 0x01, 0x10}, 3750000.0f},  // a one-byte payload is read alone: 16 µs
        {{0xFF, 0x51, 0x00}, 120.0f},
    };
    for (const auto& t : tempos) {
        MIDIFileTempoTrack tempo{track, t.tempoData};
        EXPECT_EQ(tempo.tempo(), t.bpm) << bytesHexString(t.tempoData);
    }
}

TEST(MIDIFileTracks, EventViewsLeaveOutMetaAndSysExEventsByIndexAndInOrder) {
    const Bytes melody{0x00, 0xFF, 0x03, 0x01, 'M',                    // name
                       0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,              // SysEx first
                       0x00, 0x90, 0x3C, 0x64, 0x60, 0x3C, 0x00,        // running status
                       0x00, 0xFF, 0x01, 0x01, 'x',                     // text
                       0x00, 0xFF, 0x60, 0x00,                          // unlisted meta
                       0x30, 0xC1, 0x05,                                // program change at 144
                       0x00, 0xF7, 0x01, 0x01,                          // escape
                       0x30, 0xB0, 0x07, 0x40, 0x00, 0x08, 0x50,        // controllers at 192
                       0x00, 0xF0, 0x01, 0xF7,                          // SysEx last
                       0x00, 0xFF, 0x2F, 0x00};
    const auto f = file(join({header(0, 1, 0x00, 0x60), chunk("MTrk", melody)}));
    const struct {
        Bytes data;
        double beats;
        bool channel;
    } expected[] = {
        {{0xF0, 0x03, 0x7E, 0x7F, 0xF7}, 0, false}, {{0x90, 0x3C, 0x64}, 0, true},   {{0x90, 0x3C, 0x00}, 1, true},
        {{0xC1, 0x05}, 1.5, true},                  {{0xF7, 0x01, 0x01}, 1.5, false}, {{0xB0, 0x07, 0x40}, 2, true},
        {{0xB0, 0x08, 0x50}, 2, true},              {{0xF0, 0x01, 0xF7}, 2, false},
    };
    std::vector<Bytes> all, channel;
    for (const auto& e : expected) {
        all.push_back(e.data);
        if (e.channel) channel.push_back(e.data);
    }
    // Read through a copy of the track: a view keeps what it reads alive.
    std::optional<MIDIFileTrack> track(f.tracks()[0]);
    const auto events = track->events();
    const auto channelEvents = track->channelEvents();
    track.reset();
    for (const auto& [view, wanted] : {std::pair{&events, &all}, std::pair{&channelEvents, &channel}}) {
        ASSERT_EQ(view->size(), wanted->size());
        std::vector<Bytes> read;
        for (const MIDIEvent& event : *view) read.push_back(event.data);
        EXPECT_EQ(read, *wanted);
        for (size_t i = 0; i < view->size(); ++i) EXPECT_EQ((*view)[i].data, (*wanted)[i]) << i;
        EXPECT_EQ(view->front().data, wanted->front());
        EXPECT_EQ(view->back().data, wanted->back());
    }
    for (size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(events[i].positionInBeats, expected[i].beats) << i;

    // The same chunk read at another division shares the parse, not the positions.
    const MIDIFileTrack at48(MIDIFileTrackChunk(f.chunks[1], MIDITimeFormat::ticksPerBeat, 48));
    EXPECT_EQ(at48.events()[5].positionInBeats, 4.0);
    EXPECT_EQ(f.tracks()[0].events()[5].positionInBeats, 2.0);
    EXPECT_FALSE(MIDIFileTrack(MIDIFileTrackChunk(f.chunks[1], MIDITimeFormat::framesPerSecond, 0x60))
                     .channelEvents()[0]
                     .positionInBeats);
    EXPECT_EQ(f.tracks()[0].length(), 2.0);
    EXPECT_EQ(f.tracks()[0].name(), "M");

    const auto none = MIDIFileTrack(trackChunk(kEnd)).events();
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(none.begin() == none.end());
}

TEST(MIDIFileTrackNoteMap, NotesTimesAndClamping) {
    const Bytes melody{0x00, 0x90, 0x3C, 0x64,        // 60 on at 0
                       0x83, 0x60, 0x80, 0x3C, 0x40,  // 60 off at 480
                       0x00, 0x91, 0x40, 0x64,        // other channel: ignored
                       0x00, 0x90, 0x40, 0x64, 0x00, 0x90, 0x40, 0x64,  // two starts for 64
                       0x83, 0x60, 0x90, 0x40, 0x00,                    // velocity 0 ends it at 960
                       0x00, 0x81, 0x37, 0x00,                          // other channel's off: ignored
                       0x00, 0x90, 0x37, 0x64, 0x60, 0x80, 0x37, 0x00,  // 55
                       0x00, 0x80, 0x30, 0x00,                          // off without a note
                       0x00, 0xFF, 0x2F, 0x00};
    const auto f = file(join({header(1, 4, 0x01, 0xE0), chunk("MTrk", kEnd), chunk("MTrk", kEnd),
                              chunk("MTrk", melody), chunk("MTrk", kEnd)}));
    const MIDIFileTrackNoteMap map(f, 1);
    const auto notes = map.notes();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].noteNumber, 60);
    EXPECT_DOUBLE_EQ(notes[0].noteStartTime, 0);
    EXPECT_DOUBLE_EQ(notes[0].noteEndTime, 1.0 / 480);
    EXPECT_DOUBLE_EQ(notes[0].noteDuration, 1.0 / 480);
    EXPECT_EQ(notes[1].noteNumber, 64);
    EXPECT_DOUBLE_EQ(notes[1].noteStartTime, 1.0 / 480);
    EXPECT_EQ(map.lowestNote(), 55);
    EXPECT_EQ(map.highestNote(), 64);
    EXPECT_EQ(map.noteSpan(), 10);
    EXPECT_DOUBLE_EQ(map.trackEnd(), (960.0 + 96) / 480 / 480);

    EXPECT_EQ(MIDIFileTrackNoteMap(f, 7).trackNumber(), 2);
    EXPECT_EQ(MIDIFileTrackNoteMap(f, -1).trackNumber(), 0);

    const MIDIFileTrackNoteMap oneNote(file(join({header(0, 1, 0x01, 0xE0),
                                                  chunk("MTrk", {0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x00})})),
                                       0);
    EXPECT_EQ(oneNote.lowestNote(), 0);
    EXPECT_EQ(oneNote.noteSpan(), 1);
    EXPECT_DOUBLE_EQ(oneNote.trackEnd(), 96.0 / 480 / 480);  // no end of track: the last note's end

    Settings::setEnableLogging(true);
    platform::LogSink::clear();
    const MIDIFileTrackNoteMap empty(file({}), 0);
    EXPECT_TRUE(empty.notes().empty());
    EXPECT_EQ(empty.trackEnd(), 0);
    EXPECT_FALSE(empty.trackNumber());
    ASSERT_FALSE(platform::LogSink::entries().empty());
    EXPECT_NE(platform::LogSink::entries().back().message.find("No Tracks in the MIDI File"), std::string::npos);
}

TEST(MIDIFileContainer, ReadsFromDiskAndSurvivesBadPaths) {
    testsupport::ScratchDir dir;
    const Bytes bytes = join({header(0, 1, 0x00, 0x60), chunk("MTrk", kEnd)});
    testsupport::writeFile(dir / "a.mid", std::string(bytes.begin(), bytes.end()));
    const MIDIFile fromPath(dir / "a.mid");
    EXPECT_EQ(fromPath.filename, "a.mid");
    EXPECT_EQ(fromPath.chunks.size(), 2u);
    EXPECT_TRUE(MIDIFile(dir.path()).chunks.empty());
    EXPECT_TRUE(MIDIFile(dir / "missing.mid").chunks.empty());
}
