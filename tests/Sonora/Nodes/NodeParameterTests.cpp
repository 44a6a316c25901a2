// A node parameter bound to an audio-unit parameter: clamped values, the Boolean view, ramps,
// touch gestures and automation recording.
#include "Sonora/Nodes/NodeParameter.h"
#include "Sonora/Nodes/Parameter.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/audiotoolbox/AUParameterTree.h"
#include "platform/foundation/OSLog.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace platform;
using namespace testnodes;
using sonora::NodeParameter;
using sonora::NodeParameterDef;

namespace {

NodeParameterDef gainDef(float lower = 0, float upper = 2) {
    return {"gain", "Gain", 0, 1, {lower, upper}, kAudioUnitParameterUnit_LinearGain, sonora::nodeParameterDefaultFlags};
}

// A parameter bound to the gain unit of a node, with the unit's limits set to lower…upper.
struct Bound {
    std::shared_ptr<GainNode> node = std::make_shared<GainNode>();
    std::shared_ptr<AUParameter> platformParameter;
    NodeParameter param;
    Bound(float lower, float upper, AudioUnitParameterOptions flags = sonora::nodeParameterDefaultFlags)
        : param(gainDef(lower, upper)) {
        platformParameter = AUParameterTree::createParameter("gain", "Gain", 0, lower, upper, 0, std::nullopt, flags);
        node->unit->setParameterTree(AUParameterTree::createTree({platformParameter}));
        param.associate(node->node);
    }
};

}  // namespace

TEST(NodeParameter, WritesAreClampedToThePlatformLimits) {
    Bound b(0, 1);
    ASSERT_EQ(b.param.parameter(), b.platformParameter);
    const std::vector<std::pair<float, float>> cases{{1.5f, 1.0f}, {-0.2f, 0.0f}, {0.25f, 0.25f}, {INFINITY, 1.0f}};
    for (auto [written, stored] : cases) {
        b.param.setValue(written);
        EXPECT_EQ(b.param.value(), stored) << written;
        EXPECT_EQ(b.platformParameter->value(), stored) << written;
    }
    LogSink::clear();
    b.param.setValue(NAN);
    EXPECT_EQ(b.param.value(), 1.0f);
    EXPECT_EQ(logCount("not a number"), 1u);
    EXPECT_EQ(b.param.range(), (sonora::ClosedRange<float>{0, 1}));
}

TEST(NodeParameter, BooleanView) {
    Bound b(0, 10);
    b.param.setValue(0.5f);
    EXPECT_FALSE(b.param.boolValue());
    b.param.setValue(0.51f);
    EXPECT_TRUE(b.param.boolValue());
    b.param.setBoolValue(true);
    EXPECT_EQ(b.param.value(), 1.0f);
    b.param.setBoolValue(false);
    EXPECT_EQ(b.param.value(), 0.0f);
}

TEST(NodeParameter, ValueReachesTheAudioUnitThroughItsHandle) {
    auto node = std::make_shared<GainNode>();
    NodeParameter param(gainDef());
    param.associate(node->node);
    ASSERT_EQ(param.parameter(), node->unit->gain);
    param.setValue(1.75f);
    EXPECT_EQ(node->unit->gain->value(), 1.75f);

    // A definition whose address the tree does not have stays unbound; using it logs.
    NodeParameterDef missingDef = gainDef();
    missingDef.address = 99;
    NodeParameter missing(missingDef);
    missing.associate(node->node);
    EXPECT_EQ(missing.parameter(), nullptr);
    LogSink::clear();
    missing.setValue(1);
    missing.ramp(1, 0.1f);
    EXPECT_EQ(missing.value(), 0.0f);
    EXPECT_EQ(logCount("is not bound"), 2u);

    // A node without a parameter tree.
    NodeParameter noTree(gainDef());
    LogSink::clear();
    noTree.associate(std::make_shared<AVAudioUnit>(std::make_shared<AUAudioUnit>()));
    EXPECT_EQ(logCount("No parameter tree."), 1u);
}

TEST(NodeParameter, RampsScheduleOnTheUnitWithTheDelayLimited) {
    struct Case {
        float delay;
        bool warns;
        int64_t delayFrames;
    };
    for (const Case& c : {Case{0.1f, true, 4096}, Case{0.05f, false, 2205}, Case{-1.0f, false, 0}}) {
        Bound b(0, 2);
        testing::internal::CaptureStdout();
        b.param.ramp(5.0f, 0.5f, c.delay);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed == "Warning: delay longer than 4096, setting to to 4096\n", c.warns) << printed;
        const auto events = b.node->unit->renderScheduledEvents(8192);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].eventSampleTime, c.delayFrames) << "relative to the cycle's first frame, 0";
        EXPECT_EQ(events[0].rampDurationSampleFrames, 22050u);
        EXPECT_EQ(events[0].value, 2.0f);
        EXPECT_EQ(b.platformParameter->value(), 2.0f) << "the applied value lands in the parameter";
    }

    Bound fixed(0, 1, kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable);
    fixed.param.setValue(0.3f);
    testing::internal::CaptureStdout();
    fixed.param.ramp(1.0f, 0.1f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: can't ramp parameter Gain\n");
    EXPECT_EQ(fixed.param.value(), 0.3f);
    EXPECT_TRUE(fixed.node->unit->renderScheduledEvents(512).empty());
}

TEST(NodeParameter, TouchAndAutomationRecordingArriveOnTheMainQueueInOrder) {
    Bound b(0, 2);
    b.param.setValue(0.75f);
    std::vector<AUParameterAutomationEvent> received;
    std::vector<bool> onMain;
    b.param.beginAutomationRecording([&](AUParameterAutomationEvent event) {
        received.push_back(event);
        onMain.push_back(QCoreApplication::instance()->thread() == QThread::currentThread());
    });
    ASSERT_TRUE(b.param.parameterObserverToken());
    b.param.beginTouch();
    std::thread([&] { b.param.endTouch(1.5f); }).join();
    for (int i = 0; i < 100 && received.size() < 2; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].eventType, AUParameterAutomationEventType::touch);
    EXPECT_EQ(received[0].value, 0.75f);
    EXPECT_EQ(received[1].eventType, AUParameterAutomationEventType::release);
    EXPECT_EQ(received[1].value, 1.5f);
    EXPECT_EQ(onMain, (std::vector<bool>{true, true}));

    b.param.endAutomationRecording();
    EXPECT_FALSE(b.param.parameterObserverToken());
    b.param.beginTouch(1.0f);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(received.size(), 2u);

    NodeParameter unbound(gainDef());
    unbound.beginTouch();  // nothing bound, no value: nothing happens
    unbound.endTouch(1.0f);
}

TEST(NodeParameter, ParameterWrapperConvertsItsValueType) {
    auto node = std::make_shared<GainNode>();
    sonora::Parameter<float> gain(gainDef());
    sonora::Parameter<bool> on(gainDef());
    gain.projectedValue()->associate(node->node);
    on.projectedValue()->associate(node->node);
    gain = 0.4f;
    EXPECT_FALSE(on.wrappedValue());
    gain += 0.2f;
    EXPECT_FLOAT_EQ(gain, 0.6f);
    EXPECT_TRUE(on);
    on = false;
    EXPECT_EQ(node->unit->gain->value(), 0.0f);
    auto replacement = std::make_shared<NodeParameter>(gainDef());
    gain.setProjectedValue(replacement);
    EXPECT_EQ(gain.projectedValue(), replacement);
}
