#include "Sonora/Nodes/Playback/AppleSampler/PresetBuilder.h"

#include "Sonora/Internals/Utilities/Log.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

namespace sonora {

namespace {

constexpr int64_t kFirstSampleNumber = 268435457;  // 0x10000001

std::string line(int blanks, const std::string& text) { return std::string(size_t(blanks), ' ') + text + "\n"; }

std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// The shortest text that reads back as the same double, with ".0" on whole numbers.
std::string realText(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string key(int blanks, const std::string& name) { return line(blanks, "<key>" + name + "</key>"); }
std::string integer(int blanks, int64_t value) { return line(blanks, "<integer>" + std::to_string(value) + "</integer>"); }
std::string real(int blanks, const std::string& text) { return line(blanks, "<real>" + text + "</real>"); }
std::string boolean(int blanks, bool value) { return line(blanks, value ? "<true/>" : "<false/>"); }
std::string integerEntry(int blanks, const std::string& name, int64_t value) { return key(blanks, name) + integer(blanks, value); }

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    return sum;
}

// The connections of the layer the document falls back to when it is given none.
std::string defaultConnections() {
    struct Row {
        int64_t id, control, destination;
        bool inverse;
        const char *scale, *max, *min;
        int64_t source, transform;
    };
    static const Row rows[] = {
        {0, 0, 816840704, false, "12800", nullptr, nullptr, 300, 1},
        {1, 0, 1343225856, true, "-96", nullptr, nullptr, 301, 2},
        {2, 0, 1343225856, true, "-96", nullptr, nullptr, 7, 2},
        {4, 0, 1344274432, false, nullptr, "0.50800001621246338", "-0.50800001621246338", 10, 1},
        {7, 241, 816840704, false, nullptr, "12800", "-12800", 224, 1},
        {8, 0, 816840704, false, nullptr, "100", "-100", 242, 1},
        {6, 1, 816840704, false, nullptr, "50", "-50", 268435456, 1},
        {5, 0, 1343225856, true, "-96", nullptr, nullptr, 536870912, 1},
    };
    std::string out;
    constexpr int b = 34;
    for (const Row& r : rows) {
        out += line(b, "<dict>");
        out += integerEntry(b + 4, "ID", r.id);
        out += integerEntry(b + 4, "control", r.control);
        out += integerEntry(b + 4, "destination", r.destination);
        out += key(b + 4, "enabled") + boolean(b + 4, true);
        out += key(b + 4, "inverse") + boolean(b + 4, r.inverse);
        if (r.scale) {
            out += key(b + 4, "scale") + real(b + 4, r.scale);
        } else {
            out += key(b + 4, "max value") + real(b + 4, r.max);
            out += key(b + 4, "min value") + real(b + 4, r.min);
        }
        out += integerEntry(b + 4, "source", r.source);
        out += integerEntry(b + 4, "transform", r.transform);
        out += line(b, "</dict>");
    }
    return out;
}

std::string defaultEnvelope() { return PresetBuilder::generateEnvelope(0, 0, 0, 0, 0, 1.0, 0); }
std::string defaultFilter() { return PresetBuilder::generateFilter(20000.0, 0.0); }
std::string defaultLFO() { return PresetBuilder::generateLFO(0, 0, 0.0, 3.0); }

// A layer dictionary; trigger mode and voice count only when given.
std::string layerText(const std::string& connections, const std::string& envelopes, const std::string& filter,
                      const std::string& lfos, const std::string& zones, int64_t layer,
                      std::optional<int64_t> numVoices, bool ignoreNoteOff) {
    constexpr int b = 20;
    std::string out = PresetBuilder::generateAmplifier();
    out += key(b, "Connections") + line(b, "<array>") + connections + line(b, "</array>");
    out += key(b, "Envelopes") + line(b, "<array>") + (envelopes.empty() ? defaultEnvelope() : envelopes) + line(b, "</array>");
    out += filter.empty() ? defaultFilter() : filter;
    out += PresetBuilder::generateLayerID(layer);
    out += key(b, "LFOs") + line(b, "<array>") + (lfos.empty() ? defaultLFO() : lfos) + line(b, "</array>");
    out += key(b, "Oscillator") + line(b, "<dict>") + integerEntry(b + 4, "ID", 0) + key(b + 4, "enabled") +
           boolean(b + 4, true) + line(b, "</dict>");
    out += key(b, "Zones") + line(b, "<array>") + zones + line(b, "</array>");
    if (numVoices) {
        if (ignoreNoteOff) out += integerEntry(b, "trigger mode", 11);
        out += integerEntry(b, "voice count", *numVoices);
    }
    out += line(16, "</dict>");
    return out;
}

// A note value that converts exactly to 0-255; none otherwise.
std::optional<uint8_t> note(const SampleDescription& d, const char* name) {
    const auto it = d.find(name);
    if (it == d.end()) return std::nullopt;
    if (const auto* i = std::get_if<int64_t>(&it->second)) {
        if (*i >= 0 && *i <= 255) return uint8_t(*i);
    } else if (const auto* f = std::get_if<double>(&it->second)) {
        if (*f >= 0 && *f <= 255 && std::trunc(*f) == *f) return uint8_t(*f);
    }
    return std::nullopt;
}

const std::string* text(const SampleDescription& d, const char* name) {
    const auto it = d.find(name);
    return it == d.end() ? nullptr : std::get_if<std::string>(&it->second);
}

}  // namespace

std::string rawValue(SampleTriggerMode mode) {
    switch (mode) {
    case SampleTriggerMode::Hold: return "hold";
    case SampleTriggerMode::Trigger: return "trigger";
    case SampleTriggerMode::Loop: return "loop";
    case SampleTriggerMode::Repeat: return "repeat";
    }
    return {};
}

std::optional<SampleTriggerMode> sampleTriggerMode(const std::string& value) {
    for (auto mode : {SampleTriggerMode::Hold, SampleTriggerMode::Trigger, SampleTriggerMode::Loop, SampleTriggerMode::Repeat})
        if (rawValue(mode) == value) return mode;
    return std::nullopt;
}

SampleDescription PresetBuilder::generateDict(uint8_t rootNote, const std::string& filename, uint8_t startNote,
                                              uint8_t endNote) {
    return {{"rootnote", int64_t(rootNote)},
            {"startnote", int64_t(startNote)},
            {"endnote", int64_t(endNote)},
            {"filename", filename}};
}

void PresetBuilder::createAUPreset(const std::vector<SampleDescription>& dict, const std::string& path,
                                   const std::string& instrumentName, std::optional<double> attack,
                                   std::optional<double> release) {
    std::string fileRefs, layers;
    std::vector<SampleDescription> processed;
    int64_t k = 0;
    for (size_t i = 0; i < dict.size(); ++i) {
        SampleDescription copy = dict[i];
        std::optional<int64_t> number;
        for (const SampleDescription& earlier : processed) {
            const std::string* a = text(earlier, "filename");
            const std::string* b = text(copy, "filename");
            if (!a || !b) {
                Log({"Unable to load new sound in PresetBuilder"});
                return;
            }
            if (*a != *b) continue;
            const auto it = earlier.find("sampleNum");
            const int64_t* sampleNum = it == earlier.end() ? nullptr : std::get_if<int64_t>(&it->second);
            if (!sampleNum) {
                Log({"No sampleNum provided in PresetBuilder"});
                return;
            }
            number = *sampleNum;
        }
        const auto root = note(dict[i], "rootnote");
        if ((!dict[i].contains("startnote") || !dict[i].contains("endnote")) && dict[i].contains("rootnote")) {
            copy["startnote"] = dict[i].at("rootnote");
            copy["endnote"] = dict[i].at("rootnote");
        }
        if (!number) {
            number = kFirstSampleNumber + k;
            const std::string* filename = text(dict[i], "filename");
            if (!filename) {
                Log({"No filename provided in PresetBuilder"});
                return;
            }
            fileRefs += generateFileRef(*number, *filename);
            ++k;
        }
        const auto start = note(copy, "startnote").value_or(root.value_or(0));
        const auto end = note(copy, "endnote").value_or(root.value_or(0));
        const std::string* triggerMode = text(copy, "triggerMode");
        copy["sampleNum"] = *number;
        processed.push_back(copy);

        if (!attack || !release) {
            Log({"No attack or release provided in PresetBuilder"});
            return;
        }
        const std::string envelope = generateEnvelope(0, 0, *attack, 0, 0, 1.0, *release);
        if (!root) continue;
        const bool loop = triggerMode && *triggerMode == "loop";
        const bool ignoreNoteOff = !triggerMode || (*triggerMode != "loop" && *triggerMode != "hold");
        const std::string zone = generateZone(int64_t(i), *root, start, end, *number, 0, loop);
        const auto layer = int64_t(i) + 1;
        layers += generateLayer(generateLayerConnections(layer), envelope, "", "", zone, layer, 1, ignoreNoteOff);
    }
    // With no samples the document's layer gets an empty zone list.
    const std::string document = generateAUPreset(instrumentName, "", "", "", "", "", fileRefs, layers);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out << document;
    if (!out || !out.flush()) {
        const std::string reason = std::strerror(errno);
        Log({"Could not write to " + path});
        Log({reason});
    }
}

std::string PresetBuilder::generateAUPreset(const std::string& name, const std::string& connections,
                                            const std::string& envelopes, const std::string& filter,
                                            const std::string& lfos, const std::string& zones,
                                            const std::string& fileRefs, const std::string& layers) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
    out += "<plist version=\"1.0\">\n";
    out += line(4, "<dict>");
    out += key(8, "AU version") + real(8, "1");
    out += key(8, "Instrument") + line(8, "<dict>");
    out += key(12, "Layers") + line(12, "<array>");
    out += layers.empty()
               ? layerText(connections.empty() ? defaultConnections() : connections, envelopes, filter, lfos, zones, 0,
                           std::nullopt, false)
               : layers;
    out += line(12, "</array>");
    out += generateInstrumentName("Code Generated Instrument");
    out += generateCoarseTune(0);
    out += key(8, "data") + line(8, "<data>AAAAAAAAAAAAAAAEAAADhAAAAAAAAAOFAAAAAAAAA4YAAAAAAAADhwAAAAA=</data>");
    out += key(8, "file-references") + line(8, "<dict>") + fileRefs + line(8, "</dict>");
    out += generateFineTune(0.0) + generateGain(0.0);
    out += generateManufacturer(1634758764);
    out += key(8, "name") + line(8, "<string>" + escaped(name) + "</string>");
    out += generateOutput(0) + generatePan(0.0);
    out += integerEntry(8, "subtype", 1935764848) + integerEntry(8, "type", 1635085685) + integerEntry(8, "version", 0);
    out += generateVoiceCount(16);
    out += line(4, "</dict>");
    out += "</plist>\n";
    return out;
}

