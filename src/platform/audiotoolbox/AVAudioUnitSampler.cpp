#include "platform/audiotoolbox/AVAudioUnitSampler.h"

#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace platform {

using detail::SamplerInstrument;

// The unit: holds the playing instrument, hands it the cycle's MIDI at each event's frame and
// applies gain, pan and tuning. A new instrument is published by one pointer exchange; the one it
// replaces is freed on the main thread once the render thread has let go of it.
class AVAudioUnitSampler::Unit final : public AUAudioUnit {
public:
    explicit Unit(const AudioComponentDescription& description) : AUAudioUnit(description, 0, 1) {
        audioUnitName = "AUSampler";
        midi_ = scheduleMIDIEventBlock();
        setInternalRenderBlock([this](AudioUnitRenderActionFlags*, const AudioTimeStamp* timestamp,
                                      AUAudioFrameCount frames, NSInteger, AudioBufferList* output,
                                      const AURenderEvent* events, AURenderPullInputBlock) {
            return renderCycle(timestamp, frames, output, events);
        });
    }

    ~Unit() override { delete instrument_.exchange(nullptr); }

    double outputRate() const {
        const auto bus = outputBusses()[0];
        return bus && bus->format().isValid() ? bus->format().sampleRate() : 44100.0;
    }

    // Main thread.
    void publish(std::unique_ptr<SamplerInstrument> instrument) {
        SamplerInstrument* old = instrument_.exchange(instrument.release(), std::memory_order_seq_cst);
        if (old) retired_.emplace_back(old);
        freeRetired();
    }

    void send(const uint8_t* bytes, NSInteger length) { midi_(AUEventSampleTimeImmediate, 0, length, bytes); }

    bool allocateRenderResources(NSError* outError) override {
        if (!AUAudioUnit::allocateRenderResources(outError)) return false;
        const size_t frames = maximumFramesToRender();
        left_.assign(frames, 0.0f);
        right_.assign(frames, 0.0f);
        freeRetired();
        if (SamplerInstrument* instrument = instrument_.load()) instrument->setSampleRate(outputRate());
        appliedTo_ = nullptr;
        return true;
    }

    // Through the queue, so it lands between the messages sent before and after it.
    void reset() override {
        const uint8_t systemReset = 0xFF;
        send(&systemReset, 1);
        if (resetHandler) resetHandler();
    }

    std::atomic<float> gainDB{0.0f};
    std::atomic<float> pan{0.0f};
    std::atomic<float> tuning{0.0f};

private:
    AUAudioUnitStatus renderCycle(const AudioTimeStamp* timestamp, AUAudioFrameCount frames, AudioBufferList* output,
                                  const AURenderEvent* events) {
        SamplerInstrument* instrument = acquire();
        float* left = left_.data();
        float* right = right_.data();
        if (instrument) applyTuning(instrument);
        const auto start = AUEventSampleTime(timestamp->mSampleTime);
        uint32_t done = 0;
        for (const AURenderEvent* e = events; e; e = e->head.next) {
            if (e->head.eventType != AURenderEventType::MIDI) continue;
            const AUEventSampleTime offset = std::clamp<AUEventSampleTime>(e->head.eventSampleTime - start, done, frames);
            if (!instrument) continue;
            if (offset > done) {
                instrument->render(left + done, right + done, uint32_t(offset) - done);
                done = uint32_t(offset);
            }
            instrument->handleMIDI(e->MIDI.data, std::min<size_t>(e->MIDI.length, 3));
            if (e->MIDI.data[0] == 0xFF) appliedTo_ = nullptr;  // the reset cleared the tuning too
            if (instrument) applyTuning(instrument);
        }
        if (instrument) {
            if (done < frames) instrument->render(left + done, right + done, frames - done);
        } else {
            std::fill_n(left, frames, 0.0f);
            std::fill_n(right, frames, 0.0f);
        }
        release();
        writeOutput(frames, output);
        return noErr;
    }

    void applyTuning(SamplerInstrument* instrument) {
        const float cents = tuning.load(std::memory_order_relaxed);
        if (appliedTo_ == instrument && appliedTuning_ == cents) return;
        instrument->setTuning(cents);
        appliedTo_ = instrument;
        appliedTuning_ = cents;
    }

