// The parameter definitions of the effect nodes, one per parameter, each made on first use and
// shared by every node of its class. Ranges are descriptive: values are limited by the unit's own.
// Rows that look odd (Delay's 0...1 mix with default 50, the expander threshold in Rate) stay as
// they are: callers and stored settings rely on them.
#include "Sonora/Nodes/Effects/BandPassFilter.h"
#include "Sonora/Nodes/Effects/Compressor.h"
#include "Sonora/Nodes/Effects/Decimator.h"
#include "Sonora/Nodes/Effects/Delay.h"
#include "Sonora/Nodes/Effects/Distortion.h"
#include "Sonora/Nodes/Effects/DynamicsProcessor.h"
#include "Sonora/Nodes/Effects/Expander.h"
#include "Sonora/Nodes/Effects/HighPassFilter.h"
#include "Sonora/Nodes/Effects/HighShelfFilter.h"
#include "Sonora/Nodes/Effects/LowPassFilter.h"
#include "Sonora/Nodes/Effects/LowShelfFilter.h"
#include "Sonora/Nodes/Effects/ParametricEQ.h"
#include "Sonora/Nodes/Effects/PeakLimiter.h"
#include "Sonora/Nodes/Effects/RingModulator.h"
#include "platform/audiotoolbox/EffectAudioUnit.h"

// One row: the class's definition function for the parameter.
#define SONORA_EFFECT_PARAMETER(Class, identifier, name, address, defaultValue, lower, upper, unit)          \
    const NodeParameterDef& Class::identifier##Def() {                                                    \
        static const NodeParameterDef def{#identifier,    name,           address,                        \
                                          defaultValue,   {lower, upper}, platform::kAudioUnitParameterUnit_##unit, \
                                          nodeParameterDefaultFlags};                                       \
        return def;                                                                                       \
    }

