// Stereo gain with separate smoothed left and right gains, a channel swap and a mono mix, in place.
#pragma once

#include "SonoraEX/Kernels/DSPBase.h"

#include <atomic>

namespace sonora {

class FaderDSP : public DSPBase {
public:
    static constexpr uint64_t leftGainAddress = 0;
    static constexpr uint64_t rightGainAddress = 1;
    static constexpr uint64_t flipStereoAddress = 2;
    static constexpr uint64_t mixToMonoAddress = 3;

    FaderDSP();
    void process(FrameSpan span) override;
    // The switches (addresses 2 and 3) are on above 0.5, at once; the gains ramp as the base does.
    void setParameter(uint64_t address, float value, bool immediate) override;
    float getParameter(uint64_t address) override;
    void handleParameterEvent(const platform::AUParameterEvent& event) override;

private:
    ParameterRampSlot leftGainRamp{1.0f};
    ParameterRampSlot rightGainRamp{1.0f};
    std::atomic<bool> flipStereo{false};
    std::atomic<bool> mixToMono{false};
};

}  // namespace sonora
