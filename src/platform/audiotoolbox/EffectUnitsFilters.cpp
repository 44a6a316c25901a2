// The six filter units: biquads from the audio-EQ cookbook, with coefficients and memories in
// double precision and the frequency held below 0.49 of the sample rate.
#include "platform/audiotoolbox/EffectAudioUnit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platform {

namespace {

struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

struct BiquadMemory {
    double z1 = 0, z2 = 0;
};

enum class FilterKind { lowPass, highPass, bandPass, lowShelf, highShelf, peaking };

// The cookbook's formulas. `p` holds the unit's parameters in address order.
Biquad design(FilterKind kind, const float* p, double sampleRate) {
    const double frequency = std::clamp(double(p[0]), 1.0, 0.49 * sampleRate);
    const double w0 = 2 * std::numbers::pi * frequency / sampleRate;
    const double cosw = std::cos(w0), sinw = std::sin(w0);
    double b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;
    switch (kind) {
        case FilterKind::lowPass:
        case FilterKind::highPass: {
            const double q = std::pow(10.0, double(p[1]) / 20);
            const double alpha = sinw / (2 * q);
            const double sign = kind == FilterKind::lowPass ? 1 : -1;
            b0 = (1 - sign * cosw) / 2;
            b1 = sign * (1 - sign * cosw);
            b2 = b0;
            a0 = 1 + alpha;
            a1 = -2 * cosw;
            a2 = 1 - alpha;
            break;
        }
        case FilterKind::bandPass: {
            const double octaves = double(p[1]) / 1200;
            const double alpha = sinw * std::sinh(std::numbers::ln2 / 2 * octaves * w0 / sinw);
            b0 = alpha;
            b1 = 0;
            b2 = -alpha;
            a0 = 1 + alpha;
            a1 = -2 * cosw;
            a2 = 1 - alpha;
            break;
        }
        case FilterKind::peaking: {
            const double A = std::pow(10.0, double(p[2]) / 40);
            const double alpha = sinw / (2 * double(p[1]));
            b0 = 1 + alpha * A;
            b1 = -2 * cosw;
            b2 = 1 - alpha * A;
            a0 = 1 + alpha / A;
            a1 = -2 * cosw;
            a2 = 1 - alpha / A;
            break;
        }
        case FilterKind::lowShelf:
        case FilterKind::highShelf: {
            // Shelf slope 1; the frequency is the shelf's midpoint.
            const double A = std::pow(10.0, double(p[1]) / 40);
            const double twoRootAAlpha = 2 * std::sqrt(A) * sinw / 2 * std::sqrt(2.0);
            const double s = kind == FilterKind::lowShelf ? 1 : -1;
            b0 = A * ((A + 1) - s * (A - 1) * cosw + twoRootAAlpha);
            b1 = s * 2 * A * ((A - 1) - s * (A + 1) * cosw);
            b2 = A * ((A + 1) - s * (A - 1) * cosw - twoRootAAlpha);
            a0 = (A + 1) + s * (A - 1) * cosw + twoRootAAlpha;
            a1 = -s * 2 * ((A - 1) + s * (A + 1) * cosw);
            a2 = (A + 1) + s * (A - 1) * cosw - twoRootAAlpha;
            break;
        }
    }
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

class FilterUnit final : public EffectAudioUnit {
public:
    FilterUnit(OSType subType, FilterKind kind, const std::vector<EffectParameterInfo>& parameters)
        : EffectAudioUnit(subType, parameters), kind_(kind), parameterCount_(parameters.size()) {}

private:
    static constexpr size_t kMaxParameters = 3;

    void prepare(uint32_t channelCount, double) override {
        memories_.assign(channelCount, {});
        designed_ = false;
    }

    void clearState() override { std::fill(memories_.begin(), memories_.end(), BiquadMemory{}); }

    // Designs again when a parameter moved since the last design.
    void updateCoefficients() {
        float values[kMaxParameters] = {};
        bool changed = !designed_;
        for (size_t i = 0; i < parameterCount_; ++i) {
            values[i] = slot(i).value();
            changed = changed || values[i] != designedFor_[i];
        }
        if (!changed) return;
        std::copy_n(values, kMaxParameters, designedFor_);
        coefficients_ = design(kind_, values, sampleRate());
        designed_ = true;
    }

    static float tick(const Biquad& f, BiquadMemory& m, float in) {
        const double x = in;
        const double y = f.b0 * x + m.z1;
        m.z1 = f.b1 * x - f.a1 * y + m.z2;
        m.z2 = f.b2 * x - f.a2 * y;
        return float(y);
    }

    void process(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count) override {
        const uint32_t end = start + count;
        uint32_t i = start;
        // While a parameter ramps: frame by frame, designing as it moves.
        for (; i < end && ramping(); ++i) {
            updateCoefficients();
            for (uint32_t c = 0; c < channelCount; ++c) channels[c][i] = tick(coefficients_, memories_[c], channels[c][i]);
            stepRamps();
        }
        if (i < end) {
            updateCoefficients();
            const Biquad f = coefficients_;
            for (uint32_t c = 0; c < channelCount; ++c) {
                BiquadMemory m = memories_[c];
                float* samples = channels[c];
                for (uint32_t n = i; n < end; ++n) samples[n] = tick(f, m, samples[n]);
                memories_[c] = m;
            }
        }
        // A memory that a non-finite sample reached starts again from silence.
        for (BiquadMemory& m : memories_)
            if (!std::isfinite(m.z1) || !std::isfinite(m.z2)) m = {};
    }

    FilterKind kind_;
    size_t parameterCount_;
    std::vector<BiquadMemory> memories_;
    Biquad coefficients_;
    float designedFor_[kMaxParameters] = {};
    bool designed_ = false;
};

void registerFilter(OSType subType, FilterKind kind, const char* name, std::vector<EffectParameterInfo> parameters) {
    registerEffectUnit<FilterUnit>(subType, name, subType, kind, std::move(parameters));
}

}  // namespace

namespace detail {

void registerFilterUnits() {
    const EffectParameterInfo resonance{"resonance", "Resonance", 1, -20, 40, 0, kAudioUnitParameterUnit_Decibels};
    registerFilter(kAudioUnitSubType_LowPassFilter, FilterKind::lowPass, "Low Pass Filter",
                   {{"cutoffFrequency", "Cutoff Frequency", 0, 10, 22050, 6900, kAudioUnitParameterUnit_Hertz}, resonance});
    registerFilter(kAudioUnitSubType_HighPassFilter, FilterKind::highPass, "High Pass Filter",
                   {{"cutoffFrequency", "Cutoff Frequency", 0, 10, 22050, 6900, kAudioUnitParameterUnit_Hertz}, resonance});
    registerFilter(kAudioUnitSubType_BandPassFilter, FilterKind::bandPass, "Band Pass Filter",
                   {{"centerFrequency", "Center Frequency", 0, 20, 22050, 5000, kAudioUnitParameterUnit_Hertz},
                    {"bandwidth", "Bandwidth", 1, 100, 12000, 600, kAudioUnitParameterUnit_Cents}});
    registerFilter(kAudioUnitSubType_HighShelfFilter, FilterKind::highShelf, "High Shelf Filter",
                   {{"cutOffFrequency", "Cut Off Frequency", 0, 10000, 22050, 10000, kAudioUnitParameterUnit_Hertz},
                    {"gain", "Gain", 1, -40, 40, 0, kAudioUnitParameterUnit_Decibels}});
    registerFilter(kAudioUnitSubType_LowShelfFilter, FilterKind::lowShelf, "Low Shelf Filter",
                   {{"cutoffFrequency", "Cutoff Frequency", 0, 10, 200, 80, kAudioUnitParameterUnit_Hertz},
                    {"gain", "Gain", 1, -40, 40, 0, kAudioUnitParameterUnit_Decibels}});
    registerFilter(kAudioUnitSubType_ParametricEQ, FilterKind::peaking, "Parametric EQ",
                   {{"centerFreq", "Center Freq", 0, 20, 22050, 2000, kAudioUnitParameterUnit_Hertz},
                    {"q", "Q", 1, 0.1f, 20, 1, kAudioUnitParameterUnit_Hertz},
                    {"gain", "Gain", 2, -20, 20, 0, kAudioUnitParameterUnit_Decibels}});
}

}  // namespace detail

}  // namespace platform
