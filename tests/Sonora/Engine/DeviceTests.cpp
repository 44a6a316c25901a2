// Audio devices through the system's property queries (a fake system here), the engine's current
// device and the I/O buffer duration.
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Hardware/Device.h"
#include "Sonora/Internals/Hardware/DeviceUtils.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/coreaudio/AudioDevice.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/coreaudio/AudioObjectFakeProvider.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace platform;
using sonora::AudioEngine;
using sonora::Device;
using sonora::DeviceUtils;

namespace {

std::shared_ptr<AudioObjectFakeProvider> fakeSystem() {
    auto fake = std::make_shared<AudioObjectFakeProvider>();
    fake->devices = {{10, "Speakers", 0, 2}, {11, "Interface", 4, 6}, {12, "Broken", 2, 2}, {13, "", 1, 0}};
    fake->fail(AudioObjectFakeProvider::Query::data, kAudioHardwareUnspecifiedError, 12,
               kAudioDevicePropertyStreamConfiguration);
    return fake;
}

std::vector<AudioDeviceID> ids(const std::vector<Device>& devices) {
    std::vector<AudioDeviceID> result;
    for (const auto& d : devices) result.push_back(d.deviceID);
    return result;
}

}  // namespace

TEST(Devices, ListsFilterByChannelsAndCarryBothCounts) {
    ScopedAudioObjectPropertyProvider scope(fakeSystem());
    EXPECT_EQ(DeviceUtils::devices(), (std::vector<AudioDeviceID>{10, 11, 12, 13}));
    EXPECT_EQ(ids(AudioEngine::outputDevices()), (std::vector<AudioDeviceID>{10, 11}));
    EXPECT_EQ(ids(AudioEngine::inputDevices()), (std::vector<AudioDeviceID>{11, 13}));

    const auto all = AudioEngine::allDevices();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0], Device("Speakers", 0, 2, 10));
    EXPECT_EQ(all[1], Device("Interface", 4, 6, 11));
    EXPECT_EQ(all[2], Device("Broken", 0, 0, 12));
    EXPECT_EQ(all[3], Device("", 1, 0, 13));
    EXPECT_EQ(AudioEngine::outputDevices()[0], all[0]);
    EXPECT_EQ(all[1].debugDescription(), "<Device: Interface (11)>");
}

TEST(Devices, FailingQueriesGiveEmptyResultsWithALogLine) {
    struct Case {
        AudioObjectFakeProvider::Query query;
        const char* message;
    };
    for (const Case& c : {Case{AudioObjectFakeProvider::Query::size, "Error -50 from AudioObjectGetPropertyDataSize"},
                          Case{AudioObjectFakeProvider::Query::data, "Error -50 from AudioObjectGetPropertyData"}}) {
        auto fake = fakeSystem();
        fake->fail(c.query, -50, kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
        ScopedAudioObjectPropertyProvider scope(fake);
        LogSink::clear();
        EXPECT_TRUE(DeviceUtils::devices().empty());
        EXPECT_TRUE(AudioEngine::allDevices().empty());
        EXPECT_EQ(testnodes::logCount(c.message), 2u) << c.message;
    }
    auto fake = fakeSystem();
    fake->fail(AudioObjectFakeProvider::Query::size, -1, 11);
    fake->fail(AudioObjectFakeProvider::Query::data, -1, 11, kAudioObjectPropertyName);
    ScopedAudioObjectPropertyProvider scope(fake);
    EXPECT_EQ(DeviceUtils::name(11), "");
    EXPECT_EQ(DeviceUtils::inputChannelCount(11), 0);
    EXPECT_EQ(DeviceUtils::outputChannelCount(11), 0);
    EXPECT_EQ(DeviceUtils::name(99), "");
}

TEST(Devices, EqualityAndHashingSeeEveryField) {
    ScopedAudioObjectPropertyProvider scope(fakeSystem());
    const Device named("Speakers", 10);
    const Device read(10);
    EXPECT_EQ(read.name, "Speakers");
    EXPECT_NE(named, read);
    EXPECT_FALSE(named.inputChannelCount);
    EXPECT_EQ(read, Device("Speakers", 0, 2, 10));
    std::unordered_set<Device> set{named, read, Device(10)};
    EXPECT_EQ(set.size(), 2u);
}

TEST(Devices, TheEnginePlaysThroughTheChosenDevice) {
    AudioEngine engine;
    const Device current = engine.device();
    EXPECT_EQ(current, Device("Null Output", 0, 2, kAudioDeviceNullOutput));

    // Only the identifier of the given record counts.
    engine.setDevice(Device("Some other name", kAudioDeviceNullOutput));
    EXPECT_EQ(engine.device().deviceID, kAudioDeviceNullOutput);

    engine.setOutput(testnodes::constant(0.1f));
    engine.start();
    LogSink::clear();
    engine.setDevice(Device("Failing", kAudioDeviceFailing));
    EXPECT_EQ(testnodes::logCount("setDevice error: "), 1u);
    EXPECT_EQ(engine.device().deviceID, kAudioDeviceNullOutput);
    EXPECT_TRUE(engine.avEngine()->isRunning());
    engine.stop();
}

TEST(Devices, IOBufferDurationIsFramesOverTheOutputRate) {
    auto engine = AVAudioEngine::make();
    EXPECT_DOUBLE_EQ(sonora::Settings::getIOBufferDuration(*engine), 512.0 / 44100.0);
    engine->outputNode()->deviceStream()->open(kAudioDeviceNullOutput, 48000, 2, 512);
    EXPECT_DOUBLE_EQ(sonora::Settings::getIOBufferDuration(*engine), 512.0 / 48000.0);
}
