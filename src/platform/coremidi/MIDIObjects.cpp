#include "platform/coremidi/MIDIObjects.h"

#include "platform/coremidi/MIDIAlsa.h"
#include "platform/coremidi/MIDIBackend.h"

#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <utility>


namespace platform {

namespace {

void logError(const std::string& message) {
    os_log(OSLog{"com.tamberlo.coremidi", "midi"}, OSLogType::error, message);
}

// One thread runs every block, in the order the work was queued.
class MIDIThread {
public:
    void post(std::function<void()> work) {
        bool wake;
        {
            std::lock_guard lock(mutex_);
            if (!started_) {
                started_ = true;
                std::thread([this] { run(); }).detach();
            }
            queue_.push_back(std::move(work));
            wake = waiting_;  // a busy thread finds the work without being woken
        }
        if (wake) wake_.notify_one();
    }

    void drain() {
        if (std::this_thread::get_id() == id_) return;
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
    }

private:
    void run() {
        id_ = std::this_thread::get_id();
        std::unique_lock lock(mutex_);
        for (;;) {
            waiting_ = true;
            wake_.wait(lock, [&] { return !queue_.empty(); });
            waiting_ = false;
            auto work = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            work();
            work = nullptr;
            lock.lock();
            busy_ = false;
            if (queue_.empty()) idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<std::function<void()>> queue_;
    bool started_ = false;
    bool busy_ = false;
    bool waiting_ = false;
    std::atomic<std::thread::id> id_{};
};

enum class Kind { client, inputPort, outputPort, source, destination };

// A flag that deliveries already queued read, without the registry's lock, to learn that their
// target has gone.
using Liveness = std::shared_ptr<std::atomic<bool>>;
Liveness alive() { return std::make_shared<std::atomic<bool>>(true); }

// An input port's connection to a source: the reference given at connection, and whether it lasts.
struct Connection {
    void* refCon = nullptr;
    Liveness live = alive();
};

struct Object {
    Kind kind = Kind::client;
    MIDIClientRef owner = 0;  // the client of a port or endpoint; 0 for an external endpoint
    std::map<std::string, std::string> strings;
    std::map<std::string, int32_t> integers;
    MIDINotifyBlock notify;
    MIDIReadBlock read;
    MIDIReceiveBlock receive;
    Liveness live = alive();                                              // false once disposed
    std::map<MIDIEndpointRef, Connection> connections;                    // input port: source → connection
    std::map<MIDIEndpointRef, std::shared_ptr<MIDIBytesToUMP>> converters;  // input port of events
    std::vector<loopback::ReceivedPacket> received;                       // external destination
};

// A new object of `kind` owned by `owner` (0: none), named.
std::shared_ptr<Object> makeObject(Kind kind, MIDIClientRef owner, const std::string& name) {
    auto object = std::make_shared<Object>();
    object->kind = kind;
    object->owner = owner;
    object->strings[kMIDIPropertyName] = name;
    return object;
}

// Enumeration lists public endpoints only; reading the flag never adds it.
bool isPublic(const Object& object) {
    const auto it = object.integers.find(kMIDIPropertyPrivate);
    return it == object.integers.end() || it->second == 0;
}

struct Server {
    std::mutex mutex;
    uint32_t next = 0x00010000;
    std::map<uint32_t, std::shared_ptr<Object>> objects;
    std::mt19937_64 random{std::random_device{}()};
    std::atomic<bool> eventLists{true};
    MIDIThread thread;
    std::unique_ptr<MIDIBackend> backend;  // none: the loopback alone

    // What the backend hears of the program's endpoints and connections.
    bool ownEndpoint(const Object& object) const { return backend && object.owner != 0; }
    void publishLocked(MIDIEndpointRef ref, const Object& object) {
        if (!ownEndpoint(object)) return;
        backend->published(ref, object.kind == Kind::source ? kMIDIObjectType_Source : kMIDIObjectType_Destination,
                           object.strings.at(kMIDIPropertyName), !isPublic(object));
    }
    void republishLocked(MIDIEndpointRef ref, const Object& object) {
        if (ownEndpoint(object)) backend->changed(ref, object.strings.at(kMIDIPropertyName), !isPublic(object));
    }
    void withdrawLocked(MIDIEndpointRef ref, const Object& object) {
        if (ownEndpoint(object)) backend->withdrawn(ref);
    }
    // A port's connection to `source` ends.
    void disconnectedLocked(MIDIEndpointRef source) {
        const auto endpoint = find(source);
        if (backend && endpoint && endpoint->owner == 0) backend->disconnected(source);
    }
    // Ends a port's connection to `source`; false when there was none.
    bool endConnectionLocked(Object& port, MIDIEndpointRef source) {
        const auto it = port.connections.find(source);
        if (it == port.connections.end()) return false;
        it->second.live->store(false, std::memory_order_release);
        port.connections.erase(it);
        port.converters.erase(source);
        disconnectedLocked(source);
        return true;
    }
    void disconnectAllLocked(Object& port) {
        while (!port.connections.empty()) endConnectionLocked(port, port.connections.begin()->first);
    }
    // Removes an object from the registry; what was queued for it finds it gone.
    void eraseLocked(MIDIObjectRef ref) {
        const auto it = objects.find(ref);
        if (it == objects.end()) return;
        disconnectAllLocked(*it->second);
        it->second->live->store(false, std::memory_order_release);
        objects.erase(it);
    }

    std::shared_ptr<Object> find(MIDIObjectRef ref) {
        const auto it = objects.find(ref);
        return it == objects.end() ? nullptr : it->second;
    }
    std::shared_ptr<Object> find(MIDIObjectRef ref, Kind kind) {
        auto object = find(ref);
        return object && object->kind == kind ? object : nullptr;
    }
    MIDIObjectRef add(std::shared_ptr<Object> object) {
        const MIDIObjectRef ref = next++;
        objects.emplace(ref, std::move(object));
        return ref;
    }
    bool uniqueIDTaken(int32_t id, MIDIObjectRef except) const {
        for (const auto& [ref, object] : objects) {
            if (ref == except) continue;
            const auto it = object->integers.find(kMIDIPropertyUniqueID);
            if (it != object->integers.end() && it->second == id) return true;
        }
        return false;
    }
    int32_t newUniqueID() {
        for (;;) {
            const auto id = int32_t(uint32_t(random()));
            if (id != 0 && !uniqueIDTaken(id, 0)) return id;
        }
    }

    // Queues the notifications of a change to `ref` for every client: the change, then setup changed.
    void notifyLocked(int32_t messageID, MIDIObjectRef ref, const Object& object, const std::string& property = {}) {
        const int32_t type = object.kind == Kind::source        ? kMIDIObjectType_Source
                             : object.kind == Kind::destination ? kMIDIObjectType_Destination
                                                                : kMIDIObjectType_Other;
        std::shared_ptr<MIDINotification> first;
        if (messageID == kMIDIMsgPropertyChanged) {
            auto n = std::make_shared<MIDIObjectPropertyChangeNotification>();
            n->messageSize = sizeof(MIDIObjectPropertyChangeNotification);
            n->object = ref;
            n->objectType = type;
            n->propertyName = property;
            first = n;
        } else {
            auto n = std::make_shared<MIDIObjectAddRemoveNotification>();
            n->messageSize = sizeof(MIDIObjectAddRemoveNotification);
            n->parent = object.owner;
            n->parentType = kMIDIObjectType_Other;
            n->child = ref;
            n->childType = type;
            first = n;
        }
        first->messageID = messageID;
        auto setup = std::make_shared<MIDINotification>(MIDINotification{kMIDIMsgSetupChanged, sizeof(MIDINotification)});
        for (const auto& [clientRef, client] : objects) {
            if (client->kind != Kind::client || !client->notify) continue;
            thread.post([block = client->notify, first, setup] {
                block(first.get());
                block(setup.get());
            });
        }
    }
};

// The registry alone, for the backend's calls.
Server& registry() {
    static auto* instance = new Server;  // lives to the process's end: the MIDI thread uses it
    return *instance;
}

// The registry with its backend chosen: the ALSA sequencer unless TAMBERLO_MIDI_BACKEND says
// "loopback"; the loopback, with one log line, when the sequencer cannot be opened.
Server& server() {
    static std::once_flag chosen;
    auto& s = registry();
    std::call_once(chosen, [&] {
        const char* asked = std::getenv("TAMBERLO_MIDI_BACKEND");
        const std::string wanted = asked ? asked : "";
        if (wanted == "loopback") return;
        if (!wanted.empty() && wanted != "alsa") {
            logError("MIDI backend \"" + wanted + "\" is unknown; using the loopback");
            return;
        }
        std::string error;
        auto backend = alsa::open(&error);
        if (!backend) {
            os_log(OSLog{"com.tamberlo.coremidi", "midi"}, wanted.empty() ? OSLogType::default_ : OSLogType::error,
                   "MIDI: the ALSA sequencer cannot be opened (" + error + "); using the loopback");
            return;
        }
        std::lock_guard lock(s.mutex);
        s.backend = std::move(backend);
    });
    return s;
}

bool isEndpoint(const Object& object) { return object.kind == Kind::source || object.kind == Kind::destination; }

// The number of data bytes a status byte takes (real-time bytes aside).
size_t dataBytesOf(uint8_t status) {
    switch (status >> 4) {
    case 0x8: case 0x9: case 0xA: case 0xB: case 0xE: return 2;
    case 0xC: case 0xD: return 1;
    default: return status == 0xF2 ? 2 : status == 0xF1 || status == 0xF3 ? 1 : 0;
    }
}

// Appends the bytes as packets of at most 256 bytes, each with the stamp (an empty packet gives
// none). A packet ends between two messages, or inside a SysEx message that does not fit one, so
// that no other message is cut in two.
void appendInPieces(MIDITimeStamp time, const uint8_t* data, size_t length, std::vector<loopback::ReceivedPacket>& out) {
    uint8_t status = 0;
    size_t due = 0;  // data bytes the message under way still takes
    bool inSysEx = false;
    size_t start = 0, cut = 0;  // the packet under way, the last place it may end
    for (size_t i = 0; i < length; ++i) {
        if (i > start && (inSysEx || due == 0)) cut = i;
        if (i - start == 256) {
            const size_t end = cut > start ? cut : i;
            out.push_back({time, std::vector<uint8_t>(data + start, data + end)});
            start = end;
        }
        const uint8_t b = data[i];
        if (b >= 0xF8) continue;  // real time: in place, inside a message or not
        if (b >= 0x80) {
            inSysEx = b == 0xF0;
            status = b < 0xF0 ? b : 0;  // system messages have no running status
            due = dataBytesOf(b);
        } else if (due > 0) {
            --due;
        } else if (status) {
            due = dataBytesOf(status) - 1;  // running status
        }
    }
    if (start < length) out.push_back({time, std::vector<uint8_t>(data + start, data + length)});
}

// A backend's packets as the service hands packets on: none longer than 256 bytes (a backend may
// hand over a long SysEx message whole).
MIDIPackets inPieces(const MIDIPackets& packets) {
    MIDIPackets out;
    for (const auto& p : packets) appendInPieces(p.timeStamp, p.bytes.data(), p.bytes.size(), out);
    return out;
}

// The packets of a list, checked: the count, each header and each length lie inside the list.
// Longer packets are cut into packets of at most 256 bytes, empty ones carry nothing and are
// skipped; a stamp 0 becomes `now`.
bool readPackets(const MIDIPacketList* list, size_t listBytes, MIDITimeStamp now,
                 std::vector<loopback::ReceivedPacket>& out) {
    if (!list || listBytes < kMIDIPacketListHeaderSize) return false;
    const uint32_t count = MIDIPacketListCount(list, listBytes);
    const auto* base = reinterpret_cast<const uint8_t*>(list);
    size_t at = kMIDIPacketListHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (listBytes - at < kMIDIPacketHeaderSize) return false;
        const auto* packet = reinterpret_cast<const MIDIPacket*>(base + at);
        const size_t length = MIDIPacketLength(packet);
        if (listBytes - at - kMIDIPacketHeaderSize < length) return false;
        MIDITimeStamp time = MIDIPacketTimeStamp(packet);
        if (time == 0) time = now;
        appendInPieces(time, base + at + kMIDIPacketHeaderSize, length, out);
        at += kMIDIPacketHeaderSize + length;
    }
    return true;
}

// A packet list of the packets (each at most 256 bytes).
std::vector<uint8_t> packetList(const std::vector<loopback::ReceivedPacket>& packets) {
    size_t size = kMIDIPacketListHeaderSize;
    for (const auto& p : packets) size += kMIDIPacketHeaderSize + p.bytes.size();
    std::vector<uint8_t> buffer(std::max(size, sizeof(MIDIPacketList)));
    const uint32_t count = uint32_t(packets.size());
    std::memcpy(buffer.data(), &count, sizeof count);
    size_t at = kMIDIPacketListHeaderSize;
    for (const auto& p : packets) {
        const uint16_t length = uint16_t(p.bytes.size());
        std::memcpy(buffer.data() + at + offsetof(MIDIPacket, timeStamp), &p.timeStamp, sizeof p.timeStamp);
        std::memcpy(buffer.data() + at + offsetof(MIDIPacket, length), &length, sizeof length);
        std::memcpy(buffer.data() + at + kMIDIPacketHeaderSize, p.bytes.data(), length);
        at += kMIDIPacketHeaderSize + length;
    }
    return buffer;
}

// An event list of the packets.
std::vector<uint8_t> eventList(MIDIProtocolID protocol, const std::vector<MIDIEventPacket>& packets) {
    const size_t header = offsetof(MIDIEventList, packet);
    size_t size = header;
    for (const auto& p : packets) size += offsetof(MIDIEventPacket, words) + p.wordCount * 4;
    std::vector<uint8_t> buffer(std::max(size, sizeof(MIDIEventList)));
    auto* list = reinterpret_cast<MIDIEventList*>(buffer.data());
    list->protocol = protocol;
    list->numPackets = uint32_t(packets.size());
    size_t at = header;
    for (const auto& p : packets) {
        const size_t n = offsetof(MIDIEventPacket, words) + p.wordCount * 4;
        std::memcpy(buffer.data() + at, &p, n);
        at += n;
    }
    return buffer;
}

// Queues the delivery of packets from `source` to every input port connected to it.
void deliverFromSourceLocked(Server& s, MIDIEndpointRef source, const std::vector<loopback::ReceivedPacket>& packets) {
    if (packets.empty()) return;
    for (const auto& [ref, port] : s.objects) {
        if (port->kind != Kind::inputPort) continue;
        const auto connection = port->connections.find(source);
        if (connection == port->connections.end()) continue;
        // A delivery queued before a dispose or disconnect reaches nothing.
        void* refCon = connection->second.refCon;
        const Liveness live = connection->second.live;
        if (port->receive) {
            auto& converter = port->converters[source];
            if (!converter) converter = std::make_shared<MIDIBytesToUMP>();
            s.thread.post([live, refCon, packets, converter, block = port->receive] {
                if (!live->load(std::memory_order_acquire)) return;
                std::vector<MIDIEventPacket> words;
                for (const auto& p : packets) converter->convert(p.bytes.data(), p.bytes.size(), p.timeStamp, words);
                if (words.empty()) return;
                const auto list = eventList(kMIDIProtocol_1_0, words);
                block(reinterpret_cast<const MIDIEventList*>(list.data()), list.size(), refCon);
            });
        } else if (port->read) {
            s.thread.post([live, refCon, list = packetList(packets), block = port->read] {
                if (!live->load(std::memory_order_acquire)) return;
                block(reinterpret_cast<const MIDIPacketList*>(list.data()), list.size(), refCon);
            });
        }
    }
}

OSStatus received(MIDIEndpointRef source, const MIDIPacketList* list, size_t listBytes, bool external) {
    auto& s = server();
    std::vector<loopback::ReceivedPacket> packets;
    if (!readPackets(list, listBytes, mach_absolute_time(), packets)) {
        logError("MIDI packet list refused: its packets do not fit its size");
        return kMIDIMessageSendErr;
    }
    std::lock_guard lock(s.mutex);
    const auto object = s.find(source);
    if (!object || !isEndpoint(*object)) return kMIDIUnknownEndpoint;
    if (object->kind != Kind::source) return kMIDIWrongEndpointType;
    if ((object->owner == 0) != external) return kMIDINotPermitted;
    deliverFromSourceLocked(s, source, packets);
    if (!external && s.backend && !packets.empty()) return s.backend->emitted(source, packets);
    return noErr;
}

// Queues the delivery of packets to a destination's read block.
void deliverToDestinationLocked(Server& s, const Object& object, const std::vector<loopback::ReceivedPacket>& packets) {
    if (!object.read || packets.empty()) return;
    s.thread.post([live = object.live, list = packetList(packets), block = object.read] {
        // A destination disposed while the list was on its way gets nothing.
        if (!live->load(std::memory_order_acquire)) return;
        block(reinterpret_cast<const MIDIPacketList*>(list.data()), list.size(), nullptr);
    });
}

OSStatus createEndpoint(Kind kind, MIDIClientRef client, const std::string& name, MIDIEndpointRef* out,
                        MIDIReadBlock read) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    if (client != 0 && !s.find(client, Kind::client)) return kMIDIInvalidClient;
    auto object = makeObject(kind, client, name);
    object->integers[kMIDIPropertyUniqueID] = s.newUniqueID();
    object->integers[kMIDIPropertyPrivate] = 0;
    object->read = std::move(read);
    const auto ref = s.add(object);
    if (out) *out = ref;
    s.publishLocked(ref, *object);
    s.notifyLocked(kMIDIMsgObjectAdded, ref, *object);
    return noErr;
}

OSStatus createPort(Kind kind, MIDIClientRef client, const std::string& name, MIDIPortRef* out, MIDIReadBlock read,
                    MIDIReceiveBlock receive) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    if (!s.find(client, Kind::client)) return kMIDIInvalidClient;
    auto object = makeObject(kind, client, name);
    object->read = std::move(read);
    object->receive = std::move(receive);
    const auto ref = s.add(object);
    if (out) *out = ref;
    return noErr;
}

ItemCount countOf(Kind kind) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    ItemCount n = 0;
    for (const auto& [ref, object] : s.objects)
        if (object->kind == kind && isPublic(*object)) ++n;
    return n;
}

