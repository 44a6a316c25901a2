// The dynamics units: 'dcmp' (compressor above a threshold with a soft head room, expander below
// another, with its three level meters) and 'lmtr' (look-ahead peak limiter).
#include "platform/audiotoolbox/EffectAudioUnit.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

constexpr double kFloorDecibels = -120;

double decibels(double amplitude) {
    return amplitude > 1e-6 ? std::max(20 * std::log10(amplitude), kFloorDecibels) : kFloorDecibels;
}

// The coefficient of a one-pole smoother with time constant `seconds`.
double smoothing(double seconds, double sampleRate) { return std::exp(-1.0 / (std::max(seconds, 1e-9) * sampleRate)); }

class DynamicsUnit final : public EffectAudioUnit {
public:
    enum : size_t { threshold, headRoom, expansionRatio, expansionThreshold, attackTime, releaseTime, masterGain,
                    compressionAmount, inputAmplitude, outputAmplitude };

    DynamicsUnit()
        : EffectAudioUnit(kAudioUnitSubType_DynamicsProcessor,
                          {{"threshold", "Threshold", 0, -40, 20, 20, kAudioUnitParameterUnit_Decibels},
                           {"headRoom", "Head Room", 1, 0.1f, 40, 5, kAudioUnitParameterUnit_Decibels},
                           {"expansionRatio", "Expansion Ratio", 2, 1, 50, 1, kAudioUnitParameterUnit_Rate},
                           {"expansionThreshold", "Expansion Threshold", 3, -120, 20, -100, kAudioUnitParameterUnit_Decibels},
                           {"attackTime", "Attack Time", 4, 0.0001f, 0.2f, 0.001f, kAudioUnitParameterUnit_Seconds},
                           {"releaseTime", "Release Time", 5, 0.01f, 3, 0.05f, kAudioUnitParameterUnit_Seconds},
                           {"masterGain", "Master Gain", 6, -40, 40, 0, kAudioUnitParameterUnit_Decibels},
                           {"compressionAmount", "Compression Amount", 1000, -120, 120, 0, kAudioUnitParameterUnit_Decibels, true},
                           {"inputAmplitude", "Input Amplitude", 2000, -120, 120, kFloorDecibels, kAudioUnitParameterUnit_Decibels, true},
                           {"outputAmplitude", "Output Amplitude", 3000, -120, 120, kFloorDecibels, kAudioUnitParameterUnit_Decibels, true}}) {}

private:
    void prepare(uint32_t, double) override {}
    void clearState() override { peak_ = level_ = 0; }

    void process(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count) override {
        const uint32_t end = start + count;
        double gain = 0, level = kFloorDecibels;
        for (uint32_t n = start; n < end; ++n) {
            const double T = slot(threshold).value(), H = slot(headRoom).value();
            const double R = slot(expansionRatio).value(), E = slot(expansionThreshold).value();
            const double master = slot(masterGain).value();
            setTimes(slot(attackTime).value(), slot(releaseTime).value());
            stepRamps();

            double amplitude = 0;
            for (uint32_t c = 0; c < channelCount; ++c) amplitude = std::max(amplitude, double(std::fabs(channels[c][n])));
            // A peak that falls with the release time, smoothed with the attack time.
            peak_ = std::max(amplitude, release_ * peak_ + (1 - release_) * amplitude);
            level_ = attack_ * level_ + (1 - attack_) * peak_;
            level = decibels(level_);

            gain = 0;
            if (level > T) gain += T + H * (1 - std::exp(-(level - T) / H)) - level;
            if (level < E) gain += (level - E) * (R - 1);
            if (gain == 0 && master == 0) continue;
            const auto factor = float(std::pow(10.0, (gain + master) / 20));
            for (uint32_t c = 0; c < channelCount; ++c) channels[c][n] *= factor;
        }
        if (!std::isfinite(peak_) || !std::isfinite(level_)) clearState();
        if (count == 0) return;
        storeMeter(compressionAmount, float(gain));
        storeMeter(inputAmplitude, float(level));
        storeMeter(outputAmplitude, float(level + gain + slot(masterGain).value()));
    }

    void setTimes(double attack, double release) {
        if (attack != attackSeconds_) attack_ = smoothing(attackSeconds_ = attack, sampleRate());
        if (release != releaseSeconds_) release_ = smoothing(releaseSeconds_ = release, sampleRate());
    }

    double peak_ = 0, level_ = 0;
    double attackSeconds_ = -1, releaseSeconds_ = -1, attack_ = 0, release_ = 0;
};

// Looks ahead ⌊attack·sr⌋ frames: the gain that keeps the window's largest peak at 1 is reached,
// by a moving average as long as the look-ahead, before that peak leaves the delay, and recovers
// over the decay time. Below the ceiling the output is the input times the pre-gain, delayed.
class PeakLimiterUnit final : public EffectAudioUnit {
public:
    enum : size_t { attackTime, decayTime, preGain };

