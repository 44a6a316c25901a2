// Audio throughput against peer tools measured in the same run: file decoding (AVAudioFile vs ffmpeg
// and sox), sample-rate conversion (PCMConverter vs sox) and whole-buffer operations (sonora vs
// numpy). Each figure is the best of three runs; the ratio is ours / peer (below 1.0: we are faster).
//
// The fixtures are made with sox and ffmpeg in a temporary folder: ten minutes of stereo 44.1 kHz
// 16-bit WAV (two sines and noise), its MP3 and M4A encodings and a 48 kHz copy.
//
// The peers run as processes that also open, parse and write their files; so our side of each figure
// includes reading the file too (decode: the whole read; resampling: read + convert).
#include "BenchSupport.h"

#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"
#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/media/PCMConverter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace platform;
using namespace bench;

namespace {

constexpr int kSeconds = 600;

// The best time of a peer's command; a negative time when the peer cannot do it (sox reads no M4A).
double bestPeerCommand(const std::string& command) {
    if (std::system((command + " 2>/dev/null").c_str()) != 0) return -1;
    return bestCommand(command);
}

void row(const std::string& what, const std::string& peer, double ours, double theirs) {
    if (theirs <= 0) {
        std::printf("%-34s %-8s ratio    n/a   ours %8.3f s   (%s cannot do this)\n", what.c_str(), peer.c_str(), ours,
                    peer.c_str());
        return;
    }
    std::printf("%-34s %-8s ratio %6.3f   ours %8.3f s   %s %8.3f s\n", what.c_str(), peer.c_str(), ours / theirs, ours,
                peer.c_str(), theirs);
    std::fflush(stdout);
}

// Reads the whole file in one-second buffers, as a player or exporter would.
AVAudioFramePosition decodeAll(const fs::path& path) {
    auto file = AVAudioFile::forReading(URL(path));
    auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), AVAudioFrameCount(file->processingFormat().sampleRate()));
    AVAudioFramePosition frames = 0;
    for (;;) {
        file->read(*buffer);
        if (buffer->frameLength() == 0) break;
        frames += buffer->frameLength();
    }
    return frames;
}

// The whole file read into memory, then converted to 44.1 kHz in one stream.
size_t readAndResample(const fs::path& path) {
    auto file = AVAudioFile::forReading(URL(path));
    const AVAudioFormat& inFormat = file->processingFormat();
    auto whole = AVAudioPCMBuffer::make(inFormat, AVAudioFrameCount(file->length()));
    file->read(*whole);
    const auto outFormat = AVAudioFormat::standardFormatWithSampleRate(44100, inFormat.channelCount());
    detail::PCMConverter converter(inFormat, outFormat, 65536);
    auto out = AVAudioPCMBuffer::make(outFormat, AVAudioFrameCount(converter.maximumOutputFrames(whole->frameLength()) + 65536));
    AudioBufferList* list = out->mutableAudioBufferList();
    size_t produced = converter.convert(whole->audioBufferList(), whole->frameLength(), list, out->frameCapacity());
    // The flush writes after what convert produced: point a copy of the list past it.
    std::vector<unsigned char> tailBytes(AudioBufferListSize(list->mNumberBuffers));
    auto* tail = reinterpret_cast<AudioBufferList*>(tailBytes.data());
    for (;;) {
        tail->mNumberBuffers = list->mNumberBuffers;
        for (uint32_t b = 0; b < list->mNumberBuffers; ++b) {
            tail->mBuffers[b] = list->mBuffers[b];
            tail->mBuffers[b].mData = static_cast<float*>(list->mBuffers[b].mData) + produced;
            tail->mBuffers[b].mDataByteSize = uint32_t((out->frameCapacity() - produced) * sizeof(float));
        }
        const size_t n = converter.flush(tail, out->frameCapacity() - produced);
        if (n == 0) break;
        produced += n;
    }
    return produced;
}

