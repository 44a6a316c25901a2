#include "platform/coreaudio/AudioDevice.h"
#include "platform/coreaudio/AudioObjectFakeProvider.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <vector>

using namespace platform;

namespace {

const AudioObjectPropertyAddress kDevices{kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal,
                                          kAudioObjectPropertyElementMain};
const AudioObjectPropertyAddress kName{kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal, 0};
const AudioObjectPropertyAddress kInputStreams{kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput, 0};
const AudioObjectPropertyAddress kOutputStreams{kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeOutput, 0};

// The device list as a caller reads it: size first, then data; the two statuses or the IDs.
struct DeviceList {
    OSStatus sizeStatus = noErr;
    OSStatus dataStatus = noErr;
    std::vector<AudioDeviceID> ids;
};
DeviceList readDevices() {
    DeviceList result;
    uint32_t size = 0;
    result.sizeStatus = AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &kDevices, 0, nullptr, &size);
    if (result.sizeStatus != noErr) return result;
    result.ids.resize(size / sizeof(AudioDeviceID));
    if (result.ids.empty()) return result;
    result.dataStatus =
        AudioObjectGetPropertyData(kAudioObjectSystemObject, &kDevices, 0, nullptr, &size, result.ids.data());
    if (result.dataStatus != noErr) result.ids.clear();
    return result;
}

std::string readName(AudioObjectID device, OSStatus* status = nullptr) {
    CFStringRef name = nullptr;
    uint32_t size = sizeof name;
    const OSStatus s = AudioObjectGetPropertyData(device, &kName, 0, nullptr, &size, &name);
    if (status) *status = s;
    std::string text = CFStringGetStdString(name);
    CFRelease(name);
    return text;
}

// Sum of the channels of a stream configuration, or -1 on a failing query.
int readChannels(AudioObjectID device, const AudioObjectPropertyAddress& address) {
    uint32_t size = 0;
    if (AudioObjectGetPropertyDataSize(device, &address, 0, nullptr, &size) != noErr) return -1;
    std::vector<uint64_t> storage(size / 8 + 1);
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    if (AudioObjectGetPropertyData(device, &address, 0, nullptr, &size, list) != noErr) return -1;
    int total = 0;
    for (uint32_t i = 0; i < list->mNumberBuffers; ++i) total += int(list->mBuffers[i].mNumberChannels);
    return total;
}

class AudioObjectTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("TAMBERLO_AUDIO_DEVICE", "null", 1); }
};

}  // namespace

TEST_F(AudioObjectTest, SystemObjectListsTheNullDevices) {
    const DeviceList list = readDevices();
    ASSERT_EQ(list.sizeStatus, noErr);
    EXPECT_EQ(list.ids, (std::vector<AudioDeviceID>{kAudioDeviceNullOutput, kAudioDeviceNullInput}));
    EXPECT_EQ(readName(kAudioDeviceNullOutput), "Null Output");
    EXPECT_EQ(readName(kAudioDeviceNullInput), "Null Input");
    EXPECT_EQ(readChannels(kAudioDeviceNullOutput, kOutputStreams), 2);
    EXPECT_EQ(readChannels(kAudioDeviceNullOutput, kInputStreams), 0);
    EXPECT_EQ(readChannels(kAudioDeviceNullInput, kInputStreams), 2);

    AudioDeviceID defaultOutput = 0;
    uint32_t size = sizeof defaultOutput;
    const AudioObjectPropertyAddress dOut{kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal, 0};
    ASSERT_EQ(AudioObjectGetPropertyData(kAudioObjectSystemObject, &dOut, 0, nullptr, &size, &defaultOutput), noErr);
    EXPECT_EQ(defaultOutput, kAudioDeviceNullOutput);

    uint32_t frames = 0;
    size = sizeof frames;
    const AudioObjectPropertyAddress fsiz{kAudioDevicePropertyBufferFrameSize, kAudioObjectPropertyScopeGlobal, 0};
    ASSERT_EQ(AudioObjectGetPropertyData(kAudioDeviceNullOutput, &fsiz, 0, nullptr, &size, &frames), noErr);
    EXPECT_EQ(frames, 512u);
}