MIDIEndpointRef nthOf(Kind kind, ItemCount index) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    for (const auto& [ref, object] : s.objects)
        if (object->kind == kind && isPublic(*object) && index-- == 0) return ref;
    return 0;
}

// Removes an endpoint: every connection to it ends, the backend and every client hear of it.
void disposeEndpointLocked(Server& s, MIDIEndpointRef endpoint, const Object& object) {
    for (auto& [ref, port] : s.objects) s.endConnectionLocked(*port, endpoint);
    s.withdrawLocked(endpoint, object);
    s.notifyLocked(kMIDIMsgObjectRemoved, endpoint, object);
    s.eraseLocked(endpoint);
}

}  // namespace

namespace midiservice {

MIDIEndpointRef addExternal(MIDIObjectType type, const std::string& name, MIDIUniqueID uniqueID) {
    auto& s = registry();
    std::lock_guard lock(s.mutex);
    auto object = makeObject(type == kMIDIObjectType_Source ? Kind::source : Kind::destination, 0, name);
    // Two ports whose names hash alike: the later one takes the next free ID.
    while (uniqueID == 0 || s.uniqueIDTaken(uniqueID, 0)) ++uniqueID;
    object->integers[kMIDIPropertyUniqueID] = uniqueID;
    object->integers[kMIDIPropertyPrivate] = 0;
    const auto ref = s.add(object);
    s.notifyLocked(kMIDIMsgObjectAdded, ref, *object);
    return ref;
}

void removeExternal(MIDIEndpointRef endpoint) {
    auto& s = registry();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(endpoint);
    if (object && isEndpoint(*object) && object->owner == 0) disposeEndpointLocked(s, endpoint, *object);
}

void receivedFromExternal(MIDIEndpointRef source, const MIDIPackets& packets) {
    const auto pieces = inPieces(packets);
    auto& s = registry();
    std::lock_guard lock(s.mutex);
    if (s.find(source, Kind::source)) deliverFromSourceLocked(s, source, pieces);
}

void receivedAtDestination(MIDIEndpointRef destination, const MIDIPackets& packets) {
    const auto pieces = inPieces(packets);
    auto& s = registry();
    std::lock_guard lock(s.mutex);
    if (const auto object = s.find(destination, Kind::destination)) deliverToDestinationLocked(s, *object, pieces);
}

void useBackendForTesting(std::unique_ptr<MIDIBackend> backend) {
    auto& s = server();
    {
        std::lock_guard lock(s.mutex);
        std::swap(s.backend, backend);
    }
    backend.reset();  // joins its threads, which may be waiting for the lock
}

}  // namespace midiservice