namespace sonora {

SONORA_EFFECT_PARAMETER(Delay, dryWetMix, "Dry-Wet Mix", 0, 50, 0, 1, Generic)
SONORA_EFFECT_PARAMETER(Delay, time, "Delay time (Seconds)", 1, 1, 0, 2, Seconds)
SONORA_EFFECT_PARAMETER(Delay, feedback, "Feedback (%)", 2, 50, -100, 100, Generic)
SONORA_EFFECT_PARAMETER(Delay, lowPassCutoff, "Low Pass Cutoff Frequency", 3, 15000, 10, 22050, Hertz)

SONORA_EFFECT_PARAMETER(Decimator, decimation, "Decimation", 3, 50, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Decimator, rounding, "Rounding", 4, 0, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Decimator, finalMix, "Final Mix", 15, 50, 0, 100, Percent)

SONORA_EFFECT_PARAMETER(Distortion, delay, "Delay", 0, 0.1f, 0.1f, 500, Milliseconds)
SONORA_EFFECT_PARAMETER(Distortion, decay, "Decay", 1, 1, 0.1f, 50, Rate)
SONORA_EFFECT_PARAMETER(Distortion, delayMix, "Delay Mix", 2, 50, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Distortion, ringModFreq1, "Ring Mod Freq1", 10, 100, 0.5f, 8000, Hertz)
SONORA_EFFECT_PARAMETER(Distortion, ringModFreq2, "Ring Mod Freq2", 11, 100, 0.5f, 8000, Hertz)
SONORA_EFFECT_PARAMETER(Distortion, ringModBalance, "Ring Mod Balance", 12, 50, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Distortion, ringModMix, "Ring Mod Mix", 13, 0, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Distortion, decimation, "Decimation", 3, 50, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Distortion, rounding, "Rounding", 4, 0, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Distortion, decimationMix, "Decimation Mix", 5, 50, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Distortion, linearTerm, "Linear Term", 6, 0.5f, 0, 1, LinearGain)
SONORA_EFFECT_PARAMETER(Distortion, squaredTerm, "Squared Term", 7, 10, 0, 20, LinearGain)
SONORA_EFFECT_PARAMETER(Distortion, cubicTerm, "Cubic Term", 8, 10, 0, 20, LinearGain)
SONORA_EFFECT_PARAMETER(Distortion, polynomialMix, "Polynomial Mix", 9, 50, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(Distortion, softClipGain, "Soft Clip Gain", 14, -6, -80, 20, Decibels)
SONORA_EFFECT_PARAMETER(Distortion, finalMix, "Final Mix", 15, 50, 0, 100, Percent)

SONORA_EFFECT_PARAMETER(RingModulator, ringModFreq1, "Ring Mod Freq1", 10, 100, 0.5f, 8000, Hertz)
SONORA_EFFECT_PARAMETER(RingModulator, ringModFreq2, "Ring Mod Freq2", 11, 100, 0.5f, 8000, Hertz)
SONORA_EFFECT_PARAMETER(RingModulator, ringModBalance, "Ring Mod Balance", 12, 50, 0, 100, Percent)
SONORA_EFFECT_PARAMETER(RingModulator, finalMix, "Final Mix", 15, 50, 0, 100, Percent)

SONORA_EFFECT_PARAMETER(Compressor, threshold, "Threshold", 0, -20, -40, 20, Decibels)
SONORA_EFFECT_PARAMETER(Compressor, headRoom, "Head Room", 1, 5, 0.1f, 40, Decibels)
SONORA_EFFECT_PARAMETER(Compressor, attackTime, "Attack Time", 4, 0.001f, 0.0001f, 0.2f, Seconds)
SONORA_EFFECT_PARAMETER(Compressor, releaseTime, "Release Time", 5, 0.05f, 0.01f, 3, Seconds)
SONORA_EFFECT_PARAMETER(Compressor, masterGain, "Master Gain", 6, 0, -40, 40, Decibels)

SONORA_EFFECT_PARAMETER(DynamicsProcessor, threshold, "Threshold", 0, -20, -40, 20, Decibels)
SONORA_EFFECT_PARAMETER(DynamicsProcessor, headRoom, "Head Room", 1, 5, 0.1f, 40, Decibels)
SONORA_EFFECT_PARAMETER(DynamicsProcessor, expansionRatio, "Expansion Ratio", 2, 2, 1, 50, Rate)
SONORA_EFFECT_PARAMETER(DynamicsProcessor, expansionThreshold, "Expansion Threshold", 3, 2, 1, 50, Decibels)
SONORA_EFFECT_PARAMETER(DynamicsProcessor, attackTime, "Attack Time", 4, 0.001f, 0.0001f, 0.2f, Seconds)
SONORA_EFFECT_PARAMETER(DynamicsProcessor, releaseTime, "Release Time", 5, 0.05f, 0.01f, 3, Seconds)
SONORA_EFFECT_PARAMETER(DynamicsProcessor, masterGain, "Master Gain", 6, 0, -40, 40, Decibels)

SONORA_EFFECT_PARAMETER(Expander, expansionRatio, "Expansion Ratio", 2, 2, 1, 50, Rate)
SONORA_EFFECT_PARAMETER(Expander, expansionThreshold, "Expansion Threshold", 3, 2, 1, 50, Rate)
SONORA_EFFECT_PARAMETER(Expander, attackTime, "Attack Time", 4, 0.001f, 0.0001f, 0.2f, Seconds)
SONORA_EFFECT_PARAMETER(Expander, releaseTime, "Release Time", 5, 0.05f, 0.01f, 3, Seconds)
SONORA_EFFECT_PARAMETER(Expander, masterGain, "Master Gain", 6, 0, -40, 40, Decibels)

SONORA_EFFECT_PARAMETER(PeakLimiter, attackTime, "Attack Time", 0, 0.012f, 0.001f, 0.03f, Seconds)
SONORA_EFFECT_PARAMETER(PeakLimiter, decayTime, "Decay Time", 1, 0.024f, 0.001f, 0.06f, Seconds)
SONORA_EFFECT_PARAMETER(PeakLimiter, preGain, "Pre Gain", 2, 0, -40, 40, Decibels)

SONORA_EFFECT_PARAMETER(BandPassFilter, centerFrequency, "Center Frequency", 0, 5000, 20, 22050, Hertz)
SONORA_EFFECT_PARAMETER(BandPassFilter, bandwidth, "Bandwidth", 1, 600, 100, 12000, Cents)

SONORA_EFFECT_PARAMETER(HighPassFilter, cutoffFrequency, "Cutoff Frequency", 0, 6900, 10, 22050, Hertz)
SONORA_EFFECT_PARAMETER(HighPassFilter, resonance, "Resonance", 1, 0, -20, 40, Decibels)

SONORA_EFFECT_PARAMETER(HighShelfFilter, cutOffFrequency, "Cut Off Frequency", 0, 10000, 10000, 22050, Hertz)
SONORA_EFFECT_PARAMETER(HighShelfFilter, gain, "Gain", 1, 0, -40, 40, Decibels)

SONORA_EFFECT_PARAMETER(LowPassFilter, cutoffFrequency, "Cutoff Frequency", 0, 6900, 10, 22050, Hertz)
SONORA_EFFECT_PARAMETER(LowPassFilter, resonance, "Resonance", 1, 0, -20, 40, Decibels)

SONORA_EFFECT_PARAMETER(LowShelfFilter, cutoffFrequency, "Cutoff Frequency", 0, 80, 10, 200, Hertz)
SONORA_EFFECT_PARAMETER(LowShelfFilter, gain, "Gain", 1, 0, -40, 40, Decibels)

SONORA_EFFECT_PARAMETER(ParametricEQ, centerFreq, "Center Freq", 0, 2000, 20, 22050, Hertz)
SONORA_EFFECT_PARAMETER(ParametricEQ, q, "Q", 1, 1, 0.1f, 20, Hertz)
SONORA_EFFECT_PARAMETER(ParametricEQ, gain, "Gain", 2, 0, -20, 20, Decibels)

}  // namespace sonora
