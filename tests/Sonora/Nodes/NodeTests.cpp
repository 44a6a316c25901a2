// The shared behaviour of every node: building the platform graph from the nodes' lists, undoing
// it, bypass, MIDI, parameters and the tree picture.
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Nodes/Node.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/avfaudio/AVAudioConnectionPoint.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace testnodes;
using sonora::Mixer;
using sonora::Node;

namespace {

// A node with internal connections: counts the calls.
class CompositeNode : public sonora::Node, public sonora::HasInternalConnections {
public:
    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<AVAudioNode> avAudioNode() const override { return node; }
    void makeInternalConnections() override { ++internalCalls; }
    std::shared_ptr<AVAudioPlayerNode> node = std::make_shared<AVAudioPlayerNode>();
    int internalCalls = 0;
};

sonora::MIDIEvent midi(std::vector<uint8_t> bytes) {
    sonora::MIDIEvent event;
    event.data = std::move(bytes);
    return event;
}

std::vector<AVAudioNodeBus> busesFeeding(AVAudioEngine& engine, const std::shared_ptr<AVAudioNode>& source,
                                         const std::shared_ptr<AVAudioNode>& destination) {
    std::vector<AVAudioNodeBus> buses;
    for (const auto& point : engine.outputConnectionPoints(source, 0))
        if (point.node() == destination) buses.push_back(point.bus());
    return buses;
}

}  // namespace

TEST(Node, MakeAVConnectionsBuildsTheGraphOnceAndMixerInputsTakeTheNextFreeBus) {
    auto engine = AVAudioEngine::make();
    auto a = constant(0.1f), b = constant(0.2f), c = constant(0.3f);
    auto mixer = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{a, b, c});
    engine->attach(mixer->avAudioNode());
    mixer->makeAVConnections();
    mixer->makeAVConnections();
    for (auto [node, bus] : std::vector<std::pair<std::shared_ptr<Node>, AVAudioNodeBus>>{{a, 0}, {b, 1}, {c, 2}}) {
        EXPECT_EQ(node->avAudioNode()->engine(), engine);
        EXPECT_EQ(busesFeeding(*engine, node->avAudioNode(), mixer->avAudioNode()), std::vector<AVAudioNodeBus>{bus});
    }
    EXPECT_EQ(mixer->avAudioNode()->inputFormat(0), sonora::Settings::audioFormat());

    // A plain node gets input i on bus i.
    auto effect = std::make_shared<GainNode>();
    auto x = constant(0.5f), y = constant(0.25f);
    effect->inputs = {x, y};
    engine->attach(effect->avAudioNode());
    effect->makeAVConnections();
    EXPECT_EQ(busesFeeding(*engine, x->avAudioNode(), effect->avAudioNode()), std::vector<AVAudioNodeBus>{0});
    EXPECT_EQ(busesFeeding(*engine, y->avAudioNode(), effect->avAudioNode()), std::vector<AVAudioNodeBus>{1});
}

TEST(Node, WithoutEngineOnlyInternalConnectionsAreMade) {
    auto composite = std::make_shared<CompositeNode>();
    auto mixer = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{composite});
    mixer->makeAVConnections();
    EXPECT_EQ(composite->node->engine(), nullptr);
    composite->makeAVConnections();
    EXPECT_EQ(composite->internalCalls, 1);
    mixer->disconnect();  // in no engine: nothing, and the inputs are not visited
    mixer->detach();
}

TEST(Node, InputsOfAnotherEngineStopTheConnectingWithALogLine) {
    auto first = AVAudioEngine::make(), second = AVAudioEngine::make();
    auto foreign = constant(0.1f), later = constant(0.2f);
    second->attach(foreign->avAudioNode());
    auto mixer = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{foreign, later});
    first->attach(mixer->avAudioNode());
    LogSink::clear();
    mixer->makeAVConnections();
    EXPECT_EQ(logCount("🛑 Error: Attempt to connect nodes from different engines."), 1u);
    EXPECT_EQ(foreign->avAudioNode()->engine(), second);
    EXPECT_EQ(later->avAudioNode()->engine(), nullptr);
}

TEST(Node, DetachAndDisconnectWalkTheSubGraph) {
    auto engine = AVAudioEngine::make();
    auto source = constant(0.1f);
    auto inner = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{source});
    auto outer = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{inner});
    engine->attach(outer->avAudioNode());
    outer->makeAVConnections();
    outer->disconnect();
    EXPECT_FALSE(engine->inputConnectionPoint(outer->avAudioNode(), 0));
    EXPECT_FALSE(engine->inputConnectionPoint(inner->avAudioNode(), 0));
    EXPECT_EQ(source->avAudioNode()->engine(), engine);
    outer->detach();
    for (auto node : std::vector<std::shared_ptr<Node>>{outer, inner, source})
        EXPECT_EQ(node->avAudioNode()->engine(), nullptr);
    outer->touchLastRenderTime();
}

