// The audio unit of the engine's output (or input) node: it answers the device properties from the
// device stream it drives: the current device (2000, settable while running) and 'fsiz'.
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <functional>
#include <vector>

namespace platform {

class AUOutputUnit : public AUAudioUnit {
public:
    explicit AUOutputUnit(std::shared_ptr<AudioDeviceStream> stream);

    const std::shared_ptr<AudioDeviceStream>& deviceStream() const { return stream_; }

    // The owner of the channel map (property 2002): sets it from the raw Int32 values, and reads it.
    struct ChannelMapHandlers {
        std::function<OSStatus(const void* data, uint32_t size)> set;
        std::function<std::vector<int32_t>()> get;
    };
    void setChannelMapHandlers(ChannelMapHandlers handlers) { channelMap_ = std::move(handlers); }

    OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, void* outData,
                         uint32_t* ioDataSize) override;
    // Setting 2000 to a device that cannot open answers kAudioUnitErr_InvalidPropertyValue and
    // keeps the previous device.
    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         const void* inData, uint32_t inDataSize) override;

private:
    std::shared_ptr<AudioDeviceStream> stream_;
    ChannelMapHandlers channelMap_;
};

}  // namespace platform