std::string PresetBuilder::generateLayer(const std::string& connections, const std::string& envelopes,
                                         const std::string& filter, const std::string& lfos, const std::string& zones,
                                         int64_t layer, int64_t numVoices, bool ignoreNoteOff) {
    return layerText(connections.empty() ? generateLayerConnections(layer) : connections, envelopes, filter, lfos,
                     zones, layer, numVoices, ignoreNoteOff);
}

std::string PresetBuilder::generateAmplifier() {
    return line(16, "<dict>") + key(20, "Amplifier") + line(20, "<dict>") + integerEntry(24, "ID", 0) +
           key(24, "enabled") + boolean(24, true) + line(20, "</dict>");
}

std::string PresetBuilder::generateLayerConnections(int64_t layer) {
    const int64_t b = layer * 256;
    return generateConnection(0, 300, 816840704 + b, 12800, false) +
           generateConnection(1, 536870912 + b, 1343225856 + b, -96, true) +
           generateConnection(2, 301, 1343225856 + b, -96, true);
}

std::string PresetBuilder::generateConnection(int64_t id, int64_t source, int64_t destination, int64_t scale,
                                              bool inverse) {
    constexpr int b = 34;
    return line(b, "<dict>") + integerEntry(b + 4, "ID", id) + integerEntry(b + 4, "control", 0) +
           integerEntry(b + 4, "destination", destination) + key(b + 4, "enabled") + boolean(b + 4, true) +
           key(b + 4, "inverse") + boolean(b + 4, inverse) + key(b + 4, "scale") + real(b + 4, std::to_string(scale)) +
           integerEntry(b + 4, "source", source) + integerEntry(b + 4, "transform", 1) + line(b, "</dict>");
}

