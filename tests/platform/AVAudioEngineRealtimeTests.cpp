// Real-time rendering on the null output device: timing against the host clock, capture, and
// equality with the offline render of the same graph.
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/coreaudio/AudioDevice.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include "main/TestSupport.h"
#include "platform/support/AudioFileSamples.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>

using namespace platform;

namespace {

AVAudioFormat stereo() { return AVAudioFormat::standardFormatWithSampleRate(44100, 2); }

float ramp(uint32_t c, int64_t n) { return (c == 0 ? 0.5f : -0.25f) * float((n % 20000) + 1) / 20000.0f; }

std::shared_ptr<AVAudioPCMBuffer> rampBuffer(AVAudioFrameCount frames) {
    auto buffer = AVAudioPCMBuffer::make(stereo(), frames);
    for (uint32_t c = 0; c < 2; ++c)
        for (AVAudioFrameCount i = 0; i < frames; ++i) buffer->floatChannelData()[c][i] = ramp(c, i);
    buffer->setFrameLength(frames);
    return buffer;
}

size_t firstNonZero(const std::vector<float>& v) {
    for (size_t i = 0; i < v.size(); ++i)
        if (v[i] != 0) return i;
    return v.size();
}

// The graph of both renders: a file player and a buffer player under a clip mixer at 0.5.
struct Graph {
    std::shared_ptr<AVAudioEngine> engine = AVAudioEngine::make();
    std::shared_ptr<AVAudioPlayerNode> filePlayer = std::make_shared<AVAudioPlayerNode>();
    std::shared_ptr<AVAudioPlayerNode> bufferPlayer = std::make_shared<AVAudioPlayerNode>();
    std::shared_ptr<AVAudioMixerNode> clips = std::make_shared<AVAudioMixerNode>();
    Graph() {
        for (auto n : std::vector<std::shared_ptr<AVAudioNode>>{filePlayer, bufferPlayer, clips}) engine->attach(n);
        engine->connect(clips, engine->mainMixerNode(), stereo());
        engine->connect(filePlayer, clips, stereo());
        engine->connect(bufferPlayer, clips, stereo());
        clips->setOutputVolume(0.5f);
        bufferPlayer->setPan(0.5f);
    }
};

}  // namespace

TEST(AVAudioEngineRealtime, NullDeviceTimingAndCaptureEqualOffline) {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    testsupport::ScratchDir dir;
    {
        auto f = AVAudioFile::forWriting(URL::fileURLWithPath((dir / "clip.wav").string()), stereo().settings());
        f->write(*rampBuffer(30000));
    }
    auto clip = [&] { return AVAudioFile::forReading(URL::fileURLWithPath((dir / "clip.wav").string())); };

    // Real time: the file item at host time now + 0.3 s, the buffer player started at now + 0.5 s.
    Graph rt;
    auto stream = rt.engine->outputNode()->deviceStream();
    stream->startCapture(dir / "capture.wav");
    rt.engine->start();
    ASSERT_TRUE(rt.engine->isRunning());
    const uint64_t t0 = stream->startHostTime();
    const uint64_t fileAt = mach_absolute_time() + 300'000'000;
    const uint64_t bufferAt = fileAt + 200'000'000;
    rt.filePlayer->scheduleFile(clip(), AVAudioTime(fileAt));
    rt.filePlayer->play();
    rt.bufferPlayer->scheduleBuffer(rampBuffer(10000));
    rt.bufferPlayer->play(AVAudioTime(bufferAt));
    std::this_thread::sleep_for(std::chrono::milliseconds(1400));
    auto last = rt.filePlayer->lastRenderTime();
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->isHostTimeValid());
    rt.engine->stop();
    EXPECT_FALSE(rt.filePlayer->lastRenderTime());
    EXPECT_EQ(stream->overrunCount(), 0u);

    auto captured = testsupport::readChannels(dir / "capture.wav");
    ASSERT_EQ(captured.size(), 2u);
    const auto predicted = [&](uint64_t at) { return int64_t(std::llround(double(at - t0) * 44100e-9)); };
    const int64_t fileFrame = int64_t(firstNonZero(captured[0]));
    EXPECT_LE(std::abs(fileFrame - predicted(fileAt)), 1);
    const int64_t bufferFrame = fileFrame + (predicted(bufferAt) - predicted(fileAt));

    // Offline, the same graph with the same start frames.
    Graph off;
    off.engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), 512);
    off.engine->start();
    off.filePlayer->scheduleFile(clip(), AVAudioTime(fileFrame, 44100.0));
    off.filePlayer->play();
    off.bufferPlayer->scheduleBuffer(rampBuffer(10000));
    off.bufferPlayer->play(AVAudioTime(bufferFrame, 44100.0));
    auto buffer = AVAudioPCMBuffer::make(stereo(), 512);
    const size_t frames = captured[0].size();
    ASSERT_GT(frames, size_t(bufferFrame + 10000));
    std::vector<std::vector<float>> offline(2);
    for (size_t done = 0; done < frames; done += 512) {
        const auto n = AVAudioFrameCount(std::min<size_t>(512, frames - done));
        off.engine->renderOffline(n, *buffer);
        for (int c = 0; c < 2; ++c)
            offline[c].insert(offline[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + n);
    }
    for (int c = 0; c < 2; ++c)
        for (size_t i = 0; i < frames; ++i) ASSERT_EQ(captured[c][i], offline[c][i]) << "channel " << c << " frame " << i;
    EXPECT_NE(captured[0][bufferFrame + 10], 0.0f);
}

