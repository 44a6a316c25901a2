// The engine's output replacement, main mixer, input mixer, start failures and tree texts.
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/coreaudio/AudioDevice.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace testnodes;
using sonora::AudioEngine;
using sonora::Mixer;
using sonora::Node;
using sonora::Settings;

namespace {

const std::string kNoOutput = "🛑 Error: Attempt to start engine with no output.";

std::shared_ptr<Mixer> clipMixer() {
    return std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{constant(0.1f), constant(0.2f)});
}

// True when the main mixer feeds the platform output and `node` feeds the main mixer.
bool isWired(AudioEngine& engine, const std::shared_ptr<Node>& node) {
    const auto& av = engine.avEngine();
    const auto main = engine.mainMixerNode();
    if (!main) return false;
    const auto toOutput = av->inputConnectionPoint(av->outputNode(), 0);
    if (!toOutput || toOutput->node() != main->avAudioNode()) return false;
    for (const auto& point : av->outputConnectionPoints(node->avAudioNode(), 0))
        if (point.node() == main->avAudioNode()) return true;
    return false;
}

class SettingsRestorer {
public:
    ~SettingsRestorer() { Settings::setAudioFormat(saved_); }

private:
    AVAudioFormat saved_ = Settings::audioFormat();
};

}  // namespace

TEST(AudioEngine, NewEngineIsStoppedWithoutOutputAndSetsUpOnOutput) {
    AudioEngine engine;
    EXPECT_EQ(engine.output(), nullptr);
    EXPECT_EQ(engine.mainMixerNode(), nullptr);
    EXPECT_FALSE(engine.avEngine()->isRunning());
    EXPECT_EQ(engine.maximumFrameCount, 1024u);
    EXPECT_EQ(engine.connectionTreeDescription(), "Sonora | mainMixerNode is nil");
    engine.stop();  // never started

    LogSink::clear();
    engine.start();
    EXPECT_EQ(logCount(kNoOutput), 1u);
    EXPECT_FALSE(engine.avEngine()->isRunning());

    auto mix = clipMixer();
    mix->setName("Clips");
    engine.setOutput(mix);
    EXPECT_EQ(engine.output(), mix);
    EXPECT_FALSE(engine.avEngine()->isRunning());
    ASSERT_TRUE(engine.mainMixerNode());
    EXPECT_EQ(engine.mainMixerNode()->name(), "Sonora Engine Mixer");
    EXPECT_TRUE(isWired(engine, mix));
    for (const auto& input : mix->inputs()) EXPECT_EQ(input->avAudioNode()->engine(), engine.avEngine());
    EXPECT_EQ(engine.connectionTreeDescription(), "Sonora | ↳Mixer(\"Sonora Engine Mixer\")\n"
                                                  "Sonora |  ↳Mixer(\"Clips\")\n"
                                                  "Sonora |   ↳SourceNode\n"
                                                  "Sonora |   ↳SourceNode");
}

TEST(AudioEngine, SettingTheSameOutputAgainRewiresAndRestarts) {
    AudioEngine engine;
    auto mix = clipMixer();
    engine.setOutput(mix);
    engine.start();
    ASSERT_TRUE(engine.avEngine()->isRunning());
    LogSink::clear();
    engine.setOutput(mix);
    EXPECT_TRUE(engine.avEngine()->isRunning());
    EXPECT_EQ(logCount("🛑 Error: Node is already connected to Mixer."), 0u);
    EXPECT_EQ(engine.mainMixerNode()->inputs(), std::vector<std::shared_ptr<Node>>{mix});
    EXPECT_TRUE(isWired(engine, mix));
    engine.reconnectOutput();
    EXPECT_TRUE(engine.avEngine()->isRunning());
    EXPECT_TRUE(isWired(engine, mix));
    engine.stop();
}

TEST(AudioEngine, NoOutputOnARunningEngineStopsIt) {
    AudioEngine engine;
    auto mix = clipMixer();
    engine.setOutput(mix);
    engine.start();
    LogSink::clear();
    engine.setOutput(nullptr);
    EXPECT_FALSE(engine.avEngine()->isRunning());
    EXPECT_EQ(logCount(kNoOutput), 1u);
    EXPECT_EQ(mix->avAudioNode()->engine(), nullptr);
    ASSERT_TRUE(engine.mainMixerNode());
    EXPECT_TRUE(engine.mainMixerNode()->inputs().empty());
    EXPECT_EQ(engine.mainMixerNode()->avAudioNode()->engine(), engine.avEngine());
    EXPECT_EQ(engine.connectionTreeDescription(), "Sonora | ↳Mixer(\"Sonora Engine Mixer\")");
}

