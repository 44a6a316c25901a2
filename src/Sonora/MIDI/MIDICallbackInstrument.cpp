#include "Sonora/MIDI/MIDICallbackInstrument.h"

#include "platform/avfaudio/AVAudioMixerNode.h"

namespace sonora {

MIDICallbackInstrument::MIDICallbackInstrument(std::string midiInputName, Callback callback)
    : MIDIInstrument(midiInputName), callback(std::move(callback)) {
    setName(std::move(midiInputName));
    setAVAudioNode(std::make_shared<platform::AVAudioMixerNode>());
}

void MIDICallbackInstrument::startNote(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, Stamp) {
    call(0x90 + channel, noteNumber, velocity);
}

void MIDICallbackInstrument::stopNote(MIDIByte noteNumber, MIDIByte channel, Stamp) {
    call(0x80 + channel, noteNumber, 0);
}

void MIDICallbackInstrument::receivedMIDIController(MIDIByte controller, MIDIByte value, MIDIByte channel, PortID,
                                                    Stamp) {
    call(0xB0 + channel, controller, value);
}

void MIDICallbackInstrument::receivedMIDIAftertouch(MIDIByte noteNumber, MIDIByte pressure, MIDIByte channel, PortID,
                                                    Stamp) {
    call(0xA0 + channel, noteNumber, pressure);
}

void MIDICallbackInstrument::receivedMIDIAftertouch(MIDIByte pressure, MIDIByte channel, PortID, Stamp) {
    call(0xD0 + channel, pressure, 0);
}

void MIDICallbackInstrument::receivedMIDIPitchWheel(uint16_t pitchWheelValue, MIDIByte channel, PortID, Stamp) {
    call(0xE0 + channel, pitchWheelValue & 0x7F, (pitchWheelValue >> 7) & 0x7F);
}

}  // namespace sonora
