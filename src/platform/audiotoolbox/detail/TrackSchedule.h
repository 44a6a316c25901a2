// When a track's events play: its first pass to the end of its loop region, then the region's
// repeats. Pure arithmetic over a track's events, shared by the music player's thread and the
// audio sequencer's render observer.
#pragma once

#include "platform/audiotoolbox/detail/MusicSequenceStore.h"

#include <optional>
#include <vector>

namespace platform::detail {

struct LoopRegion {
    bool enabled = false;
    double start = 0;
    double end = 0;
    int64_t repeats = 0;  // 0: for ever
};

// A music track's loop: the last `loopDuration` beats of its length, repeated `numberOfLoops` times.
LoopRegion trackLoop(const TrackData& track);

struct Occurrence {
    double beat;   // on the playing timeline
    size_t index;  // into the events
};

// The first occurrence after `after` (at it when `inclusive`).
std::optional<Occurrence> nextOccurrence(const std::vector<SequenceEvent>& events, const LoopRegion& loop,
                                         double after, bool inclusive);

// Where the track's schedule ends; infinity when it loops for ever.
double scheduleEnd(const LoopRegion& loop, double length);

// A track's message at an occurrence (notes: the note-on), and a note's note-off beat after it.
struct ScheduledMessage {
    uint8_t length = 0;
    uint8_t bytes[3] = {0, 0, 0};
    const uint8_t* raw = nullptr;  // raw data: the event's own bytes
    uint32_t rawLength = 0;
    bool hasNoteOff = false;
    double noteOffBeat = 0;
    uint8_t noteOff[3] = {0, 0, 0};
};
// False for events that send nothing (tempo, meta).
bool messageOf(const SequenceEvent& event, double beat, ScheduledMessage& out);

}  // namespace platform::detail
