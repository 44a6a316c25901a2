// Measures each tapped buffer per channel (RMS or the signed maximum) and reports one number per
// buffer on the main queue: the left value, the right value or their mean. Channels 0 and 1 are
// measured; further channels are ignored.
#pragma once

#include "Sonora/Taps/BaseTap.h"

#include <array>
#include <functional>

namespace sonora {

enum class StereoMode { left, right, center };
enum class AnalysisMode { rms, peak };

class AmplitudeTap : public BaseTap {
public:
    using Handler = std::function<void(float)>;

    AmplitudeTap(std::shared_ptr<Node> input, uint32_t bufferSize = 1024, StereoMode stereoMode = StereoMode::center,
                 AnalysisMode analysisMode = AnalysisMode::rms, Handler handler = {});

    // The mean of the two channel values.
    float amplitude() const { return 0.5f * (amp_[0] + amp_[1]); }
    float leftAmplitude() const { return amp_[0]; }
    float rightAmplitude() const { return amp_[1]; }

    StereoMode stereoMode = StereoMode::center;
    AnalysisMode analysisMode = AnalysisMode::rms;

    void stop() override;

protected:
    void doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time) override;

private:
    std::array<float, 2> amp_{0, 0};
    Handler handler_;
};

}  // namespace sonora