TEST(AudioEngine, TwoAssignmentsLeaveOnlyTheSecondConnected) {
    AudioEngine engine;
    auto first = clipMixer(), second = clipMixer();
    engine.setOutput(first);
    engine.setOutput(second);
    EXPECT_EQ(first->avAudioNode()->engine(), nullptr);
    for (const auto& input : first->inputs()) EXPECT_EQ(input->avAudioNode()->engine(), nullptr);
    EXPECT_FALSE(engine.mainMixerNode()->hasInput(first));
    EXPECT_TRUE(isWired(engine, second));
    EXPECT_EQ(engine.output(), second);
}

TEST(AudioEngine, ARateChangeInTheSettingsMakesANewMainMixer) {
    SettingsRestorer restore;
    AudioEngine engine;
    engine.setOutput(clipMixer());
    const auto oldMain = engine.mainMixerNode();
    Settings::setSampleRate(48000);
    LogSink::clear();
    auto mix = clipMixer();
    engine.setOutput(mix);
    EXPECT_EQ(logCount("Sample Rate has changed, creating new mainMixerNode at 48000.0"), 1u);
    EXPECT_EQ(oldMain->avAudioNode()->engine(), nullptr);
    ASSERT_NE(engine.mainMixerNode(), oldMain);
    EXPECT_EQ(engine.mainMixerNode()->avAudioNode()->outputFormat(0).sampleRate(), 48000.0);
    EXPECT_TRUE(isWired(engine, mix));

    // The rate unchanged: the main mixer stays.
    const auto main = engine.mainMixerNode();
    engine.setOutput(clipMixer());
    EXPECT_EQ(engine.mainMixerNode(), main);
}

TEST(AudioEngine, InputIsConnectedOnceAndNeedsTheMicrophoneKey) {
    AudioEngine engine;
    const auto input = engine.input();
    ASSERT_TRUE(input);
    EXPECT_FALSE(input->isNotConnected);
    EXPECT_EQ(engine.input(), input);
    const auto& av = engine.avEngine();
    EXPECT_EQ(av->outputConnectionPoints(av->inputNode(), 0).size(), 1u);
    EXPECT_EQ(av->inputConnectionPoint(input->avAudioNode(), 0)->node(), av->inputNode());

    auto info = Bundle::main().infoDictionary();
    info.erase("NSMicrophoneUsageDescription");
    Bundle::main().setInfoDictionaryForTesting(info);
    AudioEngine without;
    LogSink::clear();
    EXPECT_EQ(without.input(), nullptr);
    Bundle::main().restoreInfoDictionary();
    EXPECT_EQ(logCount("To use the microphone, you must include the NSMicrophoneUsageDescription in your Info.plist"),
              1u);
    EXPECT_EQ(without.avEngine()->attachedNodes().size(), 1u);  // only the output node
}

TEST(AudioEngine, AFailingStartThrowsAndLeavesTheEngineStopped) {
    AudioEngine engine;
    engine.setOutput(clipMixer());
    engine.avEngine()->outputNode()->deviceStream()->open(kAudioDeviceFailing);
    EXPECT_THROW(engine.start(), NSErrorException);
    EXPECT_FALSE(engine.avEngine()->isRunning());
    engine.avEngine()->outputNode()->deviceStream()->open(kAudioDeviceNullOutput);
    engine.start();
    EXPECT_TRUE(engine.avEngine()->isRunning());
    engine.pause();
    EXPECT_FALSE(engine.avEngine()->isRunning());
}

TEST(AudioEngine, StartTestAndRenderGiveTheGraphsSamples) {
    AudioEngine engine;
    auto ramp = std::make_shared<SourceNode>([](uint32_t c, int64_t n) { return (c + 1) * 1e-5f * float(n); });
    engine.setOutput(std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{ramp}));
    const auto empty = engine.startTest(0.5);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->frameCapacity(), 22050u);
    EXPECT_EQ(empty->frameLength(), 0u);
    EXPECT_TRUE(engine.avEngine()->isInManualRenderingMode());

    const auto rendered = engine.render(0.1);
    ASSERT_EQ(rendered->frameLength(), 4410u);
    for (AVAudioFrameCount i : {0u, 1023u, 1024u, 4409u}) {
        EXPECT_FLOAT_EQ(rendered->floatChannelData()[0][i], 1e-5f * float(i));
        EXPECT_FLOAT_EQ(rendered->floatChannelData()[1][i], 2e-5f * float(i));
    }
    EXPECT_EQ(engine.avEngine()->manualRenderingSampleTime(), 4410);

    // Asking for more frames per call than manual rendering allows: logged, partial result.
    engine.maximumFrameCount = 2048;
    LogSink::clear();
    const auto refused = engine.render(0.1);
    EXPECT_EQ(refused->frameLength(), 0u);
    EXPECT_EQ(logCount("🛑 Could not render offline "), 1u);
}

TEST(AudioEngine, StartTestWithoutOutputLogsAndStillGivesTheBuffer) {
    AudioEngine engine;
    LogSink::clear();
    const auto buffer = engine.startTest(0.01);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameCapacity(), 441u);
    EXPECT_EQ(logCount(kNoOutput), 1u);
}
