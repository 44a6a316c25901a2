// The graph and offline rendering of the platform engine, with source nodes as signals.
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace platform;

namespace {

AVAudioFormat stereo(double rate = 44100) { return AVAudioFormat::standardFormatWithSampleRate(rate, 2); }

// A source whose channel c, frame n (counted from its first render) is value(c, n).
std::shared_ptr<AVAudioSourceNode> source(std::function<float(uint32_t, int64_t)> value, OSStatus status = noErr) {
    auto frame = std::make_shared<int64_t>(0);
    return std::make_shared<AVAudioSourceNode>(
        [value, frame, status](bool&, const AudioTimeStamp&, AVAudioFrameCount frames, AudioBufferList* out) -> OSStatus {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                for (AVAudioFrameCount i = 0; i < frames; ++i)
                    static_cast<float*>(out->mBuffers[c].mData)[i] = value(c, *frame + i);
            *frame += frames;
            return status;
        });
}

std::shared_ptr<AVAudioSourceNode> constant(float left, float right) {
    return source([=](uint32_t c, int64_t) { return c == 0 ? left : right; });
}

// Renders `frames` frames offline in chunks of at most `chunk` and returns the channels.
std::vector<std::vector<float>> renderOffline(AVAudioEngine& engine, AVAudioFrameCount frames, AVAudioFrameCount chunk = 512,
                                              const AVAudioFormat& format = stereo()) {
    engine.enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, chunk);
    engine.start();
    auto buffer = AVAudioPCMBuffer::make(format, chunk);
    std::vector<std::vector<float>> out(format.channelCount());
    for (AVAudioFrameCount done = 0; done < frames;) {
        const AVAudioFrameCount n = std::min(chunk, frames - done);
        EXPECT_EQ(engine.renderOffline(n, *buffer), AVAudioEngineManualRenderingStatus::success);
        for (uint32_t c = 0; c < format.channelCount(); ++c)
            out[c].insert(out[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + n);
        done += n;
    }
    return out;
}

bool logged(const std::string& fragment) {
    for (const auto& e : LogSink::entries())
        if (e.message.find(fragment) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(AVAudioEngineGraph, ConnectionPointsAndBuses) {
    auto engine = AVAudioEngine::make();
    auto mixer = std::make_shared<AVAudioMixerNode>();
    auto a = constant(0, 0), b = constant(0, 0), c = constant(0, 0);
    for (auto& n : std::vector<std::shared_ptr<AVAudioNode>>{mixer, a, b, c}) engine->attach(n);
    engine->attach(a);  // idempotent
    EXPECT_EQ(engine->attachedNodes().size(), 5u);  // with the output node
    EXPECT_EQ(a->engine(), engine);

    // Mixer inputs land on the lowest free bus and the bus count grows.
    engine->connect(a, mixer, stereo());
    engine->connect(b, mixer, stereo());
    engine->connect(c, mixer, stereo());
    EXPECT_EQ(mixer->numberOfInputs(), 3u);
    EXPECT_EQ(engine->inputConnectionPoint(mixer, 1)->node(), b);
    engine->disconnectNodeInput(mixer, 1);
    EXPECT_FALSE(engine->inputConnectionPoint(mixer, 1));
    EXPECT_EQ(mixer->nextAvailableInputBus(), 1u);
    EXPECT_EQ(mixer->auAudioUnit()->inputBusses().setBusCount(8), true);
    EXPECT_EQ(mixer->numberOfInputs(), 8u);

    // Fan-out: connecting to exactly a list of points replaces the output's destinations.
    auto m2 = std::make_shared<AVAudioMixerNode>();
    engine->attach(m2);
    engine->connect(a, {AVAudioConnectionPoint(mixer, 0), AVAudioConnectionPoint(m2, 0)}, 0, stereo());
    EXPECT_EQ(engine->outputConnectionPoints(a, 0).size(), 2u);
    engine->connect(a, {AVAudioConnectionPoint(m2, 0)}, 0, stereo());
    EXPECT_EQ(engine->outputConnectionPoints(a, 0).size(), 1u);
    EXPECT_FALSE(engine->inputConnectionPoint(mixer, 0));

    // Detaching breaks every connection.
    engine->connect(m2, mixer, 0, 0, std::nullopt);
    EXPECT_EQ(m2->outputFormat(0), stereo());
    engine->detach(m2);
    EXPECT_EQ(m2->engine(), nullptr);
    EXPECT_TRUE(engine->outputConnectionPoints(a, 0).empty());
    EXPECT_FALSE(engine->inputConnectionPoint(mixer, 0));
}

TEST(AVAudioEngineGraph, MisuseIsRefusedWithALog) {
    auto engine = AVAudioEngine::make();
    auto other = AVAudioEngine::make();
    auto mixer = std::make_shared<AVAudioMixerNode>();
    auto m2 = std::make_shared<AVAudioMixerNode>();
    auto stray = constant(0, 0);
    engine->attach(mixer);
    engine->attach(m2);
    struct Case {
        const char* name;
        std::function<void()> act;
        const char* log;
    } cases[] = {
        {"attach to a second engine", [&] { other->attach(mixer); }, "attached to another engine"},
        {"connect an unattached node", [&] { engine->connect(stray, mixer, stereo()); }, "not attached"},
        {"connect across engines", [&] { other->attach(stray); engine->connect(stray, mixer, stereo()); }, "not attached"},
        {"a cycle", [&] { engine->connect(mixer, m2, stereo()); engine->connect(m2, mixer, stereo()); }, "cycle"},
        {"to itself", [&] { engine->connect(mixer, mixer, 0, 1, stereo()); }, "cycle"},
        {"an invalid format", [&] { engine->connect(m2, engine->outputNode(), AVAudioFormat()); }, "refused the format"},
        {"a bus far past the end", [&] { engine->connect(m2, mixer, 0, 40, stereo()); }, "no input bus"},
    };
    for (const auto& c : cases) {
        LogSink::clear();
        c.act();
        EXPECT_TRUE(logged(c.log)) << c.name;
    }
    EXPECT_EQ(mixer->engine(), engine);
    EXPECT_FALSE(engine->inputConnectionPoint(mixer, 0));
}

TEST(AVAudioEngineOffline, MixesWithVolumeAndPan) {
    struct Case {
        float volume, pan, outputVolume;
        float left, right;  // expected for an input of (0.25, 0.5)
    } cases[] = {
        {1, 0, 1, 0.25f, 0.5f},      {2, 0, 1, 0.5f, 1.0f},        {0.5f, 0, 1, 0.125f, 0.25f},
        {1, 0.5f, 1, 0.125f, 0.5f},  {1, -1, 1, 0.25f, 0},         {-3, 0, 1, 0, 0},
        {NAN, 0, 1, 0, 0},           {1, 0, 2, 0.5f, 1.0f},        {1, 0, NAN, 0, 0},
    };
    for (const auto& c : cases) {
        auto engine = AVAudioEngine::make();
        auto src = constant(0.25f, 0.5f);
        engine->attach(src);
        engine->connect(src, engine->mainMixerNode(), stereo());
        src->setVolume(c.volume);
        src->setPan(c.pan);
        engine->mainMixerNode()->setOutputVolume(c.outputVolume);
        auto out = renderOffline(*engine, 100);
        EXPECT_FLOAT_EQ(out[0][50], c.left) << c.volume << " " << c.pan << " " << c.outputVolume;
        EXPECT_FLOAT_EQ(out[1][50], c.right) << c.volume << " " << c.pan << " " << c.outputVolume;
    }
}

TEST(AVAudioEngineOffline, CentredUnityMixIsBitTransparent) {
    auto engine = AVAudioEngine::make();
    auto src = source([](uint32_t c, int64_t n) { return float(std::sin(0.001 * n * (c + 1)) * 0.9731); });
    engine->attach(src);
    auto mixer = std::make_shared<AVAudioMixerNode>();
    engine->attach(mixer);
    engine->connect(src, mixer, stereo());
    engine->connect(mixer, engine->mainMixerNode(), stereo());
    auto out = renderOffline(*engine, 3000, 1000);
    for (int64_t n = 0; n < 3000; n += 7) ASSERT_EQ(out[1][n], float(std::sin(0.002 * n) * 0.9731)) << n;
    EXPECT_EQ(engine->manualRenderingSampleTime(), 3000);
}

TEST(AVAudioEngineOffline, FanOutRendersASourceOncePerCycle) {
    auto engine = AVAudioEngine::make();
    int renders = 0;
    auto src = std::make_shared<AVAudioSourceNode>([&](bool&, const AudioTimeStamp&, AVAudioFrameCount frames, AudioBufferList* out) {
        ++renders;
        for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
            std::fill_n(static_cast<float*>(out->mBuffers[c].mData), frames, 0.125f);
        return noErr;
    });
    auto m1 = std::make_shared<AVAudioMixerNode>(), m2 = std::make_shared<AVAudioMixerNode>();
    engine->attach(src);
    engine->attach(m1);
    engine->attach(m2);
    engine->connect(src, {AVAudioConnectionPoint(m1, 0), AVAudioConnectionPoint(m2, 0)}, 0, stereo());
    engine->connect(m1, engine->mainMixerNode(), stereo());
    engine->connect(m2, engine->mainMixerNode(), stereo());
    auto out = renderOffline(*engine, 1024, 512);
    EXPECT_EQ(renders, 2);
    EXPECT_FLOAT_EQ(out[0][100], 0.25f);
    // Disconnected from one mixer, the source is heard once.
    engine->connect(src, {AVAudioConnectionPoint(m2, 0)}, 0, stereo());
    auto buffer = AVAudioPCMBuffer::make(stereo(), 512);
    engine->renderOffline(512, *buffer);
    EXPECT_FLOAT_EQ(buffer->floatChannelData()[0][10], 0.125f);
}

TEST(AVAudioEngineOffline, SourceBlockGetsSilentBuffersEveryCycle) {
    // The block writes its first cycle only, and only half of it; what it leaves is silent, never
    // what an earlier cycle wrote.
    auto engine = AVAudioEngine::make();
    int calls = 0;
    bool silentOnEntry = true;
    auto src = std::make_shared<AVAudioSourceNode>([&](bool&, const AudioTimeStamp&, AVAudioFrameCount frames, AudioBufferList* out) {
        for (uint32_t c = 0; c < out->mNumberBuffers; ++c) {
            auto* data = static_cast<float*>(out->mBuffers[c].mData);
            for (AVAudioFrameCount i = 0; i < frames; ++i) silentOnEntry = silentOnEntry && data[i] == 0.0f;
            if (calls == 0) std::fill_n(data, frames / 2, 0.5f);
        }
        ++calls;
        return noErr;
    });
    engine->attach(src);
    engine->connect(src, engine->mainMixerNode(), stereo());
    auto out = renderOffline(*engine, 2048, 512);
    EXPECT_EQ(calls, 4);
    EXPECT_TRUE(silentOnEntry);
    for (uint32_t c = 0; c < 2; ++c) {
        for (size_t n = 0; n < 2048; ++n) ASSERT_EQ(out[c][n], n < 256 ? 0.5f : 0.0f) << c << " " << n;
    }
}

TEST(AVAudioEngineOffline, ConvertsChannelsAndRateAtMixerInputs) {
    auto engine = AVAudioEngine::make();
    // A 48 kHz mono sine into a 44.1 kHz stereo mixer: duplicated at unity and resampled.
    const double f = 1000;
    auto src = source([&](uint32_t, int64_t n) { return float(0.5 * std::sin(2 * M_PI * f * n / 48000)); });
    engine->attach(src);
    engine->connect(src, engine->mainMixerNode(), AVAudioFormat::standardFormatWithSampleRate(48000, 1));
    auto out = renderOffline(*engine, 44100, 1024);
    double err = 0, energy = 0;
    for (int n = 1000; n < 44000; ++n) {
        const double want = 0.5 * std::sin(2 * M_PI * f * n / 44100);
        err += (out[0][n] - want) * (out[0][n] - want);
        energy += want * want;
        ASSERT_EQ(out[0][n], out[1][n]);
    }
    EXPECT_LT(10 * std::log10(err / energy), -60);
}

TEST(AVAudioEngineOffline, StatusesAndMisuse) {
    auto engine = AVAudioEngine::make();
    auto failing = source([](uint32_t, int64_t) { return 0.0f; }, -42);
    engine->attach(failing);
    engine->connect(failing, engine->mainMixerNode(), stereo());
    auto buffer = AVAudioPCMBuffer::make(stereo(), 1024);
    EXPECT_THROW(engine->renderOffline(256, *buffer), NSErrorException);  // not in manual mode
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), 512);
    EXPECT_THROW(engine->renderOffline(256, *buffer), NSErrorException);  // not running
    engine->start();
    EXPECT_EQ(engine->renderOffline(256, *buffer), AVAudioEngineManualRenderingStatus::error);
    LogSink::clear();
    EXPECT_THROW(engine->renderOffline(513, *buffer), NSErrorException);
    EXPECT_TRUE(logged("maximum frame count"));
    auto mono = AVAudioPCMBuffer::make(AVAudioFormat::standardFormatWithSampleRate(44100, 1), 512);
    EXPECT_THROW(engine->renderOffline(256, *mono), NSErrorException);
    EXPECT_THROW(engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), 512), NSErrorException);
    engine->stop();
    EXPECT_THROW(engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, AVAudioFormat(), 512), NSErrorException);
    // Manual mode: the output node's format is the manual rendering format.
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, AVAudioFormat::standardFormatWithSampleRate(48000, 1), 64);
    EXPECT_EQ(engine->outputNode()->outputFormat(0), AVAudioFormat::standardFormatWithSampleRate(48000, 1));
    engine->disableManualRenderingMode();
    EXPECT_FALSE(engine->isInManualRenderingMode());
}

TEST(AVAudioEngineOffline, LastRenderTime) {
    auto engine = AVAudioEngine::make();
    auto src = constant(0, 0);
    engine->attach(src);
    engine->connect(src, engine->mainMixerNode(), stereo());
    EXPECT_FALSE(src->lastRenderTime());
    auto out = renderOffline(*engine, 1024, 512);
    ASSERT_TRUE(src->lastRenderTime());
    EXPECT_EQ(src->lastRenderTime()->sampleTime(), 512);
    EXPECT_FALSE(src->lastRenderTime()->isHostTimeValid());
    engine->stop();
    EXPECT_FALSE(src->lastRenderTime());
    engine->stop();  // twice is fine
}
