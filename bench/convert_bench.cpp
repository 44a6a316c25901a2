// Conversion and waveform throughput against peer tools measured in the same run: PCM conversion
// with and without 48 → 44.1 kHz (FormatConverter vs sox), AAC encoding at 192 kbit/s
// (FormatConverter vs ffmpeg) and waveform extraction (WaveformDataRequest vs one full decode with
// ffmpeg -f null). Each figure is the best of three runs; the ratio is ours / peer (below 1.0: we
// are faster). The peers run as processes that also open and parse their files; our side includes
// opening, reading and writing too.
//
// The fixtures are made with sox and ffmpeg in a temporary folder: ten minutes of stereo 48 kHz
// 24-bit WAV and 44.1 kHz 16-bit WAV (two sines and a little noise), one-minute cuts, and MP3s.
#include "BenchSupport.h"

#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"
#include "Sonora/AudioFiles/WaveformDataRequest.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr int64_t kWaveformPoints = 2000;

// The peers' own output would break up the table.
void mustRunQuietly(const std::string& command) { mustRun(command, Output::hidden); }

double bestQuietCommand(const std::string& command) { return bestCommand(command, Output::hidden); }

void row(const std::string& what, const std::string& peer, double ours, double theirs, const std::string& goal) {
    std::printf("%-40s %-7s ratio %6.3f (goal %s)   ours %8.3f s   %s %8.3f s\n", what.c_str(), peer.c_str(),
                ours / theirs, goal.c_str(), ours, peer.c_str(), theirs);
    std::fflush(stdout);
}

// One conversion to its end (PCM outputs finish in start(), m4a on another thread).
void convert(const fs::path& in, const fs::path& out, const sonora::FormatConverter::Options& options) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::optional<platform::NSError> failure;
    auto converter = std::make_shared<sonora::FormatConverter>(platform::URL(in), platform::URL(out), options);
    converter->start([&](const std::optional<platform::NSError>& error) {
        std::lock_guard lock(mutex);
        failure = error;
        finished = true;
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
    if (failure) {
        std::fprintf(stderr, "convert_bench: conversion failed: %s\n", failure->localizedDescription.c_str());
        std::exit(1);
    }
}

void waveform(const fs::path& path) {
    auto request = std::make_shared<sonora::WaveformDataRequest>(platform::URL(path));
    if (!request->getData(kWaveformPoints, 0)) {
        std::fprintf(stderr, "convert_bench: no waveform for %s\n", path.c_str());
        std::exit(1);
    }
}

}  // namespace

int main() {
    for (const char* tool : {"sox", "ffmpeg"}) {
        if (!haveTool(tool)) {
            std::fprintf(stderr, "convert_bench: needs %s\n", tool);
            return 1;
        }
    }
    const fs::path dir = makeFixtureFolder();
    std::printf("fixtures in %s\n", dir.c_str());
    const auto hi = dir / "ten48k24.wav", cd = dir / "ten44k16.wav", minute = dir / "one44k16.wav";
    const auto cdMp3 = dir / "ten.mp3", minuteMp3 = dir / "one.mp3";
    mustRunQuietly("sox -n -r 48000 -c 2 -b 24 " + q(hi) + " synth 600 sine 440 sine 3000 synth 600 whitenoise mix vol 0.5");
    mustRunQuietly("sox -n -r 44100 -c 2 -b 16 " + q(cd) + " synth 600 sine 440 sine 1000 synth 600 whitenoise mix vol 0.5");
    mustRunQuietly("sox " + q(cd) + " " + q(minute) + " trim 0 60");
    mustRunQuietly("ffmpeg -y -i " + q(cd) + " -c:a libmp3lame -b:a 192k " + q(cdMp3));
    mustRunQuietly("ffmpeg -y -i " + q(minute) + " -c:a libmp3lame -b:a 192k " + q(minuteMp3));

    using Options = sonora::FormatConverter::Options;
    const auto out = dir / "out.wav";
    Options to16;
    to16.bitDepth = 16;
    Options to44k16 = to16;
    to44k16.sampleRate = 44100;
    // sox -D: no dither, as the converter does not dither either.
    row("PCM 10 min 48k/24 -> 48k/16 WAV", "sox", best([&] { convert(hi, out, to16); }),
        bestQuietCommand("sox -D " + q(hi) + " -b 16 " + q(dir / "sox.wav")), "<= 1.0");
    row("PCM 10 min 48k/24 -> 44.1k/16 WAV", "sox", best([&] { convert(hi, out, to44k16); }),
        bestQuietCommand("sox -D " + q(hi) + " -r 44100 -b 16 " + q(dir / "sox.wav")), "<= 1.0");

    Options aac;
    aac.setBitRate(192000);
    row("AAC 192k, 10 min 44.1k stereo", "ffmpeg", best([&] { convert(cd, dir / "out.m4a", aac); }),
        bestQuietCommand("ffmpeg -y -i " + q(cd) + " -c:a aac -b:a 192k " + q(dir / "ffmpeg.m4a")), "<= 1.1");

    double tenMinute[2] = {0, 0}, oneMinute[2] = {0, 0};
    const fs::path files[2][2] = {{minute, cd}, {minuteMp3, cdMp3}};
    const char* kinds[2] = {"WAV", "MP3"};
    for (int k = 0; k < 2; ++k) {
        for (int len = 0; len < 2; ++len) {
            const fs::path& file = files[k][len];
            const double ours = best([&] { waveform(file); });
            (len ? tenMinute : oneMinute)[k] = ours;
            row(std::string("waveform ") + (len ? "10 min " : "1 min ") + kinds[k] + " (2000 points)", "ffmpeg", ours,
                bestQuietCommand("ffmpeg -i " + q(file) + " -f null -"), "<= 1.2");
        }
        std::printf("%-40s 10 min / 1 min = %.2f (goal <= 11)\n", (std::string("waveform linearity ") + kinds[k]).c_str(),
                    tenMinute[k] / oneMinute[k]);
    }
    fs::remove_all(dir);
    return 0;
}
