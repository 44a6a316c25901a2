// sonora-tool's sequencer commands: the platform sequence through AppleSequencer, its player to a
// MIDI destination, and the MIDI file player rendered offline.
//
//   sonora-tool seq-roundtrip IN OUT                 load, write back at 480 PPQ; "tracks N resolution R length L"
//   sonora-tool seq-info SMF [--set-tempo BPM] [--dump]
//   sonora-tool seq-play SMF --seconds S --trace FILE   "STAMP ARRIVAL HEX…" per message, ns from the first stamp
//   sonora-tool midiplayer SMF OUT --soundfont SF2 [--seconds S] [--trace FILE]
//       MIDIPlayer (resources: the file's folder) into one sampler (program 0), rendered offline to
//       the file's length + 2 s, at most S seconds, as 44.1 kHz float stereo (refused before writing
//       when that would not fit in the free space of OUT's file system); FILE: "FRAME HEX…" per message

#include "ToolSupport.h"

#include "Sonora/MIDI/MIDIPlayer.h"
#include "Sonora/Sequencing/AppleSequencer/AppleSequencer.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/Bundle.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/foundation/HostTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string g(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

std::string hex(const uint8_t* bytes, size_t n) {
    std::string text;
    char buffer[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buffer, sizeof buffer, i ? " %02X" : "%02X", bytes[i]);
        text += buffer;
    }
    return text;
}

std::shared_ptr<sonora::AppleSequencer> load(const std::string& path) {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) throw std::runtime_error("cannot open " + path);
    return sonora::AppleSequencer::fromURL(std::filesystem::path(path));
}

}  // namespace

int seqRoundtripCommand(int argc, char** argv) {
    if (argc != 3) return tool::printUsage("usage: sonora-tool seq-roundtrip IN OUT\n");
    auto sequencer = load(argv[1]);
    const auto data = sequencer->genData();
    if (!data)
        throw std::runtime_error("cannot write the sequence of " + std::string(argv[1]) +
                                 ": a MIDI file cannot hold it (two events of a track more than 0x0FFFFFFF ticks apart "
                                 "at 480 per beat, or more than 65535 tracks)");
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data->data()), std::streamsize(data->size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + std::string(argv[2]));
    std::cout << "tracks " << sequencer->trackCount() << " resolution " << sequencer->timeResolution() << " length "
              << g(sequencer->length().beats) << "\n";
    return 0;
}

int seqInfoCommand(int argc, char** argv) {
    const char* usage = "usage: sonora-tool seq-info SMF [--set-tempo BPM] [--dump]\n";
    if (argc < 2) return tool::printUsage(usage);
    std::optional<double> tempo;
    bool dump = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dump") {
            dump = true;
        } else if (arg == "--set-tempo" && i + 1 < argc) {
            tempo = tool::parseNumber(argv[++i]);
            if (!tempo) return tool::printUsage(usage);
        } else {
            return tool::printUsage(usage);
        }
    }
    auto sequencer = load(argv[1]);
    if (tempo) sequencer->setTempo(*tempo);
    std::cout << "resolution " << sequencer->timeResolution() << "\n";
    for (size_t i = 0; i < sequencer->tracks.size(); ++i) {
        const auto& track = *sequencer->tracks[i];
        const auto notes = track.noteData();
        std::cout << "track " << i << " " << track.name << " length " << g(track.length()) << " notes "
                  << (notes ? notes->size() : 0) << "\n";
    }
    for (const auto& [beat, bpm] : sequencer->allTempoEvents()) std::cout << "tempo " << g(beat) << " " << g(bpm) << "\n";
    for (const auto& [beat, signature] : sequencer->allTimeSignatureEvents()) {
        const auto [top, bottom] = signature.numeratorAndDenominator();
        std::cout << "timesig " << g(beat) << " " << int(top) << "/" << bottom << "\n";
    }
    if (dump)
        for (const auto& track : sequencer->tracks)
            for (const auto& line : track->debugLines()) std::cout << line << "\n";
    return 0;
}