TEST_F(AudioObjectTest, RefusesUnknownObjectsSelectorsScopesAndShortStorage) {
    struct Case {
        const char* what;
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        OSStatus expected;
    };
    const Case cases[] = {
        {"unknown device", 77, kName, kAudioHardwareBadObjectError},
        {"unknown selector", kAudioDeviceNullOutput, {FourCC("zzzz"), kAudioObjectPropertyScopeGlobal, 0}, kAudioHardwareUnknownPropertyError},
        {"devices of a device", kAudioDeviceNullOutput, kDevices, kAudioHardwareUnknownPropertyError},
        {"streams in the global scope", kAudioDeviceNullOutput, {kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeGlobal, 0}, kAudioHardwareUnknownPropertyError},
        {"devices in the input scope", kAudioObjectSystemObject, {kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeInput, 0}, kAudioHardwareUnknownPropertyError},
    };
    for (const auto& c : cases) {
        uint32_t size = 0;
        EXPECT_EQ(AudioObjectGetPropertyDataSize(c.object, &c.address, 0, nullptr, &size), c.expected) << c.what;
        uint64_t storage[8] = {};
        size = sizeof storage;
        EXPECT_EQ(AudioObjectGetPropertyData(c.object, &c.address, 0, nullptr, &size, storage), c.expected) << c.what;
    }
    CFStringRef name = nullptr;
    uint32_t tooSmall = 4;
    EXPECT_EQ(AudioObjectGetPropertyData(kAudioDeviceNullOutput, &kName, 0, nullptr, &tooSmall, &name),
              kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, nullptr, 0, nullptr, &tooSmall), kAudio_ParamError);
}

TEST_F(AudioObjectTest, FakeProviderFailsSizeAndDataQueriesSeparately) {
    auto fake = std::make_shared<AudioObjectFakeProvider>();
    fake->devices = {{40, "Speakers", 0, 2}, {41, "Interface", 4, 6}, {42, "", 1, 0}};
    ScopedAudioObjectPropertyProvider scope(fake);

    EXPECT_EQ(readDevices().ids, (std::vector<AudioDeviceID>{40, 41, 42}));
    EXPECT_EQ(readName(41), "Interface");
    OSStatus status = -1;
    EXPECT_EQ(readName(42, &status), "") << "a device without a name answers a null text";
    EXPECT_EQ(status, noErr);
    EXPECT_EQ(readChannels(41, kInputStreams), 4);
    EXPECT_EQ(readChannels(41, kOutputStreams), 6);
    EXPECT_EQ(readChannels(40, kInputStreams), 0);

    fake->fail(AudioObjectFakeProvider::Query::size, OSStatus(FourCC("size")), kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    DeviceList list = readDevices();
    EXPECT_EQ(list.sizeStatus, OSStatus(FourCC("size")));
    EXPECT_TRUE(list.ids.empty());

    fake->clearFailures();
    fake->fail(AudioObjectFakeProvider::Query::data, OSStatus(FourCC("data")), kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    list = readDevices();
    EXPECT_EQ(list.sizeStatus, noErr) << "only the data query fails";
    EXPECT_EQ(list.dataStatus, OSStatus(FourCC("data")));

    fake->clearFailures();
    fake->fail(AudioObjectFakeProvider::Query::data, OSStatus(FourCC("slay")), 41, kAudioDevicePropertyStreamConfiguration);
    uint32_t size = 0;
    EXPECT_EQ(AudioObjectGetPropertyDataSize(41, &kOutputStreams, 0, nullptr, &size), noErr);
    EXPECT_EQ(readChannels(41, kOutputStreams), -1);
    EXPECT_EQ(readChannels(41, kInputStreams), -1);
    EXPECT_EQ(readChannels(40, kOutputStreams), 2) << "other devices are unaffected";
    EXPECT_EQ(readName(41), "Interface");
}

TEST_F(AudioObjectTest, ScopedProviderRestoresTheMachine) {
    {
        ScopedAudioObjectPropertyProvider scope(std::make_shared<AudioObjectFakeProvider>());
        EXPECT_TRUE(readDevices().ids.empty());
    }
    EXPECT_EQ(readDevices().ids.size(), 2u);
}