    void writeOutput(AUAudioFrameCount frames, AudioBufferList* output) {
        const float gain = std::pow(10.0f, gainDB.load(std::memory_order_relaxed) / 20.0f);
        const float p = pan.load(std::memory_order_relaxed) / 100.0f;
        const float leftGain = gain * (p > 0 ? 1.0f - p : 1.0f);
        const float rightGain = gain * (p < 0 ? 1.0f + p : 1.0f);
        // At unity gain and centre pan (the usual case) the scaling would leave every sample as it is.
        if (leftGain != 1.0f || rightGain != 1.0f)
            for (uint32_t i = 0; i < frames; ++i) {
                left_[i] *= leftGain;
                right_[i] *= rightGain;
            }
        if (output->mNumberBuffers == 1) {
            for (uint32_t i = 0; i < frames; ++i) left_[i] = 0.5f * (left_[i] + right_[i]);
        }
        float* sources[2] = {left_.data(), right_.data()};
        for (uint32_t c = 0; c < output->mNumberBuffers; ++c) {
            float* source = sources[std::min<uint32_t>(c, 1)];
            AudioBuffer& buffer = output->mBuffers[c];
            if (buffer.mData) std::memcpy(buffer.mData, source, sizeof(float) * frames);
            else buffer.mData = source;
        }
    }

    SamplerInstrument* acquire() {
        // Announce the instrument before using it; one replaced meanwhile is read again.
        SamplerInstrument* instrument;
        do {
            instrument = instrument_.load(std::memory_order_seq_cst);
            inUse_.store(instrument, std::memory_order_seq_cst);
        } while (instrument_.load(std::memory_order_seq_cst) != instrument);
        return instrument;
    }
    void release() { inUse_.store(nullptr, std::memory_order_seq_cst); }

    void freeRetired() {
        const SamplerInstrument* inUse = inUse_.load(std::memory_order_seq_cst);
        std::erase_if(retired_, [inUse](const std::unique_ptr<SamplerInstrument>& i) { return i.get() != inUse; });
    }

    AUScheduleMIDIEventBlock midi_;
    std::atomic<SamplerInstrument*> instrument_{nullptr};
    std::atomic<SamplerInstrument*> inUse_{nullptr};
    std::vector<std::unique_ptr<SamplerInstrument>> retired_;
    std::vector<float> left_;
    std::vector<float> right_;
    // Render thread only.
    SamplerInstrument* appliedTo_ = nullptr;
    float appliedTuning_ = 0.0f;
};

AVAudioUnitSampler::AVAudioUnitSampler()
    : AVAudioUnitSampler(AudioComponentDescription{kAudioUnitType_MusicDevice, kAudioUnitSubType_Sampler,
                                                   kAudioUnitManufacturer_Apple, 0, 0}) {}

AVAudioUnitSampler::AVAudioUnitSampler(const AudioComponentDescription& description)
    : AVAudioUnit(std::make_shared<Unit>(description)) {}

AVAudioUnitSampler::~AVAudioUnitSampler() = default;

AVAudioUnitSampler::Unit& AVAudioUnitSampler::unit() const { return static_cast<Unit&>(*auAudioUnit()); }

int AVAudioUnitSampler::soundBankNumber(uint8_t bankMSB, uint8_t bankLSB) {
    if (bankMSB == kAUSampler_DefaultMelodicBankMSB) return bankLSB;
    if (bankMSB == kAUSampler_DefaultPercussionBankMSB) return 128 + bankLSB;
    return bankMSB * 128 + bankLSB;
}

void AVAudioUnitSampler::loadSoundBankInstrument(const URL& bankURL, uint8_t program, uint8_t bankMSB, uint8_t bankLSB) {
    unit().publish(detail::makeSoundBankInstrument(bankURL, soundBankNumber(bankMSB, bankLSB), program, unit().outputRate()));
}

