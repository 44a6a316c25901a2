// What the sampler unit plays. An instrument is made and loaded on the main thread, handed to the
// render thread whole, and from then on touched only there (or on the main thread while the unit
// does not render). Its render-thread calls take no lock and allocate nothing.
#pragma once

#include "platform/foundation/URL.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

class SamplerInstrument {
public:
    virtual ~SamplerInstrument() = default;

    // The rate the instrument renders at; changed only while the unit does not render.
    virtual double sampleRate() const = 0;
    virtual void setSampleRate(double sampleRate) = 0;

    // One MIDI message. System reset (0xFF) silences every voice and resets the controllers.
    virtual void handleMIDI(const uint8_t* bytes, size_t length) = 0;
    // Cents added to every note.
    virtual void setTuning(float cents) = 0;
    // Writes (not adds) `frames` frames.
    virtual void render(float* left, float* right, uint32_t frames) = 0;
};

// One key zone: a sound file played from `rootKey` over minKey…maxKey. Absent values come from the
// file's instrument chunk, else root 60, keys 0-127, no loop.
struct SamplerZone {
    URL file;
    std::optional<int> rootKey, minKey, maxKey;
    std::optional<bool> loopEnabled;
};

// Zones sharing an envelope and a number of voices.
struct SamplerLayer {
    std::vector<SamplerZone> zones;
    double attack = 0;   // seconds
    double release = 0;  // seconds
    bool ignoreNoteOff = false;
    int voiceCount = 16;
};

struct SamplerPreset {
    std::vector<SamplerLayer> layers;
};

// Reads a sampler preset (an XML property list); sample paths are taken relative to `folder`
// unless absolute. Throws NSErrorException for anything that is no such preset.
SamplerPreset parseAUPreset(std::string_view bytes, const std::filesystem::path& folder);
SamplerPreset readAUPreset(const URL& url);

// What names one file however its path is spelled (device, inode, size and modification time),
// for the caches of decoded files; the path itself when the file cannot be looked at.
std::string fileIdentity(const std::string& path);

// Plays the preset's zones; throws NSErrorException when a sound file cannot be read.
std::unique_ptr<SamplerInstrument> makeZoneInstrument(const SamplerPreset& preset, double sampleRate);

// A SoundFont preset on all 16 channels; throws NSErrorException for a missing or unreadable file,
// a preset the bank lacks, or FluidSynth that cannot be loaded.
std::unique_ptr<SamplerInstrument> makeSoundBankInstrument(const URL& url, int bank, int program, double sampleRate);

// The name FluidSynth, which plays SoundFonts, is loaded by when the first one is loaded: that of the
// headers we build with.
std::string fluidSynthLibraryName();

}  // namespace platform::detail
