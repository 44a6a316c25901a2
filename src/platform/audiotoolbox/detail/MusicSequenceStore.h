// What sequence handles stand for: the checked registry and the stored sequences, tracks and
// events, shared by the sequence calls, the file reader and writer, and the players.
#pragma once

#include "platform/audiotoolbox/MusicSequence.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::detail {

struct SequenceEvent {
    MusicTimeStamp time = 0;
    MusicEventType type = 0;
    // The event's record; never empty (a meta or raw event keeps at least one data byte).
    std::vector<uint8_t> data;
    uint32_t size = 0;
};

struct SequenceData;

struct TrackData {
    uintptr_t handle = 0;
    uintptr_t sequence = 0;
    std::vector<SequenceEvent> events;  // ordered by time, a new event after those at its time
    double setLength = 0;
    MusicTrackLoopInfo loop{0, 0};
    bool mute = false;
    bool solo = false;
    bool isTempoTrack = false;
    MIDIEndpointRef destination = 0;
    uint64_t version = 0;  // raised by every change

    // max(set length, end of the last event, a note's end).
    double length() const;
    void insert(SequenceEvent event);
    void changed() { ++version; }
};

struct SequenceData {
    uintptr_t handle = 0;
    std::unique_ptr<TrackData> tempoTrack;
    std::vector<std::unique_ptr<TrackData>> tracks;
    uint32_t resolution = 480;

    double secondsForBeats(double beats) const;
    double beatsForSeconds(double seconds) const;
};

// One lock for all sequencing state (recursive: a call may run inside another).
std::recursive_mutex& sequenceLock();

SequenceData* findSequence(MusicSequence sequence);
TrackData* findTrack(MusicTrack track);
SequenceData* sequenceOf(const TrackData& track);
MusicTrack trackHandle(const TrackData& track);

// A new regular track at the end of the sequence.
TrackData* addTrack(SequenceData& sequence);

// A new registry value (never reused).
uintptr_t newHandle();

// Records of each kind from their fields.
SequenceEvent makeTempoEvent(double time, double bpm);
SequenceEvent makeMetaEvent(double time, uint8_t type, const uint8_t* bytes, uint32_t length);
SequenceEvent makeNoteEvent(double time, const MIDINoteMessage& message);
SequenceEvent makeChannelEvent(double time, const MIDIChannelMessage& message);
SequenceEvent makeRawEvent(double time, const uint8_t* bytes, uint32_t length);

// The tempo map of a sequence as (beat, bpm) steps.
struct TempoMap {
    struct Step {
        double beat;
        double bpm;
        double seconds;  // at `beat`
    };
    std::vector<Step> steps;  // first at beat 0

    static TempoMap of(const SequenceData& sequence);
    double secondsForBeats(double beats) const;
    double beatsForSeconds(double seconds) const;
};

// SMF reading and writing (MusicSequenceFile.cpp).
OSStatus loadStandardMIDIFile(SequenceData& sequence, const uint8_t* bytes, size_t length);
// Writing fails (with a log line, `out` empty) for what a file cannot hold: more than 65535 tracks
// or two events of a track further apart than 0x0FFFFFFF ticks.
OSStatus createStandardMIDIFile(const SequenceData& sequence, uint16_t resolution, std::vector<uint8_t>& out);

}  // namespace platform::detail
