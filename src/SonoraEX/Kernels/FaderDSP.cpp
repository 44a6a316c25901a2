#include "SonoraEX/Kernels/FaderDSP.h"

namespace sonora {

namespace {
// out[i] = gain × in[i] over [from, end); in place as its own loop, which vectorises without an
// overlap check.
void scale(float* out, const float* in, float gain, uint32_t from, uint32_t end) {
    if (out == in) {
        for (uint32_t i = from; i < end; ++i) out[i] *= gain;
    } else {
        for (uint32_t i = from; i < end; ++i) out[i] = gain * in[i];
    }
}
}  // namespace

FaderDSP::FaderDSP() : DSPBase(1, true) {
    rampSlots[leftGainAddress] = &leftGainRamp;
    rampSlots[rightGainAddress] = &rightGainRamp;
}

void FaderDSP::setParameter(uint64_t address, float value, bool immediate) {
    if (address == flipStereoAddress) return flipStereo.store(value > 0.5f, std::memory_order_relaxed);
    if (address == mixToMonoAddress) return mixToMono.store(value > 0.5f, std::memory_order_relaxed);
    DSPBase::setParameter(address, value, immediate);
}

float FaderDSP::getParameter(uint64_t address) {
    if (address == flipStereoAddress) return flipStereo.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    if (address == mixToMonoAddress) return mixToMono.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    return DSPBase::getParameter(address);
}

void FaderDSP::handleParameterEvent(const platform::AUParameterEvent& event) {
    if (event.parameterAddress == flipStereoAddress || event.parameterAddress == mixToMonoAddress)
        return setParameter(event.parameterAddress, event.value, true);
    DSPBase::handleParameterEvent(event);
}

void FaderDSP::process(FrameSpan span) {
    if (span.count == 0) return;
    float* outL = outputChannel(0);
    if (!outL) return;
    // Only the buffers the lists hold: a mono list has one, read as both channels.
    float* outR = outputChannelCount() > 1 ? outputChannel(1) : nullptr;
    const size_t inputBus = inputChannel(0, 0) ? 0 : size_t(-1);
    const float* inL = inputBus == 0 ? inputChannel(0, 0) : outL;
    const float* inR = inputBus == 0 ? (inputChannelCount(0) > 1 ? inputChannel(0, 1) : inL) : (outR ? outR : outL);
    const bool mono = mixToMono.load(std::memory_order_relaxed);
    const bool flip = flipStereo.load(std::memory_order_relaxed);
    const uint32_t end = span.start + span.count;

    uint32_t i = span.start;
    // Ramping (or mixing to mono): frame by frame, each frame reading both gains.
    for (; i < end && (mono || leftGainRamp.remaining > 0 || rightGainRamp.remaining > 0); ++i) {
        const float L = inL[i], R = inR[i];
        const float lg = leftGainRamp.next();
        const float rg = rightGainRamp.next();
        if (mono) {
            const float m = (R * rg + L * lg) * 0.5f;
            outL[i] = m;
            if (outR) outR[i] = m;
        } else if (flip) {
            outL[i] = lg * R;
            if (outR) outR[i] = rg * L;
        } else {
            outL[i] = lg * L;
            if (outR) outR[i] = rg * R;
        }
    }
    if (i == end) return;
    // Steady gains for the rest: plain loops the compiler vectorises.
    const float lg = leftGainRamp.goal;
    const float rg = rightGainRamp.goal;
    if (flip) {
        for (; i < end; ++i) {
            const float L = inL[i], R = inR[i];
            outL[i] = lg * R;
            if (outR) outR[i] = rg * L;
        }
        return;
    }
    scale(outL, inL, lg, i, end);
    if (outR) scale(outR, inR, rg, i, end);
}

}  // namespace sonora
