// The 'dist' unit: five stages in order, each blended in by its own mix (comb delay, decimation
// with bit rounding, ring modulation, polynomial shaping), a soft clip, and the final dry/wet mix.
#include "platform/audiotoolbox/EffectAudioUnit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platform {

namespace {

class DistortionUnit final : public EffectAudioUnit {
public:
    enum : size_t { delay, decay, delayMix, decimation, rounding, decimationMix, linearTerm, squaredTerm, cubicTerm,
                    polynomialMix, ringModFreq1, ringModFreq2, ringModBalance, ringModMix, softClipGain, finalMix,
                    parameterCount };

    DistortionUnit()
        : EffectAudioUnit(
              kAudioUnitSubType_Distortion,
              {{"delay", "Delay", 0, 0.1f, 500, 0.1f, kAudioUnitParameterUnit_Milliseconds},
               {"decay", "Decay", 1, 0.1f, 50, 1, kAudioUnitParameterUnit_Rate},
               {"delayMix", "Delay Mix", 2, 0, 100, 0, kAudioUnitParameterUnit_Percent},
               {"decimation", "Decimation", 3, 0, 100, 0, kAudioUnitParameterUnit_Percent},
               {"rounding", "Rounding", 4, 0, 100, 0, kAudioUnitParameterUnit_Percent},
               {"decimationMix", "Decimation Mix", 5, 0, 100, 100, kAudioUnitParameterUnit_Percent},
               {"linearTerm", "Linear Term", 6, 0, 1, 1, kAudioUnitParameterUnit_LinearGain},
               {"squaredTerm", "Squared Term", 7, 0, 20, 0, kAudioUnitParameterUnit_LinearGain},
               {"cubicTerm", "Cubic Term", 8, 0, 20, 0, kAudioUnitParameterUnit_LinearGain},
               {"polynomialMix", "Polynomial Mix", 9, 0, 100, 0, kAudioUnitParameterUnit_Percent},
               {"ringModFreq1", "Ring Mod Freq1", 10, 0.5f, 8000, 100, kAudioUnitParameterUnit_Hertz},
               {"ringModFreq2", "Ring Mod Freq2", 11, 0.5f, 8000, 100, kAudioUnitParameterUnit_Hertz},
               {"ringModBalance", "Ring Mod Balance", 12, 0, 100, 50, kAudioUnitParameterUnit_Percent},
               {"ringModMix", "Ring Mod Mix", 13, 0, 100, 0, kAudioUnitParameterUnit_Percent},
               {"softClipGain", "Soft Clip Gain", 14, -80, 20, 0, kAudioUnitParameterUnit_Decibels},
               {"finalMix", "Final Mix", 15, 0, 100, 50, kAudioUnitParameterUnit_Percent}}) {}

private:
    struct Settings {
        double combFrames, combFeedback, delayMix;
        double holdStep, roundingStep, decimationMix;
        double linear, squared, cubic, polynomialMix;
        double phaseStep1, phaseStep2, balance, ringModMix;
        double clipGain, finalMix;
    };

    void prepare(uint32_t channelCount, double sampleRate) override {
        combLength_ = uint32_t(std::ceil(0.5 * sampleRate)) + 4;
        combs_.assign(channelCount, std::vector<float>(combLength_, 0.0f));
        held_.assign(channelCount, 0.0f);
    }

    void clearState() override {
        for (auto& comb : combs_) std::fill(comb.begin(), comb.end(), 0.0f);
        std::fill(held_.begin(), held_.end(), 0.0f);
        combPosition_ = 0;
        holdPhase_ = 1;
        phase1_ = phase2_ = 0;
    }

