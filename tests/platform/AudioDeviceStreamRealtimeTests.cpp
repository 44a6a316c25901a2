#include "platform/audiotoolbox/AUOutputUnit.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/coreaudio/AudioDeviceRegistry.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/foundation/HostTime.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

using namespace platform;

namespace {

// What the device thread saw in each cycle; filled without allocating.
struct CycleLog {
    static constexpr size_t kMax = 256;
    std::array<uint64_t, kMax> hostTimes{};
    std::array<uint64_t, kMax> wakeTimes{};
    std::array<int64_t, kMax> sampleTimes{};
    std::array<uint32_t, kMax> frames{};
    std::array<uint32_t, kMax> channels{};
    std::array<float, kMax> peaks{};
    std::atomic<size_t> count{0};

    AudioDeviceStream::IOCallback recorder(bool fillRamp = false) {
        return [this, fillRamp](AVAudioFrameCount n, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime) {
            const uint64_t now = mach_absolute_time();
            const size_t k = count.load(std::memory_order_relaxed);
            float peak = 0;
            for (uint32_t c = 0; c < buffers->mNumberBuffers; ++c) {
                auto* data = static_cast<float*>(buffers->mBuffers[c].mData);
                for (uint32_t i = 0; i < n; ++i) {
                    peak = std::max(peak, std::fabs(data[i]));
                    // A signal that names its own frame and channel, for the capture check.
                    if (fillRamp) data[i] = float((sampleTime + i) % 1000) / 1000.f * (c == 0 ? 1.f : -1.f);
                }
            }
            if (k < kMax) {
                hostTimes[k] = hostTime;
                wakeTimes[k] = now;
                sampleTimes[k] = sampleTime;
                frames[k] = n;
                channels[k] = buffers->mNumberBuffers;
                peaks[k] = peak;
                count.store(k + 1, std::memory_order_release);
            }
        };
    }
};

class AudioDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("TAMBERLO_AUDIO_DEVICE", "null", 1); }
    void TearDown() override { setenv("TAMBERLO_AUDIO_DEVICE", "null", 1); }
};

}  // namespace

TEST_F(AudioDeviceTest, RegistryListsTheNullDevices) {
    const auto devices = AudioDeviceRegistry::devices();
    ASSERT_EQ(devices.size(), 2u) << "only the null devices while they are forced";
    EXPECT_EQ(devices[0].name, "Null Output");
    EXPECT_EQ(devices[0].outputChannels, 2u);
    EXPECT_EQ(devices[0].inputChannels, 0u);
    EXPECT_EQ(devices[0].sampleRate, 44100);
    EXPECT_EQ(devices[0].bufferFrames, 512u);
    EXPECT_EQ(devices[1].name, "Null Input");
    EXPECT_EQ(devices[1].inputChannels, 2u);
    EXPECT_EQ(AudioDeviceRegistry::defaultOutputDevice(), kAudioDeviceNullOutput);
    EXPECT_EQ(AudioDeviceRegistry::defaultInputDevice(), kAudioDeviceNullInput);
    EXPECT_FALSE(AudioDeviceRegistry::device(999));

    setenv("TAMBERLO_AUDIO_DEVICE", "fail", 1);
    EXPECT_EQ(AudioDeviceRegistry::defaultOutputDevice(), kAudioDeviceFailing);
}

