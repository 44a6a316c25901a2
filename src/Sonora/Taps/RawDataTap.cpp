#include "Sonora/Taps/RawDataTap.h"

#include <algorithm>

namespace sonora {

RawDataTap::RawDataTap(std::shared_ptr<Node> input, uint32_t bufferSize, Handler handler)
    : BaseTap(std::move(input), bufferSize), data(bufferSize, 0.0f), handler_(std::move(handler)) {}

void RawDataTap::doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime&) {
    float* const* channels = buffer->floatChannelData();
    if (!channels) return;
    // The last frameLength frames of the capacity; a buffer shorter than bufferSize is padded with zeros.
    const uint32_t start = buffer->frameCapacity() - buffer->frameLength();
    const uint32_t copied = std::min(bufferSize(), buffer->frameCapacity() - start);
    const size_t stride = buffer->stride();
    std::vector<float> samples(bufferSize(), 0.0f);
    for (uint32_t i = 0; i < copied; ++i) samples[i] = channels[0][(size_t(start) + i) * stride];
    data = std::move(samples);
    if (handler_) handler_(data);
}

void RawDataTap::stop() {
    stopTap();
    std::fill(data.begin(), data.end(), 0.0f);
}

}  // namespace sonora
