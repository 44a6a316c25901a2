// Audio object property queries: the system object lists the devices, each device answers its
// name and stream configuration. Queries go to a property provider, the machine's by default; tests
// install a fake one (AudioObjectFakeProvider.h).
#pragma once

#include "platform/coreaudio/CoreAudioTypes.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <memory>

namespace platform {

using AudioObjectID = uint32_t;
using AudioDeviceID = AudioObjectID;
using AudioObjectPropertySelector = uint32_t;
using AudioObjectPropertyScope = uint32_t;
using AudioObjectPropertyElement = uint32_t;

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector mSelector = 0;
    AudioObjectPropertyScope mScope = 0;
    AudioObjectPropertyElement mElement = 0;
};

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = FourCC("glob");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = FourCC("inpt");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = FourCC("outp");
inline constexpr AudioObjectPropertyScope kAudioDevicePropertyScopeInput = kAudioObjectPropertyScopeInput;
inline constexpr AudioObjectPropertyScope kAudioDevicePropertyScopeOutput = kAudioObjectPropertyScopeOutput;
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMaster = 0;

// System object: AudioObjectID[] of every device; the default output and input device (one ID).
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = FourCC("dev#");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice = FourCC("dOut");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultInputDevice = FourCC("dIn ");
// Any object: its name as a CFStringRef the caller releases.
inline constexpr AudioObjectPropertySelector kAudioObjectPropertyName = FourCC("lnam");
// Device, input or output scope: an AudioBufferList whose buffers carry the channel counts.
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration = FourCC("slay");
// Device: its nominal sample rate (Float64) and its buffer size in frames (UInt32).
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyNominalSampleRate = FourCC("nsrt");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyBufferFrameSize = FourCC("fsiz");

inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareUnspecifiedError = static_cast<OSStatus>(FourCC("what"));
inline constexpr OSStatus kAudioHardwareUnknownPropertyError = static_cast<OSStatus>(FourCC("who?"));
inline constexpr OSStatus kAudioHardwareBadPropertySizeError = static_cast<OSStatus>(FourCC("!siz"));
inline constexpr OSStatus kAudioHardwareIllegalOperationError = static_cast<OSStatus>(FourCC("nope"));
inline constexpr OSStatus kAudioHardwareBadObjectError = static_cast<OSStatus>(FourCC("!obj"));
inline constexpr OSStatus kAudioHardwareBadDeviceError = static_cast<OSStatus>(FourCC("!dev"));

// A text handed out by the object name property; release it with CFRelease.
struct CFStringStorage;
using CFStringRef = const CFStringStorage*;
CFStringRef CFStringCreateWithStdString(const std::string& text);
// The text of a reference ("" for null).
std::string CFStringGetStdString(CFStringRef string);
void CFRelease(CFStringRef string);

// Answers the property queries; the machine's provider reads the device registry.
class AudioObjectPropertyProvider {
public:
    virtual ~AudioObjectPropertyProvider() = default;
    virtual OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                         uint32_t* outDataSize) = 0;
    virtual OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     uint32_t* ioDataSize, void* outData) = 0;
};

// Installs a provider for every later query (null restores the machine's); returns the previous one.
std::shared_ptr<AudioObjectPropertyProvider> AudioObjectSetPropertyProvider(
    std::shared_ptr<AudioObjectPropertyProvider> provider);

// The size in bytes of a property's data. Unknown object: '!obj'; unknown selector or scope: 'who?'.
OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        uint32_t inQualifierDataSize, const void* inQualifierData,
                                        uint32_t* outDataSize);

// Copies a property's data into outData; *ioDataSize holds the room given and then the bytes written.
// Too little room: '!siz'.
OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                    uint32_t inQualifierDataSize, const void* inQualifierData,
                                    uint32_t* ioDataSize, void* outData);

// True when the object answers the property.
bool AudioObjectHasProperty(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress);

}  // namespace platform
