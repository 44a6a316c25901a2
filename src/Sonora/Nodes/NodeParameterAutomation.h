// The render observer behind NodeParameter::automate, for callers that drive a unit themselves.
#pragma once

#include "Sonora/Nodes/AutomationEvent.h"
#include "platform/audiotoolbox/AURenderEvent.h"

#include <cstddef>

namespace sonora {

// An observer that, before each render cycle (flags exactly PreRender), schedules through the
// block the events (a sorted private copy) that start in that cycle: at their frame offset, or at
// once with the rest of the ramp for one already under way; events over before the cycle give one
// immediate value, the last of them. Null when the block is null or the rate not positive.
platform::AURenderObserver createAutomationRenderObserver(platform::AUParameterAddress address,
                                                          platform::AUScheduleParameterBlock scheduleParameterBlock,
                                                          const AutomationEvent* events, size_t count,
                                                          float sampleRate, double startSampleTime);

}  // namespace sonora
