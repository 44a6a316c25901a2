// sonora-tool preset / sampler-render: the sampler preset writer and the sampler node from the shell.
//
//   sonora-tool preset OUT --name NAME [--attack A --release R] [--sample ROOT:START:END:MODE:FILE ...]
//       writes a sampler preset; "-" for ROOT, START, END or MODE leaves that value out
//   sonora-tool sampler-render OUT --seconds S (--soundfont SF2 [--program P] [--bank B] | --preset FILE |
//                              --audio FILE ...) --note N[:VEL] ... [--via-midi]
//       an AppleSampler loaded as given, the notes started at frame 0, S seconds rendered offline
//       (44.1 kHz stereo float); --via-midi: a MIDISampler gets the notes from another MIDI client
//       through its destination

#include "ToolSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/MIDI/MIDISampler.h"
#include "Sonora/Nodes/Playback/AppleSampler/AppleSampler.h"
#include "Sonora/Nodes/Playback/AppleSampler/PresetBuilder.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/coremidi/MIDIObjects.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100;

int presetUsage() {
    return tool::printUsage(
        "usage: sonora-tool preset OUT --name NAME [--attack A --release R] [--sample ROOT:START:END:MODE:FILE ...]\n");
}

int renderUsage() {
    return tool::printUsage("usage: sonora-tool sampler-render OUT --seconds S (--soundfont SF2 [--program P] [--bank B] |\n"
                            "                      --preset FILE | --audio FILE ...) --note N[:VEL] ... [--via-midi]\n");
}

// ROOT:START:END:MODE:FILE; the file name may hold ':'.
std::optional<sonora::SampleDescription> parseSample(const std::string& text) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t colon = text.find(':', at);
        if (colon == std::string::npos) return std::nullopt;
        fields.push_back(text.substr(at, colon - at));
        at = colon + 1;
    }
    if (at >= text.size()) return std::nullopt;
    sonora::SampleDescription description{{"filename", text.substr(at)}};
    const char* keys[] = {"rootnote", "startnote", "endnote"};
    for (int i = 0; i < 3; ++i) {
        if (fields[size_t(i)] == "-") continue;
        const auto n = tool::parseCount(fields[size_t(i)]);
        if (!n) return std::nullopt;
        description[keys[i]] = int64_t(*n);
    }
    if (fields[3] != "-") description["triggerMode"] = fields[3];
    return description;
}

struct Note {
    uint8_t number, velocity;
};

std::optional<Note> parseNote(const std::string& text) {
    const size_t colon = text.find(':');
    const auto number = tool::parseCount(text.substr(0, colon));
    const auto velocity = colon == std::string::npos ? std::optional<uint32_t>(100) : tool::parseCount(text.substr(colon + 1));
    if (!number || !velocity || *number > 127 || *velocity > 127) return std::nullopt;
    return Note{uint8_t(*number), uint8_t(*velocity)};
}

// Another client's output port, sending to one destination.
class MIDISender {
public:
    MIDISender() {
        platform::MIDIClientCreateWithBlock("sonora-tool sender", &client_, nullptr);
        platform::MIDIOutputPortCreate(client_, "out", &port_);
    }
    ~MIDISender() { platform::MIDIClientDispose(client_); }
    void send(platform::MIDIEndpointRef destination, const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> buffer(platform::kMIDIPacketListHeaderSize + platform::kMIDIPacketHeaderSize + bytes.size());
        auto* list = reinterpret_cast<platform::MIDIPacketList*>(buffer.data());
        platform::MIDIPacketListAdd(list, buffer.size(), platform::MIDIPacketListInit(list), 0, bytes.size(), bytes.data());
        const platform::OSStatus status = platform::MIDISend(port_, destination, list, buffer.size());
        if (status != platform::noErr) throw std::runtime_error("MIDISend failed with status " + std::to_string(status));
        platform::MIDIDrain();
    }

private:
    platform::MIDIClientRef client_ = 0;
    platform::MIDIPortRef port_ = 0;
};

}  // namespace

