#include "platform/audiotoolbox/AUAudioUnit.h"

#include "platform/audiotoolbox/AudioUnit.h"

namespace platform {

namespace {
AVAudioFormat busFormat(const AVAudioFormat& format) {
    return format.isValid() ? format : AVAudioFormat::standardFormatWithSampleRate(44100, 2);
}
}  // namespace

AUAudioUnit::AUAudioUnit(AudioComponentDescription description, uint32_t inputBusCount, uint32_t outputBusCount,
                         AVAudioFormat format)
    : description_(description),
      inputBusses_(AUAudioUnitBusType::input, inputBusCount, busFormat(format)),
      outputBusses_(AUAudioUnitBusType::output, outputBusCount, busFormat(format)) {}

AUAudioUnit::~AUAudioUnit() = default;

AUScheduleParameterBlock AUAudioUnit::scheduleParameterBlock() {
    // A unit owned by a shared_ptr is held weakly: a node may keep the block after its unit went away.
    std::weak_ptr<AUAudioUnit> weak = weak_from_this();
    AUAudioUnit* raw = weak.expired() ? this : nullptr;
    return [weak, raw](AUEventSampleTime time, AUAudioFrameCount ramp, AUParameterAddress address, AUValue value) {
        std::shared_ptr<AUAudioUnit> owner = weak.lock();
        AUAudioUnit* unit = owner ? owner.get() : raw;
        if (unit) unit->scheduleParameter(time, ramp, address, value);
    };
}

void AUAudioUnit::scheduleParameter(AUEventSampleTime time, AUAudioFrameCount ramp, AUParameterAddress address,
                                    AUValue value) {
    if (!parameterTree_) return;
    std::shared_ptr<AUParameter> parameter = parameterTree_->parameter(address);
    if (!parameter) return;
    {
        // Queued before the value is set, so a render that sees the new value also finds its event.
        // When full the render thread is far behind: the event is dropped, the value still changes.
        std::lock_guard lock(eventsMutex_);
        events_.push(AURenderEvent{time, ramp, address, value});
    }
    parameter->setValue(value);
}

bool AUAudioUnit::popRenderEvent(AURenderEvent& event) { return events_.pop(event); }

void AUAudioUnit::reset() {
    AURenderEvent dropped;
    while (popRenderEvent(dropped)) {
    }
    if (resetHandler) resetHandler();
}

OSStatus AUAudioUnit::getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                  void* outData, uint32_t* ioDataSize) {
    if (propertyGetter_) return propertyGetter_(id, scope, element, outData, ioDataSize);
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUAudioUnit::setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                  const void* inData, uint32_t inDataSize) {
    if (propertySetter_) return propertySetter_(id, scope, element, inData, inDataSize);
    return kAudioUnitErr_InvalidProperty;
}

void AUAudioUnit::setPropertyHooks(AUPropertyGetter getter, AUPropertySetter setter) {
    propertyGetter_ = std::move(getter);
    propertySetter_ = std::move(setter);
}

}  // namespace platform
