// An instrument that hands each channel message it gets, as three bytes (status with the
// channel, data1, data2), to a closure. Program changes and system messages do not reach it.
#pragma once

#include "Sonora/MIDI/MIDIInstrument.h"

#include <functional>

namespace sonora {

class MIDICallbackInstrument : public MIDIInstrument {
public:
    using Callback = std::function<void(MIDIByte status, MIDIByte data1, MIDIByte data2)>;

    // Without a callback every message is ignored.
    MIDICallbackInstrument(std::string midiInputName, Callback callback);

    Callback callback;

    void startNote(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, Stamp timeStamp = std::nullopt) override;
    void stopNote(MIDIByte noteNumber, MIDIByte channel, Stamp timeStamp = std::nullopt) override;
    void receivedMIDIController(MIDIByte controller, MIDIByte value, MIDIByte channel, PortID portID,
                                Stamp timeStamp) override;
    void receivedMIDIAftertouch(MIDIByte noteNumber, MIDIByte pressure, MIDIByte channel, PortID portID,
                                Stamp timeStamp) override;
    void receivedMIDIAftertouch(MIDIByte pressure, MIDIByte channel, PortID portID, Stamp timeStamp) override;
    void receivedMIDIPitchWheel(uint16_t pitchWheelValue, MIDIByte channel, PortID portID, Stamp timeStamp) override;

private:
    void call(MIDIByte status, MIDIByte data1, MIDIByte data2) const {
        if (callback) callback(status, data1, data2);
    }
};

}  // namespace sonora
