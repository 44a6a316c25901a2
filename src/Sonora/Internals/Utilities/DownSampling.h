// Thinning a signal for display: every n-th pair of samples averaged.
#pragma once

#include <cstddef>
#include <vector>

namespace sonora {

// downSampled(to:): decimation by count ÷ target with the 2-tap filter (0.5, 0.5); the output has
// (count − 2) ÷ factor samples, sample k being the mean of inputs k×factor and k×factor + 1.
// A target of 0, a target above the input count or fewer than 2 inputs give an empty list.
std::vector<float> downSampled(const std::vector<float>& samples, size_t target);

}  // namespace sonora
