// Narrows the stereo image: each channel blends with half of the other under a smoothed amount.
#pragma once

#include "SonoraEX/Kernels/DSPBase.h"

namespace sonora {

class StereoFieldLimiterDSP : public DSPBase {
public:
    static constexpr uint64_t amountAddress = 0;

    StereoFieldLimiterDSP();
    void process(FrameSpan span) override;

private:
    ParameterRampSlot amountRamp{0.0f};
};

}  // namespace sonora
