#include "TamberloMac/Model/AVAudioFileDuration.h"

#include <cmath>

namespace tamberlo {

double duration(const platform::AVAudioFile& file) {
    const double rate = file.fileFormat().sampleRate();
    const auto frames = file.length();
    if (!(rate > 0) || !std::isfinite(rate) || frames <= 0) return 0;
    return double(frames) / rate;
}

double duration(const std::shared_ptr<platform::AVAudioFile>& file) { return file ? duration(*file) : 0; }

}  // namespace tamberlo
