#include "Sonora/MIDI/MIDIEvent.h"

namespace sonora {

bool MIDIEvent::operator==(const MIDIEvent& other) const {
    // std::optional compares present values with ==, so a NaN position is unequal to itself.
    return data == other.data && positionInBeats == other.positionInBeats && offset == other.offset &&
           timeStamp == other.timeStamp;
}

}  // namespace sonora
