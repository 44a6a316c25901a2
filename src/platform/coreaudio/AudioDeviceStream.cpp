#include "platform/coreaudio/AudioDeviceStream.h"

#include "platform/coreaudio/AudioDeviceRegistry.h"
#include "platform/coreaudio/PortAudioHost.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <portaudio.h>
#include <sndfile.h>

#include <chrono>
#include <pthread.h>
#include <sched.h>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

namespace platform {

namespace {

const OSLog kAudioLog{"com.tamberlo.platform", "audio"};

NSError deviceError(OSStatus status, const std::string& text) { return makeOSStatusError(status, text); }

// One buffer per channel over preallocated storage, re-pointed before every cycle because a
// callback may move the pointers.
class ChannelBuffers {
public:
    ChannelBuffers(uint32_t channels, uint32_t frames)
        : channels_(channels), frames_(frames), samples_(size_t(channels) * frames),
          list_(AudioBufferListSize(channels) / sizeof(uint64_t) + 1) {}

    AudioBufferList* prepare(float* const* external = nullptr, bool zero = true) {
        auto* list = reinterpret_cast<AudioBufferList*>(list_.data());
        list->mNumberBuffers = channels_;
        for (uint32_t c = 0; c < channels_; ++c) {
            float* data = external ? external[c] : samples_.data() + size_t(c) * frames_;
            if (zero && !external) std::memset(data, 0, sizeof(float) * frames_);
            list->mBuffers[c] = AudioBuffer{1, uint32_t(sizeof(float) * frames_), data};
        }
        return list;
    }
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(list_.data()); }

private:
    uint32_t channels_;
    uint32_t frames_;
    std::vector<float> samples_;
    std::vector<uint64_t> list_;  // 8-byte aligned storage for the variable-length list
};

}  // namespace

class detail::AudioDeviceBackend {
public:
    virtual ~AudioDeviceBackend() = default;
    // Stops calling back; returns once no callback runs any more.
    virtual void halt() = 0;
    // The sample time the next cycle would have had.
    virtual int64_t nextSampleTime() const = 0;
    double rate = 0;
    uint32_t channels = 0;
    uint32_t frames = 0;
};

namespace {

// A device without hardware: a thread that wakes at T0 + k·N/rate on the host clock, so its cycles
// keep real-time pace; the output can be captured to a WAV file.
class NullBackend final : public detail::AudioDeviceBackend {
public:
    NullBackend(AudioDeviceStream::Direction direction, double sampleRate, uint32_t channelCount, uint32_t frameCount,
                AudioDeviceStream::IOCallback callback, int64_t firstSampleTime, const std::filesystem::path& capture,
                std::atomic<uint64_t>& startHostTime, std::atomic<uint64_t>& overruns)
        : direction_(direction), callback_(std::move(callback)), firstSampleTime_(firstSampleTime),
          buffers_(channelCount, frameCount), overruns_(overruns) {
        rate = sampleRate;
        channels = channelCount;
        frames = frameCount;
        if (!capture.empty() && direction == AudioDeviceStream::Direction::output) openCapture(capture);
        if (direction == AudioDeviceStream::Direction::input) signal_ = AudioDeviceRegistry::nullInputSignal();
        // The clock starts on the device thread itself, so thread start-up does not make cycle 0 late.
        std::promise<uint64_t> started;
        std::future<uint64_t> t0 = started.get_future();
        thread_ = std::thread([this, started = std::move(started)]() mutable {
            raisePriority();
            t0_ = mach_absolute_time();
            started.set_value(t0_);
            run();
        });
        startHostTime.store(t0.get(), std::memory_order_release);
    }

    ~NullBackend() override {
        halt();
        if (capture_) sf_close(capture_);
    }

    void halt() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    int64_t nextSampleTime() const override {
        return firstSampleTime_ + cycles_.load(std::memory_order_acquire) * int64_t(frames);
    }

private:
    // Like a sound card's callback thread, the null device asks for real-time scheduling so a
    // busy machine does not make it miss cycles; without the privilege it runs as it is.
    static void raisePriority() {
        sched_param param{};
        param.sched_priority = std::max(1, sched_get_priority_min(SCHED_FIFO) + 9);
        if (const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); error != 0) {
            // Once a process: its cycles may then be late on a busy machine.
            static std::atomic<bool> told{false};
            if (!told.exchange(true))
                os_log(kAudioLog, OSLogType::info,
                       std::string("The null device's thread runs without real-time scheduling: ") + std::strerror(error));
        }
    }

    uint64_t dueTime(int64_t cycle) const {
        return t0_ + uint64_t(std::llround(double(cycle) * double(frames) * 1e9 / rate));
    }

