// The fixed-layout records a sequencer track is made of and its engine plays: one MIDI message at
// a position in beats, and a note as its note-on and note-off pair.
#pragma once

#include <cstdint>

namespace sonora {

struct SequenceEvent {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    double beat = 0;

    // Every field equal (a NaN beat never is).
    bool operator==(const SequenceEvent&) const = default;
};

struct SequenceNote {
    SequenceEvent noteOn;
    SequenceEvent noteOff;

    bool operator==(const SequenceNote&) const = default;
};

}  // namespace sonora
