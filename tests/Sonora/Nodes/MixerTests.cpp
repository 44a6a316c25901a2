// The mixer node: volume and pan, adding and removing inputs, the primer of a running engine.
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

using namespace platform;
using namespace testnodes;
using sonora::Mixer;
using sonora::Node;

namespace {

size_t dummiesAttached(AVAudioEngine& engine) {
    size_t count = 0;
    for (const auto& node : engine.attachedNodes())
        if (std::dynamic_pointer_cast<AVAudioUnitSampler>(node)) ++count;
    return count;
}

// An offline engine running a mixer connected to its output.
struct OfflineGraph {
    std::shared_ptr<AVAudioEngine> engine = AVAudioEngine::make();
    std::shared_ptr<Mixer> mixer;
    explicit OfflineGraph(std::shared_ptr<Mixer> m) : mixer(std::move(m)) {
        engine->attach(mixer->avAudioNode());
        engine->connect(mixer->avAudioNode(), engine->outputNode(), stereo());
        mixer->makeAVConnections();
        engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), 512);
        engine->start();
    }
};

}  // namespace

TEST(Mixer, VolumeAndPanAreStoredAndReachThePlatformMixer) {
    Mixer half(0.5f);
    EXPECT_EQ(half.volume(), 0.5f);
    EXPECT_EQ(half.mixerAU()->outputVolume(), 0.5f);
    EXPECT_TRUE(half.isStarted());
    EXPECT_FALSE(Mixer(0.0f).isStarted());

    struct Case {
        float written, volume, pan;
    };
    // Not-a-number or infinite gains would fill the mix with them: they count as 0.
    for (const Case& c : {Case{-2, 0, -1}, Case{3, 3, 1}, Case{NAN, 0, 0}, Case{INFINITY, 0, 0}, Case{-3, 0, -1}}) {
        Mixer mixer;
        mixer.setVolume(c.written);
        mixer.setPan(c.written);
        EXPECT_EQ(mixer.volume(), c.volume) << c.written;
        EXPECT_EQ(mixer.mixerAU()->outputVolume(), c.volume) << c.written;
        EXPECT_EQ(mixer.pan(), c.pan) << c.written;
        EXPECT_EQ(mixer.mixerAU()->pan(), c.pan) << c.written;
    }
}

TEST(Mixer, DefaultNameIsTheObjectAddress) {
    auto mixer = std::make_shared<Mixer>();
    EXPECT_TRUE(std::regex_match(mixer->name(), std::regex("0x[0-9a-f]{16}"))) << mixer->name();
    EXPECT_NE(mixer->name(), Mixer().name());
    EXPECT_EQ(Mixer(1.0f, "Named").name(), "Named");
    EXPECT_EQ(mixer->avAudioNode(), mixer->mixerAU());
}

TEST(Mixer, InputsAreAddedOnceAndRemovedEverywhere) {
    auto engine = AVAudioEngine::make();
    auto a = constant(0.1f), b = constant(0.2f);
    auto mixer = std::make_shared<Mixer>();
    engine->attach(mixer->avAudioNode());
    LogSink::clear();
    mixer->addInput(a);
    mixer->addInput(a);
    EXPECT_EQ(mixer->inputs().size(), 1u);
    EXPECT_EQ(engine->outputConnectionPoints(a->avAudioNode(), 0).size(), 1u);
    EXPECT_EQ(logCount("🛑 Error: Node is already connected to Mixer."), 1u);
    EXPECT_TRUE(mixer->hasInput(a));
    EXPECT_FALSE(mixer->hasInput(b));

    auto twice = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{b, a, b});
    EXPECT_EQ(twice->inputs().size(), 3u);
    twice->removeInput(b);
    EXPECT_EQ(twice->inputs(), std::vector<std::shared_ptr<Node>>{a});

    mixer->removeInput(a);
    EXPECT_TRUE(mixer->inputs().empty());
    EXPECT_TRUE(engine->outputConnectionPoints(a->avAudioNode(), 0).empty());
    EXPECT_EQ(a->avAudioNode()->engine(), engine);  // disconnected, not detached

    mixer->removeAllInputs();  // empty: nothing
    mixer->addInput(a);
    mixer->addInput(b);
    mixer->removeAllInputs();
    EXPECT_TRUE(mixer->inputs().empty());
    EXPECT_FALSE(engine->inputConnectionPoint(mixer->avAudioNode(), 0));
    EXPECT_FALSE(engine->inputConnectionPoint(mixer->avAudioNode(), 1));
}

TEST(Mixer, AnInputAddedToARunningGraphIsHeardAtOnceWithoutALeftoverDummy) {
    OfflineGraph graph(std::make_shared<Mixer>());
    renderFrames(*graph.engine, 512);
    LogSink::clear();
    graph.mixer->addInput(constant(0.25f));
    EXPECT_EQ(logCount("⚠️🎚 Added dummy to mixer ("), 1u);
    EXPECT_EQ(dummiesAttached(*graph.engine), 0u);
    const auto out = renderFrames(*graph.engine, 512);
    EXPECT_EQ(out[0][0], 0.25f);
    EXPECT_EQ(out[1][511], 0.25f);
}

TEST(Mixer, ThePrimerActsOnlyOnARunningMixerWithoutInputs) {
    auto stopped = AVAudioEngine::make();
    auto node = std::make_shared<AVAudioMixerNode>();
    stopped->attach(node);
    EXPECT_EQ(sonora::initializeMixer(stopped, node), nullptr);

    OfflineGraph fed(std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{constant(0.1f)}));
    EXPECT_EQ(sonora::initializeMixer(fed.engine, fed.mixer->avAudioNode()), nullptr);
    auto notAMixer = constant(0.1f)->avAudioNode();
    fed.engine->attach(notAMixer);
    EXPECT_EQ(sonora::initializeMixer(fed.engine, notAMixer), nullptr);
    EXPECT_EQ(dummiesAttached(*fed.engine), 0u);

    OfflineGraph empty(std::make_shared<Mixer>());
    const auto dummy = sonora::initializeMixer(empty.engine, empty.mixer->avAudioNode());
    ASSERT_NE(dummy, nullptr);
    EXPECT_EQ(dummy->engine(), empty.engine);
}

TEST(Mixer, InputBusArrayGrowsWithinThePlatformLimit) {
    Mixer mixer;
    const int count = int(mixer.mixerAU()->auAudioUnit()->inputBusses().count());
    EXPECT_EQ(mixer.resizeInputBussesArray(count + 3), count + 3);
    EXPECT_EQ(int(mixer.mixerAU()->auAudioUnit()->inputBusses().count()), count + 3);
    EXPECT_EQ(mixer.resizeInputBussesArray(1), 1);
    EXPECT_EQ(mixer.resizeInputBussesArray(5000), count + 3);
}
