// A source node of a chosen signal in a sonora engine that renders offline, for the tap and
// recorder tests.
#pragma once

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace taptest {

// Channel c, frame n (from the first render): signal(c, n).
class SignalNode : public sonora::Node {
public:
    explicit SignalNode(std::function<float(uint32_t, int64_t)> signal) {
        auto frame = std::make_shared<int64_t>(0);
        node_ = std::make_shared<platform::AVAudioSourceNode>(
            [signal, frame](bool&, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames,
                            platform::AudioBufferList* out) -> platform::OSStatus {
                for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                    for (platform::AVAudioFrameCount i = 0; i < frames; ++i)
                        static_cast<float*>(out->mBuffers[c].mData)[i] = signal(c, *frame + i);
                *frame += frames;
                return platform::noErr;
            });
    }
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return node_; }

private:
    std::shared_ptr<platform::AVAudioSourceNode> node_;
};

inline void startOffline(sonora::AudioEngine& engine) {
    engine.avEngine()->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline,
                                                 platform::AVAudioFormat::standardFormatWithSampleRate(44100, 2), 512);
    engine.start();
}

// Renders offline in 512-frame calls, then runs the main queue's work.
inline void render(sonora::AudioEngine& engine, platform::AVAudioFrameCount frames) {
    auto buffer = platform::AVAudioPCMBuffer::make(engine.avEngine()->manualRenderingFormat(), 512);
    for (platform::AVAudioFrameCount done = 0; done < frames; done += 512)
        engine.avEngine()->renderOffline(std::min<platform::AVAudioFrameCount>(512, frames - done), *buffer);
    platform::DispatchQueue::pumpMainQueue();
}

inline int logCount(const std::string& fragment) {
    int n = 0;
    for (const auto& e : platform::LogSink::entries())
        if (e.message.find(fragment) != std::string::npos) ++n;
    return n;
}

// The messages logged since the sink was cleared, without their source positions, in order.
inline std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (const auto& e : platform::LogSink::entries()) {
        std::string m = e.message;
        // "<file>:<function>:<line>:<text> (<file>:<function>:<line>)"
        const auto open = m.rfind(" (");
        if (open != std::string::npos) {
            const std::string where = m.substr(open + 2, m.size() - open - 3);
            if (m.compare(0, where.size() + 1, where + ":") == 0) m = m.substr(where.size() + 1, open - where.size() - 1);
        }
        out.push_back(m);
    }
    return out;
}

}  // namespace taptest
