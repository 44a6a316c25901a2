// The render contract of an audio unit: the events a render cycle hands to the unit, and the
// blocks through which the host renders it and it pulls its inputs. The pull block is a borrowed
// callable (no allocation per cycle); a unit's internal block is made once, when it allocates.
#pragma once

#include "platform/audiotoolbox/AUParameter.h"
#include "platform/coreaudio/AudioTimeStamp.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

namespace platform {

using OSStatus = int32_t;
using AUEventSampleTime = int64_t;
using AUAudioFrameCount = uint32_t;
using AUAudioUnitStatus = OSStatus;
using NSInteger = long;
using AudioUnitRenderActionFlags = uint32_t;

inline constexpr AudioUnitRenderActionFlags kAudioUnitRenderAction_PreRender = 1u << 2;
inline constexpr AudioUnitRenderActionFlags kAudioUnitRenderAction_PostRender = 1u << 3;
inline constexpr AudioUnitRenderActionFlags kAudioUnitRenderAction_OutputIsSilence = 1u << 4;

inline constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;
inline constexpr OSStatus kAudioUnitErr_NoConnection = -10876;

// "As soon as possible": an event time of AUEventSampleTimeImmediate + n (n below 2^31) means n
// frames into the next render cycle.
inline constexpr AUEventSampleTime AUEventSampleTimeImmediate = static_cast<int64_t>(0xFFFFFFFF00000000ull);

enum class AURenderEventType : uint8_t { parameter = 1, parameterRamp = 2, MIDI = 8, midiSysEx = 9 };

union AURenderEvent;

struct AURenderEventHeader {
    AURenderEvent* next;
    AUEventSampleTime eventSampleTime;
    AURenderEventType eventType;
    uint8_t reserved;
};

struct AUParameterEvent {
    AURenderEvent* next;
    AUEventSampleTime eventSampleTime;
    AURenderEventType eventType;
    uint8_t reserved[3];
    AUAudioFrameCount rampDurationSampleFrames;
    AUParameterAddress parameterAddress;
    AUValue value;
};

struct AUMIDIEvent {
    AURenderEvent* next;
    AUEventSampleTime eventSampleTime;
    AURenderEventType eventType;
    uint8_t reserved;
    uint16_t length;
    uint8_t cable;
    uint8_t data[3];
};

union AURenderEvent {
    AURenderEventHeader head;
    AUParameterEvent parameter;
    AUMIDIEvent MIDI;
};

// The header and a MIDI event are one 24-byte record (a MIDI ring copies them byte for byte).
static_assert(sizeof(AUMIDIEvent) == 24);
static_assert(sizeof(AURenderEventHeader) == 24);
static_assert(std::is_trivially_copyable_v<AURenderEvent>);

// A borrowed callable: refers to a function object that outlives every call through it. Copying
// and calling never allocate.
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
public:
    FunctionRef() = default;
    FunctionRef(std::nullptr_t) {}  // NOLINT
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && std::is_invocable_r_v<R, F&, Args...>)
    FunctionRef(F&& f)  // NOLINT: binds like a block argument
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }
    explicit operator bool() const { return call_ != nullptr; }

private:
    void* object_ = nullptr;
    R (*call_)(void*, Args...) = nullptr;
};

// Pulls `frameCount` frames of an input bus into `inputData`. Buffers with data receive a copy;
// buffers without data (mData null) are pointed at the source's samples, valid until the render
// returns. An unconnected bus gives zeros and kAudioUnitErr_NoConnection.
using AURenderPullInputBlock = FunctionRef<AUAudioUnitStatus(AudioUnitRenderActionFlags* actionFlags,
                                                             const AudioTimeStamp* timestamp,
                                                             AUAudioFrameCount frameCount, NSInteger inputBusNumber,
                                                             AudioBufferList* inputData)>;

// A unit's own render: fills `outputData` for `frameCount` frames, handling the time-ordered
// events (null for none) at their sample times and pulling input through `pullInputBlock` (null
// for a host that has none). Runs on the render thread: no lock, no allocation.
using AUInternalRenderBlock = std::function<AUAudioUnitStatus(
    AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
    NSInteger outputBusNumber, AudioBufferList* outputData, const AURenderEvent* realtimeEventListHead,
    AURenderPullInputBlock pullInputBlock)>;

// What the host calls: the unit's render with its scheduled events and its observers.
using AURenderBlock = std::function<AUAudioUnitStatus(AudioUnitRenderActionFlags* actionFlags,
                                                      const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
                                                      NSInteger outputBusNumber, AudioBufferList* outputData,
                                                      AURenderPullInputBlock pullInputBlock)>;

// Called before (flags PreRender) and after (PostRender) every render of the unit, on the render thread.
using AURenderObserver = std::function<void(AudioUnitRenderActionFlags actionFlags, const AudioTimeStamp* timestamp,
                                            AUAudioFrameCount frameCount, NSInteger outputBusNumber)>;

// Queues a parameter change, ramped linearly over rampDurationSampleFrames when the unit can.
using AUScheduleParameterBlock = std::function<void(AUEventSampleTime eventSampleTime,
                                                    AUAudioFrameCount rampDurationSampleFrames,
                                                    AUParameterAddress parameterAddress, AUValue value)>;
// Queues a MIDI message (length bytes) on a virtual cable.
using AUScheduleMIDIEventBlock =
    std::function<void(AUEventSampleTime eventSampleTime, uint8_t cable, NSInteger length, const uint8_t* midiBytes)>;

}  // namespace platform
