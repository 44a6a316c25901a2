#include "Sonora/Taps/FFTTap.h"

#include "Sonora/Internals/Utilities/DSPSplitComplexAllocation.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/accelerate/vDSP.h"

#include <algorithm>
#include <cmath>

namespace sonora {

double rawValue(FFTValidBinCount count) { return std::ldexp(1.0, int(count) + 1); }

std::optional<FFTValidBinCount> fftValidBinCount(double raw) {
    for (int k = 0; k <= int(FFTValidBinCount::eightThousandOneHundredAndNintyTwo); ++k)
        if (rawValue(FFTValidBinCount(k)) == raw) return FFTValidBinCount(k);
    return std::nullopt;
}

FFTTap::FFTSetupForBinCount::FFTSetupForBinCount(FFTValidBinCount count)
    : log2n(uint64_t(count) + 1), binCount(int64_t(rawValue(count))) {}

FFTTap::FFTTap(std::shared_ptr<Node> input, uint32_t bufferSize, std::optional<FFTValidBinCount> binCount, Handler handler)
    : BaseTap(std::move(input), bufferSize), handler_(std::move(handler)) {
    if (binCount) fftSetupForBinCount_.emplace(*binCount);
    fftData.assign(fftSetupForBinCount_ ? size_t(fftSetupForBinCount_->binCount) : size_t(bufferSize), 0.0f);
}

std::vector<float> FFTTap::performFFT(const platform::AVAudioPCMBuffer& buffer, bool isNormalized, uint32_t zeroPaddingFactor,
                                      const std::optional<FFTSetupForBinCount>& binCount) {
    using namespace platform;
    float* const* channels = buffer.floatChannelData();
    const uint64_t frameLength = buffer.frameLength();
    if (!channels || frameLength == 0) {
        Log({"FFT skipped: the buffer holds no frames"});
        return {};
    }
    const uint64_t x = frameLength * (uint64_t(zeroPaddingFactor) + 1);
    if (x > UINT32_MAX) {
        Log({"FFT skipped: frameLength", frameLength, "times 1 + zeroPaddingFactor", zeroPaddingFactor, "does not fit 32 bits"});
        return {};
    }
    vDSP_Length log2n;
    if (!binCount || int64_t(x) < binCount->binCount) log2n = vDSP_Length(std::round(std::log2(double(x))));
    else log2n = vDSP_Length(binCount->log2n + 1);
    FFTSetup setup = log2n > 0 ? vDSP_create_fftsetup(log2n, kFFTRadix2) : nullptr;
    if (!setup) {
        Log({"FFT skipped: no FFT set-up for", size_t(1) << std::min<vDSP_Length>(log2n, 40), "points"});
        return {};
    }
    const size_t n = size_t(1) << log2n;
    const size_t h = n / 2;

    // Channel 0's frames, then zeros up to the transform size.
    // The window of the last size, kept per thread: its cosines cost as much as the transform.
    thread_local std::vector<float> window;
    if (window.size() != n) {
        window.resize(n);
        vDSP_hann_window(window.data(), n, vDSP_HANN_NORM);
    }
    std::vector<float> transfer(n, 0.0f);
    const size_t copied = std::min<size_t>(n, frameLength);
    vDSP_vmul(channels[0], vDSP_Stride(buffer.stride()), window.data(), 1, transfer.data(), 1, copied);

    DSPSplitComplex output = makeDSPSplitComplex(0, h);
    vDSP_ctoz(reinterpret_cast<const DSPComplex*>(transfer.data()), 2, &output, 1, h);
    vDSP_fft_zrip(setup, &output, 1, log2n, kFFTDirection_Forward);
    DSPSplitComplex scaled = makeDSPSplitComplex(0, h);
    float scaleReal = 1.0f / float(h), scaleImag = 0;
    DSPSplitComplex scale{&scaleReal, &scaleImag};
    vDSP_zvzsml(&output, 1, &scale, &scaled, 1, h);
    std::vector<float> magnitudes(h);
    vDSP_zvmags(&scaled, 1, magnitudes.data(), 1, h);
    deallocate(output);
    deallocate(scaled);
    vDSP_destroy_fftsetup(setup);

    if (!isNormalized) return magnitudes;
    // A silent spectrum stays zeros rather than dividing by 0.
    const float largest = magnitudes.empty() ? 0.0f : *std::max_element(magnitudes.begin(), magnitudes.end());
    const float factor = largest > 0 ? 1.0f / largest : 1.0f;
    std::vector<float> normalized(h);
    vDSP_vsmul(magnitudes.data(), 1, &factor, normalized.data(), 1, h);
    return normalized;
}

void FFTTap::doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime&) {
    if (!buffer->floatChannelData()) return;
    auto spectrum = performFFT(*buffer, isNormalized, zeroPaddingFactor, fftSetupForBinCount_);
    if (spectrum.empty()) return;
    fftData = std::move(spectrum);
    if (handler_) handler_(fftData);
}

void FFTTap::stop() {
    stopTap();
    std::fill(fftData.begin(), fftData.end(), 0.0f);
}

}  // namespace sonora
