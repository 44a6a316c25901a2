#include "Sonora/MIDI/MIDIEvent.h"

namespace sonora {

MIDIEvent MIDIEvent::noteOn(uint8_t noteNumber, uint8_t velocity, uint8_t channel) {
    return MIDIEvent{{uint8_t(0x90 | (channel & 0x0F)), noteNumber, velocity}, std::nullopt, std::nullopt, std::nullopt};
}

bool MIDIEvent::operator==(const MIDIEvent& other) const {
    // std::optional compares present values with ==, so a NaN position is unequal to itself.
    return data == other.data && positionInBeats == other.positionInBeats && offset == other.offset &&
           timeStamp == other.timeStamp;
}

}  // namespace sonora
