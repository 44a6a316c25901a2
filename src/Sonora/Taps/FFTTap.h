// Turns each tapped buffer into a power spectrum of channel 0: Hann window, real FFT of a
// power-of-two size, scaled, squared magnitudes, optionally normalised to a largest value of 1.
// The size follows the buffer (times 1 + zeroPaddingFactor) or a fixed number of bins.
#pragma once

#include "Sonora/Taps/BaseTap.h"

#include <functional>
#include <optional>
#include <vector>

namespace sonora {

enum class FFTValidBinCount {
    two,
    four,
    eight,
    sixteen,
    thirtyTwo,
    sixtyFour,
    oneHundredTwentyEight,
    twoHundredFiftySix,
    fiveHundredAndTwelve,
    oneThousandAndTwentyFour,
    twoThousandAndFortyEight,
    fourThousandAndNintySix,
    eightThousandOneHundredAndNintyTwo,
};
// 2.0 ... 8192.0.
double rawValue(FFTValidBinCount count);
// Exactly the thirteen raw values; none for any other.
std::optional<FFTValidBinCount> fftValidBinCount(double rawValue);

class FFTTap : public BaseTap {
public:
    using Handler = std::function<void(const std::vector<float>&)>;

    struct FFTSetupForBinCount {
        explicit FFTSetupForBinCount(FFTValidBinCount count);
        uint64_t log2n;
        int64_t binCount;
    };

    FFTTap(std::shared_ptr<Node> input, uint32_t bufferSize = 4096, std::optional<FFTValidBinCount> fftValidBinCount = std::nullopt,
           Handler handler = {});

    std::vector<float> fftData;
    bool isNormalized = true;
    uint32_t zeroPaddingFactor = 0;

    // The spectrum of channel 0 of the buffer's frameLength frames, zero-padded up to the transform
    // size. Empty (logged) for a buffer without frames or float data, or a size that cannot be made.
    static std::vector<float> performFFT(const platform::AVAudioPCMBuffer& buffer, bool isNormalized, uint32_t zeroPaddingFactor,
                                         const std::optional<FFTSetupForBinCount>& binCount);

    void stop() override;

protected:
    void doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time) override;

private:
    std::optional<FFTSetupForBinCount> fftSetupForBinCount_;
    Handler handler_;
};

}  // namespace sonora
