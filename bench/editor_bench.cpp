// The editor's export and playback against peers and budgets measured in the same run:
//   - export of 16 tracks × 3 minutes (44.1 and 48 kHz, WAV and MP3 sources, each clip a little
//     later than the one before) to wav, as a ratio to `sox -m` of the same mix (goal ≤ 2.0), and to
//     mp3, as a ratio to `sox -m … | lame -V 4` (goal ≤ 1.2); ratio = ours / peer wall time. The
//     export writes every clip to a work file first, then renders and converts. Peak memory of the
//     export is shown beside the size of one decoded clip: it is bounded by the four clips prepared at
//     a time, whatever the clips' start times (their leading silence goes to disk in chunks);
//   - playing 100 clips (10 tracks × 10): the time from the play command (graph rebuilt) to the
//     first sound on the null output (goal ≤ 100 ms), and open files and memory over 100 play/stop
//     cycles (goal: flat).
// Runs in a private HOME (the work folders are emptied) on the null output device;
// EDITOR_BENCH_PLAY_ONLY=1 skips the export part.
#include "BenchSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "TamberloMac/Document/EditorDocument.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Playback/Player.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;
using namespace tamberlo;

namespace {

constexpr int kExportTracks = 16;
constexpr int kClipSeconds = 180;
constexpr double kStartStep = 1.5;  // seconds between the clips' start times
constexpr int kPlayTracks = 10;
constexpr int kPlayClipsPerTrack = 10;
constexpr double kPlayClipSeconds = 5;
constexpr int kCycles = 100;

void spin(double seconds, const std::function<bool()>& done = [] { return false; }) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < qint64(seconds * 1000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long statusKB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

// Starts a new peak-memory measurement (the kernel resets VmHWM to the current RSS).
void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

long openFiles() {
    long n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

struct Source {
    fs::path path;
    double rate;
    double start;
};

// The sources of the export: a quiet sine per track, every fourth one an MP3, every third at 48 kHz.
std::vector<Source> makeExportSources(const fs::path& folder) {
    std::vector<Source> sources;
    for (int i = 0; i < kExportTracks; ++i) {
        const double rate = i % 3 == 1 ? 48000 : 44100;
        const fs::path wav = folder / ("track" + std::to_string(i) + ".wav");
        mustRun("sox -n -r " + std::to_string(int(rate)) + " -c 2 -b 16 " + q(wav) + " synth " +
                    std::to_string(kClipSeconds) + " sine " + std::to_string(200 + 37 * i) + " vol 0.05",
                Output::hidden);
        if (i % 4 == 3) {
            const fs::path mp3 = folder / ("track" + std::to_string(i) + ".mp3");
            mustRun(haveTool("lame") ? "lame --quiet -V 2 " + q(wav) + " " + q(mp3)
                                     : "ffmpeg -v error -y -i " + q(wav) + " -c:a libmp3lame -q:a 2 " + q(mp3),
                    Output::hidden);
            fs::remove(wav);
            sources.push_back({mp3, rate, kStartStep * i});
        } else {
            sources.push_back({wav, rate, kStartStep * i});
        }
    }
    return sources;
}

std::vector<std::shared_ptr<TrackModel>> tracksOf(const std::vector<Source>& sources) {
    std::vector<std::shared_ptr<TrackModel>> tracks;
    for (const auto& source : sources) {
        auto clip = MusicModel::make();
        clip->file = platform::AVAudioFile::forReading(platform::URL(source.path));
        clip->name = source.path.filename().string();
        clip->startTime = source.start;
        auto track = TrackModel::make();
        track->name = clip->name;
        track->musics = {clip};
        tracks.push_back(track);
    }
    return tracks;
}

// The same mix made by sox: every source resampled to 44.1 kHz stereo and padded by its start.
std::string soxMix(const std::vector<Source>& sources) {
    std::string command = "sox -D -m";
    for (const auto& source : sources)
        command += " -v 1 \"|sox -D " + q(source.path) + " -p rate 44100 channels 2 pad " + std::to_string(source.start) + "\"";
    return command;
}

// One export of the document through the window's calls; the seconds until the conversion ended.
double exportOnce(EditorDocument& document, const std::string& format, const fs::path& destination) {
    // Each export starts a fresh store, so that the work files of earlier runs do not pile up.
    MusicFileManager::resetShared();
    std::optional<bool> outcome;
    const double elapsed = seconds([&] {
        auto controller = document.exportMusics();
        if (!controller) return;
        controller->conversionFinishedBlock = [&outcome](bool success) { outcome = success; };
        EditorDocument::saveExport(controller, format, platform::URL(destination));
        spin(600, [&] { return outcome.has_value(); });
    });
    if (outcome != true) {
        std::fprintf(stderr, "editor_bench: the %s export failed\n", format.c_str());
        std::exit(1);
    }
    return elapsed;
}

void benchExport(const fs::path& folder) {
    std::cerr << "making " << kExportTracks << " sources of " << kClipSeconds << " s...\n";
    const auto sources = makeExportSources(folder);
    EditorDocument document;
    document.tracks = tracksOf(sources);

    struct Peer {
        std::string format;
        std::string command;
        double goal;
    };
    const std::string mix = soxMix(sources);
    const std::vector<Peer> peers{
        {"wav", mix + " -b 16 " + q(folder / "sox.wav"), 2.0},
        {"mp3", mix + " -b 16 -t wav - | lame --quiet -V 4 - " + q(folder / "sox.mp3"), 1.2},
    };
    const double clipMB = double(kClipSeconds) * 48000 * 2 * 4 / 1e6;
    std::printf("export of %d tracks x %d s (44.1/48 kHz, WAV and MP3), clips %.1f s apart:\n", kExportTracks,
                kClipSeconds, kStartStep);
    for (const auto& peer : peers) {
        if (peer.format == "mp3" && !haveTool("lame")) {
            std::printf("  mp3: skipped (no lame for the peer)\n");
            continue;
        }
        long peakKB = 0;
        const long baseKB = statusKB("VmRSS");
        double ours = 1e300;
        for (int run = 0; run < kRuns; ++run) {
            resetPeakMemory();
            ours = std::min(ours, exportOnce(document, peer.format, folder / ("ours." + peer.format)));
            peakKB = std::max(peakKB, statusKB("VmHWM"));
        }
        const double theirs = bestCommand(peer.command, Output::hidden);
        std::printf("  %s: ours %.2f s, peer %.2f s, ratio %.2f (goal <= %.1f); peak memory %.0f MB over %.0f MB "
                    "before (one decoded clip: %.0f MB, at most 4 in flight)\n",
                    peer.format.c_str(), ours, theirs, ours / theirs, peer.goal, double(peakKB) / 1024,
                    double(baseKB) / 1024, clipMB);
    }
    MusicFileManager::resetShared();
}

// First sound of one play command: host time of the first non-silent captured frame minus the
// host time of the command.
double playToFirstSound(EditorDocument& document, const fs::path& capture) {
    auto& player = Player::shared();
    std::shared_ptr<platform::AudioDeviceStream> stream;
    player.engineWillStart = [&](sonora::AudioEngine& engine) {
        stream = engine.avEngine()->outputNode()->deviceStream();
        stream->startCapture(capture);
    };
    const uint64_t command = platform::mach_absolute_time();
    document.playAll();
    spin(0.3);
    document.stop();
    player.engineWillStart = nullptr;

    auto file = platform::AVAudioFile::forReading(platform::URL(capture));
    auto buffer = platform::AVAudioPCMBuffer::make(file->processingFormat(), uint32_t(file->length()));
    file->read(*buffer);
    const float* left = buffer->floatChannelData()[0];
    const auto onset = std::find_if(left, left + buffer->frameLength(), [](float s) { return s != 0; }) - left;
    if (onset == buffer->frameLength()) return -1;
    const double firstSound = double(stream->startHostTime()) * 1e-9 + double(onset) / file->processingFormat().sampleRate();
    return firstSound - double(command) * 1e-9;
}

void benchPlayback(const fs::path& folder) {
    std::vector<fs::path> files;
    for (int i = 0; i < kPlayClipsPerTrack; ++i) {
        files.push_back(folder / ("play" + std::to_string(i) + ".wav"));
        mustRun("sox -n -r 44100 -c 2 -b 16 " + q(files.back()) + " synth " + std::to_string(kPlayClipSeconds) +
                    " sine " + std::to_string(300 + 50 * i) + " vol 0.01",
                Output::hidden);
    }
    EditorDocument document;
    for (int t = 0; t < kPlayTracks; ++t) {
        auto track = TrackModel::make();
        for (int c = 0; c < kPlayClipsPerTrack; ++c) {
            auto clip = MusicModel::make();
            clip->file = platform::AVAudioFile::forReading(platform::URL(files[size_t(c)]));
            clip->startTime = c * kPlayClipSeconds;
            track->musics.push_back(clip);
        }
        document.tracks.push_back(track);
    }

    // The first play of the process also pays for first-touch memory of the players' buffers.
    const double first = playToFirstSound(document, folder / "capture.wav");
    std::vector<double> later;
    for (int run = 0; run < 5; ++run) later.push_back(playToFirstSound(document, folder / "capture.wav"));
    std::sort(later.begin(), later.end());
    std::printf("play of %d clips: first sound after %.1f ms on the process's first play, %.1f ms later on "
                "(median of 5; worst %.1f ms; goal <= 100 ms)\n",
                kPlayTracks * kPlayClipsPerTrack, first * 1000, later[2] * 1000, later.back() * 1000);

    // Warm up once, then count what 100 cycles leave behind.
    document.playAll();
    spin(0.02);
    document.stop();
    const long filesBefore = openFiles();
    const long memoryBefore = statusKB("VmRSS");
    const double cycles = seconds([&] {
        for (int i = 0; i < kCycles; ++i) {
            document.playAll();
            spin(0.02);
            document.stop();
        }
    });
    spin(0.2);
    std::printf("%d play/stop cycles (%.1f ms each): open files %ld -> %ld, memory %.1f -> %.1f MB\n", kCycles,
                cycles / kCycles * 1000, filesBefore, openFiles(), double(memoryBefore) / 1024,
                double(statusKB("VmRSS")) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = makeFixtureFolder();
    // A private HOME: the work folders are emptied by the store; the null device plays.
    ::setenv("HOME", folder.c_str(), 1);
    ::setenv("XDG_DOCUMENTS_DIR", (folder / "Documents").c_str(), 1);
    ::setenv("TAMBERLO_AUDIO_DEVICE", "null", 0);
    ::setenv("TAMBERLO_LOG_STDERR", "0", 0);
    QCoreApplication app(argc, argv);
    if (!haveTool("sox")) {
        std::fprintf(stderr, "editor_bench: needs sox\n");
        return 1;
    }
    // The model's debug lines go to stdout; the figures go there too, so keep the lines apart.
    struct : std::streambuf {
        int overflow(int c) override { return c; }
    } discard;
    auto* const stdoutBuffer = std::cout.rdbuf(&discard);
    if (!std::getenv("EDITOR_BENCH_PLAY_ONLY")) benchExport(folder);
    benchPlayback(folder);
    std::cout.rdbuf(stdoutBuffer);
    fs::remove_all(folder);
    return 0;
}