OSStatus MIDIClientCreateWithBlock(const std::string& name, MIDIClientRef* outClient, MIDINotifyBlock notifyBlock) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    auto object = makeObject(Kind::client, 0, name);
    object->notify = std::move(notifyBlock);
    const auto ref = s.add(object);
    if (outClient) *outClient = ref;
    return noErr;
}

OSStatus MIDIClientDispose(MIDIClientRef client) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    if (!s.find(client, Kind::client)) return kMIDIInvalidClient;
    std::vector<std::pair<MIDIObjectRef, std::shared_ptr<Object>>> owned;
    for (const auto& [ref, object] : s.objects)
        if (object->owner == client) owned.emplace_back(ref, object);
    for (const auto& [ref, object] : owned) {
        if (isEndpoint(*object))
            disposeEndpointLocked(s, ref, *object);
        else
            s.eraseLocked(ref);
    }
    s.eraseLocked(client);
    return noErr;
}

ItemCount MIDIGetNumberOfSources() { return countOf(Kind::source); }
ItemCount MIDIGetNumberOfDestinations() { return countOf(Kind::destination); }
MIDIEndpointRef MIDIGetSource(ItemCount index) { return nthOf(Kind::source, index); }
MIDIEndpointRef MIDIGetDestination(ItemCount index) { return nthOf(Kind::destination, index); }

