// Hand-made input and output buffer lists for driving a kernel's render directly.
#pragma once

#include "SonoraEX/Kernels/DSPBase.h"

#include <cstdint>
#include <vector>

namespace sonoraex_test {

class Lists {
public:
    Lists(uint32_t channels, uint32_t frames, float outputFill)
        : in(channels, std::vector<float>(frames, 0.0f)), out(channels, std::vector<float>(frames, outputFill)),
          storage_(64) {
        auto* list = outList();
        list->mNumberBuffers = channels;
        for (uint32_t c = 0; c < channels; ++c) list->mBuffers[c] = {1, frames * 4, out[c].data()};
    }
    void fillInput(float value) {
        for (auto& channel : in) channel.assign(channel.size(), value);
    }
    platform::AudioBufferList* outList() { return reinterpret_cast<platform::AudioBufferList*>(storage_.data()); }

    // Renders with a pull block that copies `in` (and an internal buffer list for kernels that
    // are not in place).
    platform::OSStatus render(sonora::DSPBase& kernel, int64_t sampleTime, uint32_t frames,
                              const platform::AURenderEvent* events, platform::NSInteger bus = 0) {
        std::vector<std::vector<float>> busStorage(in.size(), std::vector<float>(in.empty() ? 0 : in[0].size()));
        std::vector<uint64_t> busList(64);
        auto* list = reinterpret_cast<platform::AudioBufferList*>(busList.data());
        list->mNumberBuffers = uint32_t(in.size());
        for (uint32_t c = 0; c < in.size(); ++c) list->mBuffers[c] = {1, uint32_t(busStorage[c].size() * 4), busStorage[c].data()};
        kernel.setBuffer(list, 0);
        auto pull = [&](platform::AudioUnitRenderActionFlags*, const platform::AudioTimeStamp*, uint32_t n,
                        platform::NSInteger, platform::AudioBufferList* into) {
            for (uint32_t c = 0; c < into->mNumberBuffers && c < in.size(); ++c)
                for (uint32_t i = 0; i < n; ++i) static_cast<float*>(into->mBuffers[c].mData)[i] = in[c][i];
            return platform::OSStatus(0);
        };
        const platform::OSStatus status = kernel.render(nullptr, stamp(sampleTime), frames, bus, outList(), events, pull);
        kernel.setBuffer(nullptr, 0);
        return status;
    }
    platform::OSStatus renderWithoutPull(sonora::DSPBase& kernel, int64_t sampleTime, uint32_t frames) {
        return kernel.render(nullptr, stamp(sampleTime), frames, 0, outList(), nullptr, nullptr);
    }

    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;

private:
    const platform::AudioTimeStamp* stamp(int64_t sampleTime) {
        stamp_.mSampleTime = double(sampleTime);
        stamp_.mFlags = platform::kAudioTimeStampSampleTimeValid;
        return &stamp_;
    }
    platform::AudioTimeStamp stamp_;
    std::vector<uint64_t> storage_;
};

}  // namespace sonoraex_test