int presetCommand(int argc, char** argv) {
    if (argc < 2) return presetUsage();
    const std::string out = argv[1];
    std::optional<std::string> name;
    std::optional<double> attack, release;
    std::vector<sonora::SampleDescription> samples;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return presetUsage();
        const std::string value = argv[++i];
        if (option == "--name") {
            name = value;
        } else if (option == "--attack" || option == "--release") {
            const auto seconds = tool::parseNonNegative(value);
            if (!seconds) return presetUsage();
            (option == "--attack" ? attack : release) = *seconds;
        } else if (option == "--sample") {
            const auto sample = parseSample(value);
            if (!sample) {
                tool::printError("bad sample \"" + value + "\" (ROOT:START:END:MODE:FILE)");
                return presetUsage();
            }
            samples.push_back(*sample);
        } else {
            return presetUsage();
        }
    }
    if (!name) return presetUsage();
    std::error_code ec;
    std::filesystem::remove(out, ec);
    sonora::PresetBuilder::createAUPreset(samples, out, *name, attack, release);
    if (!std::filesystem::exists(out, ec)) {
        tool::printError("no preset was written to " + out);
        return 1;
    }
    return 0;
}

int samplerRenderCommand(int argc, char** argv) {
    if (argc < 2) return renderUsage();
    const std::string out = argv[1];
    std::optional<double> seconds;
    std::optional<std::string> soundFont, preset;
    std::vector<std::string> audio;
    uint32_t program = 0, bank = 0;
    std::vector<Note> notes;
    bool viaMIDI = false;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--via-midi") {
            viaMIDI = true;
            continue;
        }
        if (i + 1 >= argc) return renderUsage();
        const std::string value = argv[++i];
        if (option == "--seconds") {
            seconds = tool::parseNonNegative(value);
            if (!seconds) return renderUsage();
        } else if (option == "--soundfont") {
            soundFont = value;
        } else if (option == "--preset") {
            preset = value;
        } else if (option == "--audio") {
            audio.push_back(value);
        } else if (option == "--program" || option == "--bank") {
            const auto n = tool::parseCount(value);
            if (!n || *n > (option == "--program" ? 127u : 255u)) return renderUsage();
            (option == "--program" ? program : bank) = *n;
        } else if (option == "--note") {
            const auto note = parseNote(value);
            if (!note) return renderUsage();
            notes.push_back(*note);
        } else {
            return renderUsage();
        }
    }
    if (!seconds || int(soundFont.has_value()) + int(preset.has_value()) + int(!audio.empty()) != 1) return renderUsage();

    std::shared_ptr<sonora::MIDISampler> midiSampler;
    std::shared_ptr<sonora::AppleSampler> sampler;
    if (viaMIDI) {
        midiSampler = std::make_shared<sonora::MIDISampler>("sonora-tool sampler");
        sampler = midiSampler;
    } else {
        sampler = std::make_shared<sonora::AppleSampler>();
    }

    namespace fs = std::filesystem;
    if (soundFont) {
        const fs::path path = fs::absolute(*soundFont);
        if (path.extension() == ".sf2") {
            sampler->loadSoundFont((path.parent_path() / path.stem()).string(), int(program), sonora::AppleSampler::Bank{int(bank)});
        } else {
            const auto [msb, lsb] = sonora::AppleSampler::bankMSBAndLSB(int(bank));
            sampler->samplerUnit()->loadSoundBankInstrument(platform::URL(path), uint8_t(program), msb, lsb);
        }
    } else if (preset) {
        sampler->loadInstrument(fs::absolute(*preset).string());
    } else {
        std::vector<std::shared_ptr<platform::AVAudioFile>> files;
        for (const auto& path : audio) files.push_back(platform::AVAudioFile::forReading(platform::URL(path)));
        sampler->loadAudioFiles(files);
    }

    sonora::AudioEngine engine;
    engine.setOutput(sampler);
    const auto file = platform::AVAudioFile::forWriting(platform::URL(out), tool::floatStereoSettings(kRate));
    MIDISender sender;
    engine.renderToFile(*file, 512, *seconds, [&] {
        for (const Note& note : notes) {
            if (midiSampler) sender.send(midiSampler->midiIn(), {0x90, note.number, note.velocity});
            else sampler->play(note.number, note.velocity, 0);
        }
    });
    file->close();
    if (midiSampler) midiSampler->disableMIDI();
    return 0;
}
