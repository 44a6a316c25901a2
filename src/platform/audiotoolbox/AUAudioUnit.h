// A version-3 audio unit: buses, a parameter tree, bypass, scheduled events, render observers and
// a render block. Engine nodes own one each. A unit renders only between allocateRenderResources()
// and deallocateRenderResources(); the engine allocates it on the main thread and keeps the
// renderBlock() it fetched then in its render plan.
#pragma once

#include "platform/audiotoolbox/AUAudioUnitBusArray.h"
#include "platform/audiotoolbox/AUParameterTree.h"
#include "platform/audiotoolbox/AURenderEvent.h"
#include "platform/audiotoolbox/AudioComponentDescription.h"
#include "platform/avfaudio/detail/MPSCQueue.h"
#include "platform/coreaudio/AudioTimeStamp.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct OpaqueAudioComponentInstance;
// The C handle of an audio unit (AudioUnitSetParameter and friends take it).
using AudioUnit = OpaqueAudioComponentInstance*;

using AudioUnitPropertyID = uint32_t;
using AudioUnitScope = uint32_t;
using AudioUnitElement = uint32_t;
using AudioComponentInstantiationOptions = uint32_t;

class AUAudioUnit;

// Makes a unit of a registered class for a description; null (outError filled) when it cannot.
using AUAudioUnitFactory = std::function<std::shared_ptr<AUAudioUnit>(
    const AudioComponentDescription& description, AudioComponentInstantiationOptions options, NSError* outError)>;

// Property hooks an owner installs (the engine's output node answers the device properties).
using AUPropertyGetter = std::function<OSStatus(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, void* outData,
                                                uint32_t* ioDataSize)>;
using AUPropertySetter = std::function<OSStatus(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement,
                                                const void* inData, uint32_t inDataSize)>;

class AUAudioUnit : public std::enable_shared_from_this<AUAudioUnit> {
public:
    // Scheduled events a unit holds between schedule and render (the queue and the render pool).
    static constexpr size_t kEventCapacity = 1024;

    // A unit with the given numbers of buses, all in `format` (standard 44100 Hz stereo when invalid).
    explicit AUAudioUnit(AudioComponentDescription description = {}, uint32_t inputBusCount = 1,
                         uint32_t outputBusCount = 1, AVAudioFormat format = {});
    virtual ~AUAudioUnit();
    AUAudioUnit(const AUAudioUnit&) = delete;
    AUAudioUnit& operator=(const AUAudioUnit&) = delete;

    // --- Registration (any thread) ---

    // registerSubclass:asComponentDescription:name:version:. Registering a description again
    // replaces the earlier factory.
    static void registerSubclass(AUAudioUnitFactory factory, const AudioComponentDescription& description,
                                 const std::string& name, uint32_t version);
    // A unit of the class registered for the description (type, sub-type and manufacturer must
    // match); null, with an error, when none is registered or the factory fails.
    static std::shared_ptr<AUAudioUnit> instantiate(const AudioComponentDescription& description,
                                                    AudioComponentInstantiationOptions options, NSError* outError);

    const AudioComponentDescription& componentDescription() const { return description_; }
    std::string audioUnitName;

    // The C handle for this unit; valid while the unit lives.
    AudioUnit audioUnit() { return reinterpret_cast<AudioUnit>(this); }
    // The unit behind a handle (null for null).
    static AUAudioUnit* fromAudioUnit(AudioUnit unit) { return reinterpret_cast<AUAudioUnit*>(unit); }

    // Effects pass their input through unchanged when set (any thread).
    virtual bool shouldBypassEffect() const { return bypass_.load(std::memory_order_relaxed); }
    virtual void setShouldBypassEffect(bool bypass) { bypass_.store(bypass, std::memory_order_relaxed); }
    // True for units whose render handles bypass itself; the host passes the input through for the others.
    virtual bool rendersBypass() const { return false; }

    // The parameters (null when the unit has none). Set on the main thread.
    virtual std::shared_ptr<AUParameterTree> parameterTree() const { return parameterTree_; }
    virtual void setParameterTree(std::shared_ptr<AUParameterTree> tree);

    // Queues a parameter event for the next render that reaches its time (any thread, lock-free,
    // the render thread included). Unknown addresses are ignored. The value lands in the
    // parameter when the render hands the event to the unit.
    AUScheduleParameterBlock scheduleParameterBlock();
    // The same for MIDI; null except for instruments ('aumu') and music effects ('aumf'), or when
    // a unit installed a block of its own.
    AUScheduleMIDIEventBlock scheduleMIDIEventBlock();
    void setScheduleMIDIEventBlock(AUScheduleMIDIEventBlock block) { midiBlock_ = std::move(block); }
    // Events refused because the queue was full.
    uint64_t droppedEventCount() const { return dropped_.load(std::memory_order_relaxed); }

    virtual AUAudioUnitBusArray& inputBusses() { return inputBusses_; }
    virtual AUAudioUnitBusArray& outputBusses() { return outputBusses_; }
    const AUAudioUnitBusArray& inputBusses() const { return const_cast<AUAudioUnit*>(this)->inputBusses(); }
    const AUAudioUnitBusArray& outputBusses() const { return const_cast<AUAudioUnit*>(this)->outputBusses(); }

    // Pairs of supported input and output channel counts (-1 any); empty: any.
    virtual std::vector<int> channelCapabilities() const { return {}; }
    virtual bool canProcessInPlace() const { return false; }
    // Asked before a bus takes a new format; false refuses it.
    virtual bool shouldChangeToFormat(const AVAudioFormat& format, const AUAudioUnitBus& bus);