// Runs the numpy side once; it prints "name seconds" lines, each the best of three.
std::map<std::string, double> numpyTimes(const fs::path& raw, size_t frames, double rate) {
    const fs::path script = raw.parent_path() / "ops.py";
    std::ofstream(script) << R"(import sys, time
import numpy as np
raw, frames, rate = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
x = np.fromfile(raw, dtype=np.float32).reshape(frames, 2).T.copy()   # (channels, frames)
n = int(rate)  # one-second fades, linear
ramp = np.ones(frames, dtype=np.float32)
ramp[:n] = np.linspace(0, 1, n, dtype=np.float32)
ramp[-n:] = np.linspace(1, 0, n, dtype=np.float32)
def best(f):
    t = 1e300
    for _ in range(3):
        s = time.perf_counter(); f(); t = min(t, time.perf_counter() - s)
    return t
print("peak", best(lambda: np.abs(x).max()))
print("fade", best(lambda: x * ramp))
print("reverse", best(lambda: x[:, ::-1].copy()))
print("append", best(lambda: np.concatenate((x, x), axis=1)))
)";
    const std::string command = "/usr/bin/python3 " + q(script) + " " + q(raw) + " " + std::to_string(frames) + " " +
                                std::to_string(rate);
    std::map<std::string, double> times;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return times;
    char name[64];
    double t;
    while (std::fscanf(pipe, "%63s %lf", name, &t) == 2) times[name] = t;
    pclose(pipe);
    return times;
}

}  // namespace

int main() {
    const fs::path dir = makeFixtureFolder();
    const fs::path wav = dir / "in.wav", mp3 = dir / "in.mp3", m4a = dir / "in.m4a", wav48 = dir / "in48.wav",
                   raw = dir / "in.f32";

    std::printf("Making a %d-second stereo fixture in %s ...\n", kSeconds, dir.c_str());
    std::fflush(stdout);
    const std::string secs = std::to_string(kSeconds);
    mustRun("sox -n -r 44100 -c 2 -b 16 " + q(wav) + " synth " + secs + " sine 440 sine 1000 synth " + secs +
            " whitenoise mix vol 0.5");
    mustRun("ffmpeg -loglevel error -y -i " + q(wav) + " -c:a libmp3lame -q:a 4 " + q(mp3));
    mustRun("ffmpeg -loglevel error -y -i " + q(wav) + " -c:a aac -b:a 192k " + q(m4a));
    mustRun("sox " + q(wav) + " -r 48000 " + q(wav48));
    mustRun("sox " + q(wav) + " -t f32 " + q(raw));

    std::printf("\n%-34s %-8s (ours / peer, best of %d)\n", "figure", "peer", kRuns);
    for (const auto& [name, path] : {std::pair{"decode WAV to float", wav}, std::pair{"decode MP3 to float", mp3},
                                     std::pair{"decode M4A to float", m4a}}) {
        AVAudioFramePosition frames = 0;
        const double ours = best([&] { frames = decodeAll(path); });
        if (frames < AVAudioFramePosition(kSeconds) * 44100 - 4096)
            std::fprintf(stderr, "audio_bench: %s decoded only %lld frames\n", name, (long long)frames);
        row(name, "ffmpeg", ours, bestPeerCommand("ffmpeg -loglevel error -i " + q(path) + " -f f32le -y /dev/null"));
        row(name, "sox", ours, bestPeerCommand("sox " + q(path) + " -t f32 /dev/null"));
    }

    size_t resampled = 0;
    const double resample = best([&] { resampled = readAndResample(wav48); });
    if (resampled != size_t(kSeconds) * 44100)
        std::fprintf(stderr, "audio_bench: the resampler made %zu frames, not %d\n", resampled, kSeconds * 44100);
    row("read + resample 48k -> 44.1k", "sox", resample, bestPeerCommand("sox " + q(wav48) + " -r 44100 " + q(dir / "out.wav")));

    // Buffer operations over the whole file in memory.
    auto whole = sonora::makeBuffer(URL(wav));
    if (!whole) return 1;
    const auto numpy = numpyTimes(raw, whole->frameLength(), whole->format().sampleRate());
    auto numpyTime = [&](const char* name) {
        auto it = numpy.find(name);
        return it == numpy.end() ? 0.0 : it->second;
    };
    row("peak", "numpy", best([&] { (void)sonora::peak(*whole); }), numpyTime("peak"));
    row("fade (1 s in, 1 s out, linear)", "numpy", best([&] { (void)sonora::fade(whole, 1, 1, true); }), numpyTime("fade"));
    row("reverse", "numpy", best([&] { (void)sonora::reverse(*whole); }), numpyTime("reverse"));
    row("append (new buffer of both)", "numpy", best([&] {
            auto both = AVAudioPCMBuffer::make(whole->format(), whole->frameLength() * 2);
            sonora::append(*both, *whole);
            sonora::append(*both, *whole);
        }),
        numpyTime("append"));

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
