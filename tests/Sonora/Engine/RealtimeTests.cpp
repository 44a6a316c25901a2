// Real-time rendering on the null output device: a player starts at the frame its host time
// predicts, and the captured output equals the offline render of the same graph.
#include "platform/support/AudioFileSamples.h"
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/coreaudio/AudioDevice.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace platform;
using namespace testnodes;
using sonora::AudioEngine;
using sonora::Mixer;
using sonora::Node;

namespace {

class PlayerNode : public Node {
public:
    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<AVAudioNode> avAudioNode() const override { return player; }
    std::shared_ptr<AVAudioPlayerNode> player = std::make_shared<AVAudioPlayerNode>();
};

// The same graph for both renders: a clip player at 0.5, panned, under a clip mixer at 0.8.
struct Graph {
    AudioEngine engine;
    std::shared_ptr<PlayerNode> clip = std::make_shared<PlayerNode>();
    Graph() {
        clip->player->setVolume(0.5f);
        clip->player->setPan(-0.4f);
        auto mix = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{clip});
        mix->setVolume(0.8f);
        engine.setOutput(mix);
    }
};

}  // namespace

TEST(Realtime, APlayerStartsAtItsPredictedFrameAndTheCaptureEqualsTheOfflineRender) {
    testsupport::ScratchDir dir;
    const auto clipPath = dir / "clip.wav";
    {
        auto file = AVAudioFile::forWriting(URL(clipPath.string()), stereo().settings());
        auto buffer = AVAudioPCMBuffer::make(stereo(), 20000);
        for (uint32_t c = 0; c < 2; ++c)
            for (AVAudioFrameCount i = 0; i < 20000; ++i)
                buffer->floatChannelData()[c][i] = 0.6f * std::sin(0.03f * float(i) * float(c + 1)) + 0.01f;
        buffer->setFrameLength(20000);
        file->write(*buffer);
    }

    Graph live;
    const auto stream = live.engine.avEngine()->outputNode()->deviceStream();
    ASSERT_EQ(stream->deviceID(), kAudioDeviceNullOutput);
    stream->startCapture(dir / "capture.wav");
    live.engine.start();
    const uint64_t t0 = stream->startHostTime();
    const uint64_t at = mach_absolute_time() + 300'000'000;
    live.clip->player->scheduleFile(AVAudioFile::forReading(URL(clipPath.string())), AVAudioTime(at));
    live.clip->player->play();
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    live.engine.stop();
    EXPECT_EQ(stream->overrunCount(), 0u);

    const auto captured = testsupport::readChannels(dir / "capture.wav");
    ASSERT_EQ(captured.size(), 2u);
    size_t first = 0;
    while (first < captured[0].size() && captured[0][first] == 0) ++first;
    const auto predicted = int64_t(std::llround(double(at - t0) * 44100e-9));
    EXPECT_LE(std::abs(int64_t(first) - predicted), 1) << "started at " << first << ", predicted " << predicted;
    ASSERT_GT(captured[0].size(), first + 20000);

    Graph offline;
    const auto renderPath = dir / "offline.caf";
    auto out = AVAudioFile::forWriting(URL(renderPath.string()), stereo().settings());
    const double seconds = (double(captured[0].size()) + 0.5) / 44100.0;
    offline.engine.renderToFile(*out, 512, seconds, [&] {
        offline.clip->player->scheduleFile(AVAudioFile::forReading(URL(clipPath.string())),
                                           AVAudioTime(int64_t(first), 44100.0));
        offline.clip->player->play();
    });
    out->close();
    const auto rendered = testsupport::readChannels(renderPath);
    ASSERT_EQ(rendered[0].size(), captured[0].size());
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < captured[c].size(); ++i)
            ASSERT_EQ(captured[c][i], rendered[c][i]) << "channel " << c << " frame " << i;
}
