// Fixtures for the converter tests: PCM files written from a tonal signal, and a runner that waits
// for a converter's handler and counts how often it ran.
#pragma once

#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"
#include "platform/audiotoolbox/ExtendedAudioFile.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/OSLog.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

namespace converterfixtures {

using platform::AVAudioFile;
using platform::AVAudioPCMBuffer;
using platform::NSError;

// A tone per channel (440 Hz, 1000 Hz, ...) at half scale, so that lossy codecs keep it cleanly.
inline float tone(unsigned channel, uint64_t frame, double rate) {
    const double hz = channel == 0 ? 440.0 : 1000.0 * channel;
    return float(0.5 * std::sin(2 * M_PI * hz * double(frame) / rate));
}

// A PCM file (container by extension) of `frames` frames at the given bit depth.
inline void writeTone(const std::filesystem::path& path, double rate, unsigned channels, uint32_t frames,
                      unsigned bits = 16, bool isFloat = false) {
    const platform::AVAudioSettings settings{
        {platform::AVFormatIDKey, double(platform::kAudioFormatLinearPCM)},
        {platform::AVSampleRateKey, rate},
        {platform::AVNumberOfChannelsKey, double(channels)},
        {platform::AVLinearPCMBitDepthKey, double(bits)},
        {platform::AVLinearPCMIsFloatKey, isFloat ? 1.0 : 0.0},
    };
    auto file = AVAudioFile::forWriting(path, settings);
    const uint32_t chunk = 65536;
    auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), chunk);
    for (uint32_t start = 0; start < frames; start += chunk) {
        const uint32_t n = std::min(chunk, frames - start);
        for (unsigned c = 0; c < channels; ++c)
            for (uint32_t i = 0; i < n; ++i) buffer->floatChannelData()[c][i] = tone(c, start + i, rate);
        buffer->setFrameLength(n);
        file->write(*buffer);
    }
    file->close();
}

// Every frame of a file in its processing format, one array per channel.
inline std::vector<std::vector<float>> readAll(const std::filesystem::path& path) {
    auto file = AVAudioFile::forReading(path);
    const auto channels = file->processingFormat().channelCount();
    std::vector<std::vector<float>> out(channels);
    auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), 65536);
    for (;;) {
        file->read(*buffer);
        if (buffer->frameLength() == 0) break;
        for (unsigned c = 0; c < channels; ++c)
            out[c].insert(out[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + buffer->frameLength());
    }
    return out;
}

// The data format on disk as the extended audio file services report it.
inline platform::AudioStreamBasicDescription fileDataFormat(const std::filesystem::path& path) {
    platform::ExtAudioFileRef file = nullptr;
    platform::AudioStreamBasicDescription format{};
    if (platform::ExtAudioFileOpenURL(path, &file) != platform::noErr) return format;
    uint32_t size = sizeof format;
    platform::ExtAudioFileGetProperty(file, platform::kExtAudioFileProperty_FileDataFormat, &size, &format);
    platform::ExtAudioFileDispose(file);
    return format;
}

// What one start() produced: how often the handler ran, with which error, and whether it ran
// before start() returned.
struct Outcome {
    int calls = 0;
    std::optional<NSError> error;
    bool beforeStartReturned = false;
    std::string message() const { return error ? error->localizedDescription : std::string("(no error)"); }
};

// Starts the converter and waits for its handler (up to a minute), then a little longer to catch
// a second call.
inline Outcome run(const std::shared_ptr<sonora::FormatConverter>& converter) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable called;
        Outcome outcome;
        bool returned = false;
    };
    auto shared = std::make_shared<Shared>();
    converter->start([shared](const std::optional<NSError>& error) {
        std::lock_guard lock(shared->mutex);
        if (++shared->outcome.calls == 1) {
            shared->outcome.error = error;
            shared->outcome.beforeStartReturned = !shared->returned;
        }
        shared->called.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    shared->returned = true;
    shared->called.wait_for(lock, std::chrono::seconds(60), [&] { return shared->outcome.calls > 0; });
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lock.lock();
    return shared->outcome;
}

inline Outcome convert(const std::filesystem::path& in, const std::filesystem::path& out,
                       std::optional<sonora::FormatConverter::Options> options = std::nullopt) {
    return run(std::make_shared<sonora::FormatConverter>(platform::URL(in), platform::URL(out), options));
}

// True when sonora-tool is built with its conversion commands (convert, waveform).
inline bool haveConversionTool() {
    const auto tool = testsupport::toolPath("sonora-tool");
    if (!std::filesystem::exists(tool)) return false;
    return testsupport::capture(testsupport::q(tool) + " waveform 2>&1").find("usage: sonora-tool waveform") !=
           std::string::npos;
}

// True when an entry of the log holds `text`.
inline bool logged(const std::string& text) {
    const auto entries = platform::LogSink::entries();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const platform::OSLogEntry& e) { return e.message.find(text) != std::string::npos; });
}

}  // namespace converterfixtures
