#include "SonoraEX/Kernels/FaderDSP.h"

#include <algorithm>
#include <cstdint>

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

// out[from + k] = gain × in[from + k] for k < count, the gain being the ramp's value at each frame
// (goal + frames left × increment, as ParameterRampSlot::next() gives it); the ramp moves on.
// The slot either holds or ramps for at least `count` frames: the caller ends stretches where ramps end.
void ramp(float* out, const float* in, platform::ParameterRampSlot& slot, uint32_t from, uint32_t count) {
    const uint32_t left = slot.remaining;
    if (left == 0) return scale(out, in, slot.value(), from, from + count);
    if (left > uint32_t(INT32_MAX)) {
        for (uint32_t k = 0; k < count; ++k) out[from + k] = slot.next() * in[from + k];
        return;
    }
    // count <= left here, so both fit a signed index (which lets the loop vectorise).
    const float goal = slot.goal, increment = slot.increment;
    const auto first = int32_t(left), frames = int32_t(count);
    float* o = out + from;
    const float* x = in + from;
    for (int32_t k = 0; k < frames; ++k) o[k] = (goal + float(first - k) * increment) * x[k];
    slot.skip(count);
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
    if (mono) {
        // Mixing to mono: frame by frame, each frame reading both gains.
        for (; i < end; ++i) {
            const float L = inL[i], R = inR[i];
            const float m = (R * rightGainRamp.next() + L * leftGainRamp.next()) * 0.5f;
            outL[i] = m;
            if (outR) outR[i] = m;
        }
        return;
    }
    // Ramping: in stretches over which each gain either ramps throughout or holds.
    while (i < end && (leftGainRamp.remaining > 0 || rightGainRamp.remaining > 0)) {
        const uint32_t l = leftGainRamp.remaining, r = rightGainRamp.remaining;
        const uint32_t stretch = std::min(end - i, l > 0 && r > 0 ? std::min(l, r) : std::max(l, r));
        if (flip) {
            for (uint32_t k = 0; k < stretch; ++k, ++i) {
                const float L = inL[i], R = inR[i];
                outL[i] = leftGainRamp.next() * R;
                if (outR) outR[i] = rightGainRamp.next() * L;
            }
            continue;
        }
        ramp(outL, inL, leftGainRamp, i, stretch);
        if (outR) ramp(outR, inR, rightGainRamp, i, stretch);
        else rightGainRamp.skip(stretch);
        i += stretch;
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
