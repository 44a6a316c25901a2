// Writes sampler presets: XML property lists the sampler unit's instrument loader reads. Each
// sample description becomes one layer with one key zone; each distinct sound file one file
// reference ("Sample:268435457", "Sample:268435458", ...). Failures are logged, never thrown.
//
//   PresetBuilder::createAUPreset({PresetBuilder::generateDict(60, "/samples/c4.wav", 48, 72)},
//                                 "/tmp/piano.aupreset", "Piano", 0.01, 0.5);
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sonora {

// How a zone plays: "loop" loops the sound, "hold" stops at note-off; the others play the whole
// sound whatever the note-off.
enum class SampleTriggerMode { Hold, Trigger, Loop, Repeat };
std::string rawValue(SampleTriggerMode mode);
std::optional<SampleTriggerMode> sampleTriggerMode(const std::string& rawValue);

// A sample description's value: text or a number.
using PresetValue = std::variant<std::string, int64_t, double>;
// Keys "filename", "rootnote", "startnote", "endnote", "triggerMode" (and "sampleNum", set by the writer).
using SampleDescription = std::map<std::string, PresetValue>;

class PresetBuilder {
public:
    // Writes the preset to `path`. With attack or release absent and samples given, nothing is
    // written (one line logged).
    static void createAUPreset(const std::vector<SampleDescription>& dict, const std::string& path,
                               const std::string& instrumentName, std::optional<double> attack,
                               std::optional<double> release);
    static SampleDescription generateDict(uint8_t rootNote, const std::string& filename, uint8_t startNote,
                                          uint8_t endNote);

    // The document's fragments.
    static std::string generateAUPreset(const std::string& name, const std::string& connections,
                                        const std::string& envelopes, const std::string& filter,
                                        const std::string& lfos, const std::string& zones,
                                        const std::string& fileRefs, const std::string& layers);
    static std::string generateLayer(const std::string& connections, const std::string& envelopes,
                                     const std::string& filter, const std::string& lfos, const std::string& zones,
                                     int64_t layer, int64_t numVoices, bool ignoreNoteOff);
    static std::string generateAmplifier();
    static std::string generateLayerConnections(int64_t layer);
    static std::string generateConnection(int64_t id, int64_t source, int64_t destination, int64_t scale, bool inverse);
    static std::string generateEnvelope(int64_t id, double delay, double attack, double hold, double decay,
                                        double sustain, double release);
    static std::string generateFilter(double cutoff, double resonance);
    static std::string generateLayerID(int64_t id);
    static std::string generateLFO(int64_t id, int64_t waveform, double delay, double rate);
    static std::string generateZone(int64_t id, uint8_t rootNote, uint8_t minKey, uint8_t maxKey, int64_t waveform,
                                    int64_t offset, bool loopEnabled);
    static std::string generateFileRef(int64_t id, const std::string& path);
    static std::string generateInstrumentName(const std::string& name);
    static std::string generateCoarseTune(int64_t tune);
    static std::string generateFineTune(double tune);
    static std::string generateGain(double gain);
    static std::string generatePan(double pan);
    static std::string generateManufacturer(int64_t manufacturer);
    static std::string generateOutput(int64_t output);
    static std::string generateVoiceCount(int64_t count);
    static std::string generateRealEntry(const std::string& key, double value);

    // Unused state, kept with the type.
    std::string presetXML;
    std::vector<std::string> layers, connections, envelopes, lfos, zones, fileRefs, filters;
};

}  // namespace sonora
