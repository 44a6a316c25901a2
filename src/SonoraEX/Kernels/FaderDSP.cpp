#include "SonoraEX/Kernels/FaderDSP.h"

namespace sonora {

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

    if (leftGainRamp.remaining == 0 && rightGainRamp.remaining == 0 && !mono) {
        // Steady gains: a plain loop the compiler vectorises.
        const float lg = leftGainRamp.goal;
        const float rg = rightGainRamp.goal;
        if (flip) {
            for (uint32_t i = span.start; i < end; ++i) {
                const float L = inL[i], R = inR[i];
                outL[i] = lg * R;
                if (outR) outR[i] = rg * L;
            }
        } else {
            for (uint32_t i = span.start; i < end; ++i) outL[i] = lg * inL[i];
            if (outR)
                for (uint32_t i = span.start; i < end; ++i) outR[i] = rg * inR[i];
        }
        return;
    }
    for (uint32_t i = span.start; i < end; ++i) {
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
}

}  // namespace sonora
