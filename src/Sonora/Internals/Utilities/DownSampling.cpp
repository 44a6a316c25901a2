#include "Sonora/Internals/Utilities/DownSampling.h"

#include "platform/accelerate/vDSP.h"

namespace sonora {

std::vector<float> downSampled(const std::vector<float>& samples, size_t target) {
    if (target == 0 || target > samples.size() || samples.size() < 2) return {};
    const size_t factor = samples.size() / target;
    static constexpr float filter[2] = {0.5f, 0.5f};
    std::vector<float> output((samples.size() - 2) / factor);
    if (output.empty()) return output;
    platform::vDSP_desamp(samples.data(), platform::vDSP_Stride(factor), filter, output.data(),
                          platform::vDSP_Length(output.size()), 2);
    return output;
}

}  // namespace sonora
