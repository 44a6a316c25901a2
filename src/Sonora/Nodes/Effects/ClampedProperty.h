// The setters of the reverb, time-pitch and varispeed nodes: clamp to the property's range.
#pragma once

#include <algorithm>
#include <cmath>

namespace sonora {

// Stores `value` clamped to lower ... upper; false (nothing stored) for NaN, which has no nearer bound.
inline bool assignClamped(float& property, float value, float lower, float upper) {
    if (std::isnan(value)) return false;
    property = std::clamp(value, lower, upper);
    return true;
}

}  // namespace sonora
