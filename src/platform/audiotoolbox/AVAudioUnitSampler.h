// The sampler instrument unit ('aumu'/'samp'): one stereo output bus. It plays a SoundFont preset
// (FluidSynth), a sampler preset (.aupreset) or plain audio files (one key zone each); until one
// is loaded it renders silence.
//
// Loaders run on the main thread and throw NSErrorException; a failed load keeps the instrument
// that was playing. Notes, controllers and the other MIDI calls may come from any thread: they go
// through the unit's MIDI queue and reach the instrument on the render thread, at once.
#pragma once

#include "platform/audiotoolbox/AVAudioUnit.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <vector>

namespace platform {

// Error codes of the sampler's loaders (NSOSStatusErrorDomain).
inline constexpr OSStatus kAudioUnitErr_FileNotFound = -43;
inline constexpr OSStatus kAudioUnitErr_InvalidFile = -10871;

// Bank MSBs that select the SoundFont's melodic banks and its percussion banks (128 + LSB).
inline constexpr uint8_t kAUSampler_DefaultMelodicBankMSB = 0x79;
inline constexpr uint8_t kAUSampler_DefaultPercussionBankMSB = 0x78;

class AVAudioUnitSampler : public AVAudioUnit {
public:
    AVAudioUnitSampler();
    // initWithAudioComponentDescription:.
    explicit AVAudioUnitSampler(const AudioComponentDescription& description);
    ~AVAudioUnitSampler() override;

    std::string className() const override { return "AVAudioUnitSampler"; }

    // The SoundFont bank number a bank MSB/LSB pair selects: MSB 0x79 the melodic bank LSB, 0x78
    // the percussion bank 128 + LSB, any other MSB × 128 + LSB.
    static int soundBankNumber(uint8_t bankMSB, uint8_t bankLSB);

    // loadSoundBankInstrumentAtURL:program:bankMSB:bankLSB:error:. A SoundFont (SF2/SF3) preset on
    // all 16 channels.
    void loadSoundBankInstrument(const URL& bankURL, uint8_t program, uint8_t bankMSB, uint8_t bankLSB);
    // loadInstrumentAtURL:error:, by extension: ".aupreset" a sampler preset, ".sf2"/".sf3" bank 0
    // program 0, audio files one zone; anything else (".exs" included) is an unsupported format.
    void loadInstrument(const URL& instrumentURL);
    // loadAudioFilesAtURLs:error:. One zone per file, its root key, key range and loop taken from
    // the file's instrument chunk (else root 60, keys 0-127, no loop).
    void loadAudioFiles(const std::vector<URL>& audioFiles);

    void startNote(uint8_t note, uint8_t velocity, uint8_t channel);
    void stopNote(uint8_t note, uint8_t channel);
    void sendController(uint8_t controller, uint8_t value, uint8_t channel);
    // 14 bits, 8192 centre; the full range bends by ±2 semitones.
    void sendPitchBend(uint16_t pitchbend, uint8_t channel);
    void sendProgramChange(uint8_t program, uint8_t channel);
    void sendPressure(uint8_t pressure, uint8_t channel);
    void sendPressureForKey(uint8_t key, uint8_t value, uint8_t channel);
    // A raw channel message of one to three bytes.
    void sendMIDIEvent(uint8_t status, uint8_t data1, uint8_t data2);
    void sendMIDIEvent(uint8_t status, uint8_t data1);

    // Decibels, −90 … +12 (clamped).
    float masterGain() const;
    void setMasterGain(float gain);
    // −100 (left) … 100 (right) (clamped).
    float stereoPan() const;
    void setStereoPan(float pan);
    // Cents, −2400 … 2400 (clamped).
    float globalTuning() const;
    void setGlobalTuning(float cents);

    // Every voice off and the controllers reset; the instrument stays loaded.
    void reset() override;

private:
    class Unit;
    Unit& unit() const;
};

}  // namespace platform
