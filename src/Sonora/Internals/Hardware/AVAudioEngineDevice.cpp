#include "Sonora/Internals/Hardware/AVAudioEngineDevice.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"

namespace sonora {

using namespace platform;

AudioDeviceID getDevice(AVAudioEngine& engine) {
    const auto output = engine.outputNode();
    const AudioUnit unit = output ? output->audioUnit() : nullptr;
    if (!unit) return 0;
    AudioDeviceID deviceID = 0;
    uint32_t size = sizeof(deviceID);
    const OSStatus status = AudioUnitGetProperty(unit, kAudioOutputUnitProperty_CurrentDevice,
                                                 kAudioUnitScope_Global, 0, &deviceID, &size);
    if (status != noErr) {
        Log({"getDevice error: ", status});
        return 0;
    }
    return deviceID;
}

void setDevice(AVAudioEngine& engine, AudioDeviceID deviceID) {
    const auto output = engine.outputNode();
    const AudioUnit unit = output ? output->audioUnit() : nullptr;
    if (!unit) return;
    const OSStatus status = AudioUnitSetProperty(unit, kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global,
                                                 0, &deviceID, sizeof(deviceID));
    if (status != noErr) Log({"setDevice error: ", status});
}

}  // namespace sonora
