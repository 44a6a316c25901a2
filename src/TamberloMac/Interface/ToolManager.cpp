#include "TamberloMac/Interface/ToolManager.h"

#include "TamberloMac/Shell/Localized.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace tamberlo {

std::string ToolManager::timeStringWith(double seconds) {
    // A position that is not a number or beyond any clock reads as zero rather than overflowing.
    long long n = 0;
    if (std::isfinite(seconds) && std::fabs(seconds) < 9.0e15) n = static_cast<long long>(std::trunc(seconds));
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", n / 3600, (n / 60) % 60, n % 60);
    return text;
}

std::string ToolManager::volumeStringWith(double volume) {
    // "音量：+4.3dB"; the separator is localized with the label ("Volume: +4.3dB").
    const std::string label = localized("音量") + localized("：");
    char text[64];
    if (!(volume > 0)) {
        std::snprintf(text, sizeof text, "-∞dB");
    } else if (volume < 1) {
        std::snprintf(text, sizeof text, "%.1fdB", 20 * std::log10(volume));
    } else {
        std::snprintf(text, sizeof text, "+%.1fdB", 20 * std::log10(volume));
    }
    return label + text;
}

}  // namespace tamberlo
