#include "Sonora/Taps/AmplitudeTap.h"

#include "platform/accelerate/vDSP.h"

#include <algorithm>

namespace sonora {

AmplitudeTap::AmplitudeTap(std::shared_ptr<Node> input, uint32_t bufferSize, StereoMode stereoMode, AnalysisMode analysisMode,
                           Handler handler)
    : BaseTap(std::move(input), bufferSize), stereoMode(stereoMode), analysisMode(analysisMode), handler_(std::move(handler)) {}

void AmplitudeTap::doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime&) {
    float* const* data = buffer->floatChannelData();
    if (!data) return;
    const uint32_t channels = std::min<uint32_t>(buffer->format().channelCount(), uint32_t(amp_.size()));
    const auto frames = platform::vDSP_Length(buffer->frameLength());
    const platform::vDSP_Stride stride = platform::vDSP_Stride(buffer->stride());
    for (uint32_t c = 0; c < channels; ++c) {
        const float* samples = stride > 1 ? data[0] + c : data[c];
        float value = 0;
        if (analysisMode == AnalysisMode::rms) {
            platform::vDSP_rmsqv(samples, stride, &value, frames);
        } else {
            platform::vDSP_Length index = 0;
            platform::vDSP_maxvi(samples, stride, &value, &index, frames);
        }
        amp_[c] = value;
    }
    float reported = amplitude();
    if (stereoMode == StereoMode::left) reported = amp_[0];
    else if (stereoMode == StereoMode::right) reported = amp_[1];
    if (handler_) handler_(reported);
}

void AmplitudeTap::stop() {
    stopTap();
    amp_ = {0, 0};
}

}  // namespace sonora