    void openCapture(const std::filesystem::path& path) {
        SF_INFO info{};
        info.samplerate = int(std::lround(rate));
        info.channels = int(channels);
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        capture_ = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!capture_) {
            os_log(kAudioLog, OSLogType::error, "Cannot write the capture file " + path.string() + ": " + sf_strerror(nullptr));
            return;
        }
        interleaved_.resize(size_t(channels) * frames);
    }

    void run() {
        for (int64_t cycle = 0;; ++cycle) {
            const uint64_t due = dueTime(cycle);
            {
                std::unique_lock lock(mutex_);
                const auto until = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(due));
                if (wake_.wait_until(lock, until, [this] { return stopping_; })) return;
            }
            AudioBufferList* list = buffers_.prepare();
            if (signal_) play(list);
            const uint64_t began = mach_absolute_time();
            callback_(frames, list, due, firstSampleTime_ + cycle * int64_t(frames));
            const uint64_t cost = mach_absolute_time() - began;
            cycles_.store(cycle + 1, std::memory_order_release);
            // An overrun is a callback that needs longer than its cycle. A thread that woke late
            // (the machine's scheduling) is not one: the cycles after it run at once until the
            // clock is caught up, as a device's buffer would absorb it.
            if (cost > dueTime(cycle + 1) - due) overruns_.fetch_add(1, std::memory_order_relaxed);
            if (capture_) writeCapture(list);
        }
    }

    // The null input's file, from its start, then silence.
    void play(AudioBufferList* list) {
        const size_t total = signal_->channels ? signal_->samples.size() / signal_->channels : 0;
        for (uint32_t i = 0; i < frames && played_ < total; ++i, ++played_)
            for (uint32_t c = 0; c < channels && c < signal_->channels; ++c)
                static_cast<float*>(list->mBuffers[c].mData)[i] = signal_->samples[played_ * signal_->channels + c];
    }

    void writeCapture(const AudioBufferList* list) {
        for (uint32_t c = 0; c < channels && c < list->mNumberBuffers; ++c) {
            const auto* data = static_cast<const float*>(list->mBuffers[c].mData);
            for (uint32_t i = 0; i < frames; ++i) interleaved_[size_t(i) * channels + c] = data ? data[i] : 0.f;
        }
        sf_writef_float(capture_, interleaved_.data(), frames);
    }

    AudioDeviceStream::Direction direction_;
    AudioDeviceStream::IOCallback callback_;
    int64_t firstSampleTime_;
    ChannelBuffers buffers_;
    std::atomic<uint64_t>& overruns_;
    uint64_t t0_ = 0;
    std::atomic<int64_t> cycles_{0};
    SNDFILE* capture_ = nullptr;
    std::vector<float> interleaved_;
    std::shared_ptr<const AudioDeviceRegistry::NullInputSignal> signal_;
    size_t played_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// A real device through PortAudio, deinterleaved Float32 with a fixed number of frames per cycle.
class PortAudioBackend final : public detail::AudioDeviceBackend {
public:
    PortAudioBackend(const AudioDevice& device, AudioDeviceStream::Direction direction, double wantedRate,
                     uint32_t wantedChannels, uint32_t wantedFrames, AudioDeviceStream::IOCallback callback,
                     int64_t firstSampleTime, std::atomic<uint64_t>& startHostTime, std::atomic<uint64_t>& overruns)
        : direction_(direction), callback_(std::move(callback)), firstSampleTime_(firstSampleTime),
          startHostTime_(startHostTime), overruns_(overruns) {
        const int index = detail::PortAudioHost::indexOf(device.deviceID);
        const PaDeviceInfo* info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr;
        if (!info) throw NSErrorException(deviceError(kAudioHardwareBadDeviceError, "No such audio device."));
        const bool output = direction == AudioDeviceStream::Direction::output;
        const uint32_t available = output ? device.outputChannels : device.inputChannels;
        channels = wantedChannels ? std::min(wantedChannels, available) : std::min(2u, available);
        frames = wantedFrames ? wantedFrames : device.bufferFrames;

        PaStreamParameters params{};
        params.device = index;
        params.channelCount = int(channels);
        params.sampleFormat = paFloat32 | paNonInterleaved;
        params.suggestedLatency = output ? info->defaultLowOutputLatency : info->defaultLowInputLatency;
        const PaStreamParameters* in = output ? nullptr : &params;
        const PaStreamParameters* out = output ? &params : nullptr;
        // The device's own rate when it refuses the wanted one; the engine converts.
        rate = wantedRate > 0 ? wantedRate : device.sampleRate;
        if (Pa_IsFormatSupported(in, out, rate) != paFormatIsSupported) rate = device.sampleRate;
        buffers_ = std::make_unique<ChannelBuffers>(channels, frames);

        PaError error = Pa_OpenStream(&stream_, in, out, rate, frames, paNoFlag, &PortAudioBackend::paCallback, this);
        if (error == paNoError) error = Pa_StartStream(stream_);
        if (error != paNoError) {
            if (stream_) Pa_CloseStream(stream_);
            stream_ = nullptr;
            throw NSErrorException(deviceError(kAudioHardwareUnspecifiedError, "The audio device \u201c" + device.name +
                                                                                   "\u201d could not be opened: " +
                                                                                   Pa_GetErrorText(error)));
        }
    }

