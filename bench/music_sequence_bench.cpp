// The music sequence against its peers, as ratios measured in one run:
//   1. the MIDI corpus loaded into sequences and written back (AppleSequencer, genData) against
//      midicsv | csvmidi of the same files (goal: at most 1.0×);
//   2. the music player's delivery to a loopback MIDI destination, arrival − due at p50 and p99,
//      against a bare clock_nanosleep loop waking at the same due times (goal: p99 at most 2×, and
//      at most 2 ms);
//   3. sonora-tool midiplayer rendering music001.mid against fluidsynth -F with the same SoundFont
//      (goal: at most 1.5×).
// Parts whose peers or files are missing are skipped with a line saying so.

#include "BenchSupport.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Sequencing/AppleSequencer/AppleSequencer.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <time.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpus() {
    std::vector<fs::path> files;
    for (const char* dir : {"/usr/share/games/openttd/baseset/openmsx", "/usr/share/planetblupi/music"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(dir, error))
            if (entry.path().extension() == ".mid") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

void loadAndWrite(const std::vector<fs::path>& files) {
    const auto folder = bench::makeFixtureFolder();
    const double ours = bench::best([&] {
        for (const auto& file : files) {
            auto sequencer = sonora::AppleSequencer::fromURL(file);
            const auto data = sequencer->genData();
            if (!data || data->empty()) std::fprintf(stderr, "no data from %s\n", file.c_str());
        }
    });
    std::string command = "for f in";
    for (const auto& file : files) command += " " + bench::q(file);
    command += "; do midicsv \"$f\" | csvmidi > " + bench::q(folder / "peer.mid") + " || exit 1; done";
    const double peer = bench::bestCommand(command, bench::Output::hidden);
    std::printf("corpus load + write (%zu files): %.3f s, midicsv | csvmidi %.3f s, ratio %.2fx (goal <= 1.0x)\n",
                files.size(), ours, peer, ours / peer);
}

// Notes every 10 ms for 4 s through the player to a loopback destination.
void jitter() {
    constexpr int kNotes = 400;
    auto sequencer = std::make_shared<sonora::AppleSequencer>();
    sequencer->setTempo(120);  // 0.5 s a beat: a note every 0.02 beat is 10 ms
    auto track = sequencer->newTrack("jitter");
    for (int i = 0; i < kNotes; ++i) track->add(60, 100, sonora::Duration(0.02 * i), sonora::Duration(0.01));

    std::mutex mutex;
    std::vector<double> lateness;
    lateness.reserve(kNotes * 2);
    platform::MIDIClientRef client = 0;
    platform::MIDIEndpointRef destination = 0;
    platform::MIDIClientCreateWithBlock("bench", &client, nullptr);
    platform::MIDIDestinationCreateWithBlock(
        client, "bench in", &destination, [&](const platform::MIDIPacketList* list, size_t bytes, void*) {
            const uint64_t now = platform::mach_absolute_time();
            const uint32_t count = platform::MIDIPacketListCount(list, bytes);
            const platform::MIDIPacket* packet = &list->packet[0];
            std::lock_guard lock(mutex);
            for (uint32_t i = 0; i < count; ++i, packet = platform::MIDIPacketNext(packet))
                lateness.push_back(double(int64_t(now - platform::MIDIPacketTimeStamp(packet))) * 1e-6);
        });
    sequencer->setGlobalMIDIOutput(destination);
    sequencer->play();
    while (sequencer->isPlaying()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::MIDIDrain();

    // The peer: a thread sleeping to the same due times with clock_nanosleep.
    std::vector<double> bare;
    std::thread sleeper([&] {
        timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        const int64_t origin = int64_t(start.tv_sec) * 1000000000 + start.tv_nsec + 5000000;
        for (int i = 0; i < kNotes * 2; ++i) {
            const int64_t due = origin + int64_t(i) * 5000000;
            const timespec at{time_t(due / 1000000000), long(due % 1000000000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            bare.push_back(double(int64_t(now.tv_sec) * 1000000000 + now.tv_nsec - due) * 1e-6);
        }
    });
    sleeper.join();
    std::lock_guard lock(mutex);
    const double p50 = percentile(lateness, 0.5), p99 = percentile(lateness, 0.99);
    const double b50 = percentile(bare, 0.5), b99 = percentile(bare, 0.99);
    std::printf("player delivery (%zu messages): arrival - due p50 %.3f ms, p99 %.3f ms; clock_nanosleep p50 %.3f ms, "
                "p99 %.3f ms; p99 ratio %.2fx (goal <= 2x, p99 <= 2 ms)\n",
                lateness.size(), p50, p99, b50, b99, p99 / std::max(b99, 1e-3));
    platform::MIDIEndpointDispose(destination);
    platform::MIDIClientDispose(client);
}

void render() {
    const fs::path file = "/usr/share/planetblupi/music/music001.mid";
    const fs::path font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!fs::exists(file) || !fs::exists(font) || !bench::haveTool("fluidsynth")) {
        std::printf("midiplayer render: skipped (music001.mid, TimGM6mb.sf2 or fluidsynth missing)\n");
        return;
    }
    const auto folder = bench::makeFixtureFolder();
    const double ours = bench::bestCommand(std::string(SONORA_TOOL) + " midiplayer " + bench::q(file) + " " +
                                               bench::q(folder / "ours.wav") + " --soundfont " + bench::q(font),
                                           bench::Output::hidden);
    const double peer = bench::bestCommand("fluidsynth -ni -R 0 -C 0 -r 44100 -F " + bench::q(folder / "peer.wav") + " " +
                                               bench::q(font) + " " + bench::q(file),
                                           bench::Output::hidden);
    std::printf("midiplayer render of music001.mid: %.3f s, fluidsynth -F %.3f s, ratio %.2fx (goal <= 1.5x)\n", ours,
                peer, ours / peer);
}

}  // namespace

int main() {
    platform::LogSink::setEchoToStderr(false);
    sonora::Settings::setEnableLogging(false);
    const auto files = corpus();
    if (files.empty() || !bench::haveTool("midicsv") || !bench::haveTool("csvmidi"))
        std::printf("corpus load + write: skipped (corpus, midicsv or csvmidi missing)\n");
    else
        loadAndWrite(files);
    jitter();
    render();
    return 0;
}
