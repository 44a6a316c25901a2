#include "platform/audiotoolbox/AudioUnit.h"

namespace platform {

namespace {
std::shared_ptr<AUParameter> findParameter(AUAudioUnit* unit, AudioUnitParameterID id, AudioUnitScope scope) {
    // Parameters live in the global scope of the unit's tree.
    if (scope != kAudioUnitScope_Global) return nullptr;
    const auto tree = unit->parameterTree();
    return tree ? tree->parameter(id) : nullptr;
}
}  // namespace

OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement, AudioUnitParameterValue inValue, uint32_t) {
    AUAudioUnit* unit = AUAudioUnit::fromAudioUnit(inUnit);
    if (!unit) return kAudio_ParamError;
    const auto parameter = findParameter(unit, inID, inScope);
    if (!parameter) return kAudioUnitErr_InvalidParameter;
    parameter->setValue(inValue);
    return noErr;
}

OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement, AudioUnitParameterValue* outValue) {
    AUAudioUnit* unit = AUAudioUnit::fromAudioUnit(inUnit);
    if (!unit || !outValue) return kAudio_ParamError;
    const auto parameter = findParameter(unit, inID, inScope);
    if (!parameter) return kAudioUnitErr_InvalidParameter;
    *outValue = parameter->value();
    return noErr;
}

OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope, AudioUnitElement) {
    AUAudioUnit* unit = AUAudioUnit::fromAudioUnit(inUnit);
    if (!unit) return kAudio_ParamError;
    unit->reset();
    return noErr;
}

OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, uint32_t* ioDataSize) {
    AUAudioUnit* unit = AUAudioUnit::fromAudioUnit(inUnit);
    if (!unit || !outData || !ioDataSize) return kAudio_ParamError;
    return unit->getProperty(inID, inScope, inElement, outData, ioDataSize);
}

OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, uint32_t inDataSize) {
    AUAudioUnit* unit = AUAudioUnit::fromAudioUnit(inUnit);
    if (!unit || !inData) return kAudio_ParamError;
    return unit->setProperty(inID, inScope, inElement, inData, inDataSize);
}

}  // namespace platform