TEST(AVAudioEngineRealtime, StartFailsOnAFailingDeviceAndStopIsSafe) {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    auto engine = AVAudioEngine::make();
    auto input = engine->inputNode();
    EXPECT_EQ(engine->inputNode(), input);
    EXPECT_EQ(input->outputFormat(0), stereo());
    engine->stop();  // never started
    auto src = std::make_shared<AVAudioSourceNode>([](bool& silence, const AudioTimeStamp&, AVAudioFrameCount, AudioBufferList*) {
        silence = true;
        return noErr;
    });
    engine->attach(src);
    engine->connect(src, engine->mainMixerNode(), stereo());
    engine->outputNode()->deviceStream()->open(kAudioDeviceFailing);
    EXPECT_THROW(engine->start(), NSErrorException);
    EXPECT_FALSE(engine->isRunning());
    engine->outputNode()->deviceStream()->open(kAudioDeviceNullOutput);
    engine->start();
    EXPECT_TRUE(engine->isRunning());
    EXPECT_THROW(engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), 512), NSErrorException);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Edits while running publish a new plan; the render thread never waits.
    auto src2 = std::make_shared<AVAudioSourceNode>([](bool&, const AudioTimeStamp&, AVAudioFrameCount, AudioBufferList*) { return noErr; });
    for (int i = 0; i < 20; ++i) {
        engine->attach(src2);
        engine->connect(src2, engine->mainMixerNode(), AVAudioFormat::standardFormatWithSampleRate(22050, 1));
        engine->detach(src2);
    }
    engine->pause();
    EXPECT_FALSE(engine->isRunning());
    engine->start();
    engine.reset();  // destroyed while running: joins the device thread first
}

TEST(AVAudioEngineRealtime, AStopFollowedByAnEngineStopLetsGoOfTheMaterialAtOnce) {
    auto engine = AVAudioEngine::make();
    auto player = std::make_shared<AVAudioPlayerNode>();
    engine->attach(player);
    engine->connect(player, engine->mainMixerNode(), stereo());
    auto buffer = rampBuffer(44100);
    player->scheduleBuffer(buffer);
    engine->start();
    player->play();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    player->stop();  // reaches the render thread only on its next cycle...
    engine->stop();  // ...which never comes
    EXPECT_EQ(buffer.use_count(), 1) << "the stopped player still holds its buffer";
    // What is scheduled after the stop still plays once the engine runs again.
    player->scheduleBuffer(buffer);
    engine->start();
    player->play();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(player->isPlaying());
    EXPECT_GT(buffer.use_count(), 1);
    engine->stop();
}
