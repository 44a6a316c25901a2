#include "SonoraEX/Sequencing/NoteEventSequence.h"

#include "Sonora/Internals/Utilities/Constants.h"

#include <algorithm>

namespace sonora {

void NoteEventSequence::addNote(uint8_t noteNumber, uint8_t velocity, double position, double duration) {
    notes.push_back({{noteOnByte, noteNumber, velocity, position}, {noteOffByte, noteNumber, velocity, position + duration}});
}

void NoteEventSequence::removeNotes(double atBeat) {
    std::erase_if(notes, [atBeat](const SequenceNote& note) { return note.noteOn.beat == atBeat; });
}

void NoteEventSequence::removeNotes(uint8_t noteNumber) {
    std::erase_if(notes, [noteNumber](const SequenceNote& note) { return note.noteOn.data1 == noteNumber; });
}

void NoteEventSequence::addEvent(uint8_t status, uint8_t data1, uint8_t data2, double beat) {
    events.push_back({status, data1, data2, beat});
}

void NoteEventSequence::addEvent(const MIDIEvent& event, double beat) {
    if (!event.status() || event.data.size() < 3) return;
    events.push_back({event.data[0], event.data[1], event.data[2], beat});
}

void NoteEventSequence::removeEvents(double atBeat) {
    std::erase_if(events, [atBeat](const SequenceEvent& event) { return event.beat == atBeat; });
}

std::vector<SequenceEvent> NoteEventSequence::orderedEvents() const {
    std::vector<SequenceEvent> ordered = events;
    ordered.reserve(events.size() + 2 * notes.size());
    for (const SequenceNote& note : notes) {
        ordered.push_back(note.noteOn);
        ordered.push_back(note.noteOff);
    }
    // The masks are wide on purpose: every status counts as note-off-like, and controllers,
    // channel pressure and system messages count as note-on-like.
    std::stable_sort(ordered.begin(), ordered.end(), [](const SequenceEvent& a, const SequenceEvent& b) {
        const bool aOn = (a.status & 0x90) == 0x90;
        const bool aOff = (a.status & 0x80) == 0x80;
        const bool bOn = (b.status & 0x90) == 0x90;
        const bool bOff = (b.status & 0x80) == 0x80;
        const bool samePlace = a.data1 == b.data1 && a.beat == b.beat;
        if (aOn && bOff && samePlace) return false;
        if (aOff && bOn) return samePlace || a.beat < b.beat;
        return a.beat < b.beat;
    });
    return ordered;
}

}  // namespace sonora