OSStatus MIDIObjectGetStringProperty(MIDIObjectRef ref, const std::string& property, std::string* out) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(ref);
    if (!object) return kMIDIObjectNotFound;
    const auto it = object->strings.find(property);
    if (it == object->strings.end())
        return object->integers.count(property) ? kMIDIWrongPropertyType : kMIDIUnknownProperty;
    if (out) *out = it->second;
    return noErr;
}

OSStatus MIDIObjectSetStringProperty(MIDIObjectRef ref, const std::string& property, const std::string& value) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(ref);
    if (!object) return kMIDIObjectNotFound;
    if (object->integers.count(property)) return kMIDIWrongPropertyType;
    object->strings[property] = value;
    if (isEndpoint(*object)) {
        if (property == kMIDIPropertyName) s.republishLocked(ref, *object);
        s.notifyLocked(kMIDIMsgPropertyChanged, ref, *object, property);
    }
    return noErr;
}

OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef ref, const std::string& property, int32_t* out) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(ref);
    if (!object) return kMIDIObjectNotFound;
    const auto it = object->integers.find(property);
    if (it == object->integers.end())
        return object->strings.count(property) ? kMIDIWrongPropertyType : kMIDIUnknownProperty;
    if (out) *out = it->second;
    return noErr;
}

