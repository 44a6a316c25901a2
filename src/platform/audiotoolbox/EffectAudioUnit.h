// The base of the built-in effect units ('aufx'/'appl'): a parameter tree made from a fixed list,
// a ramp per writable parameter, a render that pulls its input into the output, splits the cycle
// at the scheduled parameter events and hands each stretch to process(), and bypass as a straight
// copy. Channels are processed independently unless a unit says otherwise.
//
// Parameter values: an event at frame e with ramp R gives v0 + (v1 − v0)·k/R at frame e + k; a
// plain set glides over 0.02 s while the unit renders and takes effect at once before its first
// render. Values are clamped to the parameter's range.
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/ParameterRamp.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace platform {

inline constexpr OSType kAudioUnitSubType_Delay = FourCC("dely");
inline constexpr OSType kAudioUnitSubType_Distortion = FourCC("dist");
inline constexpr OSType kAudioUnitSubType_DynamicsProcessor = FourCC("dcmp");
inline constexpr OSType kAudioUnitSubType_PeakLimiter = FourCC("lmtr");
inline constexpr OSType kAudioUnitSubType_BandPassFilter = FourCC("bpas");
inline constexpr OSType kAudioUnitSubType_HighPassFilter = FourCC("hpas");
inline constexpr OSType kAudioUnitSubType_HighShelfFilter = FourCC("hshf");
inline constexpr OSType kAudioUnitSubType_LowPassFilter = FourCC("lpas");
inline constexpr OSType kAudioUnitSubType_LowShelfFilter = FourCC("lshf");
inline constexpr OSType kAudioUnitSubType_ParametricEQ = FourCC("pmeq");

inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Rate = 7;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Cents = 9;
inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Milliseconds = 24;

// One parameter of an effect unit. A meter is read-only: the render stores its value each cycle.
struct EffectParameterInfo {
    const char* identifier;
    const char* name;
    AUParameterAddress address;
    AUValue minValue;
    AUValue maxValue;
    AUValue defaultValue;
    AudioUnitParameterUnit unit;
    bool meter = false;
};

class EffectAudioUnit : public AUAudioUnit {
public:
    // Parameters in the order of the tree's allParameters.
    EffectAudioUnit(OSType subType, const std::vector<EffectParameterInfo>& parameters);

    bool rendersBypass() const override { return true; }
    bool canProcessInPlace() const override { return true; }
    bool allocateRenderResources(NSError* outError = nullptr) override;
    void deallocateRenderResources() override;
    void reset() override;

    // Most channels a unit renders.
    static constexpr uint32_t kMaxChannels = 16;

protected:
    // Main thread, before rendering: make every buffer the render needs for this format.
    virtual void prepare(uint32_t channelCount, double sampleRate) = 0;
    // Forget the signal (delay lines, filter memories, detectors). Render thread once rendering.
    virtual void clearState() = 0;
    // Processes frames [start, start + count) of the channels in place.
    virtual void process(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count) = 0;

    // The ramp of the parameter at `index` in the constructor's list.
    ParameterRampSlot& slot(size_t index) { return *slots_[index]; }
    const ParameterRampSlot& slot(size_t index) const { return *slots_[index]; }
    // True while any parameter ramps.
    bool ramping() const;
    // Moves every ramp on by one frame / by `frames` frames.
    void stepRamps();
    void skipRamps(uint32_t frames);
    // Stores a meter's value (render thread; no observer is told).
    void storeMeter(size_t index, AUValue value);
    double sampleRate() const { return sampleRate_; }
    uint32_t preparedChannels() const { return channels_; }

private:
    AUAudioUnitStatus render(const AudioTimeStamp* timestamp, AUAudioFrameCount frames, AudioBufferList* output,
                             const AURenderEvent* events, AURenderPullInputBlock pull);
    void processOrBypass(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count);
    void parameterSet(AUParameter* parameter, AUValue value);
    int indexOf(AUParameterAddress address) const;
    AUValue clampTo(size_t index, AUValue value) const;

    std::vector<EffectParameterInfo> info_;
    std::vector<AUParameter*> parameters_;
    std::vector<std::unique_ptr<ParameterRampSlot>> slots_;
    double sampleRate_ = 44100;
    uint32_t channels_ = 2;
    uint32_t glideFrames_ = 0;
    std::atomic<bool> rendering_{false};
    std::atomic<bool> clearRequested_{false};
};

// Registers the units of this family ('dely', 'dist', 'dcmp', 'lmtr' and the six filters).
void registerEffectUnits();

// Registers Unit, made from `arguments`, as the built-in effect ('aufx', 'appl') of this sub-type.
template <class Unit, class... Arguments>
void registerEffectUnit(OSType subType, const std::string& name, Arguments... arguments) {
    AUAudioUnit::registerSubclass(
        [arguments...](const AudioComponentDescription&, AudioComponentInstantiationOptions, NSError*) {
            return std::make_shared<Unit>(arguments...);
        },
        detail::effectDescription(subType), name, 1);
}

namespace detail {
void registerDelayUnit();
void registerDistortionUnit();
void registerDynamicsUnits();
void registerFilterUnits();
}  // namespace detail

}  // namespace platform
