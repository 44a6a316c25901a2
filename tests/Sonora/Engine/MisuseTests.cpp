// Misuse of the graph is logged and refused, never a crash.
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/foundation/OSLog.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace testnodes;
using sonora::AudioEngine;
using sonora::Node;

namespace {

class PlayerNode : public Node {
public:
    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<AVAudioNode> avAudioNode() const override { return player; }
    std::shared_ptr<AVAudioPlayerNode> player = std::make_shared<AVAudioPlayerNode>();
};

}  // namespace

TEST(EngineMisuse, IsLoggedAndRefusedNotACrash) {
    // Scheduling on a node that is in no engine.
    PlayerNode detached;
    testsupport::ScratchDir dir;
    {
        auto file = AVAudioFile::forWriting(URL((dir / "c.wav").string()), stereo().settings());
        auto buffer = AVAudioPCMBuffer::make(stereo(), 100);
        buffer->setFrameLength(100);
        file->write(*buffer);
    }
    LogSink::clear();
    detached.player->scheduleFile(AVAudioFile::forReading(URL((dir / "c.wav").string())), std::nullopt);
    detached.player->play();
    EXPECT_EQ(logCount("is not attached to an engine"), 2u);
    EXPECT_FALSE(detached.player->isPlaying());
    detached.player->stop();
    detached.scheduleMIDIEvent(sonora::MIDIEvent{});

    // Rendering more frames than the manual rendering maximum.
    AudioEngine engine;
    engine.setOutput(constant(0.1f));
    engine.avEngine()->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), 256);
    engine.start();
    auto buffer = AVAudioPCMBuffer::make(stereo(), 1024);
    LogSink::clear();
    EXPECT_THROW(engine.avEngine()->renderOffline(512, *buffer), NSErrorException);
    EXPECT_GE(LogSink::entries().size(), 1u);
    EXPECT_EQ(engine.render(0.01)->frameLength(), 0u);
    EXPECT_EQ(logCount("🛑 Could not render offline "), 1u);
}
