// The C calls on an audio unit handle: parameters, reset and properties.
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/coreaudio/AudioObject.h"

namespace platform {

inline constexpr AudioUnitScope kAudioUnitScope_Global = 0;
inline constexpr AudioUnitScope kAudioUnitScope_Input = 1;
inline constexpr AudioUnitScope kAudioUnitScope_Output = 2;

// The output unit's current device (AudioDeviceID, 4 bytes); settable while running.
inline constexpr AudioUnitPropertyID kAudioOutputUnitProperty_CurrentDevice = 2000;
// Int32 device channel numbers, one per channel of the I/O unit's output (input side: scope
// output, element 1).
inline constexpr AudioUnitPropertyID kAudioOutputUnitProperty_ChannelMap = 2002;
// The output unit's frames per device cycle (UInt32, 4 bytes).
inline constexpr AudioUnitPropertyID kAudioUnitProperty_DeviceBufferFrameSize = FourCC("fsiz");

inline constexpr OSStatus kAudioUnitErr_InvalidProperty = -10879;
inline constexpr OSStatus kAudioUnitErr_InvalidParameter = -10878;
inline constexpr OSStatus kAudioUnitErr_InvalidElement = -10877;
inline constexpr OSStatus kAudioUnitErr_InvalidScope = -10866;
inline constexpr OSStatus kAudioUnitErr_PropertyNotWritable = -10865;
inline constexpr OSStatus kAudioUnitErr_FormatNotSupported = -10868;
inline constexpr OSStatus kAudioUnitErr_InvalidPropertyValue = -10851;
inline constexpr OSStatus kAudioUnitErr_CannotDoInCurrentContext = -10863;
inline constexpr OSStatus kAudioUnitErr_Initialized = -10849;
inline constexpr OSStatus kAudioUnitErr_TooManyFramesToProcess = -10874;
// No audio component matches a description.
inline constexpr OSStatus invalidComponentID = -3000;

// Sets a global-scope parameter of the unit's tree (observers told). −50 for a null unit,
// kAudioUnitErr_InvalidParameter when the unit has no such parameter in that scope.
OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue inValue,
                               uint32_t inBufferOffsetInFrames);
OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue* outValue);
OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement);
OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, uint32_t* ioDataSize);
OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, uint32_t inDataSize);

}  // namespace platform
