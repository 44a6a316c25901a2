// The editable content of one sequencer track: notes (note-on and note-off pairs) and free MIDI
// events, placed in beats, flattened into one beat-ordered list for the engine.
#pragma once

#include "Sonora/MIDI/MIDIEvent.h"
#include "SonoraEX/Sequencing/SequenceEvent.h"

#include <cstdint>
#include <vector>

namespace sonora {

struct NoteEventSequence {
    std::vector<SequenceNote> notes;
    std::vector<SequenceEvent> events;

    // A note on channel 1; the note-off carries the note-on's velocity.
    void addNote(uint8_t noteNumber, uint8_t velocity, double position, double duration);
    // Every note whose note-on lies exactly at the beat.
    void removeNotes(double atBeat);
    void removeNotes(uint8_t noteNumber);
    void addEvent(uint8_t status, uint8_t data1, uint8_t data2, double beat);
    // Channel messages of at least three bytes only; anything else adds nothing.
    void addEvent(const MIDIEvent& event, double beat);
    void removeEvents(double atBeat);

    // The events, then each note's on and off, stably sorted by beat; at one beat a message that
    // ends a note number goes before the message that starts it again.
    std::vector<SequenceEvent> orderedEvents() const;

    bool operator==(const NoteEventSequence&) const = default;
};

}  // namespace sonora
