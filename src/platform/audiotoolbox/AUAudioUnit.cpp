#include "platform/audiotoolbox/AUAudioUnit.h"

#include "platform/audiotoolbox/AudioUnit.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

namespace platform {

namespace {

AVAudioFormat busFormat(const AVAudioFormat& format) {
    return format.isValid() ? format : AVAudioFormat::standardFormatWithSampleRate(44100, 2);
}

struct Registration {
    AUAudioUnitFactory factory;
    std::string name;
    uint32_t version;
};

using RegistryKey = std::tuple<OSType, OSType, OSType>;

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<RegistryKey, Registration>& registry() {
    static std::map<RegistryKey, Registration> map;
    return map;
}

RegistryKey keyOf(const AudioComponentDescription& d) {
    return {d.componentType, d.componentSubType, d.componentManufacturer};
}

// Immediate times below this count from the cycle's first frame; the rest are absolute.
constexpr AUEventSampleTime kImmediateWindowEnd = AUEventSampleTimeImmediate + (int64_t(1) << 31);

}  // namespace

struct AUAudioUnit::ParameterIndex {
    std::shared_ptr<AUParameterTree> tree;
    std::vector<std::pair<AUParameterAddress, AUParameter*>> entries;

    AUParameter* find(AUParameterAddress address) const {
        for (const auto& [a, p] : entries)
            if (a == address) return p;
        return nullptr;
    }
};

struct AUAudioUnit::ObserverList {
    std::vector<std::pair<NSInteger, AURenderObserver>> observers;
};

AUAudioUnit::AUAudioUnit(AudioComponentDescription description, uint32_t inputBusCount, uint32_t outputBusCount,
                         AVAudioFormat format)
    : description_(description),
      inputBusses_(this, AUAudioUnitBusType::input, inputBusCount, busFormat(format)),
      outputBusses_(this, AUAudioUnitBusType::output, outputBusCount, busFormat(format)),
      pending_(std::make_unique<QueuedEvent[]>(kEventCapacity)),
      due_(std::make_unique<AURenderEvent[]>(kEventCapacity)),
      dueParameters_(std::make_unique<AUParameter*[]>(kEventCapacity)) {}

AUAudioUnit::~AUAudioUnit() { delete observers_.load(); }

// ---------------------------------------------------------------------------------------------
// Registration

void AUAudioUnit::registerSubclass(AUAudioUnitFactory factory, const AudioComponentDescription& description,
                                   const std::string& name, uint32_t version) {
    std::lock_guard lock(registryMutex());
    registry()[keyOf(description)] = Registration{std::move(factory), name, version};
}

std::shared_ptr<AUAudioUnit> AUAudioUnit::instantiate(const AudioComponentDescription& description,
                                                      AudioComponentInstantiationOptions options, NSError* outError) {
    AUAudioUnitFactory factory;
    std::string name;
    {
        std::lock_guard lock(registryMutex());
        const auto it = registry().find(keyOf(description));
        if (it != registry().end()) {
            factory = it->second.factory;
            name = it->second.name;
        }
    }
    if (!factory) {
        if (outError)
            *outError = makeOSStatusError(invalidComponentID, "No audio unit is registered for " +
                                              fourCharCodeString(description.componentType) + "/" +
                                              fourCharCodeString(description.componentSubType) + "/" +
                                              fourCharCodeString(description.componentManufacturer) + ".");
        return nullptr;
    }
    NSError error;
    auto unit = factory(description, options, &error);
    if (!unit) {
        if (outError) *outError = error.domain.empty() ? makeOSStatusError(invalidComponentID, "The audio unit could not be made.") : error;
        return nullptr;
    }
    if (unit->audioUnitName.empty()) unit->audioUnitName = name;
    return unit;
}

// ---------------------------------------------------------------------------------------------
// Parameters and scheduled events

void AUAudioUnit::setParameterTree(std::shared_ptr<AUParameterTree> tree) {
    parameterTree_ = tree;
    auto index = std::make_unique<ParameterIndex>();
    index->tree = tree;
    if (tree)
        for (const auto& parameter : tree->allParameters()) index->entries.emplace_back(parameter->address(), parameter.get());
    parameterIndex_.store(index.get(), std::memory_order_release);
    parameterIndexes_.push_back(std::move(index));
}

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

AUScheduleMIDIEventBlock AUAudioUnit::scheduleMIDIEventBlock() {
    if (midiBlock_) return midiBlock_;
    const OSType type = description_.componentType;
    if (type != kAudioUnitType_MusicDevice && type != kAudioUnitType_MusicEffect) return nullptr;
    std::weak_ptr<AUAudioUnit> weak = weak_from_this();
    AUAudioUnit* raw = weak.expired() ? this : nullptr;
    return [weak, raw](AUEventSampleTime time, uint8_t cable, NSInteger length, const uint8_t* bytes) {
        std::shared_ptr<AUAudioUnit> owner = weak.lock();
        AUAudioUnit* unit = owner ? owner.get() : raw;
        if (unit) unit->scheduleMIDI(time, cable, length, bytes);
    };
}

void AUAudioUnit::queue(const QueuedEvent& event) {
    if (!queue_.push(event)) dropped_.fetch_add(1, std::memory_order_relaxed);
}

void AUAudioUnit::scheduleParameter(AUEventSampleTime time, AUAudioFrameCount ramp, AUParameterAddress address,
                                    AUValue value) {
    const ParameterIndex* index = parameterIndex_.load(std::memory_order_acquire);
    AUParameter* parameter = index ? index->find(address) : nullptr;
    if (!parameter) return;
    QueuedEvent event{};
    event.time = time;
    event.parameter = parameter;
    event.address = address;
    event.value = value;
    event.ramp = ramp;
    event.type = ramp > 0 ? AURenderEventType::parameterRamp : AURenderEventType::parameter;
    queue(event);
}

void AUAudioUnit::scheduleMIDI(AUEventSampleTime time, uint8_t cable, NSInteger length, const uint8_t* bytes) {
    if (length <= 0 || !bytes) return;
    QueuedEvent event{};
    event.time = time;
    event.cable = cable;
    event.length = uint16_t(std::min<NSInteger>(length, 0xFFFF));
    // A record holds three bytes: longer messages (system exclusive) keep their length and head only.
    event.type = (length > 3 || bytes[0] == 0xF0) ? AURenderEventType::midiSysEx : AURenderEventType::MIDI;
    std::memcpy(event.data, bytes, size_t(std::min<NSInteger>(length, 3)));
    queue(event);
}

const AURenderEvent* AUAudioUnit::takeDueEvents(const AudioTimeStamp& timestamp, AUAudioFrameCount frames) {
    const auto start = AUEventSampleTime(timestamp.mSampleTime);
    const AUEventSampleTime end = start + frames;
    if (dropEvents_.exchange(false, std::memory_order_acquire)) {
        QueuedEvent dropped;
        while (queue_.pop(dropped)) {
        }
        pendingCount_ = 0;
    }
    // Relative times become absolute in the cycle that first sees them.
    QueuedEvent incoming;
    while (pendingCount_ < kEventCapacity && queue_.pop(incoming)) {
        if (incoming.time >= AUEventSampleTimeImmediate && incoming.time < kImmediateWindowEnd)
            incoming.time = start + (incoming.time - AUEventSampleTimeImmediate);
        pending_[pendingCount_++] = incoming;
    }

    // Due events go into the list in time order (stable: equal times keep their queue order);
    // the others stay pending, in order.
    size_t dueCount = 0;
    size_t kept = 0;
    for (size_t i = 0; i < pendingCount_; ++i) {
        const QueuedEvent& e = pending_[i];
        if (e.time >= end) {
            pending_[kept++] = e;
            continue;
        }
        AURenderEvent event{};
        if (e.type == AURenderEventType::parameter || e.type == AURenderEventType::parameterRamp) {
            event.parameter.eventType = e.type;
            event.parameter.rampDurationSampleFrames = e.ramp;
            event.parameter.parameterAddress = e.address;
            event.parameter.value = e.value;
        } else {
            event.MIDI.eventType = e.type;
            event.MIDI.length = e.length;
            event.MIDI.cable = e.cable;
            std::memcpy(event.MIDI.data, e.data, sizeof e.data);
        }
        event.head.eventSampleTime = std::max(e.time, start);
        size_t at = dueCount++;
        while (at > 0 && due_[at - 1].head.eventSampleTime > event.head.eventSampleTime) {
            due_[at] = due_[at - 1];
            dueParameters_[at] = dueParameters_[at - 1];
            --at;
        }
        due_[at] = event;
        dueParameters_[at] = e.parameter;
    }
    pendingCount_ = kept;
    if (dueCount == 0) return nullptr;
    for (size_t i = 0; i < dueCount; ++i) {
        due_[i].head.next = i + 1 < dueCount ? &due_[i + 1] : nullptr;
        // The parameters hold the values as applied, the latest last.
        if (dueParameters_[i]) dueParameters_[i]->storeValue(due_[i].parameter.value);
    }
    return &due_[0];
}

// ---------------------------------------------------------------------------------------------
// Formats and render resources

bool AUAudioUnit::shouldChangeToFormat(const AVAudioFormat&, const AUAudioUnitBus&) { return true; }

bool AUAudioUnit::setMaximumFramesToRender(AUAudioFrameCount frames) {
    if (renderResourcesAllocated() || frames == 0) return false;
    maximumFramesToRender_ = frames;
    return true;
}

bool AUAudioUnit::allocateRenderResources(NSError* outError) {
    auto refuse = [&](const std::string& text) {
        if (outError) *outError = makeOSStatusError(kAudioUnitErr_FormatNotSupported, text);
        return false;
    };
    const auto output = outputBusses()[0];
    for (uint32_t b = 0; b < outputBusses().count(); ++b)
        if (!outputBusses()[b]->format().isValid()) return refuse("Output bus " + std::to_string(b) + " has no format.");
    for (uint32_t b = 0; b < inputBusses().count(); ++b) {
        const auto& format = inputBusses()[b]->format();
        if (!format.isValid()) return refuse("Input bus " + std::to_string(b) + " has no format.");
        if (output && format.channelCount() != output->format().channelCount())
            return refuse("Input bus " + std::to_string(b) + " has " + std::to_string(format.channelCount()) +
                          " channels, the output " + std::to_string(output->format().channelCount()) + ".");
    }
    allocatedBlock_ = internalRenderBlock();
    allocated_.store(true, std::memory_order_release);
    return true;
}

void AUAudioUnit::deallocateRenderResources() {
    allocated_.store(false, std::memory_order_release);
    allocatedBlock_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Rendering

AURenderBlock AUAudioUnit::renderBlock() {
    return [this](AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timestamp, AUAudioFrameCount frames,
                  NSInteger bus, AudioBufferList* output, AURenderPullInputBlock pull) {
        return render(flags, timestamp, frames, bus, output, pull);
    };
}

AUAudioUnitStatus AUAudioUnit::render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timestamp,
                                      AUAudioFrameCount frames, NSInteger bus, AudioBufferList* output,
                                      AURenderPullInputBlock pull) {
    if (!renderResourcesAllocated()) return kAudioUnitErr_Uninitialized;
    if (frames > maximumFramesToRender_) return kAudioUnitErr_TooManyFramesToProcess;
    AudioTimeStamp stamp = timestamp ? *timestamp : AudioTimeStamp{};

    notifyObservers(kAudioUnitRenderAction_PreRender, &stamp, frames, bus);
    const AURenderEvent* events = takeDueEvents(stamp, frames);
    AUAudioUnitStatus status = noErr;
    if (allocatedBlock_) {
        status = allocatedBlock_(flags, &stamp, frames, bus, output, events, pull);
    } else if (pull) {
        status = pull(flags, &stamp, frames, 0, output);
    }
    notifyObservers(kAudioUnitRenderAction_PostRender, &stamp, frames, bus);

    lastSampleTime_.store(stamp.mSampleTime, std::memory_order_relaxed);
    lastHostTime_.store(stamp.mHostTime, std::memory_order_relaxed);
    lastFlags_.store(stamp.mFlags, std::memory_order_release);
    return status;
}

AudioTimeStamp AUAudioUnit::lastRenderTime() const {
    AudioTimeStamp stamp;
    stamp.mFlags = lastFlags_.load(std::memory_order_acquire);
    stamp.mSampleTime = lastSampleTime_.load(std::memory_order_relaxed);
    stamp.mHostTime = lastHostTime_.load(std::memory_order_relaxed);
    return stamp;
}

void AUAudioUnit::notifyObservers(AudioUnitRenderActionFlags flags, const AudioTimeStamp* timestamp,
                                  AUAudioFrameCount frames, NSInteger bus) {
    // Announce the list before reading it; a list replaced meanwhile is read again.
    ObserverList* list;
    do {
        list = observers_.load(std::memory_order_seq_cst);
        observersInUse_.store(list, std::memory_order_seq_cst);
    } while (observers_.load(std::memory_order_seq_cst) != list);
    if (list)
        for (const auto& [token, observer] : list->observers) observer(flags, timestamp, frames, bus);
    observersInUse_.store(nullptr, std::memory_order_seq_cst);
}

NSInteger AUAudioUnit::tokenByAddingRenderObserver(AURenderObserver observer) {
    auto list = std::make_unique<ObserverList>();
    if (const ObserverList* current = observers_.load()) *list = *current;
    const NSInteger token = nextObserverToken_++;
    list->observers.emplace_back(token, std::move(observer));
    ObserverList* old = observers_.exchange(list.release(), std::memory_order_seq_cst);
    if (old) observerLists_.emplace_back(old);
    freeRetiredObserverLists();
    return token;
}

void AUAudioUnit::removeRenderObserver(NSInteger token) {
    const ObserverList* current = observers_.load();
    if (!current) return;
    auto list = std::make_unique<ObserverList>(*current);
    std::erase_if(list->observers, [token](const auto& entry) { return entry.first == token; });
    ObserverList* old = observers_.exchange(list.release(), std::memory_order_seq_cst);
    // A cycle that took the old list before the exchange may still be running the observer: the
    // caller may free what the observer uses once this returns, so wait for that cycle to let go.
    // Later cycles read the new list; a unit that is not rendering has no list in use.
    while (old && observersInUse_.load(std::memory_order_seq_cst) == old) std::this_thread::yield();
    if (old) observerLists_.emplace_back(old);
    freeRetiredObserverLists();
}

void AUAudioUnit::freeRetiredObserverLists() {
    const ObserverList* inUse = observersInUse_.load(std::memory_order_seq_cst);
    std::erase_if(observerLists_, [inUse](const std::unique_ptr<ObserverList>& list) { return list.get() != inUse; });
}

void AUAudioUnit::reset() {
    // Pending events belong to the render thread: it drops them at its next cycle.
    dropEvents_.store(true, std::memory_order_release);
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
