// Adding and removing single connections on platform nodes, fan-out through the node lists, and
// the audio-component descriptions of the layer's units.
#include "Sonora/Internals/Engine/AVAudioNodeConnections.h"
#include "Sonora/Internals/Engine/AudioComponentDescriptions.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/FourCC.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/avfaudio/AVAudioConnectionPoint.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace testnodes;

namespace {

struct Graph {
    std::shared_ptr<AVAudioEngine> engine = AVAudioEngine::make();
    std::shared_ptr<AVAudioNode> source = constant(0.5f)->avAudioNode();
    std::shared_ptr<AVAudioMixerNode> a = std::make_shared<AVAudioMixerNode>();
    std::shared_ptr<AVAudioMixerNode> b = std::make_shared<AVAudioMixerNode>();
    std::shared_ptr<AVAudioMixerNode> c = std::make_shared<AVAudioMixerNode>();
    Graph() {
        for (auto node : std::vector<std::shared_ptr<AVAudioNode>>{source, a, b, c}) engine->attach(node);
    }
    std::vector<std::shared_ptr<AVAudioNode>> destinations() const {
        std::vector<std::shared_ptr<AVAudioNode>> nodes;
        for (const auto& point : engine->outputConnectionPoints(source, 0)) nodes.push_back(point.node());
        return nodes;
    }
};

}  // namespace

TEST(Connections, DisconnectRemovesOnlyTheConnectionIntoTheReceiver) {
    const auto mono = AVAudioFormat::standardFormatWithSampleRate(22050, 1);
    Graph g;
    g.engine->connect(g.source, {{g.a, 0}, {g.b, 0}, {g.c, 0}}, 0, mono);
    sonora::disconnect(g.a, g.source);
    EXPECT_EQ(g.destinations(), (std::vector<std::shared_ptr<AVAudioNode>>{g.b, g.c}));
    EXPECT_EQ(g.b->inputFormat(0), sonora::Settings::audioFormat());

    sonora::disconnect(g.a, g.source);  // not connected to a: nothing changes
    EXPECT_EQ(g.destinations().size(), 2u);
    sonora::disconnect(g.b, g.source);
    sonora::disconnect(g.c, g.source);
    EXPECT_TRUE(g.destinations().empty());

    auto detached = std::make_shared<AVAudioMixerNode>();
    sonora::disconnect(detached, g.source);  // in no engine: nothing
}

TEST(Connections, ConnectAddsOneConnectionAndKeepsTheOthers) {
    Graph g;
    const auto format = sonora::Settings::audioFormat();
    sonora::connect(std::static_pointer_cast<AVAudioNode>(g.a), g.source, 1, format);
    sonora::connect(std::static_pointer_cast<AVAudioNode>(g.a), g.source, 1, format);
    EXPECT_EQ(g.engine->outputConnectionPoints(g.source, 0).size(), 1u);
    sonora::connect(std::static_pointer_cast<AVAudioNode>(g.a), g.source, 2, format);
    EXPECT_EQ(g.engine->outputConnectionPoints(g.source, 0).size(), 2u);

    sonora::connect(g.b, g.source, format);
    const auto bus = g.b->nextAvailableInputBus();
    sonora::connect(g.b, g.source, format);
    EXPECT_EQ(g.b->nextAvailableInputBus(), bus);
    EXPECT_EQ(g.engine->outputConnectionPoints(g.source, 0).size(), 3u);
    EXPECT_TRUE(sonora::hasConnectedInput(*g.engine, g.b));
    EXPECT_FALSE(sonora::hasConnectedInput(*g.engine, g.c));
    EXPECT_FALSE(sonora::hasConnectedInput(*g.engine, g.source));
}

TEST(Connections, ANodeListedTwiceFansOutAndRendersOncePerCycle) {
    auto engine = AVAudioEngine::make();
    auto shared = std::make_shared<SourceNode>([](uint32_t, int64_t n) { return float(n % 100) * 0.001f; });
    auto left = std::make_shared<sonora::Mixer>(std::vector<std::shared_ptr<sonora::Node>>{shared});
    auto right = std::make_shared<sonora::Mixer>(std::vector<std::shared_ptr<sonora::Node>>{shared});
    auto top = std::make_shared<sonora::Mixer>(std::vector<std::shared_ptr<sonora::Node>>{left, right});
    engine->attach(top->avAudioNode());
    engine->connect(top->avAudioNode(), engine->outputNode(), stereo());
    top->makeAVConnections();
    EXPECT_EQ(engine->outputConnectionPoints(shared->avAudioNode(), 0).size(), 2u);
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, stereo(), 512);
    engine->start();
    const auto out = renderFrames(*engine, 1024);
    EXPECT_EQ(shared->framesRendered(), 1024);
    for (int64_t n : {0, 1, 99, 1023}) EXPECT_FLOAT_EQ(out[0][n], 2 * float(n % 100) * 0.001f);

    // Taking it out of one mixer leaves the other branch playing.
    left->removeInput(shared);
    EXPECT_EQ(engine->outputConnectionPoints(shared->avAudioNode(), 0).size(), 1u);
    const auto after = renderFrames(*engine, 512);
    EXPECT_FLOAT_EQ(after[0][1], float((1024 + 1) % 100) * 0.001f);
}

TEST(Connections, ComponentDescriptions) {
    using sonora::fourCC;
    struct Case {
        AudioComponentDescription description;
        const char *type, *subType, *manufacturer;
        uint32_t flags;
    };
    const std::vector<Case> cases{
        {sonora::audioComponentDescription(fourCC("aufx"), fourCC("abcd")), "aufx", "abcd", "AuKt", 2},
        {sonora::appleEffectDescription(fourCC("dely")), "aufx", "dely", "appl", 0},
        {sonora::musicEffectDescription(fourCC("mfx1")), "aumf", "mfx1", "AuKt", 2},
        {sonora::musicEffectDescription("mfx2"), "aumf", "mfx2", "AuKt", 2},
        {sonora::mixerDescription("mix1"), "aumx", "mix1", "AuKt", 2},
        {sonora::generatorDescription("osc1"), "augn", "osc1", "AuKt", 2},
        {sonora::instrumentDescription("smp1"), "aumu", "smp1", "AuKt", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.description.componentType, fourCC(c.type)) << c.subType;
        EXPECT_EQ(c.description.componentSubType, fourCC(c.subType)) << c.subType;
        EXPECT_EQ(c.description.componentManufacturer, fourCC(c.manufacturer)) << c.subType;
        EXPECT_EQ(c.description.componentFlags, c.flags) << c.subType;
        EXPECT_EQ(c.description.componentFlagsMask, 0u) << c.subType;
    }
    EXPECT_EQ(sonora::sonoraManufacturerCode(), 0x41754B74u);

    auto unit = std::make_shared<GainUnit>();
    EXPECT_EQ(sonora::parameter(*unit->parameterTree(), "gain"), unit->gain);
    EXPECT_EQ(sonora::parameter(*unit->parameterTree(), "nothing"), nullptr);
}
