#include "Sonora/Internals/Settings/Settings.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"

#include <atomic>
#include <mutex>

namespace sonora {

using platform::AVAudioFormat;

namespace {
struct State {
    AVAudioFormat audioFormat = Settings::defaultAudioFormat();
    std::atomic<Settings::BufferLength> bufferLength{Settings::BufferLength::veryLong};
    std::atomic<Settings::BufferLength> recordingBufferLength{Settings::BufferLength::veryLong};
    std::atomic<bool> flushRecordingOnStop{false};
};
State& state() {
    static State s;
    return s;
}
// Read on every log call from any thread: kept apart so that logging never builds the format.
std::atomic<bool> loggingEnabled{true};
}  // namespace

std::optional<Settings::BufferLength> Settings::bufferLengthFromRawValue(int rawValue) {
    if (rawValue < 5 || rawValue > 12) return std::nullopt;
    return static_cast<BufferLength>(rawValue);
}

std::optional<Settings::BufferLength> Settings::bufferLengthFromSamplesCount(uint32_t count) {
    for (BufferLength length : allBufferLengths)
        if (samplesCount(length) == count) return length;
    return std::nullopt;
}

uint32_t Settings::samplesCount(BufferLength length) { return 1u << static_cast<int>(length); }

double Settings::duration(BufferLength length) { return double(samplesCount(length)) / sampleRate(); }

const AVAudioFormat& Settings::defaultAudioFormat() {
    static const AVAudioFormat format = AVAudioFormat::standardFormatWithSampleRate(44100, 2);
    return format;
}

const AVAudioFormat& Settings::audioFormat() { return state().audioFormat; }
void Settings::setAudioFormat(const AVAudioFormat& format) { state().audioFormat = format; }

double Settings::sampleRate() { return audioFormat().sampleRate(); }
void Settings::setSampleRate(double rate) {
    setAudioFormat(AVAudioFormat::standardFormatWithSampleRate(rate, channelCount()));
}

uint32_t Settings::channelCount() { return audioFormat().channelCount(); }
void Settings::setChannelCount(uint32_t count) {
    setAudioFormat(AVAudioFormat::standardFormatWithSampleRate(sampleRate(), count));
}

Settings::BufferLength Settings::bufferLength() { return state().bufferLength.load(); }
void Settings::setBufferLength(BufferLength length) { state().bufferLength.store(length); }
Settings::BufferLength Settings::recordingBufferLength() { return state().recordingBufferLength.load(); }
void Settings::setRecordingBufferLength(BufferLength length) { state().recordingBufferLength.store(length); }
bool Settings::flushRecordingOnStop() { return state().flushRecordingOnStop.load(); }
void Settings::setFlushRecordingOnStop(bool flush) { state().flushRecordingOnStop.store(flush); }
bool Settings::enableLogging() { return loggingEnabled.load(std::memory_order_relaxed); }
void Settings::setEnableLogging(bool enable) { loggingEnabled.store(enable, std::memory_order_relaxed); }

double Settings::getIOBufferDuration(platform::AVAudioEngine& engine) {
    const auto output = engine.outputNode();
    const platform::AudioUnit unit = output ? output->audioUnit() : nullptr;
    if (!unit) return 0.0;
    const double sampleRate = output->outputFormat(0).sampleRate();
    uint32_t frames = 0;
    uint32_t size = sizeof(frames);
    const platform::OSStatus status = platform::AudioUnitGetProperty(
        unit, platform::kAudioUnitProperty_DeviceBufferFrameSize, platform::kAudioUnitScope_Global, 0, &frames, &size);
    if (status != platform::noErr) {
        Log({"error in get ioBufferDuration status " + std::to_string(status)}, OSLog::settings(), OSLogType::error);
        frames = 0;
    }
    return double(frames) / sampleRate;
}

}  // namespace sonora