    Settings current() const {
        auto v = [this](size_t i) { return double(slot(i).value()); };
        const double rate = sampleRate();
        const double g = v(decay) / (1 + v(decay));
        const double bits = 24 - 23 * v(rounding) / 100;
        return {std::clamp(v(delay) * rate / 1000, 1.0, double(combLength_ - 3)),
                g,
                v(delayMix) / 100,
                1 - 0.99 * v(decimation) / 100,
                // 24 bits is a float's own precision: no rounding there.
                v(rounding) > 0 ? std::exp2(1 - bits) : 0,
                v(decimationMix) / 100,
                v(linearTerm),
                v(squaredTerm),
                v(cubicTerm),
                v(polynomialMix) / 100,
                2 * std::numbers::pi * std::min(v(ringModFreq1), 0.49 * rate) / rate,
                2 * std::numbers::pi * std::min(v(ringModFreq2), 0.49 * rate) / rate,
                v(ringModBalance) / 100,
                v(ringModMix) / 100,
                std::pow(10.0, v(softClipGain) / 20),
                v(finalMix) / 100};
    }

    // Identity up to 0.5, then a tanh knee that stays below 1.
    static double softClip(double x) {
        const double magnitude = std::fabs(x);
        if (magnitude <= 0.5) return x;
        return std::copysign(0.5 + 0.5 * std::tanh((magnitude - 0.5) / 0.5), x);
    }

    void process(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count) override {
        const uint32_t end = start + count;
        Settings s{};
        // Read again every frame while ramping, and once more for the frame after a ramp ends.
        bool stale = true;
        for (uint32_t n = start; n < end; ++n) {
            if (stale) {
                s = current();
                stale = ramping();
                stepRamps();
            }
            const bool take = holdPhase_ >= 1;
            if (take) holdPhase_ -= 1;
            holdPhase_ += s.holdStep;
            const double ring = (1 - s.balance) * std::sin(phase1_) + s.balance * std::sin(phase2_);
            phase1_ = std::fmod(phase1_ + s.phaseStep1, 2 * std::numbers::pi);
            phase2_ = std::fmod(phase2_ + s.phaseStep2, 2 * std::numbers::pi);

            const auto whole = uint32_t(s.combFrames);
            const double fraction = s.combFrames - whole;
            const uint32_t older = (combPosition_ + combLength_ - whole) % combLength_;
            const uint32_t oldest = (older + combLength_ - 1) % combLength_;
            for (uint32_t c = 0; c < channelCount; ++c) {
                const double dry = channels[c][n];
                std::vector<float>& comb = combs_[c];
                const double echo = comb[older] + fraction * (double(comb[oldest]) - comb[older]);
                double combed = dry + s.combFeedback * echo;
                if (!std::isfinite(combed)) combed = 0;
                comb[combPosition_] = float(combed);
                double x = (1 - s.delayMix) * dry + s.delayMix * (1 - s.combFeedback) * combed;

                if (take) held_[c] = float(x);
                double decimated = held_[c];
                if (s.roundingStep > 0) decimated = std::round(decimated / s.roundingStep) * s.roundingStep;
                x = (1 - s.decimationMix) * x + s.decimationMix * decimated;

                x = (1 - s.ringModMix) * x + s.ringModMix * x * ring;
                x = (1 - s.polynomialMix) * x + s.polynomialMix * (s.linear * x + s.squared * x * x + s.cubic * x * x * x);
                const double wet = softClip(x * s.clipGain);
                channels[c][n] = float((1 - s.finalMix) * dry + s.finalMix * wet);
            }
            combPosition_ = (combPosition_ + 1) % combLength_;
        }
        for (float& h : held_)
            if (!std::isfinite(h)) h = 0;
    }

    uint32_t combLength_ = 4;
    std::vector<std::vector<float>> combs_;
    std::vector<float> held_;
    uint32_t combPosition_ = 0;
    double holdPhase_ = 1;
    double phase1_ = 0, phase2_ = 0;
};

}  // namespace

namespace detail {

void registerDistortionUnit() {
    registerEffectUnit<DistortionUnit>(kAudioUnitSubType_Distortion, "Distortion");
}

}  // namespace detail

}  // namespace platform
