// Fixtures of the editor's tests: 16-bit WAV files with exact sample values, a fresh work-file
// store and history, and a way to let the main queue run.
#pragma once

#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Model/TrackModel.h"
#include "main/TestSupport.h"

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace editortest {

// Writes a 16-bit PCM WAV; sample(frame, channel) gives each value.
inline void writeWav16(const std::filesystem::path& path, uint32_t rate, uint16_t channels, uint32_t frames,
                       const std::function<int16_t(uint32_t, uint16_t)>& sample) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t dataBytes = frames * channels * 2;
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * channels * 2);
    u16(uint16_t(channels * 2));
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    std::vector<int16_t> block;
    block.reserve(size_t(frames) * channels);
    for (uint32_t f = 0; f < frames; ++f)
        for (uint16_t c = 0; c < channels; ++c) block.push_back(sample(f, c));
    out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 2));
}

// A.wav (441000 frames of 8192) and B.wav (176400 frames of 4096): 44100 Hz stereo.
inline void writeA(const std::filesystem::path& path) {
    writeWav16(path, 44100, 2, 441000, [](uint32_t, uint16_t) { return int16_t(8192); });
}
inline void writeB(const std::filesystem::path& path) {
    writeWav16(path, 44100, 2, 176400, [](uint32_t, uint16_t) { return int16_t(4096); });
}
// A sine at 441 Hz, amplitude 0.5, for the lossy formats.
inline void writeSine(const std::filesystem::path& path, uint32_t frames, uint16_t channels = 2) {
    writeWav16(path, 44100, channels, frames, [](uint32_t f, uint16_t) {
        return int16_t(std::lround(16384.0 * std::sin(2 * M_PI * 441.0 * f / 44100.0)));
    });
}

// Lets the main queue run until `done` holds or the time is up; returns whether it held.
using testsupport::spinUntil;
inline void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

// Every sample of a file, as float, interleaved (read through the platform's file reader).
std::vector<float> readSamples(const std::filesystem::path& path, uint32_t* channels = nullptr, double* rate = nullptr);

// One track per imported clip, each clip at 0 s, as the editor's import does.
inline std::vector<std::shared_ptr<tamberlo::TrackModel>> tracksFor(
    const std::vector<std::shared_ptr<tamberlo::MusicModel>>& musics) {
    std::vector<std::shared_ptr<tamberlo::TrackModel>> tracks;
    for (const auto& music : musics) {
        auto track = tamberlo::TrackModel::make();
        track->name = music->name;
        track->musics = {music};
        tracks.push_back(track);
    }
    return tracks;
}

}  // namespace editortest
