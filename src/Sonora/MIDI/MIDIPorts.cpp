// The MIDI object's listeners, inputs, virtual endpoints and outputs.
#include "Sonora/MIDI/MIDI.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/MIDI/MIDIPacketSequence.h"

#include <algorithm>
#include <cstring>

namespace sonora {

namespace {

using namespace platform;

MIDIUniqueID uniqueIDOf(MIDIObjectRef object) {
    int32_t id = 0;
    if (MIDIObjectGetIntegerProperty(object, kMIDIPropertyUniqueID, &id) != noErr) return 0;
    return id;
}

std::string nameOf(MIDIObjectRef object) {
    std::string name;
    if (MIDIObjectGetStringProperty(object, kMIDIPropertyName, &name) != noErr) return {};
    return name;
}

std::vector<MIDIEndpointRef> allSources() {
    std::vector<MIDIEndpointRef> out;
    for (ItemCount i = 0, n = MIDIGetNumberOfSources(); i < n; ++i) out.push_back(MIDIGetSource(i));
    return out;
}

std::vector<MIDIEndpointRef> allDestinations() {
    std::vector<MIDIEndpointRef> out;
    for (ItemCount i = 0, n = MIDIGetNumberOfDestinations(); i < n; ++i) out.push_back(MIDIGetDestination(i));
    return out;
}

template <class T, class F>
std::vector<T> mapped(const std::vector<MIDIEndpointRef>& refs, F f) {
    std::vector<T> out;
    for (auto ref : refs) out.push_back(f(ref));
    return out;
}

// `values` without every entry that a value of `own` has.
template <class T>
std::vector<T> without(std::vector<T> values, const std::vector<T>& own) {
    std::erase_if(values, [&](const T& v) { return std::find(own.begin(), own.end(), v) != own.end(); });
    return values;
}

// The receive filter of input ports: channel statuses and the system statuses dispatch knows.
bool passesFilter(const MIDIEvent& event) {
    if (event.data.empty()) return false;
    const uint8_t s = event.data[0];
    if (s >= 0x80 && s <= 0xEF) return true;
    switch (s) {
    case 0xF0: case 0xF1: case 0xF2: case 0xF3: case 0xF6: case 0xF7: case 0xF8: case 0xFA: case 0xFB: case 0xFC:
    case 0xFE:
        return true;
    default:
        return false;
    }
}

// A packet list of one packet holding `data`, in a buffer of exactly the size it needs.
std::optional<std::vector<uint8_t>> oneMessageList(const std::vector<uint8_t>& data, MIDITimeStamp time) {
    const size_t size = data.size() + kMIDIPacketListHeaderSize + kMIDIPacketHeaderSize;
    if (size > MIDI::maximumSendBufferSize) {
        Log({"error sending midi : data array is too large, requires a buffer larger than 65536"}, OSLog::midi(),
            OSLogType::error);
        return std::nullopt;
    }
    std::vector<uint8_t> buffer(size);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    auto* packet = MIDIPacketListInit(list);
    if (!MIDIPacketListAdd(list, buffer.size(), packet, time, data.size(), data.data())) {
        Log({"error sending midi: Failed to add packet to packet list."}, OSLog::midi(), OSLogType::error);
        return std::nullopt;
    }
    return buffer;
}

}  // namespace

std::vector<MIDIEvent> MIDITransformer::transform(std::vector<MIDIEvent> eventList) {
    Log({"MIDI Transformer called"}, OSLog::midi());
    return eventList;
}

// MARK: - State

std::map<MIDIUniqueID, MIDIPortRef> MIDI::inputPorts() const {
    std::lock_guard lock(mutex_);
    return inputPorts_;
}
std::map<MIDIUniqueID, MIDIEndpointRef> MIDI::endpoints() const {
    std::lock_guard lock(mutex_);
    return endpoints_;
}
std::vector<MIDIEndpointRef> MIDI::virtualInputs() const {
    std::lock_guard lock(mutex_);
    return virtualInputs_;
}
std::vector<MIDIEndpointRef> MIDI::virtualOutputs() const {
    std::lock_guard lock(mutex_);
    return virtualOutputs_;
}
MIDIPortRef MIDI::outputPort() const {
    std::lock_guard lock(mutex_);
    return outputPort_;
}

// MARK: - Listeners and transformers

namespace {
template <class T, class Change>
void publish(std::mutex& writers, PublishedSnapshot<std::vector<std::shared_ptr<T>>>& slot, Change change) {
    std::lock_guard lock(writers);
    auto next = std::make_shared<std::vector<std::shared_ptr<T>>>(*slot.owner());
    change(*next);
    slot.replace(std::move(next));
}
}  // namespace

std::shared_ptr<const MIDI::Listeners> MIDI::listeners() const {
    std::lock_guard lock(writers_);
    return listeners_.owner();
}
std::shared_ptr<const MIDI::Transformers> MIDI::transformers() const {
    std::lock_guard lock(writers_);
    return transformers_.owner();
}

void MIDI::addListener(std::shared_ptr<MIDIListener> listener) {
    if (!listener) return;
    publish(writers_, listeners_, [&](Listeners& l) { l.push_back(std::move(listener)); });
}
void MIDI::removeListener(const MIDIListener& listener) {
    publish(writers_, listeners_, [&](Listeners& l) { std::erase_if(l, [&](auto& x) { return x->isEqualTo(listener); }); });
}
void MIDI::clearListeners() {
    publish(writers_, listeners_, [](Listeners& l) { l.clear(); });
}
void MIDI::addTransformer(std::shared_ptr<MIDITransformer> transformer) {
    if (!transformer) return;
    publish(writers_, transformers_, [&](Transformers& t) { t.push_back(std::move(transformer)); });
}
void MIDI::removeTransformer(const MIDITransformer& transformer) {
    publish(writers_, transformers_,
            [&](Transformers& t) { std::erase_if(t, [&](auto& x) { return x->isEqualTo(transformer); }); });
}
void MIDI::clearTransformers() {
    publish(writers_, transformers_, [](Transformers& t) { t.clear(); });
}

void MIDI::handleNotification(const MIDINotification& notification) {
    const PublishedSnapshot<Listeners>::Reader snapshot(listeners_);
    for (const auto& listener : *snapshot) {
        if (notification.messageID == kMIDIMsgSetupChanged) {
            listener->receivedMIDISetupChange();
        } else if (notification.messageID == kMIDIMsgPropertyChanged) {
            listener->receivedMIDIPropertyChange(static_cast<const MIDIObjectPropertyChangeNotification&>(notification));
        } else {
            listener->receivedMIDINotification(MIDINotification{notification.messageID, notification.messageSize});
        }
    }
}

// MARK: - Enumeration

std::vector<MIDIUniqueID> MIDI::sourceUIDs() const { return mapped<MIDIUniqueID>(allSources(), uniqueIDOf); }
std::vector<std::string> MIDI::sourceNames() const { return mapped<std::string>(allSources(), nameOf); }
std::vector<MIDIUniqueID> MIDI::destinationUIDsAll() const { return mapped<MIDIUniqueID>(allDestinations(), uniqueIDOf); }
std::vector<std::string> MIDI::destinationNamesAll() const { return mapped<std::string>(allDestinations(), nameOf); }

std::vector<MIDIUniqueID> MIDI::inputUIDs() const {
    return without(sourceUIDs(), mapped<MIDIUniqueID>(virtualOutputs(), uniqueIDOf));
}
std::vector<std::string> MIDI::inputNames() const {
    return without(sourceNames(), mapped<std::string>(virtualOutputs(), nameOf));
}

std::vector<MIDIEndpointRef> MIDI::foreignSources() const {
    return without(allSources(), virtualOutputs());
}
std::vector<MIDIEndpointRef> MIDI::foreignDestinations() const {
    return without(allDestinations(), virtualInputs());
}

std::optional<std::string> MIDI::inputName(MIDIUniqueID uid) const {
    for (auto source : foreignSources())
        if (uniqueIDOf(source) == uid) return nameOf(source);
    return std::nullopt;
}

MIDIUniqueID MIDI::uidForInputAt(size_t index) const { return uniqueIDOf(MIDIGetSource(index)); }

// MARK: - Inputs

void MIDI::openInput(MIDIUniqueID uid) {
    const auto sources = foreignSources();
    if (sources.empty()) return;
    for (auto source : sources) {
        const auto sourceUID = uniqueIDOf(source);
        if (uid != 0 && sourceUID != uid) continue;
        MIDIPortRef port = 0;
        OSStatus status;
        if (MIDIEventListsAvailable()) {
            status = MIDIInputPortCreateWithProtocol(
                client_, inputPortName, kMIDIProtocol_1_0, &port,
                [this, uid](const MIDIEventList* list, size_t bytes, void*) { receiveEvents(list, bytes, uid); });
        } else {
            status = MIDIInputPortCreateWithBlock(
                client_, inputPortName, &port,
                [this, uid](const MIDIPacketList* list, size_t bytes, void*) { receivePackets(list, bytes, uid); });
        }
        if (status != noErr) Log({"Error creating MIDI Input Port: " + std::to_string(status)}, OSLog::general());
        MIDIPortConnectSource(port, source, nullptr);
        std::lock_guard lock(mutex_);
        inputPorts_[sourceUID] = port;
        endpoints_[sourceUID] = source;
    }
}

void MIDI::openInput(const std::string& name) {
    for (auto source : foreignSources())
        if (nameOf(source) == name) return openInput(uniqueIDOf(source));
    if (name.empty())
        for (auto uid : inputUIDs()) openInput(uid);
}

void MIDI::openInputAt(size_t index) {
    if (index < inputNames().size()) openInput(uidForInputAt(index));
}

void MIDI::closeInput(MIDIUniqueID uid) {
    const auto name = inputName(uid);
    if (!name) {
        Log({"Trying to close midi input " + std::to_string(uid) + ", but no name was found"}, OSLog::midi());
        return;
    }
    Log({"Closing MIDI Input '" + *name + "'"}, OSLog::midi());
    std::vector<std::pair<MIDIUniqueID, std::pair<MIDIPortRef, MIDIEndpointRef>>> open;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, port] : inputPorts_) {
            if (uid != 0 && key != uid) continue;
            const auto endpoint = endpoints_.find(key);
            if (endpoint != endpoints_.end()) open.push_back({key, {port, endpoint->second}});
        }
    }
    for (const auto& [key, pe] : open) {
        const auto status = MIDIPortDisconnectSource(pe.first, pe.second);
        if (status != noErr) {
            Log({"Error disconnecting MIDI port: " + std::to_string(status)}, OSLog::midi(), OSLogType::error);
        } else {
            {
                std::lock_guard lock(mutex_);
                inputPorts_.erase(key);
                endpoints_.erase(key);
            }
            Log({"Disconnected " + *name + " and removed it from endpoints and input ports"}, OSLog::midi());
        }
        const auto disposed = MIDIPortDispose(pe.first);
        if (disposed != noErr)
            Log({"Error displosing  MIDI port: " + std::to_string(disposed)}, OSLog::midi(), OSLogType::error);
        else
            Log({"Disposed " + *name}, OSLog::midi());
    }
}

