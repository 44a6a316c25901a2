// A track chunk with the time format and division of its file's header, and its events.
#pragma once

#include "Sonora/MIDI/MIDIFile/MIDIFileChunk.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileChunkEvent.h"

#include <memory>
#include <optional>
#include <vector>

namespace sonora {

class MIDIFileTrackChunk : public MIDIFileChunk {
public:
    // A stored track chunk with its file's time format and division. Copies share the parse.
    MIDIFileTrackChunk(const MIDIFileChunk& chunk, MIDITimeFormat format, int64_t division);
    // init?(data:): a track chunk at the start of the bytes, made without a header: 480 ticks per beat.
    static std::optional<MIDIFileTrackChunk> fromData(std::span<const uint8_t> bytes);

    MIDITimeFormat timeFormat() const { return timeFormat_; }
    int64_t timeDivision() const { return timeDivision_; }

    // The payload cut into events, in file order; parsed on first use and kept, shared by the
    // copies of the chunk. A parse error ends the list at the events read before it (and is logged).
    const std::vector<MIDIFileChunkEvent>& parsedEvents() const;
    // An event's position in beats at this chunk's time format and division.
    std::optional<double> positionInBeats(const MIDIFileChunkEvent& event) const {
        return event.positionInBeats(timeFormat_, timeDivision_);
    }

private:
    // The views of a track read the parse's lists of where its meta and non-channel events lie.
    friend struct MIDIFileTrack;
    friend struct MIDIFileTempoTrack;
    // The shared parse, done.
    const detail::ChunkParse& parse() const;
    MIDITimeFormat timeFormat_;
    int64_t timeDivision_;
};

}  // namespace sonora