    PeakLimiterUnit()
        : EffectAudioUnit(kAudioUnitSubType_PeakLimiter,
                          {{"attackTime", "Attack Time", 0, 0.001f, 0.03f, 0.012f, kAudioUnitParameterUnit_Seconds},
                           {"decayTime", "Decay Time", 1, 0.001f, 0.06f, 0.024f, kAudioUnitParameterUnit_Seconds},
                           {"preGain", "Pre Gain", 2, -40, 40, 0, kAudioUnitParameterUnit_Decibels}}) {}

private:
    struct Entry {
        int64_t frame;
        double gain;
    };

    void prepare(uint32_t channelCount, double sampleRate) override {
        capacity_ = uint32_t(0.03 * sampleRate) + 2;
        lines_.assign(channelCount, std::vector<float>(capacity_, 0.0f));
        gains_.assign(capacity_, 1.0);
        minima_.assign(capacity_ + 1, {});
        lookAhead_ = 0;
    }

    uint32_t lookAheadFrames() const {
        return std::min<uint32_t>(uint32_t(slot(attackTime).goal * sampleRate()), capacity_ - 2);
    }

    void clearState() override {
        lookAhead_ = lookAheadFrames();
        for (auto& line : lines_) std::fill(line.begin(), line.end(), 0.0f);
        std::fill(gains_.begin(), gains_.end(), 1.0);
        window_ = lookAhead_ + 1;
        sum_ = window_;
        frame_ = 0;
        position_ = 0;
        head_ = tail_ = 0;
        held_ = 1;
        unityRun_ = window_;
    }

    void process(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count) override {
        // A new look-ahead starts from silence, so the limit holds across the change.
        if (lookAheadFrames() != lookAhead_) clearState();
        const uint32_t end = start + count;
        for (uint32_t n = start; n < end; ++n) {
            if (const float d = slot(decayTime).value(); d != decaySeconds_) decay_ = smoothing(decaySeconds_ = d, sampleRate());
            if (const float g = slot(preGain).value(); g != preGainDecibels_) pre_ = float(std::pow(10.0, (preGainDecibels_ = g) / 20.0));
            const double decay = decay_;
            const float pre = pre_;
            stepRamps();

            float peak = 0;
            for (uint32_t c = 0; c < channelCount; ++c) {
                float x = channels[c][n] * pre;
                if (!std::isfinite(x)) x = 0;
                lines_[c][position_] = x;
                peak = std::max(peak, std::fabs(x));
            }
            const double needed = peak > 1 ? 1.0 / peak : 1.0;

            // The smallest needed gain of the last window_ frames (a monotonic queue).
            while (head_ != tail_ && minima_[back()].gain >= needed) tail_ = back();
            minima_[tail_] = {frame_, needed};
            tail_ = (tail_ + 1) % minima_.size();
            while (minima_[head_].frame <= frame_ - int64_t(window_)) head_ = (head_ + 1) % minima_.size();
            const double smallest = minima_[head_].gain;

            held_ = smallest < held_ ? smallest : smallest - decay * (smallest - held_);
            const size_t slotIndex = size_t(frame_ % window_);
            sum_ += held_ - gains_[slotIndex];
            gains_[slotIndex] = held_;
            // Sums of ones stay exact, so the gain is exactly 1 again once the window is clear.
            unityRun_ = held_ == 1.0 ? unityRun_ + 1 : 0;
            if (unityRun_ >= window_) sum_ = window_;
            const double gain = sum_ / window_;

            const uint32_t read = (position_ + capacity_ - lookAhead_) % capacity_;
            for (uint32_t c = 0; c < channelCount; ++c) channels[c][n] = float(lines_[c][read] * gain);
            position_ = (position_ + 1) % capacity_;
            ++frame_;
        }
    }

    size_t back() const { return (tail_ + minima_.size() - 1) % minima_.size(); }

    float decaySeconds_ = -1, preGainDecibels_ = 1e9f;
    double decay_ = 0;
    float pre_ = 1;
    uint32_t capacity_ = 2;
    uint32_t lookAhead_ = 0;
    uint32_t window_ = 1;
    std::vector<std::vector<float>> lines_;
    std::vector<double> gains_;
    std::vector<Entry> minima_;
    size_t head_ = 0, tail_ = 0;
    double sum_ = 1;
    double held_ = 1;
    uint32_t unityRun_ = 0;
    uint32_t position_ = 0;
    int64_t frame_ = 0;
};

}  // namespace

namespace detail {

void registerDynamicsUnits() {
    registerEffectUnit<DynamicsUnit>(kAudioUnitSubType_DynamicsProcessor, "Dynamics Processor");
    registerEffectUnit<PeakLimiterUnit>(kAudioUnitSubType_PeakLimiter, "Peak Limiter");
}

}  // namespace detail

}  // namespace platform
