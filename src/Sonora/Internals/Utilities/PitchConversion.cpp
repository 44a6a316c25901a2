#include "Sonora/Internals/Utilities/PitchConversion.h"

#include <cmath>

namespace sonora {

float midiNoteToFrequency(float noteNumber, float referenceFrequency) {
    return referenceFrequency * std::pow(2.0f, (noteNumber - 69.0f) / 12.0f);
}
float midiNoteToFrequency(int noteNumber, float referenceFrequency) {
    return midiNoteToFrequency(float(noteNumber), referenceFrequency);
}
float midiNoteToFrequency(uint8_t noteNumber, float referenceFrequency) {
    return midiNoteToFrequency(float(noteNumber), referenceFrequency);
}

float frequencyToMIDINote(float frequency, float referenceFrequency) {
    return 12.0f * std::log2(frequency / referenceFrequency) + 69.0f;
}
float frequencyToMIDINote(int frequency, float referenceFrequency) {
    return frequencyToMIDINote(float(frequency), referenceFrequency);
}

}  // namespace sonora