OSStatus MIDIObjectSetIntegerProperty(MIDIObjectRef ref, const std::string& property, int32_t value) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(ref);
    if (!object) return kMIDIObjectNotFound;
    if (object->strings.count(property)) return kMIDIWrongPropertyType;
    if (property == kMIDIPropertyUniqueID && s.uniqueIDTaken(value, ref)) return kMIDIIDNotUnique;
    object->integers[property] = value;
    if (isEndpoint(*object)) {
        if (property == kMIDIPropertyPrivate) s.republishLocked(ref, *object);
        s.notifyLocked(kMIDIMsgPropertyChanged, ref, *object, property);
    }
    return noErr;
}

OSStatus MIDIInputPortCreateWithBlock(MIDIClientRef client, const std::string& name, MIDIPortRef* outPort,
                                      MIDIReadBlock readBlock) {
    return createPort(Kind::inputPort, client, name, outPort, std::move(readBlock), nullptr);
}

OSStatus MIDIInputPortCreateWithProtocol(MIDIClientRef client, const std::string& name, MIDIProtocolID protocol,
                                         MIDIPortRef* outPort, MIDIReceiveBlock receiveBlock) {
    if (!MIDIEventListsAvailable()) return kMIDINotPermitted;
    if (protocol != kMIDIProtocol_1_0) return kMIDINotPermitted;
    return createPort(Kind::inputPort, client, name, outPort, nullptr, std::move(receiveBlock));
}

