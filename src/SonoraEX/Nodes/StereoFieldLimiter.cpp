#include "SonoraEX/Nodes/StereoFieldLimiter.h"

#include "SonoraEX/Kernels/KernelBridge.h"
#include "SonoraEX/Node+SonoraAU.h"

namespace sonora {

const NodeParameterDef& StereoFieldLimiter::amountDef() {
    static const NodeParameterDef def{"amount", "Limiting amount", akGetParameterAddress("StereoFieldLimiterParameterAmount"),
                                      1.0f, {0.0f, 1.0f}, platform::kAudioUnitParameterUnit_Generic,
                                      nodeParameterDefaultFlags};
    return def;
}

StereoFieldLimiter::StereoFieldLimiter(std::shared_ptr<Node> input, float initialAmount)
    : input_(std::move(input)), avAudioNode_(instantiateEffect("sflm")) {
    setupParameterTree();
    amount = initialAmount;
}

}  // namespace sonora