std::string PresetBuilder::generateEnvelope(int64_t id, double delay, double attack, double hold, double decay,
                                            double sustain, double release) {
    constexpr int b = 34;
    constexpr int s = b + 8;
    auto timed = [&](int64_t curve, int64_t stage, const std::string& time) {
        return line(s, "<dict>") + integerEntry(s + 4, "curve", curve) + integerEntry(s + 4, "stage", stage) +
               key(s + 4, "time") + real(s + 4, time) + line(s, "</dict>");
    };
    std::string out = line(b, "<dict>") + integerEntry(b + 4, "ID", id) + key(b + 4, "Stages") + line(b + 4, "<array>");
    out += timed(20, 0, realText(delay));
    out += timed(22, 1, realText(attack));
    out += timed(20, 2, realText(hold));
    out += timed(20, 3, realText(decay));
    out += line(s, "<dict>") + key(s + 4, "level") + real(s + 4, realText(sustain)) + integerEntry(s + 4, "stage", 4) +
           line(s, "</dict>");
    out += timed(20, 5, realText(release));
    out += timed(20, 6, "0.004999999888241291");
    out += line(b + 4, "</array>") + key(b + 4, "enabled") + boolean(b + 4, true) + line(b, "</dict>");
    return out;
}

std::string PresetBuilder::generateFilter(double cutoff, double resonance) {
    constexpr int b = 20;
    return key(b, "Filters") + line(b, "<dict>") + integerEntry(b + 4, "ID", 0) + key(b + 4, "cutoff") +
           real(b + 4, realText(cutoff)) + key(b + 4, "enabled") + boolean(b + 4, false) + key(b + 4, "resonance") +
           real(b + 4, realText(resonance)) + integerEntry(b + 4, "type", 40) + line(b, "</dict>");
}