OSStatus MIDIOutputPortCreate(MIDIClientRef client, const std::string& name, MIDIPortRef* outPort) {
    return createPort(Kind::outputPort, client, name, outPort, nullptr, nullptr);
}

OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(port, Kind::inputPort);
    if (!object) return kMIDIInvalidPort;
    const auto endpoint = s.find(source);
    if (!endpoint || !isEndpoint(*endpoint)) return kMIDIUnknownEndpoint;
    if (endpoint->kind != Kind::source) return kMIDIWrongEndpointType;
    const auto [connection, fresh] = object->connections.try_emplace(source);
    connection->second.refCon = connRefCon;
    if (fresh && s.backend && endpoint->owner == 0) s.backend->connected(source);
    return noErr;
}

OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(port, Kind::inputPort);
    if (!object) return kMIDIInvalidPort;
    if (!s.endConnectionLocked(*object, source)) return kMIDINoConnection;
    return noErr;
}

OSStatus MIDIPortDispose(MIDIPortRef port) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(port);
    if (!object || (object->kind != Kind::inputPort && object->kind != Kind::outputPort)) return kMIDIInvalidPort;
    s.eraseLocked(port);
    return noErr;
}

OSStatus MIDIDestinationCreateWithBlock(MIDIClientRef client, const std::string& name, MIDIEndpointRef* outDest,
                                        MIDIReadBlock readBlock) {
    if (client == 0) return kMIDIInvalidClient;
    return createEndpoint(Kind::destination, client, name, outDest, std::move(readBlock));
}

