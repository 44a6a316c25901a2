// A range that includes both its ends (lower ... upper).
#pragma once

namespace sonora {

template <typename T>
struct ClosedRange {
    T lowerBound{};
    T upperBound{};

    // True when lower ≤ value ≤ upper.
    bool contains(const T& value) const { return !(value < lowerBound) && !(upperBound < value); }
    bool operator==(const ClosedRange&) const = default;
};

}  // namespace sonora
