#include "SonoraEX/Kernels/StereoFieldLimiterDSP.h"

#include <cstring>

namespace sonora {

StereoFieldLimiterDSP::StereoFieldLimiterDSP() : DSPBase(1, false) { rampSlots[amountAddress] = &amountRamp; }

void StereoFieldLimiterDSP::process(FrameSpan span) {
    if (span.count == 0) return;
    float* outL = outputChannel(0);
    if (!outL) return;
    float* outR = outputChannelCount() > 1 ? outputChannel(1) : nullptr;
    const float* inL = inputChannel(0, 0);
    if (!inL) {
        // No input was pulled: nothing to narrow.
        clearOutput(span);
        stepRamps(span.count);
        return;
    }
    // Only the buffers the lists hold: a mono list has one, read as both channels.
    const float* inR = inputChannelCount(0) > 1 ? inputChannel(0, 1) : inL;
    const uint32_t end = span.start + span.count;
    for (uint32_t i = span.start; i < end; ++i) {
        const float a = amountRamp.next();
        const float L = inL[i], R = inR[i];
        const double k = 1.0 - double(a) * 0.5;
        const float left = float(double(a * R) * 0.5 + double(L) * k);
        const float right = float(double(a * L) * 0.5 + double(R) * k);
        outL[i] = left;
        if (outR) outR[i] = right;
    }
}

}  // namespace sonora
