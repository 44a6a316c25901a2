// The audio layer's process-wide settings: the connection format of nodes and the engine mixer,
// buffer lengths, the recording flag and the logging switch. Change them on the main thread before
// audio work begins; what is already connected keeps its format.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"

#include <array>
#include <cstdint>
#include <optional>

namespace platform {
class AVAudioEngine;
}

namespace sonora {

class Settings {
public:
    enum class BufferLength : int {
        shortest = 5,
        veryShort = 6,
        short_ = 7,
        medium = 8,
        long_ = 9,
        veryLong = 10,
        huge = 11,
        longest = 12,
    };
    static constexpr std::array<BufferLength, 8> allBufferLengths{
        BufferLength::shortest, BufferLength::veryShort, BufferLength::short_, BufferLength::medium,
        BufferLength::long_,    BufferLength::veryLong,  BufferLength::huge,   BufferLength::longest};
    // init(rawValue:): none outside 5 ... 12.
    static std::optional<BufferLength> bufferLengthFromRawValue(int rawValue);
    // init(samplesCount:): the case whose samplesCount equals the count, or none.
    static std::optional<BufferLength> bufferLengthFromSamplesCount(uint32_t samplesCount);
    static uint32_t samplesCount(BufferLength length);
    // samplesCount ÷ Settings::sampleRate(), in seconds.
    static double duration(BufferLength length);

    // The factory format: standard Float32 deinterleaved, 44100 Hz, 2 channels.
    static const platform::AVAudioFormat& defaultAudioFormat();
    static const platform::AVAudioFormat& audioFormat();
    static void setAudioFormat(const platform::AVAudioFormat& format);

    static double sampleRate();
    static void setSampleRate(double sampleRate);
    static uint32_t channelCount();
    static void setChannelCount(uint32_t channelCount);

    static BufferLength bufferLength();
    static void setBufferLength(BufferLength length);
    static BufferLength recordingBufferLength();
    static void setRecordingBufferLength(BufferLength length);
    static bool flushRecordingOnStop();
    static void setFlushRecordingOnStop(bool flush);
    static bool enableLogging();
    static void setEnableLogging(bool enable);

    // The output device's I/O buffer duration in seconds (0 when it cannot be read).
    static double getIOBufferDuration(platform::AVAudioEngine& engine);
};

}  // namespace sonora
