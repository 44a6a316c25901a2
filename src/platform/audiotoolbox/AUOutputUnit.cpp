#include "platform/audiotoolbox/AUOutputUnit.h"

#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/foundation/OSLog.h"

#include <cstring>

namespace platform {

AUOutputUnit::AUOutputUnit(std::shared_ptr<AudioDeviceStream> stream)
    : AUAudioUnit({kAudioUnitType_Output, kAudioUnitSubType_HALOutput, kAudioUnitManufacturer_Apple, 0, 0}, 1, 1),
      stream_(std::move(stream)) {
    audioUnitName = "AUHAL";
}

OSStatus AUOutputUnit::getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                   void* outData, uint32_t* ioDataSize) {
    if (id == kAudioOutputUnitProperty_ChannelMap && channelMap_.get) {
        const std::vector<int32_t> map = channelMap_.get();
        const uint32_t bytes = uint32_t(map.size() * sizeof(int32_t));
        if (!ioDataSize || (outData && *ioDataSize < bytes)) return kAudioUnitErr_InvalidPropertyValue;
        if (outData && bytes) std::memcpy(outData, map.data(), bytes);
        *ioDataSize = bytes;
        return noErr;
    }
    if (!stream_ || (id != kAudioOutputUnitProperty_CurrentDevice && id != kAudioUnitProperty_DeviceBufferFrameSize))
        return AUAudioUnit::getProperty(id, scope, element, outData, ioDataSize);
    if (*ioDataSize < sizeof(uint32_t)) return kAudioUnitErr_InvalidPropertyValue;
    const uint32_t value =
        id == kAudioOutputUnitProperty_CurrentDevice ? stream_->deviceID() : stream_->framesPerCycle();
    std::memcpy(outData, &value, sizeof value);
    *ioDataSize = sizeof value;
    return noErr;
}

OSStatus AUOutputUnit::setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                   const void* inData, uint32_t inDataSize) {
    if (id == kAudioOutputUnitProperty_ChannelMap && channelMap_.set) {
        if (scope != kAudioUnitScope_Output || element != 1) return kAudioUnitErr_InvalidScope;
        return channelMap_.set(inData, inDataSize);
    }
    if (!stream_ || id != kAudioOutputUnitProperty_CurrentDevice)
        return AUAudioUnit::setProperty(id, scope, element, inData, inDataSize);
    if (inDataSize < sizeof(AudioDeviceID)) return kAudioUnitErr_InvalidPropertyValue;
    AudioDeviceID deviceID = 0;
    std::memcpy(&deviceID, inData, sizeof deviceID);
    try {
        stream_->setDevice(deviceID);
    } catch (const NSErrorException& e) {
        os_log({"com.tamberlo.platform", "audio"}, OSLogType::error, e.error().description());
        return kAudioUnitErr_InvalidPropertyValue;
    }
    return noErr;
}

}  // namespace platform
