// Parameters of the platform's parameter tree made from a node's description of them.
#pragma once

#include "Sonora/Internals/Utilities/ClosedRange.h"
#include "platform/audiotoolbox/AUParameterTree.h"

#include <memory>
#include <string>

namespace sonora {

// AUParameterTree.createParameter(identifier:name:address:range:unit:flags:): the platform
// parameter for those values, with no unit name, no value strings and no dependent parameters.
inline std::shared_ptr<platform::AUParameter> createParameter(const std::string& identifier, const std::string& name,
                                                              platform::AUParameterAddress address,
                                                              ClosedRange<platform::AUValue> range,
                                                              platform::AudioUnitParameterUnit unit,
                                                              platform::AudioUnitParameterOptions flags) {
    return platform::AUParameterTree::createParameter(identifier, name, address, range.lowerBound, range.upperBound,
                                                      unit, std::nullopt, flags);
}

}  // namespace sonora
