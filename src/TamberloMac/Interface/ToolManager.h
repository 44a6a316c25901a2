// Label formatting of the editor window.
#pragma once

#include <string>

namespace tamberlo {

class ToolManager {
public:
    // "HH:MM:SS" of the whole seconds ("00:00:59" for 59.9).
    static std::string timeStringWith(double seconds);
    // "<音量>：+0.0dB" for a linear gain: -∞dB at 0 or below, one decimal otherwise, a plus sign from unity up.
    static std::string volumeStringWith(double volume);
};

}  // namespace tamberlo
