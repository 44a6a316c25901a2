// What a node sees of a render cycle: the cycle's times, its own sample time, and a way to pull the
// nodes that feed its input buses. Used by node classes that render (mixers, players, units).
#pragma once

#include "platform/audiotoolbox/AURenderEvent.h"
#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/coreaudio/AudioTimeStamp.h"
#include "platform/coreaudio/CoreAudioTypes.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <vector>

namespace platform {
using AVAudioNodeBus = uint32_t;
}

namespace platform::detail {

class CompletionQueue;
class TapQueue;
}
namespace platform {
class AVAudioMixing;
}
namespace platform::detail {

// One cycle of the engine, as the output node sees it.
struct RenderCycle {
    uint64_t token = 0;             // the engine's cycle counter: 1, 2, 3, ...
    AVAudioFrameCount frames = 0;   // frames the output renders
    int64_t sampleTime = 0;         // output sample time of the first frame
    double sampleRate = 0;          // output rate
    uint64_t hostTime = 0;          // host time of the first frame (real-time mode only)
    bool hostTimeValid = false;
    bool offline = false;           // manual rendering on the caller's thread
    CompletionQueue* completions = nullptr;
    TapQueue* taps = nullptr;       // woken after a tap was fed (real time); offline taps drain after the call
};

// The input side of one render call.
class RenderInputs {
public:
    virtual ~RenderInputs() = default;
    // Renders the node feeding `bus` for `frames` frames and returns them in the connection format
    // (Float32 deinterleaved). nullptr when the bus has no source or the source failed (then `status`
    // holds its status). The data stays valid until the calling render returns.
    virtual const AudioBufferList* pull(AVAudioNodeBus bus, AVAudioFrameCount frames, OSStatus& status) = 0;
    // The mixing properties of the node feeding `bus` (null when it has none or nothing is there).
    virtual const AVAudioMixing* sourceMixing(AVAudioNodeBus bus) const = 0;
    // The render block of the node's audio unit that the plan fetched when it allocated the unit
    // (null or empty for nodes that render themselves).
    virtual const AURenderBlock* unitRenderBlock() const { return nullptr; }
};

// What a node is prepared for before a plan renders it (main thread).
struct RenderConfig {
    AVAudioFormat outputFormat;               // output bus 0 (invalid for a node without outputs)
    std::vector<AVAudioFormat> inputFormats;  // per input bus; invalid where nothing is connected
    AVAudioFrameCount maximumFrames = 0;      // most frames asked of one render call

    bool operator==(const RenderConfig& other) const {
        return outputFormat == other.outputFormat && inputFormats == other.inputFormats &&
               maximumFrames == other.maximumFrames;
    }
};

// Frames of a deinterleaved Float32 list.
inline float* channel(AudioBufferList& list, uint32_t c) { return static_cast<float*>(list.mBuffers[c].mData); }
inline const float* channel(const AudioBufferList& list, uint32_t c) {
    return static_cast<const float*>(list.mBuffers[c].mData);
}
void zeroFill(AudioBufferList& list, AVAudioFrameCount from, AVAudioFrameCount to);
// Copies the first `frames` frames of `input` (may be null) into `output`; channels it lacks are silent.
void copyOrSilence(AudioBufferList& output, const AudioBufferList* input, AVAudioFrameCount frames);
// Pulls input `bus` through `inputs` into the buffers of `list` (copied; channels the source lacks
// are silent), as a unit's pull-input block does. An unconnected bus gives zeros and
// kAudioUnitErr_NoConnection; a failing source gives zeros and its status.
AUAudioUnitStatus pullInto(RenderInputs& inputs, NSInteger bus, AVAudioFrameCount frames, AudioBufferList* list);
// The time stamp of a node's first frame in this cycle, as render blocks receive it.
AudioTimeStamp renderTimeStamp(const RenderCycle& cycle, int64_t sampleTime);

}  // namespace platform::detail