namespace {
std::string lowercaseExtension(const URL& url) {
    std::string extension = url.pathExtension();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

[[noreturn]] void unsupported(const URL& url) {
    throw NSErrorException(makeOSStatusError(kAudioUnitErr_InvalidFile,
                                             "\"" + url.path() + "\" is in an unsupported format."));
}
}  // namespace

void AVAudioUnitSampler::loadInstrument(const URL& instrumentURL) {
    const std::string extension = lowercaseExtension(instrumentURL);
    if (extension == "sf2" || extension == "sf3")
        return loadSoundBankInstrument(instrumentURL, 0, kAUSampler_DefaultMelodicBankMSB, 0);
    if (extension == "aupreset")
        return unit().publish(detail::makeZoneInstrument(detail::readAUPreset(instrumentURL), unit().outputRate()));
    static const char* const audioExtensions[] = {"wav", "wave", "aif", "aiff", "aifc", "caf", "flac", "ogg", "oga"};
    if (std::find(std::begin(audioExtensions), std::end(audioExtensions), extension) != std::end(audioExtensions))
        return loadAudioFiles({instrumentURL});
    unsupported(instrumentURL);
}

void AVAudioUnitSampler::loadAudioFiles(const std::vector<URL>& audioFiles) {
    if (audioFiles.empty())
        throw NSErrorException(makeOSStatusError(kAudio_ParamError, "No audio files to load."));
    detail::SamplerPreset preset;
    preset.layers.emplace_back();
    preset.layers.back().voiceCount = 64;
    for (const URL& url : audioFiles) preset.layers.back().zones.push_back({url, {}, {}, {}, {}});
    unit().publish(detail::makeZoneInstrument(preset, unit().outputRate()));
}

void AVAudioUnitSampler::startNote(uint8_t note, uint8_t velocity, uint8_t channel) {
    sendMIDIEvent(uint8_t(0x90 | (channel & 0x0F)), note, velocity);
}

void AVAudioUnitSampler::stopNote(uint8_t note, uint8_t channel) {
    sendMIDIEvent(uint8_t(0x80 | (channel & 0x0F)), note, 0);
}

void AVAudioUnitSampler::sendController(uint8_t controller, uint8_t value, uint8_t channel) {
    sendMIDIEvent(uint8_t(0xB0 | (channel & 0x0F)), controller, value);
}

void AVAudioUnitSampler::sendPitchBend(uint16_t pitchbend, uint8_t channel) {
    sendMIDIEvent(uint8_t(0xE0 | (channel & 0x0F)), uint8_t(pitchbend & 0x7F), uint8_t((pitchbend >> 7) & 0x7F));
}

void AVAudioUnitSampler::sendProgramChange(uint8_t program, uint8_t channel) {
    sendMIDIEvent(uint8_t(0xC0 | (channel & 0x0F)), program);
}

void AVAudioUnitSampler::sendPressure(uint8_t pressure, uint8_t channel) {
    sendMIDIEvent(uint8_t(0xD0 | (channel & 0x0F)), pressure);
}

void AVAudioUnitSampler::sendPressureForKey(uint8_t key, uint8_t value, uint8_t channel) {
    sendMIDIEvent(uint8_t(0xA0 | (channel & 0x0F)), key, value);
}

void AVAudioUnitSampler::sendMIDIEvent(uint8_t status, uint8_t data1, uint8_t data2) {
    const uint8_t bytes[3] = {status, uint8_t(data1 & 0x7F), uint8_t(data2 & 0x7F)};
    unit().send(bytes, 3);
}

void AVAudioUnitSampler::sendMIDIEvent(uint8_t status, uint8_t data1) {
    const uint8_t bytes[2] = {status, uint8_t(data1 & 0x7F)};
    unit().send(bytes, 2);
}

float AVAudioUnitSampler::masterGain() const { return unit().gainDB.load(); }
void AVAudioUnitSampler::setMasterGain(float gain) {
    unit().gainDB.store(std::isnan(gain) ? 0.0f : std::clamp(gain, -90.0f, 12.0f));
}

float AVAudioUnitSampler::stereoPan() const { return unit().pan.load(); }
void AVAudioUnitSampler::setStereoPan(float pan) {
    unit().pan.store(std::isnan(pan) ? 0.0f : std::clamp(pan, -100.0f, 100.0f));
}

float AVAudioUnitSampler::globalTuning() const { return unit().tuning.load(); }
void AVAudioUnitSampler::setGlobalTuning(float cents) {
    unit().tuning.store(std::isnan(cents) ? 0.0f : std::clamp(cents, -2400.0f, 2400.0f));
}

void AVAudioUnitSampler::reset() { unit().reset(); }

}  // namespace platform