    // Largest cycle the render must handle; settable only while deallocated (false otherwise).
    AUAudioFrameCount maximumFramesToRender() const { return maximumFramesToRender_; }
    bool setMaximumFramesToRender(AUAudioFrameCount frames);

    // Checks the bus formats (all present, input channel counts equal to the output's) and makes
    // the unit renderable. Main thread, never while it renders.
    virtual bool allocateRenderResources(NSError* outError = nullptr);
    virtual void deallocateRenderResources();
    bool renderResourcesAllocated() const { return allocated_.load(std::memory_order_acquire); }

    // The unit's own render (null for units the engine renders itself: mixers, players, I/O).
    // Fetched once, by allocateRenderResources().
    virtual AUInternalRenderBlock internalRenderBlock() const { return internalBlock_; }
    // Units that are no subclass give their render here; it takes effect at the next allocation.
    void setInternalRenderBlock(AUInternalRenderBlock block) { internalBlock_ = std::move(block); }

    // What the host calls on the render thread: kAudioUnitErr_Uninitialized when not allocated,
    // kAudioUnitErr_TooManyFramesToProcess above maximumFramesToRender; otherwise the pre-render
    // observers, the scheduled events due in this cycle, the internal render, the post-render
    // observers.
    AURenderBlock renderBlock();

    // Render observers (main thread); the render thread sees a published copy of the list.
    // removeRenderObserver returns once no render runs the removed observer any more.
    NSInteger tokenByAddingRenderObserver(AURenderObserver observer);
    void removeRenderObserver(NSInteger token);

    // The time stamp of the last render's first frame (nothing valid before one).
    AudioTimeStamp lastRenderTime() const;

    // Clears render state (delay lines, ramps, pending events); called by AudioUnitReset.
    virtual void reset();
    // Called by reset(); units hook their own state here.
    std::function<void()> resetHandler;

    // AudioUnitGetProperty/SetProperty land here: the installed hooks, else InvalidProperty.
    virtual OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 void* outData, uint32_t* ioDataSize);
    virtual OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 const void* inData, uint32_t inDataSize);
    void setPropertyHooks(AUPropertyGetter getter, AUPropertySetter setter);

private:
    struct QueuedEvent {
        AUEventSampleTime time;
        AUParameter* parameter;
        AUParameterAddress address;
        AUValue value;
        AUAudioFrameCount ramp;
        AURenderEventType type;
        uint8_t cable;
        uint16_t length;
        uint8_t data[3];
    };
    struct ParameterIndex;
    struct ObserverList;

    void queue(const QueuedEvent& event);
    void scheduleParameter(AUEventSampleTime time, AUAudioFrameCount ramp, AUParameterAddress address, AUValue value);
    void scheduleMIDI(AUEventSampleTime time, uint8_t cable, NSInteger length, const uint8_t* bytes);
    const AURenderEvent* takeDueEvents(const AudioTimeStamp& timestamp, AUAudioFrameCount frames);
    void notifyObservers(AudioUnitRenderActionFlags flags, const AudioTimeStamp* timestamp, AUAudioFrameCount frames,
                         NSInteger bus);
    AUAudioUnitStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timestamp,
                             AUAudioFrameCount frames, NSInteger bus, AudioBufferList* output,
                             AURenderPullInputBlock pull);
    void freeRetiredObserverLists();

    AudioComponentDescription description_;
    std::atomic<bool> bypass_{false};
    std::shared_ptr<AUParameterTree> parameterTree_;
    AUScheduleMIDIEventBlock midiBlock_;
    AUAudioUnitBusArray inputBusses_;
    AUAudioUnitBusArray outputBusses_;
    AUInternalRenderBlock internalBlock_;
    AUInternalRenderBlock allocatedBlock_;
    AUAudioFrameCount maximumFramesToRender_ = 4096;
    std::atomic<bool> allocated_{false};
    AUPropertyGetter propertyGetter_;
    AUPropertySetter propertySetter_;

    // Address → parameter, for schedulers on any thread. Every index made lives as long as the unit.
    std::atomic<ParameterIndex*> parameterIndex_{nullptr};
    std::vector<std::unique_ptr<ParameterIndex>> parameterIndexes_;

    // Any thread → render thread; then events waiting for their cycle and the cycle's sorted list.
    detail::MPSCQueue<QueuedEvent> queue_{kEventCapacity};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<bool> dropEvents_{false};
    std::unique_ptr<QueuedEvent[]> pending_;
    size_t pendingCount_ = 0;
    std::unique_ptr<AURenderEvent[]> due_;
    std::unique_ptr<AUParameter*[]> dueParameters_;  // null for MIDI

    // Copy-on-write observer lists: the published one, the one the render thread reads now, and
    // replaced ones waiting until the render thread has let go of them.
    std::atomic<ObserverList*> observers_{nullptr};
    std::atomic<ObserverList*> observersInUse_{nullptr};
    std::vector<std::unique_ptr<ObserverList>> observerLists_;
    NSInteger nextObserverToken_ = 1;

    std::atomic<double> lastSampleTime_{0};
    std::atomic<uint64_t> lastHostTime_{0};
    std::atomic<AudioTimeStampFlags> lastFlags_{kAudioTimeStampNothingValid};
};

}  // namespace platform