int seqPlayCommand(int argc, char** argv) {
    const char* usage = "usage: sonora-tool seq-play SMF --seconds S --trace FILE\n";
    if (argc != 6) return tool::printUsage(usage);
    std::optional<double> seconds;
    std::string tracePath;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seconds")
            seconds = tool::parseNonNegative(argv[i + 1]);
        else if (arg == "--trace")
            tracePath = argv[i + 1];
        else
            return tool::printUsage(usage);
    }
    if (!seconds || tracePath.empty()) return tool::printUsage(usage);

    struct Arrival {
        uint64_t stamp;
        uint64_t arrival;
        std::string bytes;
    };
    std::mutex mutex;
    std::vector<Arrival> arrivals;
    platform::MIDIClientRef client = 0;
    platform::MIDIEndpointRef destination = 0;
    platform::MIDIClientCreateWithBlock("seq-play", &client, nullptr);
    const auto status = platform::MIDIDestinationCreateWithBlock(
        client, "seq-play in", &destination, [&](const platform::MIDIPacketList* list, size_t listBytes, void*) {
            const uint64_t now = platform::mach_absolute_time();
            const uint32_t count = platform::MIDIPacketListCount(list, listBytes);
            const platform::MIDIPacket* packet = &list->packet[0];
            std::lock_guard lock(mutex);
            for (uint32_t i = 0; i < count; ++i, packet = platform::MIDIPacketNext(packet))
                arrivals.push_back({platform::MIDIPacketTimeStamp(packet), now,
                                    hex(packet->data, platform::MIDIPacketLength(packet))});
        });
    if (status != 0) throw std::runtime_error("cannot create a MIDI destination: status " + std::to_string(status));

    auto sequencer = load(argv[1]);
    sequencer->setGlobalMIDIOutput(destination);
    sequencer->play();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(*seconds);
    while (std::chrono::steady_clock::now() < deadline && sequencer->isPlaying())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sequencer->stop();
    platform::MIDIDrain();

    std::ofstream trace(tracePath, std::ios::trunc);
    std::lock_guard lock(mutex);
    const uint64_t origin = arrivals.empty() ? 0 : arrivals.front().stamp;
    for (const auto& a : arrivals)
        trace << int64_t(a.stamp - origin) << " " << int64_t(a.arrival - origin) << " " << a.bytes << "\n";
    trace.close();
    if (!trace) throw std::runtime_error("cannot write " + tracePath);
    std::cout << "messages " << arrivals.size() << "\n";
    platform::MIDIEndpointDispose(destination);
    platform::MIDIClientDispose(client);
    return 0;
}

int midiplayerCommand(int argc, char** argv) {
    const char* usage = "usage: sonora-tool midiplayer SMF OUT --soundfont SF2 [--seconds S] [--trace FILE]\n";
    if (argc < 5) return tool::printUsage(usage);
    std::string soundFont, tracePath;
    std::optional<double> seconds;
    for (int i = 3; i < argc; i += 2) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return tool::printUsage(usage);
        if (arg == "--soundfont") {
            soundFont = argv[i + 1];
        } else if (arg == "--trace") {
            tracePath = argv[i + 1];
        } else if (arg == "--seconds") {
            seconds = tool::parseNonNegative(argv[i + 1]);
            if (!seconds) return tool::printUsage(usage);
        } else {
            return tool::printUsage(usage);
        }
    }
    if (soundFont.empty()) return tool::printUsage(usage);
    const std::filesystem::path smf = argv[1];
    if (!std::filesystem::is_regular_file(smf)) throw std::runtime_error("cannot open " + smf.string());
    if (smf.extension() != ".mid") throw std::runtime_error("the MIDI file must be named *.mid: " + smf.string());

    constexpr double kRate = 44100;
    constexpr platform::AVAudioFrameCount kCycle = 512;
    const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    auto engine = platform::AVAudioEngine::make();
    auto sampler = std::make_shared<platform::AVAudioUnitSampler>();
    engine->attach(sampler);
    engine->connect(sampler, engine->mainMixerNode(), format);
    sampler->loadSoundBankInstrument(platform::URL(soundFont), 0, 0x79, 0);
    engine->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, kCycle);
    engine->start();

    platform::Bundle::main().setResourceURL(platform::URL(std::filesystem::absolute(smf).parent_path()));
    sonora::MIDIPlayer player(engine, smf.stem().string());
    if (player.tracks().empty()) throw std::runtime_error("no track could be read from " + smf.string());
    player.routeTracks(std::shared_ptr<platform::AVAudioUnit>(sampler));
    std::vector<std::pair<int64_t, std::string>> trace;
    trace.reserve(1 << 16);
    player.setEventObserver([&](int64_t frame, const uint8_t* bytes, size_t length) {
        trace.emplace_back(frame, hex(bytes, length));
    });
    player.play();
    if (!player.isPlaying()) throw std::runtime_error("the MIDI player did not start");

    const auto total = tool::renderFrames(argv[2], player.seconds(player.length().beats) + 2, seconds, kRate);
    const auto out = platform::AVAudioFile::forWriting(argv[2], tool::floatStereoSettings(kRate));
    auto buffer = platform::AVAudioPCMBuffer::make(format, kCycle);
    auto pending = platform::AVAudioPCMBuffer::make(format, 65536 + kCycle);
    for (platform::AVAudioFramePosition done = 0; done < total; done += kCycle) {
        const auto n = platform::AVAudioFrameCount(std::min<platform::AVAudioFramePosition>(kCycle, total - done));
        if (engine->renderOffline(n, *buffer) != platform::AVAudioEngineManualRenderingStatus::success)
            throw std::runtime_error("the offline render failed");
        const platform::AVAudioFrameCount at = pending->frameLength();
        for (uint32_t c = 0; c < 2; ++c)
            std::copy_n(buffer->floatChannelData()[c], n, pending->floatChannelData()[c] + at);
        pending->setFrameLength(at + n);
        if (pending->frameLength() >= 65536) {
            out->write(*pending);
            pending->setFrameLength(0);
        }
    }
    if (pending->frameLength() > 0) out->write(*pending);
    out->close();
    player.stop();
    engine->stop();

    if (!tracePath.empty()) {
        std::ofstream file(tracePath, std::ios::trunc);
        for (const auto& [frame, bytes] : trace) file << frame << " " << bytes << "\n";
        file.close();
        if (!file) throw std::runtime_error("cannot write " + tracePath);
    }
    std::cout << "frames " << total << " messages " << trace.size() << "\n";
    return 0;
}