TEST_F(AudioDeviceTest, NullOutputKeepsRealTimePace) {
    CycleLog log;
    AudioDeviceStream stream;
    EXPECT_EQ(stream.deviceID(), kAudioDeviceNullOutput);
    stream.start(log.recorder());
    EXPECT_TRUE(stream.isRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint64_t stopCalled = mach_absolute_time();
    stream.stop();
    const uint64_t stopped = mach_absolute_time();
    EXPECT_FALSE(stream.isRunning());

    // Cycle k is due at t0 + k·512/44100 s. However long the sleep took on a loaded machine, every
    // cycle due before stop() was called has run (but for the few a late thread is still catching
    // up on), and none due after it returned.
    const size_t cycles = log.count.load();
    const uint64_t t0 = stream.startHostTime();
    const double cycleMs = 512 * 1e3 / 44100;
    const auto dueBy = [&](uint64_t t) { return size_t(double(t - t0) / 1e6 / cycleMs) + 1; };
    EXPECT_GE(cycles, 20u);  // about 26 in 0.3 s
    EXPECT_GE(cycles + 4, dueBy(stopCalled));
    EXPECT_LE(cycles, dueBy(stopped));
    size_t late = 0;
    for (size_t k = 0; k < cycles; ++k) {
        EXPECT_EQ(log.sampleTimes[k], int64_t(k) * 512);
        EXPECT_EQ(log.frames[k], 512u);
        EXPECT_EQ(log.channels[k], 2u);
        EXPECT_EQ(log.hostTimes[k], t0 + uint64_t(std::llround(double(k) * 512 * 1e9 / 44100))) << k;
        const double lateMs = (double(log.wakeTimes[k]) - double(log.hostTimes[k])) / 1e6;
        EXPECT_GE(lateMs, 0) << "cycle " << k << " ran before its time";
        // A busy machine delays a wake-up by a few milliseconds; a stalled thread by far more.
        EXPECT_LT(lateMs, 4 * cycleMs) << "cycle " << k << " stalled";
        if (lateMs > 2.0) ++late;
    }
    // Mostly within 2 ms of its time; a loaded machine may delay some wake-ups more.
    EXPECT_LE(late, cycles / 4) << late << " of " << cycles << " cycles woke more than 2 ms late";
    // Stopped means stopped: no callback after stop() returned.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(log.count.load(), cycles);
}

// One callback that takes two and a half cycles is one overrun; the cycles that then wake late
// to catch the clock up render in no time and are none, and the pace is kept.
TEST_F(AudioDeviceTest, NullOutputCountsOnlyCallbacksThatOutlastTheirCycle) {
    const double cycleMs = 512 * 1e3 / 44100;
    std::atomic<int> calls{0};
    std::atomic<int64_t> nextSampleTime{0};
    std::atomic<bool> contiguous{true};
    AudioDeviceStream stream;
    stream.start([&](AVAudioFrameCount n, AudioBufferList*, uint64_t, int64_t sampleTime) {
        if (sampleTime != nextSampleTime.load()) contiguous = false;
        nextSampleTime = sampleTime + n;
        if (calls.fetch_add(1) == 3)
            std::this_thread::sleep_for(std::chrono::microseconds(int64_t(2.5 * cycleMs * 1000)));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint64_t stopCalled = mach_absolute_time();
    stream.stop();
    const uint64_t stopped = mach_absolute_time();
    EXPECT_EQ(stream.overrunCount(), 1u);
    EXPECT_TRUE(contiguous.load());
    // The pace is kept: every cycle due before stop() was called has run (but for the few a late
    // thread is still catching up on), however long the sleep took, and none due after it returned.
    const uint64_t t0 = stream.startHostTime();
    const auto dueBy = [&](uint64_t t) { return int(double(t - t0) / 1e6 / cycleMs) + 1; };
    EXPECT_GE(calls.load() + 4, dueBy(stopCalled));
    EXPECT_LE(calls.load(), dueBy(stopped));
}

TEST_F(AudioDeviceTest, NullOutputCapturesWhatItPlays) {
    testsupport::ScratchDir dir;
    const auto path = dir / "capture.wav";
    CycleLog log;
    AudioDeviceStream stream;
    stream.open(kAudioDeviceNullOutput, 48000, 2, 256);
    stream.startCapture(path);
    stream.start(log.recorder(/*fillRamp=*/true));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stream.stop();
    const size_t cycles = log.count.load();
    ASSERT_GT(cycles, 5u);

    auto file = AVAudioFile::forReading(path);
    EXPECT_EQ(file->fileFormat().sampleRate(), 48000);
    EXPECT_EQ(file->fileFormat().channelCount(), 2u);
    ASSERT_EQ(file->length(), AVAudioFramePosition(cycles * 256));
    auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), AVAudioFrameCount(file->length()));
    file->read(*buffer);
    const float* left = buffer->floatChannelData()[0];
    const float* right = buffer->floatChannelData()[1];
    for (AVAudioFrameCount i = 0; i < buffer->frameLength(); ++i) {
        const float v = float(i % 1000) / 1000.f;
        ASSERT_EQ(left[i], v) << i;
        ASSERT_EQ(right[i], -v) << i;
    }

    // A later start without a new request captures nothing more.
    log.count = 0;
    stream.start(log.recorder());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stream.stop();
    EXPECT_EQ(AVAudioFile::forReading(path)->length(), AVAudioFramePosition(cycles * 256));
}

TEST_F(AudioDeviceTest, NullInputGivesStereoSilence) {
    CycleLog log;
    AudioDeviceStream input(AudioDeviceStream::Direction::input);
    EXPECT_EQ(input.deviceID(), kAudioDeviceNullInput);
    EXPECT_EQ(input.sampleRate(), 44100);
    EXPECT_EQ(input.channelCount(), 2u);
    input.start(log.recorder());
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    input.stop();
    ASSERT_GT(log.count.load(), 1u);
    for (size_t k = 0; k < log.count.load(); ++k) {
        EXPECT_EQ(log.channels[k], 2u);
        EXPECT_EQ(log.peaks[k], 0.f);
    }
}

TEST_F(AudioDeviceTest, DevicesThatCannotOpenThrow) {
    struct Case {
        const char* what;
        AudioDeviceStream::Direction direction;
        AudioDeviceID device;
        OSStatus code;
    };
    const Case cases[] = {
        {"the failing device", AudioDeviceStream::Direction::output, kAudioDeviceFailing, kAudioHardwareUnspecifiedError},
        {"an unknown device", AudioDeviceStream::Direction::output, 999, kAudioHardwareBadDeviceError},
        {"output on an input-only device", AudioDeviceStream::Direction::output, kAudioDeviceNullInput,
         kAudioHardwareIllegalOperationError},
        {"input on an output-only device", AudioDeviceStream::Direction::input, kAudioDeviceNullOutput,
         kAudioHardwareIllegalOperationError},
    };
    for (const auto& c : cases) {
        CycleLog log;
        AudioDeviceStream stream(c.direction);
        stream.open(c.device);
        try {
            stream.start(log.recorder());
            ADD_FAILURE() << c.what << " started";
        } catch (const NSErrorException& e) {
            EXPECT_EQ(e.error().domain, NSOSStatusErrorDomain) << c.what;
            EXPECT_EQ(e.error().code, c.code) << c.what;
            EXPECT_FALSE(e.error().localizedDescription.empty());
        }
        EXPECT_FALSE(stream.isRunning()) << c.what;
    }

    // The environment can make the default output the failing one.
    setenv("TAMBERLO_AUDIO_DEVICE", "fail", 1);
    AudioDeviceStream stream;
    CycleLog log;
    EXPECT_THROW(stream.start(log.recorder()), NSErrorException);
}

TEST_F(AudioDeviceTest, OutputUnitMovesTheRunningStream) {
    auto stream = std::make_shared<AudioDeviceStream>();
    auto unit = std::make_shared<AUOutputUnit>(stream);
    CycleLog log;
    stream->start(log.recorder());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    AudioDeviceID current = 0;
    uint32_t size = sizeof current;
    ASSERT_EQ(AudioUnitGetProperty(unit->audioUnit(), kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                                   &current, &size),
              noErr);
    EXPECT_EQ(current, kAudioDeviceNullOutput);
    uint32_t frames = 0;
    size = sizeof frames;
    ASSERT_EQ(AudioUnitGetProperty(unit->audioUnit(), kAudioUnitProperty_DeviceBufferFrameSize, kAudioUnitScope_Global,
                                   0, &frames, &size),
              noErr);
    EXPECT_EQ(frames, 512u);

    // A device that cannot open is refused; the stream keeps playing on the old one.
    const AudioDeviceID failing = kAudioDeviceFailing;
    EXPECT_EQ(AudioUnitSetProperty(unit->audioUnit(), kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                                   &failing, sizeof failing),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_TRUE(stream->isRunning());
    EXPECT_EQ(stream->deviceID(), kAudioDeviceNullOutput);

    // Moving to a device keeps the sample times going on.
    const AudioDeviceID null = kAudioDeviceNullOutput;
    EXPECT_EQ(AudioUnitSetProperty(unit->audioUnit(), kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                                   &null, sizeof null),
              noErr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stream->stop();
    const size_t cycles = log.count.load();
    ASSERT_GT(cycles, 4u);
    for (size_t k = 0; k < cycles; ++k) EXPECT_EQ(log.sampleTimes[k], int64_t(k) * 512) << k;
}
