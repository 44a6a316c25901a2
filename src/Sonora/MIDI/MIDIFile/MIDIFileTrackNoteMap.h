// The notes of one track of a MIDI file with their start, end and duration, for a piano-roll view.
#pragma once

#include "Sonora/MIDI/MIDIFile/MIDIFile.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sonora {

class MIDINoteDuration {
public:
    MIDINoteDuration(double noteStartTime, double noteEndTime, int64_t noteNumber)
        : noteStartTime(noteStartTime), noteEndTime(noteEndTime), noteDuration(noteEndTime - noteStartTime),
          noteNumber(noteNumber) {}
    double noteStartTime;
    double noteEndTime;
    double noteDuration;
    int64_t noteNumber;
    int64_t noteNumberMap = 0;
    int64_t noteRange = 0;
};

class MIDIFileTrackNoteMap {
public:
    // The track is clamped into the file's tracks; a file without tracks gives an empty map.
    MIDIFileTrackNoteMap(MIDIFile midiFile, int64_t trackNumber);
    virtual ~MIDIFileTrackNoteMap() = default;

    const std::optional<MIDIFileTrack>& midiTrack() const { return midiTrack_; }
    const std::optional<MIDIFile>& midiFile() const { return midiFile_; }
    std::optional<int64_t> trackNumber() const { return trackNumber_; }

    // Lowest and highest are 0 with fewer than two notes.
    virtual int64_t lowestNote() const;
    virtual int64_t highestNote() const;
    virtual int64_t noteSpan() const { return highestNote() - lowestNote() + 1; }
    // The end-of-track event's time, else the last note's end; 0 for a track without events.
    virtual double trackEnd() const;
    // In the order in which they end.
    virtual std::vector<MIDINoteDuration> notes() const;

private:
    // A position in the map's unit: beats over the header's ticks per beat.
    double time(std::optional<double> positionInBeats) const;
    std::optional<MIDIFileTrack> midiTrack_;
    std::optional<MIDIFile> midiFile_;
    std::optional<int64_t> trackNumber_;
    double divisor_ = 1;
};

}  // namespace sonora
