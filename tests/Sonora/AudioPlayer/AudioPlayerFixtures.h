// Files and an offline engine for the player's tests: every sample of a fixture file tells which
// frame it is, so a render shows exactly which file frames were played.
#pragma once

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace playerfixtures {

using platform::AVAudioFile;
using platform::AVAudioFormat;
using platform::AVAudioFrameCount;
using platform::AVAudioPCMBuffer;

// Channel 0 counts frames up from 2^-20, channel 1 down from −2^-21: exact in Float32, never 0.
inline float frameSample(unsigned channel, int64_t frame) {
    return channel == 0 ? float(frame + 1) / 1048576.0f : -float(frame + 1) / 2097152.0f;
}

// A Float32 WAV file of `frames` frames filled by `sample`, opened again for reading.
inline std::shared_ptr<AVAudioFile> writeFile(const std::filesystem::path& path, unsigned channels, double rate,
                                              AVAudioFrameCount frames,
                                              const std::function<float(unsigned, int64_t)>& sample = frameSample) {
    const auto format = AVAudioFormat::standardFormatWithSampleRate(rate, channels);
    {
        auto file = AVAudioFile::forWriting(path.string(), format.settings());
        auto buffer = AVAudioPCMBuffer::make(format, 65536);
        for (AVAudioFrameCount done = 0; done < frames;) {
            const AVAudioFrameCount n = std::min<AVAudioFrameCount>(65536, frames - done);
            for (unsigned c = 0; c < channels; ++c)
                for (AVAudioFrameCount i = 0; i < n; ++i) buffer->floatChannelData()[c][i] = sample(c, done + i);
            buffer->setFrameLength(n);
            file->write(*buffer);
            done += n;
        }
    }
    return AVAudioFile::forReading(path.string());
}

// A player set as the output of an engine in offline manual rendering, started.
struct OfflineEngine {
    sonora::AudioEngine engine;
    explicit OfflineEngine(const std::shared_ptr<sonora::Node>& output) {
        engine.setOutput(output);
        engine.startTest(0);
    }
    // Renders exactly `frames` frames in 1024-frame cycles; one vector per channel.
    std::vector<std::vector<float>> render(size_t frames) {
        const auto& av = engine.avEngine();
        auto chunk = AVAudioPCMBuffer::make(av->manualRenderingFormat(), 1024);
        std::vector<std::vector<float>> out(av->manualRenderingFormat().channelCount());
        for (size_t done = 0; done < frames;) {
            const auto n = AVAudioFrameCount(std::min<size_t>(1024, frames - done));
            av->renderOffline(n, *chunk);
            for (size_t c = 0; c < out.size(); ++c)
                out[c].insert(out[c].end(), chunk->floatChannelData()[c], chunk->floatChannelData()[c] + n);
            done += n;
        }
        return out;
    }
};

// True when a log entry of that level holds the text.
inline bool logged(const std::string& text, platform::OSLogType type) {
    const auto entries = platform::LogSink::entries();
    return std::any_of(entries.begin(), entries.end(), [&](const platform::OSLogEntry& e) {
        return e.type == type && e.message.find(text) != std::string::npos;
    });
}

}  // namespace playerfixtures