    ~PortAudioBackend() override { halt(); }

    void halt() override {
        if (!stream_) return;
        Pa_StopStream(stream_);
        Pa_CloseStream(stream_);
        stream_ = nullptr;
    }

    int64_t nextSampleTime() const override { return firstSampleTime_ + framesDone_.load(std::memory_order_acquire); }

private:
    static int paCallback(const void* input, void* output, unsigned long frameCount,
                          const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags flags, void* user) {
        auto* self = static_cast<PortAudioBackend*>(user);
        const bool isOutput = self->direction_ == AudioDeviceStream::Direction::output;
        // PortAudio's stream clock may differ from the host clock: carry over only the offset.
        uint64_t hostTime = mach_absolute_time();
        if (timeInfo && timeInfo->currentTime > 0) {
            const double offset = (isOutput ? timeInfo->outputBufferDacTime : timeInfo->inputBufferAdcTime) -
                                  timeInfo->currentTime;
            if (std::isfinite(offset)) hostTime = uint64_t(int64_t(hostTime) + int64_t(offset * 1e9));
        }
        uint64_t expected = 0;
        self->startHostTime_.compare_exchange_strong(expected, hostTime);
        if (flags & (paOutputUnderflow | paInputOverflow)) self->overruns_.fetch_add(1, std::memory_order_relaxed);
        float* const* channelsData = static_cast<float* const*>(isOutput ? output : const_cast<void*>(input));
        AudioBufferList* list = self->buffers_->prepare(channelsData);
        if (isOutput)
            for (uint32_t c = 0; c < self->channels; ++c) std::memset(channelsData[c], 0, sizeof(float) * frameCount);
        for (uint32_t c = 0; c < list->mNumberBuffers; ++c)
            list->mBuffers[c].mDataByteSize = uint32_t(sizeof(float) * frameCount);
        const int64_t done = self->framesDone_.load(std::memory_order_relaxed);
        self->callback_(AVAudioFrameCount(frameCount), list, hostTime, self->firstSampleTime_ + done);
        self->framesDone_.store(done + int64_t(frameCount), std::memory_order_release);
        return paContinue;
    }

    AudioDeviceStream::Direction direction_;
    AudioDeviceStream::IOCallback callback_;
    int64_t firstSampleTime_;
    std::atomic<uint64_t>& startHostTime_;
    std::atomic<uint64_t>& overruns_;
    std::unique_ptr<ChannelBuffers> buffers_;
    std::atomic<int64_t> framesDone_{0};
    PaStream* stream_ = nullptr;
};

}  // namespace

AudioDeviceStream::AudioDeviceStream(Direction direction) : direction_(direction), deviceID_(kAudioObjectUnknown) {}

AudioDeviceStream::~AudioDeviceStream() { stop(); }

void AudioDeviceStream::open(AudioDeviceID deviceID, double sampleRate, uint32_t channels, uint32_t framesPerCycle) {
    std::lock_guard lock(mutex_);
    deviceID_ = deviceID;
    wantedRate_ = sampleRate > 0 && std::isfinite(sampleRate) ? sampleRate : 0;
    wantedChannels_ = channels;
    wantedFrames_ = framesPerCycle;
}

AudioDeviceID AudioDeviceStream::deviceID() const {
    std::lock_guard lock(mutex_);
    if (deviceID_ != kAudioObjectUnknown) return deviceID_;
    return direction_ == Direction::output ? AudioDeviceRegistry::defaultOutputDevice()
                                           : AudioDeviceRegistry::defaultInputDevice();
}

void AudioDeviceStream::start(IOCallback callback) {
    std::lock_guard lock(mutex_);
    if (backend_) return;  // already running
    startLocked(std::move(callback), 0, true);
}