OSStatus MIDISourceCreate(MIDIClientRef client, const std::string& name, MIDIEndpointRef* outSource) {
    if (client == 0) return kMIDIInvalidClient;
    return createEndpoint(Kind::source, client, name, outSource, nullptr);
}

OSStatus MIDIEndpointDispose(MIDIEndpointRef endpoint) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(endpoint);
    if (!object || !isEndpoint(*object)) return kMIDIUnknownEndpoint;
    disposeEndpointLocked(s, endpoint, *object);
    return noErr;
}

OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef destination, const MIDIPacketList* list, size_t listBytes) {
    auto& s = server();
    std::vector<loopback::ReceivedPacket> packets;
    if (!readPackets(list, listBytes, mach_absolute_time(), packets)) {
        logError("MIDI packet list refused: its packets do not fit its size");
        return kMIDIMessageSendErr;
    }
    std::lock_guard lock(s.mutex);
    if (!s.find(port, Kind::outputPort)) return kMIDIInvalidPort;
    const auto object = s.find(destination);
    if (!object || !isEndpoint(*object)) return kMIDIUnknownEndpoint;
    if (object->kind != Kind::destination) return kMIDIWrongEndpointType;
    if (object->owner == 0) {
        const OSStatus sent = s.backend ? s.backend->send(destination, packets) : kMIDIUnknownEndpoint;
        if (sent != kMIDIUnknownEndpoint) return sent;
        object->received.insert(object->received.end(), packets.begin(), packets.end());
        return noErr;
    }
    deliverToDestinationLocked(s, *object, packets);
    return noErr;
}

OSStatus MIDIReceived(MIDIEndpointRef source, const MIDIPacketList* list, size_t listBytes) {
    return received(source, list, listBytes, false);
}

std::string MIDIBackendName() {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    return s.backend ? s.backend->name() : "loopback";
}

bool MIDIEventListsAvailable() { return server().eventLists.load(); }
void MIDISetEventListsAvailable(bool available) { server().eventLists.store(available); }

void MIDIDrain() { server().thread.drain(); }

void MIDISeedUniqueIDs(uint64_t seed) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    s.random.seed(seed);
}

