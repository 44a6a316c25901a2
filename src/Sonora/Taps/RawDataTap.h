// Copies channel 0 of each tapped buffer (its last bufferSize frames) into `data` and hands it to
// a handler on the main queue, for example to draw a waveform.
#pragma once

#include "Sonora/Taps/BaseTap.h"

#include <functional>
#include <vector>

namespace sonora {

class RawDataTap : public BaseTap {
public:
    using Handler = std::function<void(const std::vector<float>&)>;

    RawDataTap(std::shared_ptr<Node> input, uint32_t bufferSize = 1024, Handler handler = {});

    std::vector<float> data;

    void stop() override;

protected:
    void doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time) override;

private:
    Handler handler_;
};

}  // namespace sonora
