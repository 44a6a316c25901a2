// The MIDI file reader against peers measured in the same run: the Debian MIDI corpus
// (openttd-openmsx and planetblupi-music-midi) read into MIDIFile with every view, the tempo and a
// note map per track, against midicsv (a C tool that also prints every event) and mido under
// /usr/bin/python3; a generated file of 1,000,000 notes against midicsv; and our cost from 100,000
// to 1,000,000 notes (linear: at most 11×). Each figure is the best of three runs; a ratio is ours /
// peer (below 1.0: we are faster). Our figures run in process and include reading the files; the
// peers run as one process per file (midicsv) or one for the corpus (mido, startup included).
#include "BenchSupport.h"

#include "Sonora/MIDI/MIDIFile/MIDIFile.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileTrackNoteMap.h"

#include <algorithm>
#include <malloc.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

volatile size_t sink = 0;

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything a caller may ask of a file: header values, every view of every track, the tempo
// and a note map per track.
void readWhole(const fs::path& path) {
    const sonora::MIDIFile file(readAll(path), path.filename().string());
    sink = sink + file.format() + file.numberOfTracks() + size_t(file.timeDivision());
    const auto tracks = file.tracks();
    for (const auto& track : tracks) {
        sink = sink + (track.name() ? 1 : 0) + track.events().size() + track.channelEvents().size() +
               track.metaEvents().size() + size_t(track.length());
    }
    if (const auto tempo = file.tempoTrack()) sink = sink + size_t(tempo->tempo());
    for (size_t i = 0; i < tracks.size(); ++i) {
        const sonora::MIDIFileTrackNoteMap map(file, int64_t(i));
        const auto notes = map.notes();
        sink = sink + notes.size() + size_t(map.trackEnd());
    }
}

void appendVLQ(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[5];
    int n = 0;
    bytes[n++] = value & 0x7F;
    while (value >>= 7) bytes[n++] = uint8_t(0x80 | (value & 0x7F));
    while (n) out.push_back(bytes[--n]);
}

// A format-1 file at 480 PPQ: a tempo track and one track of `notes` notes (note on, then a
// running-status note on with velocity 0 an eighth later).
void writeNotes(const fs::path& path, size_t notes) {
    std::vector<uint8_t> track;
    track.reserve(notes * 8 + 16);
    for (size_t i = 0; i < notes; ++i) {
        appendVLQ(track, i == 0 ? 0 : 240);
        if (i == 0) track.push_back(0x90);
        track.push_back(uint8_t(36 + i % 48));
        track.push_back(100);
        appendVLQ(track, 240);
        track.push_back(uint8_t(36 + i % 48));
        track.push_back(0);
    }
    for (uint8_t b : {0x00, 0xFF, 0x2F, 0x00}) track.push_back(b);
    const std::vector<uint8_t> tempo{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00};
    std::ofstream out(path, std::ios::binary);
    const auto chunk = [&](const char* type, const std::vector<uint8_t>& payload) {
        out.write(type, 4);
        const uint32_t n = uint32_t(payload.size());
        const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        out.write(length, 4);
        out.write(reinterpret_cast<const char*>(payload.data()), std::streamsize(payload.size()));
    };
    chunk("MThd", {0, 1, 0, 2, 0x01, 0xE0});
    chunk("MTrk", tempo);
    chunk("MTrk", track);
}

void row(const std::string& what, const std::string& peer, double ours, double theirs, const std::string& goal) {
    std::printf("%-44s %-8s ratio %6.3f (goal %s)   ours %8.3f s   %s %8.3f s\n", what.c_str(), peer.c_str(),
                ours / theirs, goal.c_str(), ours, peer.c_str(), theirs);
    std::fflush(stdout);
}

}  // namespace

int main() {
    std::vector<fs::path> corpus;
    for (const char* folder : {"/usr/share/games/openttd/baseset/openmsx", "/usr/share/planetblupi/music"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error))
            if (entry.path().extension() == ".mid") corpus.push_back(entry.path());
    }
    if (corpus.empty() || !haveTool("midicsv")) {
        std::fprintf(stderr, "midi_bench: needs midicsv, openttd-openmsx and planetblupi-music-midi (scripts/setup)\n");
        return 1;
    }
    std::sort(corpus.begin(), corpus.end());
    std::string files;
    for (const auto& path : corpus) files += " " + q(path);

    std::printf("corpus: %zu files\n", corpus.size());
    const double ours = best([&] {
        for (const auto& path : corpus) readWhole(path);
    });
    const double midicsv = bestCommand("for f in" + files + "; do midicsv \"$f\" >/dev/null; done", Output::hidden);
    row("corpus, every view (in process)", "midicsv", ours, midicsv, "<= 1.0");
    if (std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") == 0) {
        const double mido = bestCommand("/usr/bin/python3 -c 'import sys, mido\nfor f in sys.argv[1:]: mido.MidiFile(f)'" +
                                            files,
                                        Output::hidden);
        row("corpus, every view (in process)", "mido", ours, mido, "< 1.0");
    }

    const fs::path folder = makeFixtureFolder();
    const fs::path small = folder / "notes-100k.mid", large = folder / "notes-1m.mid";
    writeNotes(small, 100'000);
    writeNotes(large, 1'000'000);
    const double oursLarge = best([&] { readWhole(large); });
    const double oursSmall = best([&] { readWhole(small); });
    const double midicsvLarge = bestCommand("midicsv " + q(large) + " >/dev/null", Output::hidden);
    row("1,000,000 notes, every view", "midicsv", oursLarge, midicsvLarge, "<= 1.0");
    std::printf("%-44s %-8s ratio %6.3f (goal <= 11)   100k %8.3f s   1M %8.3f s\n", "100,000 -> 1,000,000 notes",
                "ours", oursLarge / oursSmall, oursSmall, oursLarge);
    // The same with freed memory kept in the process: a run then reuses pages the previous run
    // touched, as the 100k file's runs already do, so the ratio shows the work rather than the
    // kernel's cost of handing out fresh pages for the 1M file's events.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    const double warmLarge = best([&] { readWhole(large); });
    const double warmSmall = best([&] { readWhole(small); });
    row("1,000,000 notes, every view, pages kept", "midicsv", warmLarge, midicsvLarge, "<= 1.0");
    std::printf("%-44s %-8s ratio %6.3f (goal <= 11)   100k %8.3f s   1M %8.3f s\n",
                "100,000 -> 1,000,000 notes, pages kept", "ours", warmLarge / warmSmall, warmSmall, warmLarge);
    fs::remove_all(folder);
    return 0;
}
