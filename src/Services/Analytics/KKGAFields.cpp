#include "Services/Analytics/KKGAFields.h"

namespace tamberlo::KKGAFields {

std::string customDimensionForIndex(uint64_t index) { return "cd" + std::to_string(index); }
std::string customMetricForIndex(uint64_t index) { return "cm" + std::to_string(index); }

}  // namespace tamberlo::KKGAFields
