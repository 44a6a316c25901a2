// MIDI note numbers and frequencies, on the equal-tempered scale around a reference pitch.
#pragma once

#include <cstdint>

namespace sonora {

// midiNoteToFrequency(referenceFrequency:): r × 2^((n − 69) ÷ 12), in Hz.
float midiNoteToFrequency(int noteNumber, float referenceFrequency = 440);
float midiNoteToFrequency(float noteNumber, float referenceFrequency = 440);
float midiNoteToFrequency(uint8_t noteNumber, float referenceFrequency = 440);

// frequencyToMIDINote(referenceFrequency:): 12 × log2(f ÷ r) + 69, a fractional note number.
float frequencyToMIDINote(int frequency, float referenceFrequency = 440);
float frequencyToMIDINote(float frequency, float referenceFrequency = 440);

}  // namespace sonora