TEST(Node, ACycleInTheListsIsRefusedNotFollowedForever) {
    auto engine = AVAudioEngine::make();
    auto a = std::make_shared<GainNode>(), b = std::make_shared<GainNode>();
    a->inputs = {b};
    b->inputs = {a};
    engine->attach(a->avAudioNode());
    LogSink::clear();
    a->makeAVConnections();
    EXPECT_GE(logCount("cycle"), 1u);
    EXPECT_FALSE(a->connectionTreeDescription().empty());
    a->detach();
    a->inputs.clear();  // the fixture's own cycle of owners
}

TEST(Node, BypassResetAndMIDIGoToTheAudioUnit) {
    auto node = std::make_shared<GainNode>();
    EXPECT_TRUE(node->isStarted());
    node->stop();
    EXPECT_FALSE(node->isStarted());
    EXPECT_TRUE(node->bypassed());
    EXPECT_TRUE(node->unit->shouldBypassEffect());
    node->play();
    EXPECT_TRUE(node->isStarted());
    node->setBypassed(true);
    EXPECT_FALSE(node->isStarted());
    node->start();

    node->reset();
    EXPECT_EQ(node->unit->resets, 1);
    Mixer mixer;
    mixer.reset();  // not an audio unit: nothing

    node->scheduleMIDIEvent(midi({0x90, 60, 100}), 16);
    node->scheduleMIDIEvent(midi({0x80, 60, 0}));
    node->scheduleMIDIEvent(midi({0xF8}), UINT64_MAX);
    EXPECT_EQ(node->unit->midiBytes, (std::vector<uint8_t>{0x90, 60, 100, 0x80, 60, 0, 0xF8}));
    ASSERT_EQ(node->unit->midiTimes.size(), 3u);
    EXPECT_EQ(node->unit->midiTimes[0], AUEventSampleTimeImmediate + 16);
    EXPECT_EQ(node->unit->midiTimes[1], AUEventSampleTimeImmediate);
    EXPECT_EQ(node->unit->midiTimes[2], INT64_MAX);
    mixer.scheduleMIDIEvent(midi({0x90, 60, 100}));  // no MIDI block: nothing
}

TEST(Node, ParametersAndTheirTree) {
    EXPECT_TRUE(GainNode().parameters().empty());
    GainNode plain;
    plain.setupParameterTree();
    ASSERT_TRUE(plain.unit->parameterTree());
    EXPECT_TRUE(plain.unit->parameterTree()->allParameters().empty());

    ParameterNode node;
    const auto params = node.parameters();
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(params[0]->def().identifier, "cutoff");
    EXPECT_EQ(params[1]->def().identifier, "enabled");
    node.setupParameterTree();
    const auto tree = node.node->auAudioUnit()->parameterTree();
    ASSERT_TRUE(tree);
    ASSERT_EQ(tree->allParameters().size(), 2u);
    EXPECT_EQ(tree->parameter(3), params[0]->parameter());
    EXPECT_EQ(tree->parameter(3)->minValue(), 20.0f);
    EXPECT_EQ(tree->parameter(7)->flags(), kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable);
    EXPECT_EQ(params[0]->avAudioNode(), node.node);

    // Bound: writes are clamped to the platform parameter and reach the unit.
    node.cutoff = 50000.0f;
    EXPECT_EQ(float(node.cutoff), 20000.0f);
    node.cutoff -= 19000.0f;
    EXPECT_EQ(node.cutoff.wrappedValue(), 1000.0f);
    node.enabled = true;
    EXPECT_TRUE(node.enabled);
    EXPECT_EQ(tree->parameter(7)->value(), 1.0f);
}

TEST(Node, TreeDescription) {
    auto a = constant(0.1f), b = constant(0.2f);
    auto mix = std::make_shared<Mixer>(std::vector<std::shared_ptr<Node>>{a, b}, "Mix");
    EXPECT_EQ(mix->connectionTreeDescription(),
              "Sonora | ↳Mixer(\"Mix\")\nSonora |  ↳SourceNode\nSonora |  ↳SourceNode");
    EXPECT_EQ(a->connectionTreeDescription(), "Sonora | ↳SourceNode");
}
