// A running connection to one audio device: a thread of the device calls back once per cycle with
// deinterleaved Float32 buffers to fill (output) or to read (input). The engine drives it.
#pragma once

#include "platform/coreaudio/AudioDevice.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

namespace detail {
class AudioDeviceBackend;
}

class AudioDeviceStream {
public:
    enum class Direction { output, input };

    // Runs on the device's real-time thread: it must not lock, allocate or block. For an output
    // stream it fills `buffers` (one buffer per channel, `frames` floats each); for an input
    // stream `buffers` holds what was captured. `hostTime` is the host time (CLOCK_MONOTONIC ns)
    // of the cycle's first frame, `sampleTime` the stream's frame count before this cycle.
    using IOCallback =
        std::function<void(AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime)>;

    explicit AudioDeviceStream(Direction direction = Direction::output);
    ~AudioDeviceStream();  // stops and joins the device thread
    AudioDeviceStream(const AudioDeviceStream&) = delete;
    AudioDeviceStream& operator=(const AudioDeviceStream&) = delete;

    Direction direction() const { return direction_; }

    // Chooses the device and the wanted rate, channel count and frames per cycle (0: the device's
    // own). Takes effect at the next start(); the null devices honour any positive request, real
    // ones fall back to their own values when they refuse.
    void open(AudioDeviceID deviceID, double sampleRate = 0, uint32_t channels = 0, uint32_t framesPerCycle = 0);

    // Opens the device and starts calling back. Throws NSErrorException when the device is
    // unknown or cannot open (the failing device always refuses); nothing runs then.
    void start(IOCallback callback);

    // Stops calling back and joins the device thread; no callback runs after it returns. Safe
    // when not running.
    void stop();

    bool isRunning() const { return running_.load(std::memory_order_acquire); }

    // The chosen device (the default output or input until open() chooses another).
    AudioDeviceID deviceID() const;

    // Makes another device the stream's device. While running the stream moves: it stops, opens
    // the new device with the same callback and wanted format and goes on; sample times continue.
    // Throws NSErrorException when the new device cannot open, and keeps (and restarts) the old one.
    void setDevice(AudioDeviceID deviceID);

    // The values in use while running (else those the next start would ask for).
    double sampleRate() const;
    uint32_t channelCount() const;
    uint32_t framesPerCycle() const;

    // Host time of the first frame of the first cycle since start() (0 when never started).
    uint64_t startHostTime() const { return startHostTime_.load(std::memory_order_acquire); }

    // Number of cycles whose callback took longer than a cycle lasts (null devices; a thread that
    // woke late is not counted), or that the device reported lost (real ones).
    uint64_t overrunCount() const { return overruns_.load(std::memory_order_relaxed); }

    // Writes everything a null output plays to a 32-bit float WAV file at the stream's rate and
    // channel count, from the next start() on; the file is complete once stop() returns, and
    // later starts capture no more. A device move ends the capture. Real devices ignore it.
    void startCapture(const std::filesystem::path& path);
    // Cancels a capture asked for but not yet started.
    void stopCapture();

private:
    void startLocked(IOCallback callback, int64_t firstSampleTime, bool capture);
    void stopLocked();

    const Direction direction_;
    mutable std::mutex mutex_;
    AudioDeviceID deviceID_;
    double wantedRate_ = 0;
    uint32_t wantedChannels_ = 0;
    uint32_t wantedFrames_ = 0;
    IOCallback callback_;
    std::filesystem::path capturePath_;
    std::unique_ptr<detail::AudioDeviceBackend> backend_;
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> startHostTime_{0};
    std::atomic<uint64_t> overruns_{0};
};

}  // namespace platform
