#include "platform/audiotoolbox/AVAudioUnitSampler.h"

#include <cstring>

namespace platform {

namespace {
std::shared_ptr<AUAudioUnit> makeSamplerUnit(const AudioComponentDescription& description) {
    auto unit = std::make_shared<AUAudioUnit>(description, 0, 1);
    unit->audioUnitName = "AUSampler";
    unit->setInternalRenderBlock([](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames,
                                    NSInteger, AudioBufferList* output, const AURenderEvent*, AURenderPullInputBlock) {
        for (uint32_t c = 0; c < output->mNumberBuffers; ++c)
            if (output->mBuffers[c].mData) std::memset(output->mBuffers[c].mData, 0, sizeof(float) * frames);
        return OSStatus{0};
    });
    return unit;
}
}  // namespace

AVAudioUnitSampler::AVAudioUnitSampler()
    : AVAudioUnitSampler(AudioComponentDescription{kAudioUnitType_MusicDevice, kAudioUnitSubType_Sampler,
                                                   kAudioUnitManufacturer_Apple, 0, 0}) {}

AVAudioUnitSampler::AVAudioUnitSampler(const AudioComponentDescription& description)
    : AVAudioUnit(makeSamplerUnit(description)) {}

}  // namespace platform