std::string PresetBuilder::generateLayerID(int64_t id) { return integerEntry(20, "ID", id); }

std::string PresetBuilder::generateLFO(int64_t id, int64_t waveform, double delay, double rate) {
    constexpr int b = 24;
    std::string out = line(b, "<dict>") + integerEntry(b + 4, "ID", id) + key(b + 4, "delay") + real(b + 4, realText(delay)) +
                      key(b + 4, "enabled") + boolean(b + 4, true) + key(b + 4, "rate") + real(b + 4, realText(rate));
    if (waveform != 0) out += integerEntry(b + 4, "waveform", waveform);
    return out + line(b, "</dict>");
}

std::string PresetBuilder::generateZone(int64_t id, uint8_t rootNote, uint8_t minKey, uint8_t maxKey, int64_t waveform,
                                        int64_t offset, bool loopEnabled) {
    constexpr int b = 20;
    return line(b, "<dict>") + integerEntry(b + 4, "ID", id) + key(b + 4, "enabled") + boolean(b + 4, true) +
           key(b + 4, "loop enabled") + boolean(b + 4, loopEnabled) + integerEntry(b + 4, "max key", maxKey) +
           integerEntry(b + 4, "min key", minKey) + integerEntry(b + 4, "root key", rootNote) +
           integerEntry(b + 4, "waveform", saturatingAdd(waveform, offset)) + line(b, "</dict>");
}

std::string PresetBuilder::generateFileRef(int64_t id, const std::string& path) {
    return key(12, "Sample:" + std::to_string(id)) + line(12, "<string>" + escaped(path) + "</string>");
}

std::string PresetBuilder::generateInstrumentName(const std::string& name) {
    return key(12, "name") + line(12, "<string>" + escaped(name) + "</string>") + line(8, "</dict>");
}

std::string PresetBuilder::generateCoarseTune(int64_t tune) { return integerEntry(8, "coarse tune", tune); }
std::string PresetBuilder::generateFineTune(double tune) { return generateRealEntry("fine tune", tune); }
std::string PresetBuilder::generateGain(double gain) { return generateRealEntry("gain", gain); }
std::string PresetBuilder::generatePan(double pan) { return generateRealEntry("pan", pan); }
std::string PresetBuilder::generateManufacturer(int64_t manufacturer) { return integerEntry(8, "manufacturer", manufacturer); }
std::string PresetBuilder::generateOutput(int64_t output) { return integerEntry(8, "output", output); }
std::string PresetBuilder::generateVoiceCount(int64_t count) { return integerEntry(8, "voice count", count); }

std::string PresetBuilder::generateRealEntry(const std::string& name, double value) {
    return key(8, name) + real(8, realText(value));
}

}  // namespace sonora