void MIDI::closeInputAt(size_t index) { closeInput(uidForInputAt(index)); }

void MIDI::closeInput(const std::string& name) {
    for (auto source : foreignSources())
        if (nameOf(source) == name) return closeInput(uniqueIDOf(source));
}

void MIDI::closeAllInputs() {
    Log({"Closing All Inputs"}, OSLog::midi());
    for (auto uid : sourceUIDs()) closeInput(uid);
}

// MARK: - Receiving

void MIDI::transformAndDispatch(std::vector<MIDIEvent> events, MIDIUniqueID uid) {
    {
        const PublishedSnapshot<Transformers>::Reader transformers(transformers_);
        for (const auto& transformer : *transformers) events = transformer->transform(std::move(events));
    }
    const PublishedSnapshot<Listeners>::Reader snapshot(listeners_);  // one snapshot for the whole batch
    for (const auto& event : events)
        if (passesFilter(event)) dispatch(event, uid, *snapshot);
}

void MIDI::receivePackets(const MIDIPacketList* list, size_t listBytes, MIDIUniqueID uid) {
    MIDIPacketListIterator packets(list, listBytes);
    while (const auto packet = packets.next()) transformAndDispatch(packetEvents(*packet), uid);
}

void MIDI::receiveEvents(const MIDIEventList* list, size_t listBytes, MIDIUniqueID uid) {
    if (listBytes < offsetof(MIDIEventList, packet)) return;
    if (list->protocol != kMIDIProtocol_1_0) {
        Log({"Got unsupported MIDI 2.0 MIDIEventList, skipping"}, OSLog::midi());
        return;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(list);
    size_t at = offsetof(MIDIEventList, packet);
    const size_t header = offsetof(MIDIEventPacket, words);
    for (uint32_t i = 0; i < list->numPackets && listBytes - at >= header; ++i) {
        const auto* packet = reinterpret_cast<const MIDIEventPacket*>(base + at);
        uint32_t words = 0;
        std::memcpy(&words, base + at + offsetof(MIDIEventPacket, wordCount), sizeof words);
        if (words > 64 || (listBytes - at - header) / 4 < words) {
            Log({"MIDI event list refused: a packet does not fit the list"}, OSLog::midi(), OSLogType::error);
            return;
        }
        MIDITimeStamp time = 0;
        std::memcpy(&time, base + at, sizeof time);
        std::vector<uint32_t> copy(words);
        std::memcpy(copy.data(), packet->words, words * 4);
        transformAndDispatch(processUMPMessages(copy, time), uid);
        at += header + size_t(words) * 4;
    }
}

void MIDI::handleMIDIMessage(const MIDIEvent& event, MIDIUniqueID fromInput) const {
    dispatch(event, fromInput, *PublishedSnapshot<Listeners>::Reader(listeners_));
}

void MIDI::dispatch(const MIDIEvent& event, MIDIUniqueID fromInput, const Listeners& snapshot) const {
    if (snapshot.empty()) return;
    const auto& d = event.data;
    // A message shorter than its kind reads its missing bytes as 0.
    const auto at = [&](size_t i) -> uint8_t { return i < d.size() ? d[i] : 0; };
    const uint8_t status = at(0);
    const uint8_t channel = status & 0x0F;
    const MIDIListener::PortID port = fromInput;
    const auto& time = event.timeStamp;
    for (const auto& listener : snapshot) {
        if (d.empty()) {
            Log({"No usable status detected in handleMIDIMessage"}, OSLog::midi());
            continue;
        }
        switch (status >> 4) {
        case 0x8: listener->receivedMIDINoteOff(at(1), at(2), channel, port, time); continue;
        case 0x9: listener->receivedMIDINoteOn(at(1), at(2), channel, port, time); continue;
        case 0xA: listener->receivedMIDIAftertouch(at(1), at(2), channel, port, time); continue;
        case 0xB: listener->receivedMIDIController(at(1), at(2), channel, port, time); continue;
        case 0xC: listener->receivedMIDIProgramChange(at(1), channel, port, time); continue;
        case 0xD: listener->receivedMIDIAftertouch(at(1), channel, port, time); continue;
        case 0xE:
            listener->receivedMIDIPitchWheel(d.size() >= 3 ? uint16_t((d[2] << 7) + d[1]) : 0, channel, port, time);
            continue;
        default: break;
        }
        switch (status) {
        case 0xF0: case 0xF1: case 0xF2: case 0xF3: case 0xF6: case 0xF7: case 0xF8: case 0xFA: case 0xFB: case 0xFC:
        case 0xFE:
            listener->receivedMIDISystemCommand(d, port, time);
            break;
        default:
            Log({"No usable status detected in handleMIDIMessage"}, OSLog::midi());
        }
    }
}

// MARK: - Virtual endpoints

void MIDI::createVirtualPorts(int count, const std::optional<std::vector<MIDIUniqueID>>& inputPortIDs,
                              const std::optional<std::vector<MIDIUniqueID>>& outputPortIDs,
                              const std::optional<std::vector<std::string>>& inputPortNames,
                              const std::optional<std::vector<std::string>>& outputPortNames) {
    if (count < 1) {
        Log({"Error: Number of port to create can't be less than one)"}, OSLog::midi(), OSLogType::error);
        return;
    }
    Log({"Creating " + std::to_string(count) + " virtual input and output ports"}, OSLog::midi());
    createVirtualInputPorts(count, inputPortIDs, inputPortNames);
    createVirtualOutputPorts(count, outputPortIDs, outputPortNames);
}

void MIDI::createVirtualInputPorts(int count, const std::optional<std::vector<MIDIUniqueID>>& uniqueIDs,
                                   const std::optional<std::vector<std::string>>& names) {
    createVirtual(true, count, uniqueIDs, names);
}

void MIDI::createVirtualOutputPorts(int count, const std::optional<std::vector<MIDIUniqueID>>& uniqueIDs,
                                    const std::optional<std::vector<std::string>>& names) {
    createVirtual(false, count, uniqueIDs, names);
}

void MIDI::createVirtual(bool inputs, int count, const std::optional<std::vector<MIDIUniqueID>>& uniqueIDs,
                         const std::optional<std::vector<std::string>>& names) {
    if (count < 1) {
        Log({"Error: Number of port to create can't be less than one)"}, OSLog::midi(), OSLogType::error);
        return;
    }
    size_t c;
    {
        std::lock_guard lock(mutex_);
        c = (inputs ? virtualInputs_ : virtualOutputs_).size();
    }
    const MIDIUniqueID firstID = (inputs ? 2000000 : 2000001) + MIDIUniqueID(c) - 1;
    size_t defaultName = c, defaultID = 0;
    for (int k = 0; k < count; ++k) {
        const size_t p = c - 1 + size_t(k);
        std::string name;
        if (names && p < names->size()) {
            name = (*names)[p];
        } else {
            name = clientName + (inputs ? " Input " : " Output ") + std::to_string(defaultName++);
        }
        MIDIUniqueID uid;
        if (uniqueIDs && p < uniqueIDs->size()) {
            uid = (*uniqueIDs)[p];
        } else {
            uid = firstID + 2 * MIDIUniqueID(defaultID++);
        }
        MIDIEndpointRef endpoint = 0;
        OSStatus status;
        if (inputs) {
            status = MIDIDestinationCreateWithBlock(
                client_, name, &endpoint, [this, uid](const MIDIPacketList* list, size_t bytes, void*) {
                    const PublishedSnapshot<Listeners>::Reader snapshot(listeners_);
                    MIDIPacketListIterator packets(list, bytes);
                    while (const auto packet = packets.next())
                        for (const auto& event : packetEvents(*packet)) dispatch(event, uid, *snapshot);
                });
        } else {
            status = MIDISourceCreate(client_, name, &endpoint);
        }
        {
            std::lock_guard lock(mutex_);
            auto& list = inputs ? virtualInputs_ : virtualOutputs_;
            list.push_back(0);
            list[p] = endpoint;
        }
        if (status == noErr) {
            MIDIObjectSetIntegerProperty(endpoint, kMIDIPropertyUniqueID, uid);
        } else {
            Log({"Error " + std::to_string(status) + (inputs ? " Creating Virtual Input Port:" : " Creating Virtual Output Port:") +
                 "\n" + name + " --\n" + std::to_string(endpoint)},
                OSLog::midi(), OSLogType::error);
        }
    }
}

bool MIDI::destroyVirtual(bool inputs) {
    std::lock_guard lock(mutex_);
    auto& list = inputs ? virtualInputs_ : virtualOutputs_;
    if (list == std::vector<MIDIEndpointRef>{0}) return false;
    for (size_t i = list.size(); i-- > 0;) {
        // The trailing 0 (or any 0 entry) stands for no endpoint: nothing to dispose.
        if (list[i] != 0 && MIDIEndpointDispose(list[i]) != noErr) return false;
        list.erase(list.begin() + std::ptrdiff_t(i));
    }
    list.push_back(0);
    return true;
}

bool MIDI::destroyVirtualInputPort() { return destroyVirtual(true); }
bool MIDI::destroyVirtualOutputPort() { return destroyVirtual(false); }
bool MIDI::destroyVirtualPorts() {
    destroyVirtualInputPort();
    return destroyVirtualOutputPort();
}

// MARK: - Outputs

std::vector<MIDIUniqueID> MIDI::destinationUIDs() const {
    return without(destinationUIDsAll(), mapped<MIDIUniqueID>(virtualInputs(), uniqueIDOf));
}
std::vector<std::string> MIDI::destinationNames() const {
    return without(destinationNamesAll(), mapped<std::string>(virtualInputs(), nameOf));
}
std::string MIDI::destinationName(MIDIUniqueID uid) const {
    for (auto destination : foreignDestinations())
        if (uniqueIDOf(destination) == uid) return nameOf(destination);
    return "Unknown";
}
MIDIUniqueID MIDI::destinationUID(size_t index) const { return uniqueIDOf(MIDIGetDestination(index)); }

std::vector<MIDIUniqueID> MIDI::virtualInputUIDs() const {
    return without(mapped<MIDIUniqueID>(virtualInputs(), uniqueIDOf), {0});
}
std::vector<MIDIUniqueID> MIDI::virtualOutputUIDs() const {
    return without(mapped<MIDIUniqueID>(virtualOutputs(), uniqueIDOf), {0});
}
std::vector<std::string> MIDI::virtualInputNames() const {
    return without(mapped<std::string>(virtualInputs(), nameOf), {std::string()});
}
std::vector<std::string> MIDI::virtualOutputNames() const {
    return without(mapped<std::string>(virtualOutputs(), nameOf), {std::string()});
}

void MIDI::openOutput(MIDIUniqueID uid) {
    {
        std::lock_guard lock(mutex_);
        if (outputPort_ == 0) {
            MIDIPortRef port = 0;
            if (MIDIOutputPortCreate(client_, outputPortName, &port) != noErr) {
                Log({"Unable to create MIDIOutputPort"}, OSLog::midi(), OSLogType::error);
                return;
            }
            outputPort_ = port;
        }
    }
    for (auto destination : foreignDestinations()) {
        const auto id = uniqueIDOf(destination);
        if (uid != 0 && id != uid) continue;
        std::lock_guard lock(mutex_);
        endpoints_[id] = destination;
        if (uid != 0) return;
    }
}

void MIDI::openOutput(const std::string& name) {
    for (auto destination : foreignDestinations())
        if (nameOf(destination) == name) return openOutput(uniqueIDOf(destination));
    openOutput(MIDIUniqueID(0));
}

void MIDI::openOutputAt(size_t index) {
    const auto destinations = foreignDestinations();
    if (index < destinations.size()) openOutput(uniqueIDOf(destinations[index]));
}

void MIDI::closeOutput(MIDIUniqueID uid) {
    const auto name = destinationName(uid);
    Log({"Closing MIDI Output '" + name + "'"}, OSLog::midi());
    std::lock_guard lock(mutex_);
    if (endpoints_.erase(uid) == 0) return;
    Log({"Disconnected " + name + " and removed it from endpoints"}, OSLog::midi());
    if (!endpoints_.empty()) return;
    const auto status = MIDIPortDispose(outputPort_);
    if (status == noErr)
        Log({"Disposed MIDI Output port"}, OSLog::midi());
    else
        Log({"Error disposing  MIDI Output port: " + std::to_string(status)}, OSLog::midi(), OSLogType::error);
    outputPort_ = 0;
}

void MIDI::closeOutput(const std::string& name) {
    for (auto destination : foreignDestinations())
        if (nameOf(destination) == name) return closeOutput(uniqueIDOf(destination));
}

void MIDI::closeOutputAt(size_t index) {
    const auto destinations = foreignDestinations();
    if (index < destinations.size()) closeOutput(uniqueIDOf(destinations[index]));
}

void MIDI::removeAllEndpoints() {
    std::lock_guard lock(mutex_);
    endpoints_.clear();
}

void MIDI::sendList(const std::vector<uint8_t>& buffer, const UIDs& endpointsUIDs, const Ports& virtualOutputPorts) {
    std::vector<MIDIEndpointRef> targets;
    MIDIPortRef port;
    bool noVirtualOutputs;
    {
        std::lock_guard lock(mutex_);
        port = outputPort_;
        noVirtualOutputs = virtualOutputs_ == std::vector<MIDIEndpointRef>{0};
        if (!endpointsUIDs) {
            for (const auto& [uid, endpoint] : endpoints_) targets.push_back(endpoint);
        } else {
            for (auto uid : *endpointsUIDs) {
                const auto it = endpoints_.find(uid);
                if (it != endpoints_.end()) targets.push_back(it->second);
            }
        }
    }
    const auto* list = reinterpret_cast<const MIDIPacketList*>(buffer.data());
    for (auto target : targets) {
        const auto status = MIDISend(port, target, list, buffer.size());
        if (status != noErr) Log({"error sending midi: " + std::to_string(status)}, OSLog::midi(), OSLogType::error);
    }
    if (noVirtualOutputs || !virtualOutputPorts) return;
    for (auto source : *virtualOutputPorts) MIDIReceived(source, list, buffer.size());
}

void MIDI::sendMessage(const std::vector<uint8_t>& data, MIDITimeStamp offset, const UIDs& endpointsUIDs,
                       const Ports& virtualOutputPorts) {
    if (const auto buffer = oneMessageList(data, offset)) sendList(*buffer, endpointsUIDs, virtualOutputPorts);
}

void MIDI::sendMessageWithTime(const std::vector<uint8_t>& data, MIDITimeStamp time, const UIDs& endpointsUIDs,
                               const Ports& virtualOutputPorts) {
    // Sized as sendMessage sizes its list, so any message up to the same limit fits.
    if (const auto buffer = oneMessageList(data, time)) sendList(*buffer, endpointsUIDs, virtualOutputPorts);
}

void MIDI::send(const MIDIEvent& event, const UIDs& endpointsUIDs, const Ports& virtualOutputPorts) {
    sendMessage(event.data, 0, endpointsUIDs, virtualOutputPorts);
}

void MIDI::sendNoteOn(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, const UIDs& endpointsUIDs,
                      const Ports& virtualOutputPorts) {
    sendMessage(MIDIEvent::noteOn(noteNumber, velocity, channel).data, 0, endpointsUIDs, virtualOutputPorts);
}

void MIDI::sendNoteOff(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, const UIDs& endpointsUIDs,
                       const Ports& virtualOutputPorts) {
    sendMessage(MIDIEvent::noteOff(noteNumber, velocity, channel).data, 0, endpointsUIDs, virtualOutputPorts);
}

void MIDI::sendController(MIDIByte controller, MIDIByte value, MIDIByte channel, const UIDs& endpointsUIDs,
                          const Ports& virtualOutputPorts) {
    sendMessage(MIDIEvent::controllerChange(controller, value, channel).data, 0, endpointsUIDs, virtualOutputPorts);
}

void MIDI::sendPitchBend(uint16_t value, MIDIByte channel, const UIDs& endpointsUIDs, const Ports& virtualOutputPorts) {
    sendMessage({uint8_t(0xE0 + (channel & 0x0F)), uint8_t(value & 0x7F), uint8_t((value >> 7) & 0x7F)}, 0,
                endpointsUIDs, virtualOutputPorts);
}

void MIDI::sendNoteOnWithTime(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, MIDITimeStamp time,
                              const UIDs& endpointsUIDs, const Ports& virtualOutputPorts) {
    sendMessageWithTime(MIDIEvent::noteOn(noteNumber, velocity, channel).data, time, endpointsUIDs, virtualOutputPorts);
}

void MIDI::sendNoteOffWithTime(MIDIByte noteNumber, MIDIByte velocity, MIDIByte channel, MIDITimeStamp time,
                               const UIDs& endpointsUIDs, const Ports& virtualOutputPorts) {
    sendMessageWithTime(MIDIEvent::noteOff(noteNumber, velocity, channel).data, time, endpointsUIDs,
                        virtualOutputPorts);
}

}  // namespace sonora
