#include "platform/audiotoolbox/AVAudioUnitReverb.h"

#include "platform/audiotoolbox/EffectAudioUnit.h"
#include "platform/audiotoolbox/TimeEffectSupport.h"
#include "platform/avfaudio/detail/RenderContext.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

namespace platform {

namespace {

// A room: decay time at low frequencies' reference, the scale of the delay lengths, the gap before
// the reverberation, how much faster the top of the spectrum dies, and input diffusion.
struct Room {
    double decayTime;  // RT60 in seconds
    double size;       // delay lengths relative to mediumHall
    double preDelay;   // seconds
    double damping;    // RT60 at Nyquist over RT60 at DC
    double diffusion;  // all-pass gain of the input diffusers
};

constexpr std::array<Room, 13> kRooms{{
    {0.4, 0.45, 0.004, 0.55, 0.60},  // smallRoom
    {0.8, 0.60, 0.008, 0.55, 0.60},  // mediumRoom
    {1.2, 0.80, 0.012, 0.55, 0.60},  // largeRoom
    {1.8, 1.00, 0.018, 0.60, 0.62},  // mediumHall
    {2.5, 1.20, 0.025, 0.60, 0.62},  // largeHall
    {1.5, 0.50, 0.002, 0.75, 0.70},  // plate
    {1.2, 0.70, 0.010, 0.65, 0.65},  // mediumChamber
    {1.8, 0.90, 0.015, 0.65, 0.65},  // largeChamber
    {5.0, 1.60, 0.040, 0.50, 0.62},  // cathedral
    {1.4, 0.85, 0.010, 0.60, 0.60},  // largeRoom2
    {2.0, 1.05, 0.020, 0.60, 0.62},  // mediumHall2
    {2.2, 1.10, 0.022, 0.65, 0.62},  // mediumHall3
    {3.0, 1.30, 0.030, 0.60, 0.62},  // largeHall2
}};
constexpr double kLargestSize = 1.6;
constexpr double kLongestPreDelay = 0.05;

constexpr int kLines = 8;
// Delay lengths at 44100 Hz for size 1, mutually prime so that the echoes do not pile up.
constexpr std::array<double, kLines> kLineLengths{1153, 1327, 1559, 1801, 2053, 2333, 2609, 2909};
constexpr int kDiffusers = 4;
constexpr std::array<double, kDiffusers> kDiffuserLengths{142, 107, 379, 277};
// Each further channel gets longer lines, so that the channels do not sound alike.
constexpr double kChannelSpread = 0.037;

constexpr double kGlideSeconds = 0.02;
// A tail below this (−240 dB) for this long is cleared; longer than a sound can stay inside the
// network (pre-delay, diffusers and the longest line) before it reaches the output.
constexpr float kInaudible = 1e-12f;
constexpr double kQuietSeconds = 0.5;

size_t powerOfTwoAtLeast(size_t n) {
    size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

// A circular delay line whose length is a power of two.
struct DelayLine {
    std::vector<float> samples;
    size_t mask = 0;
    void allocate(size_t longest) {
        samples.assign(powerOfTwoAtLeast(longest + 1), 0.0f);
        mask = samples.size() - 1;
    }
    float read(size_t position, size_t delay) const { return samples[(position - delay) & mask]; }
    void write(size_t position, float value) { samples[position & mask] = value; }
    void clear() { std::fill(samples.begin(), samples.end(), 0.0f); }
};

// One channel's network: pre-delay, input all-passes, eight lines mixed by a Hadamard matrix, each
// line with a one-pole absorption filter whose DC gain gives the decay time.
struct ChannelReverb {
    DelayLine preDelay;
    std::array<DelayLine, kDiffusers> diffusers;
    std::array<DelayLine, kLines> lines;
    std::array<float, kLines> filterState{};
    size_t position = 0;

    // Set per room.
    size_t preDelayFrames = 0;
    std::array<size_t, kDiffusers> diffuserFrames{};
    std::array<size_t, kLines> lineFrames{};
    std::array<float, kLines> lineGain{};     // DC gain × (1 − pole)
    std::array<float, kLines> linePole{};
    float diffusion = 0.6f;
    float outputGain = 0;
    size_t quietFrames = 0;  // frames of inaudible tail without input

    void allocate(double sampleRate, double channelScale) {
        const double scale = sampleRate / 44100.0 * kLargestSize * channelScale;
        preDelay.allocate(size_t(std::ceil(kLongestPreDelay * sampleRate)) + 1);
        for (int i = 0; i < kDiffusers; ++i) diffusers[i].allocate(size_t(std::ceil(kDiffuserLengths[i] * scale)) + 1);
        for (int i = 0; i < kLines; ++i) lines[i].allocate(size_t(std::ceil(kLineLengths[i] * scale)) + 1);
    }

    void setRoom(const Room& room, double sampleRate, double channelScale) {
        const double scale = sampleRate / 44100.0 * room.size * channelScale;
        preDelayFrames = size_t(std::lround(room.preDelay * sampleRate));
        for (int i = 0; i < kDiffusers; ++i)
            diffuserFrames[i] = std::max<size_t>(1, size_t(std::lround(kDiffuserLengths[i] * scale)));
        diffusion = float(room.diffusion);
        double meanSquareGain = 0;
        for (int i = 0; i < kLines; ++i) {
            lineFrames[i] = std::max<size_t>(1, size_t(std::lround(kLineLengths[i] * scale)));
            // The decay time is measured over the whole band, where the damped top pulls it down a
            // little: the low end decays a little slower than the room's figure to make up for it.
            const double decay = room.decayTime * (1.0 + 0.25 * (1.0 - room.damping));
            const double dcGain = std::pow(10.0, -3.0 * double(lineFrames[i]) / (decay * sampleRate));
            const double pole =
                std::log(10.0) / 4.0 * std::log10(dcGain) * (1.0 - 1.0 / (room.damping * room.damping));
            lineGain[i] = float(dcGain * (1.0 - pole));
            linePole[i] = float(pole);
            meanSquareGain += dcGain * dcGain / kLines;
        }
        // About the same loudness for every room: longer decays store more energy.
        outputGain = float(0.7 * std::sqrt(1.0 - meanSquareGain));
    }

    void clear() {
        preDelay.clear();
        for (auto& d : diffusers) d.clear();
        for (auto& l : lines) l.clear();
        filterState.fill(0.0f);
    }

    float process(float x) {
        preDelay.write(position, x);
        float u = preDelay.read(position, preDelayFrames);
        for (int i = 0; i < kDiffusers; ++i) {
            const float delayed = diffusers[i].read(position, diffuserFrames[i]);
            const float v = u + diffusion * delayed;
            diffusers[i].write(position, v);
            u = delayed - diffusion * v;
        }
        std::array<float, kLines> s;
        float wet = 0;
        for (int i = 0; i < kLines; ++i) {
            filterState[i] = lineGain[i] * lines[i].read(position, lineFrames[i]) + linePole[i] * filterState[i];
            s[i] = filterState[i];
            wet += (i & 1) ? -s[i] : s[i];
        }
        // Fast Hadamard transform, scaled to stay lossless.
        for (int h = 1; h < kLines; h <<= 1)
            for (int i = 0; i < kLines; i += 2 * h)
                for (int j = i; j < i + h; ++j) {
                    const float a = s[j], b = s[j + h];
                    s[j] = a + b;
                    s[j + h] = a - b;
                }
        constexpr float kNorm = 0.35355339f;  // 1/√8
        for (int i = 0; i < kLines; ++i) lines[i].write(position, s[i] * kNorm + ((i & 2) ? -u : u));
        ++position;
        return wet * outputGain;
    }
};

class ReverbUnit final : public detail::StreamingEffectUnit {
public:
    explicit ReverbUnit(const AudioComponentDescription& description) : StreamingEffectUnit(description) {
        audioUnitName = "Reverb";
    }

    float wetDryMix() const { return wetDryMix_.load(std::memory_order_relaxed); }
    void setWetDryMix(float value) { detail::storeClamped(wetDryMix_, value, 0.0f, 100.0f); }
    AVAudioUnitReverbPreset preset() const { return AVAudioUnitReverbPreset(preset_.load(std::memory_order_relaxed)); }
    void loadPreset(AVAudioUnitReverbPreset preset) {
        const auto index = NSInteger(preset);
        if (index < 0 || index >= NSInteger(kRooms.size())) return;
        preset_.store(int(index), std::memory_order_relaxed);
    }

    bool allocateRenderResources(NSError* outError) override {
        if (!AUAudioUnit::allocateRenderResources(outError)) return false;
        const auto& format = outputBusses()[0]->format();
        sampleRate_ = format.sampleRate();
        channels_.assign(format.channelCount(), {});
        for (uint32_t c = 0; c < channels_.size(); ++c) channels_[c].allocate(sampleRate_, 1.0 + kChannelSpread * c);
        appliedPreset_ = -1;
        firstRender_ = true;
        return true;
    }

    void deallocateRenderResources() override {
        AUAudioUnit::deallocateRenderResources();
        channels_.clear();
    }


private:
    AUAudioUnitStatus renderCycle(const AudioTimeStamp* timestamp, AUAudioFrameCount frames, AudioBufferList* output,
                                  const AURenderPullInputBlock& pull) override {
        // The input lands in the output buffers and is mixed there.
        AudioUnitRenderActionFlags flags = 0;
        const AUAudioUnitStatus status = pull ? pull(&flags, timestamp, frames, 0, output) : kAudioUnitErr_NoConnection;
        if (status != noErr && status != kAudioUnitErr_NoConnection) return status;
        if (!pull) detail::zeroFill(*output, 0, frames);

        if (takeResetRequest())
            for (auto& channel : channels_) channel.clear();
        const int preset = preset_.load(std::memory_order_relaxed);
        if (preset != appliedPreset_) {
            for (uint32_t c = 0; c < channels_.size(); ++c)
                channels_[c].setRoom(kRooms[size_t(preset)], sampleRate_, 1.0 + kChannelSpread * c);
            appliedPreset_ = preset;
        }
        const float target = wetDryMix_.load(std::memory_order_relaxed) / 100.0f;
        if (firstRender_) {
            mix_ = target;
            glideTarget_ = target;
            glideLeft_ = 0;
            firstRender_ = false;
        } else if (target != glideTarget_) {
            glideTarget_ = target;
            glideLeft_ = std::max<uint32_t>(1, uint32_t(std::lround(kGlideSeconds * sampleRate_)));
            glideStep_ = (target - mix_) / float(glideLeft_);
        }

        const uint32_t count = std::min<uint32_t>(output->mNumberBuffers, uint32_t(channels_.size()));
        const size_t quietLimit = size_t(sampleRate_ * kQuietSeconds);
        const float startMix = mix_;
        const uint32_t startGlide = glideLeft_;
        for (uint32_t c = 0; c < count; ++c) {
            float* samples = static_cast<float*>(output->mBuffers[c].mData);
            ChannelReverb& reverb = channels_[c];
            float mix = startMix;
            uint32_t left = startGlide;
            float wetPeak = 0;
            bool inputSounds = false;
            for (AUAudioFrameCount i = 0; i < frames; ++i) {
                const float x = samples[i];
                float clean = x;
                detail::sanitize(&clean, 1);
                inputSounds |= clean != 0.0f;
                const float wet = reverb.process(clean);
                // NaN must stick (std::max would drop it).
                wetPeak = std::fabs(wet) > wetPeak || std::isnan(wet) ? std::fabs(wet) : wetPeak;
                if (left > 0) mix = --left == 0 ? glideTarget_ : mix + glideStep_;
                // A dry-only mix leaves the input exactly as it came.
                if (mix != 0.0f) samples[i] = (1.0f - mix) * x + mix * wet;
            }
            if (!std::isfinite(wetPeak)) {
                // Overflowed: start again from silence rather than ring with garbage.
                reverb.clear();
                for (AUAudioFrameCount i = 0; i < frames; ++i)
                    if (!std::isfinite(samples[i])) samples[i] = 0.0f;
            } else if (inputSounds || wetPeak >= kInaudible) {
                reverb.quietFrames = 0;
            } else if (reverb.quietFrames < quietLimit) {
                // Far below hearing for a while: clear the tail before it decays into denormal numbers.
                reverb.quietFrames += frames;
                if (reverb.quietFrames >= quietLimit) reverb.clear();
            }
            if (c + 1 == count) {
                mix_ = mix;
                glideLeft_ = left;
            }
        }
        return noErr;
    }

    std::atomic<float> wetDryMix_{100.0f};
    std::atomic<int> preset_{int(AVAudioUnitReverbPreset::mediumHall)};

    // Render state, made when render resources are allocated.
    double sampleRate_ = 44100;
    std::vector<ChannelReverb> channels_;
    int appliedPreset_ = -1;
    bool firstRender_ = true;
    float mix_ = 1.0f;
    float glideTarget_ = 1.0f;
    float glideStep_ = 0;
    uint32_t glideLeft_ = 0;
};

ReverbUnit& reverbUnit(const AVAudioUnit& node) { return static_cast<ReverbUnit&>(*node.auAudioUnit()); }

}  // namespace

double reverbPresetDecayTime(AVAudioUnitReverbPreset preset) {
    const auto index = NSInteger(preset);
    return index >= 0 && index < NSInteger(kRooms.size()) ? kRooms[size_t(index)].decayTime : 0.0;
}

AVAudioUnitReverb::AVAudioUnitReverb()
    : AVAudioUnitEffect(detail::effectDescription(kAudioUnitSubType_SonoraReverb)) {}

float AVAudioUnitReverb::wetDryMix() const { return reverbUnit(*this).wetDryMix(); }
void AVAudioUnitReverb::setWetDryMix(float wetDryMix) { reverbUnit(*this).setWetDryMix(wetDryMix); }
void AVAudioUnitReverb::loadFactoryPreset(AVAudioUnitReverbPreset preset) { reverbUnit(*this).loadPreset(preset); }
AVAudioUnitReverbPreset AVAudioUnitReverb::factoryPreset() const { return reverbUnit(*this).preset(); }

void registerReverbUnit() {
    registerEffectUnit<ReverbUnit>(kAudioUnitSubType_SonoraReverb, "Reverb", detail::effectDescription(kAudioUnitSubType_SonoraReverb));
}

}  // namespace platform
