// The input node in real time: the null input plays a sine file through the engine's mixer into
// the null output, at a rate like or unlike the output's, and the output's capture is checked.
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/coreaudio/AudioDeviceRegistry.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include "main/TestSupport.h"
#include "platform/support/AudioFileSamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <thread>

using namespace platform;

namespace {

constexpr double kFrequency = 441;  // a whole number of periods in a whole second at both rates
constexpr float kAmplitude = 0.5f;
constexpr AVAudioFrameCount kCycle = 512;

// A stereo sine from phase 0 (its first frame is 0), ending on a whole period.
std::filesystem::path writeSine(const std::filesystem::path& path, double rate, double seconds) {
    const auto format = AVAudioFormat::standardFormatWithSampleRate(rate, 2);
    const auto frames = AVAudioFrameCount(std::llround(rate * seconds));
    auto buffer = AVAudioPCMBuffer::make(format, frames);
    for (uint32_t c = 0; c < 2; ++c)
        for (AVAudioFrameCount i = 0; i < frames; ++i)
            buffer->floatChannelData()[c][i] = kAmplitude * float(std::sin(2 * std::numbers::pi * kFrequency * i / rate));
    buffer->setFrameLength(frames);
    AVAudioFile::forWriting(URL::fileURLWithPath(path.string()), format.settings())->write(*buffer);
    return path;
}

struct Case {
    double inputRate;
    double outputRate;
    double seconds;
};

}  // namespace

// Unlike rates go through the mixer's converter, which the ring feeds at its own pace: the sine
// arrives whole (no step larger than its own), as long as it was, after the stated latency; like
// rates arrive bit for bit.
TEST(AVAudioInputBridgeRealtime, TheInputReachesTheOutputWholeAtAnyRate) {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    for (const Case& test : {Case{48000, 44100, 10}, Case{44100, 48000, 10}, Case{44100, 44100, 3}}) {
        SCOPED_TRACE(std::to_string(int(test.inputRate)) + " Hz into " + std::to_string(int(test.outputRate)) + " Hz");
        testsupport::ScratchDir dir;
        const auto sinePath = writeSine(dir / "sine.wav", test.inputRate, test.seconds);
        ASSERT_TRUE(AudioDeviceRegistry::setNullInputFile(sinePath));
        std::vector<std::vector<float>> captured;
        AVAudioInputNode::MonitorCounts counts;
        AVAudioFrameCount latency = 0;
        {
            auto engine = AVAudioEngine::make();
            auto stream = engine->outputNode()->deviceStream();
            stream->open(stream->deviceID(), test.outputRate, 2, kCycle);
            stream->startCapture(dir / "capture.wav");
            auto input = engine->inputNode();
            engine->connect(input, engine->mainMixerNode(), std::nullopt);
            engine->start();
            ASSERT_TRUE(engine->isRunning());
            latency = input->monitorLatency();
            std::this_thread::sleep_for(std::chrono::duration<double>(test.seconds + 1.0 + latency / test.inputRate));
            engine->stop();
            counts = input->monitorCounts();
        }
        AudioDeviceRegistry::setNullInputFile({});
        EXPECT_EQ(latency, AVAudioInputNode::monitorLatency(kCycle, test.inputRate, kCycle, test.outputRate));
        EXPECT_EQ(counts.underruns, 0u);
        EXPECT_EQ(counts.overflows, 0u);
        EXPECT_EQ(counts.dropped + counts.repeated, 0u);

        captured = testsupport::readChannels(dir / "capture.wav");
        ASSERT_EQ(captured.size(), 2u);
        const auto& left = captured[0];
        // The sine's span: a converter rings faintly before and after it.
        const float floor = test.inputRate == test.outputRate ? 0.0f : 0.2f * kAmplitude;
        const auto audible = [floor](float x) { return std::fabs(x) > floor; };
        const auto first = size_t(std::find_if(left.begin(), left.end(), audible) - left.begin());
        const auto end = size_t(std::find_if(left.rbegin(), left.rend(), audible).base() - left.begin());
        ASSERT_LT(first, end);
        // Heard once the ring held the latency (the input device starts a moment after the output).
        const double latencyOut = latency * test.outputRate / test.inputRate;
        EXPECT_GE(double(first), latencyOut - 2);
        EXPECT_LE(double(first), latencyOut + 0.5 * test.outputRate);
        // As long as the file, within one cycle.
        const double ideal = test.seconds * test.outputRate;
        EXPECT_LE(std::abs(double(end - first) - ideal), kCycle) << "first " << first << " end " << end;

        if (test.inputRate == test.outputRate) {
            const auto source = testsupport::readChannels(sinePath);
            // The sine's first frame is 0, so the capture starts at its second.
            for (int c = 0; c < 2; ++c)
                for (size_t i = 1; i < source[c].size(); ++i)
                    ASSERT_EQ(captured[c][first + i - 1], source[c][i]) << "channel " << c << " frame " << i;
            continue;
        }
        const double step = 2 * std::numbers::pi * kFrequency / test.outputRate * kAmplitude;
        for (int c = 0; c < 2; ++c) {
            double worst = 0;
            size_t worstAt = 0;
            for (size_t i = first + 1; i < end; ++i)
                if (const double d = std::fabs(captured[c][i] - captured[c][i - 1]); d > worst) {
                    worst = d;
                    worstAt = i;
                }
            EXPECT_LE(worst, step * 1.25) << "channel " << c << " at frame " << worstAt;
        }
    }
}