void AudioDeviceStream::startLocked(IOCallback callback, int64_t firstSampleTime, bool capture) {
    if (!callback) throw NSErrorException(deviceError(kAudio_ParamError, "No render callback to start with."));
    const bool output = direction_ == Direction::output;
    const AudioDeviceID id = deviceID_ != kAudioObjectUnknown
                                 ? deviceID_
                                 : (output ? AudioDeviceRegistry::defaultOutputDevice()
                                           : AudioDeviceRegistry::defaultInputDevice());
    const std::optional<AudioDevice> device = AudioDeviceRegistry::device(id);
    if (!device)
        throw NSErrorException(deviceError(kAudioHardwareBadDeviceError, "No audio device with ID " + std::to_string(id) + "."));
    if (id == kAudioDeviceFailing)
        throw NSErrorException(deviceError(kAudioHardwareUnspecifiedError,
                                           "The audio device \u201c" + device->name + "\u201d could not be opened."));
    if ((output ? device->outputChannels : device->inputChannels) == 0)
        throw NSErrorException(deviceError(kAudioHardwareIllegalOperationError,
                                           "The audio device \u201c" + device->name + "\u201d has no " +
                                               (output ? "output" : "input") + " channels."));
    startHostTime_.store(0, std::memory_order_release);
    if (device->isNull) {
        backend_ = std::make_unique<NullBackend>(
            direction_, wantedRate_ > 0 ? wantedRate_ : device->sampleRate,
            wantedChannels_ ? wantedChannels_ : (output ? device->outputChannels : device->inputChannels),
            wantedFrames_ ? wantedFrames_ : device->bufferFrames, callback, firstSampleTime, capture ? capturePath_ : std::filesystem::path(),
            startHostTime_, overruns_);
    } else {
        backend_ = std::make_unique<PortAudioBackend>(*device, direction_, wantedRate_, wantedChannels_, wantedFrames_,
                                                      callback, firstSampleTime, startHostTime_, overruns_);
    }
    callback_ = std::move(callback);
    running_.store(true, std::memory_order_release);
}

void AudioDeviceStream::stop() {
    std::lock_guard lock(mutex_);
    stopLocked();
    capturePath_.clear();
}

void AudioDeviceStream::stopLocked() {
    if (!backend_) return;
    backend_->halt();
    backend_.reset();
    running_.store(false, std::memory_order_release);
}

void AudioDeviceStream::setDevice(AudioDeviceID deviceID) {
    std::lock_guard lock(mutex_);
    if (!AudioDeviceRegistry::device(deviceID))
        throw NSErrorException(deviceError(kAudioHardwareBadDeviceError, "No audio device with ID " + std::to_string(deviceID) + "."));
    if (!backend_) {
        deviceID_ = deviceID;
        return;
    }
    const AudioDeviceID previous = deviceID_;
    const int64_t next = backend_->nextSampleTime();
    stopLocked();
    deviceID_ = deviceID;
    try {
        startLocked(callback_, next, false);
    } catch (const NSErrorException&) {
        deviceID_ = previous;
        try {
            startLocked(callback_, next, false);
        } catch (const NSErrorException& e) {
            os_log(kAudioLog, OSLogType::error, "The previous audio device could not restart: " + e.error().description());
        }
        throw;
    }
}

double AudioDeviceStream::sampleRate() const {
    std::lock_guard lock(mutex_);
    if (backend_) return backend_->rate;
    if (wantedRate_ > 0) return wantedRate_;
    const auto device = AudioDeviceRegistry::device(deviceID_ ? deviceID_ : (direction_ == Direction::output
                                                                                  ? AudioDeviceRegistry::defaultOutputDevice()
                                                                                  : AudioDeviceRegistry::defaultInputDevice()));
    return device ? device->sampleRate : 44100;
}

uint32_t AudioDeviceStream::channelCount() const {
    std::lock_guard lock(mutex_);
    if (backend_) return backend_->channels;
    if (wantedChannels_) return wantedChannels_;
    const bool output = direction_ == Direction::output;
    const auto device = AudioDeviceRegistry::device(
        deviceID_ ? deviceID_ : (output ? AudioDeviceRegistry::defaultOutputDevice() : AudioDeviceRegistry::defaultInputDevice()));
    if (!device) return 2;
    const uint32_t n = output ? device->outputChannels : device->inputChannels;
    return device->isNull ? n : std::min(2u, n);
}

uint32_t AudioDeviceStream::framesPerCycle() const {
    std::lock_guard lock(mutex_);
    if (backend_) return backend_->frames;
    if (wantedFrames_) return wantedFrames_;
    return 512;
}

void AudioDeviceStream::startCapture(const std::filesystem::path& path) {
    std::lock_guard lock(mutex_);
    capturePath_ = path;
}

void AudioDeviceStream::stopCapture() {
    std::lock_guard lock(mutex_);
    capturePath_.clear();
}

}  // namespace platform