namespace loopback {

OSStatus createExternalSource(const std::string& name, MIDIEndpointRef* outSource) {
    return createEndpoint(Kind::source, 0, name, outSource, nullptr);
}

OSStatus createExternalDestination(const std::string& name, MIDIEndpointRef* outDestination) {
    return createEndpoint(Kind::destination, 0, name, outDestination, nullptr);
}

OSStatus inject(MIDIEndpointRef source, const MIDIPacketList* list, size_t listBytes) {
    return received(source, list, listBytes, true);
}

OSStatus injectEventList(MIDIEndpointRef source, const MIDIEventList* list, size_t listBytes) {
    if (!list || listBytes < offsetof(MIDIEventList, packet)) return kMIDIMessageSendErr;
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(source, Kind::source);
    if (!object) return kMIDIUnknownEndpoint;
    std::vector<uint8_t> copy(reinterpret_cast<const uint8_t*>(list), reinterpret_cast<const uint8_t*>(list) + listBytes);
    for (const auto& [ref, port] : s.objects) {
        if (port->kind != Kind::inputPort || !port->receive) continue;
        const auto connection = port->connections.find(source);
        if (connection == port->connections.end()) continue;
        s.thread.post([copy, block = port->receive, refCon = connection->second.refCon, live = connection->second.live] {
            if (!live->load(std::memory_order_acquire)) return;
            block(reinterpret_cast<const MIDIEventList*>(copy.data()), copy.size(), refCon);
        });
    }
    return noErr;
}

std::vector<ReceivedPacket> takeReceived(MIDIEndpointRef destination) {
    auto& s = server();
    std::lock_guard lock(s.mutex);
    const auto object = s.find(destination, Kind::destination);
    if (!object) return {};
    return std::exchange(object->received, {});
}

}  // namespace loopback

void MIDIBytesToUMP::word(uint32_t w, MIDITimeStamp time, std::vector<MIDIEventPacket>& packets, uint32_t w2,
                          bool two) {
    const uint32_t need = two ? 2 : 1;
    if (packets.empty() || packets.back().timeStamp != time || packets.back().wordCount + need > 64) {
        MIDIEventPacket packet{};
        packet.timeStamp = time;
        packets.push_back(packet);
    }
    auto& packet = packets.back();
    packet.words[packet.wordCount++] = w;
    if (two) packet.words[packet.wordCount++] = w2;
}

void MIDIBytesToUMP::flushSysEx(bool last, MIDITimeStamp time, std::vector<MIDIEventPacket>& packets) {
    const uint32_t kind = last ? (sysExStarted_ ? 3 : 0) : (sysExStarted_ ? 2 : 1);
    uint8_t b[6] = {};
    std::memcpy(b, pending_, pendingCount_);
    const uint32_t w1 = (3u << 28) | (kind << 20) | (uint32_t(pendingCount_) << 16) | (uint32_t(b[0]) << 8) | b[1];
    const uint32_t w2 = (uint32_t(b[2]) << 24) | (uint32_t(b[3]) << 16) | (uint32_t(b[4]) << 8) | b[5];
    word(w1, time, packets, w2, true);
    sysExStarted_ = !last;
    pendingCount_ = 0;
}

void MIDIBytesToUMP::convert(const uint8_t* bytes, size_t n, MIDITimeStamp time, std::vector<MIDIEventPacket>& packets) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        if (b >= 0xF8) {  // real time: in place, even inside SysEx
            word((1u << 28) | (uint32_t(b) << 16), time, packets);
            continue;
        }
        if (b == 0xF0) {
            inSysEx_ = true;
            sysExStarted_ = false;
            pendingCount_ = 0;
            status_ = 0;
            continue;
        }
        if (b == 0xF7) {
            if (inSysEx_) flushSysEx(true, time, packets);
            inSysEx_ = false;
            continue;
        }
        if (inSysEx_) {
            if (b < 0x80) {
                if (pendingCount_ == 6) flushSysEx(false, time, packets);
                pending_[pendingCount_++] = b;
                continue;
            }
            // A status byte cuts an unfinished SysEx message short: it is dropped, not closed as
            // if whole (a receiver holding its start forgets it at the next start).
            inSysEx_ = false;
            sysExStarted_ = false;
            pendingCount_ = 0;
        }
        if (b >= 0x80) {
            status_ = b;
            have_ = 0;
            if (b == 0xF6 || b == 0xF4 || b == 0xF5) {
                word((1u << 28) | (uint32_t(b) << 16), time, packets);
                status_ = 0;
            }
            continue;
        }
        if (status_ == 0) continue;  // data without a status
        data_[have_++] = b;
        const size_t needed = dataBytesOf(status_);
        if (have_ < needed) continue;
        const uint32_t type = status_ >= 0xF0 ? 1u : 2u;
        const uint32_t d2 = needed == 2 ? data_[1] : 0;
        word((type << 28) | (uint32_t(status_) << 16) | (uint32_t(data_[0]) << 8) | d2, time, packets);
        have_ = 0;
        if (status_ >= 0xF0) status_ = 0;  // system common has no running status
    }
}

}  // namespace platform
