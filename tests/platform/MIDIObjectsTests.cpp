#include "platform/coremidi/MIDIBackend.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/foundation/HostTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// A packet list holding the given packets.
std::vector<uint8_t> listOf(const std::vector<std::pair<MIDITimeStamp, std::vector<uint8_t>>>& packets) {
    size_t size = kMIDIPacketListHeaderSize;
    for (const auto& [t, b] : packets) size += kMIDIPacketHeaderSize + b.size();
    std::vector<uint8_t> buffer(size);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    const uint32_t count = uint32_t(packets.size());
    std::memcpy(list, &count, 4);
    size_t at = kMIDIPacketListHeaderSize;
    for (const auto& [t, b] : packets) {
        const uint16_t n = uint16_t(b.size());
        std::memcpy(buffer.data() + at, &t, 8);
        std::memcpy(buffer.data() + at + 8, &n, 2);
        if (n) std::memcpy(buffer.data() + at + 10, b.data(), n);  // an empty packet has no bytes to copy
        at += 10 + n;
    }
    return buffer;
}

const MIDIPacketList* asList(const std::vector<uint8_t>& b) { return reinterpret_cast<const MIDIPacketList*>(b.data()); }

struct Captured {
    std::mutex mutex;
    std::vector<loopback::ReceivedPacket> packets;
    std::vector<std::vector<uint32_t>> eventPackets;
    std::vector<int32_t> notifications;

    MIDIReadBlock readBlock() {
        return [this](const MIDIPacketList* list, size_t bytes, void*) {
            std::lock_guard lock(mutex);
            const auto* p = &list->packet[0];
            for (uint32_t i = 0; i < MIDIPacketListCount(list, bytes); ++i, p = MIDIPacketNext(p)) {
                // Packets after the first sit at any byte offset: reach their bytes without a member access.
                const auto* data = reinterpret_cast<const uint8_t*>(p) + kMIDIPacketHeaderSize;
                packets.push_back({MIDIPacketTimeStamp(p), {data, data + MIDIPacketLength(p)}});
            }
        };
    }
    MIDIReceiveBlock receiveBlock() {
        return [this](const MIDIEventList* list, size_t, void*) {
            std::lock_guard lock(mutex);
            const auto* p = &list->packet[0];
            for (uint32_t i = 0; i < list->numPackets; ++i, p = MIDIEventPacketNext(p))
                eventPackets.emplace_back(p->words, p->words + p->wordCount);
        };
    }
};

// A client with a destination that records what reaches it and an output port to send with.
struct SendRig {
    Captured seen;
    MIDIClientRef client = 0;
    MIDIEndpointRef destination = 0;
    MIDIPortRef out = 0;
    SendRig() {
        MIDIClientCreateWithBlock("c", &client, nullptr);
        MIDIDestinationCreateWithBlock(client, "d", &destination, seen.readBlock());
        MIDIOutputPortCreate(client, "o", &out);
    }
    ~SendRig() { MIDIClientDispose(client); }
};

std::vector<uint8_t> sysEx(size_t payload) {
    std::vector<uint8_t> b{0xF0};
    for (size_t i = 0; i < payload; ++i) b.push_back(uint8_t(i & 0x7F));
    b.push_back(0xF7);
    return b;
}

}  // namespace

TEST(MIDIObjects, StaleAndWrongKindHandlesGiveErrors) {
    MIDIClientRef client = 0;
    ASSERT_EQ(MIDIClientCreateWithBlock("c", &client, nullptr), noErr);
    MIDIPortRef out = 0;
    ASSERT_EQ(MIDIOutputPortCreate(client, "out", &out), noErr);
    MIDIEndpointRef source = 0;
    ASSERT_EQ(MIDISourceCreate(client, "s", &source), noErr);
    EXPECT_NE(out, source);

    const auto list = listOf({{0, {0x90, 60, 1}}});
    EXPECT_EQ(MIDISend(out, source, asList(list), list.size()), kMIDIWrongEndpointType);
    EXPECT_EQ(MIDISend(source, source, asList(list), list.size()), kMIDIInvalidPort);
    EXPECT_EQ(MIDIPortConnectSource(out, source, nullptr), kMIDIInvalidPort);
    EXPECT_EQ(MIDIOutputPortCreate(source, "x", nullptr), kMIDIInvalidClient);
    EXPECT_EQ(MIDIEndpointDispose(0), kMIDIUnknownEndpoint);
    EXPECT_EQ(MIDIEndpointDispose(out), kMIDIUnknownEndpoint);
    EXPECT_EQ(MIDIEndpointDispose(source), noErr);
    EXPECT_EQ(MIDIEndpointDispose(source), kMIDIUnknownEndpoint);
    EXPECT_EQ(MIDIReceived(source, asList(list), list.size()), kMIDIUnknownEndpoint);
    EXPECT_EQ(MIDIPortDispose(out), noErr);
    EXPECT_EQ(MIDIPortDispose(out), kMIDIInvalidPort);

    // Handles are never reused.
    MIDIEndpointRef again = 0;
    ASSERT_EQ(MIDISourceCreate(client, "s", &again), noErr);
    EXPECT_GT(again, source);
    MIDIEndpointDispose(again);
    MIDIClientDispose(client);
}

TEST(MIDIObjects, EnumerationAndProperties) {
    MIDIClientRef client = 0;
    ASSERT_EQ(MIDIClientCreateWithBlock("c", &client, nullptr), noErr);
    const auto sources = MIDIGetNumberOfSources();
    MIDIEndpointRef a = 0, b = 0, hidden = 0;
    MIDISourceCreate(client, "A", &a);
    loopback::createExternalSource("B", &b);
    MIDISourceCreate(client, "H", &hidden);
    ASSERT_EQ(MIDIObjectSetIntegerProperty(hidden, kMIDIPropertyPrivate, 1), noErr);
    ASSERT_EQ(MIDIGetNumberOfSources(), sources + 2);
    EXPECT_EQ(MIDIGetSource(sources), a);
    EXPECT_EQ(MIDIGetSource(sources + 1), b);
    EXPECT_EQ(MIDIGetSource(sources + 2), 0u);

    std::string text = "untouched";
    EXPECT_EQ(MIDIObjectGetStringProperty(a, kMIDIPropertyModel, &text), kMIDIUnknownProperty);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(MIDIObjectGetStringProperty(a, "nonsense", &text), kMIDIUnknownProperty);
    EXPECT_EQ(MIDIObjectGetStringProperty(a, kMIDIPropertyName, &text), noErr);
    EXPECT_EQ(text, "A");
    EXPECT_EQ(MIDIObjectSetStringProperty(a, kMIDIPropertyManufacturer, "M"), noErr);
    EXPECT_EQ(MIDIObjectGetStringProperty(a, kMIDIPropertyManufacturer, &text), noErr);
    EXPECT_EQ(text, "M");
    EXPECT_EQ(MIDIObjectGetStringProperty(0xFFFFFFF0u, kMIDIPropertyName, &text), kMIDIObjectNotFound);

    int32_t idA = 0, idB = 0;
    ASSERT_EQ(MIDIObjectGetIntegerProperty(a, kMIDIPropertyUniqueID, &idA), noErr);
    ASSERT_EQ(MIDIObjectGetIntegerProperty(b, kMIDIPropertyUniqueID, &idB), noErr);
    EXPECT_NE(idA, 0);
    EXPECT_NE(idA, idB);
    EXPECT_EQ(MIDIObjectSetIntegerProperty(b, kMIDIPropertyUniqueID, idA), kMIDIIDNotUnique);
    EXPECT_EQ(MIDIObjectSetIntegerProperty(a, kMIDIPropertyUniqueID, idA), noErr);

    for (auto e : {a, b, hidden}) EXPECT_EQ(MIDIEndpointDispose(e), noErr);
    EXPECT_EQ(MIDIGetNumberOfSources(), sources);
    MIDIClientDispose(client);
}

TEST(MIDIObjects, EndpointChangesNotifyEveryClient) {
    Captured seen;
    MIDIClientRef watcher = 0, maker = 0;
    MIDIClientCreateWithBlock("watcher", &watcher, [&](const MIDINotification* n) {
        std::lock_guard lock(seen.mutex);
        seen.notifications.push_back(n->messageID);
        if (n->messageID == kMIDIMsgPropertyChanged) {
            EXPECT_EQ(static_cast<const MIDIObjectPropertyChangeNotification*>(n)->propertyName, "model");
        }
    });
    MIDIClientCreateWithBlock("maker", &maker, nullptr);
    MIDIEndpointRef destination = 0;
    MIDIDestinationCreateWithBlock(maker, "d", &destination, nullptr);
    MIDIObjectSetStringProperty(destination, kMIDIPropertyModel, "x");
    MIDIEndpointDispose(destination);
    MIDIDrain();
    EXPECT_EQ(seen.notifications, (std::vector<int32_t>{2, 1, 4, 1, 3, 1}));
    MIDIClientDispose(watcher);
    MIDIClientDispose(maker);
}

TEST(MIDIObjects, SendDeliversCopiesOnTheMIDIThreadWithHostTime) {
    SendRig rig;
    auto& [seen, client, destination, out] = rig;

    const auto before = mach_absolute_time();
    const auto big = sysEx(298);  // 300 bytes: 256 + 44
    auto list = listOf({{0, {0x90, 60, 100}}, {12345, big}});
    ASSERT_EQ(MIDISend(out, destination, asList(list), list.size()), noErr);
    std::fill(list.begin(), list.end(), 0);  // the send took a copy
    MIDIDrain();
    ASSERT_EQ(seen.packets.size(), 3u);
    EXPECT_GE(seen.packets[0].timeStamp, before);
    EXPECT_LE(seen.packets[0].timeStamp, mach_absolute_time());
    EXPECT_EQ(seen.packets[0].bytes, (std::vector<uint8_t>{0x90, 60, 100}));
    EXPECT_EQ(seen.packets[1].timeStamp, 12345u);
    EXPECT_EQ(seen.packets[1].bytes.size(), 256u);
    EXPECT_EQ(seen.packets[2].timeStamp, 12345u);
    std::vector<uint8_t> joined = seen.packets[1].bytes;
    joined.insert(joined.end(), seen.packets[2].bytes.begin(), seen.packets[2].bytes.end());
    EXPECT_EQ(joined, big);

    // Sent to an external destination: recorded for the test to read.
    MIDIEndpointRef device = 0;
    loopback::createExternalDestination("device", &device);
    const auto note = listOf({{7, {0x80, 1, 2}}});
    ASSERT_EQ(MIDISend(out, device, asList(note), note.size()), noErr);
    const auto got = loopback::takeReceived(device);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, (std::vector<uint8_t>{0x80, 1, 2}));
    EXPECT_TRUE(loopback::takeReceived(device).empty());
    MIDIEndpointDispose(device);
    MIDIClientDispose(client);
}

TEST(MIDIObjects, MalformedListsAndDisposedDestinationsAreRefused) {
    SendRig rig;
    auto& [seen, client, destination, out] = rig;

    auto lying = listOf({{0, {0x90, 60, 100}}});
    const uint32_t many = 1000;
    std::memcpy(lying.data(), &many, 4);
    auto empty = listOf({{0, {}}});
    auto tooLong = listOf({{0, {0x90, 60, 100}}});
    const uint16_t length = 4000;
    std::memcpy(tooLong.data() + 4 + 8, &length, 2);
    for (const auto* bad : {&lying, &tooLong})
        EXPECT_EQ(MIDISend(out, destination, asList(*bad), bad->size()), kMIDIMessageSendErr);
    // An empty packet carries nothing: skipped, not a fault (nothing arrives, checked below).
    EXPECT_EQ(MIDISend(out, destination, asList(empty), empty.size()), noErr);
    EXPECT_EQ(MIDISend(out, destination, nullptr, 0), kMIDIMessageSendErr);

    // Disposed after the send, before the MIDI thread gets to it.
    const auto list = listOf({{0, {0x90, 60, 100}}});
    std::atomic<bool> release{false};
    MIDIEndpointRef gate = 0;
    MIDIDestinationCreateWithBlock(client, "gate", &gate, [&](const MIDIPacketList*, size_t, void*) {
        while (!release) std::this_thread::yield();
    });
    MIDISend(out, gate, asList(list), list.size());
    MIDISend(out, destination, asList(list), list.size());
    MIDIEndpointDispose(destination);
    release = true;
    MIDIDrain();
    EXPECT_TRUE(seen.packets.empty());
    MIDIClientDispose(client);
}

TEST(MIDIObjects, PortsReceiveFromConnectedSourcesAsPacketsOrUMP) {
    Captured packets, events;
    MIDIClientRef client = 0;
    MIDIClientCreateWithBlock("c", &client, nullptr);
    MIDIPortRef legacy = 0, modern = 0;
    ASSERT_EQ(MIDIInputPortCreateWithBlock(client, "in", &legacy, packets.readBlock()), noErr);
    ASSERT_EQ(MIDIInputPortCreateWithProtocol(client, "in", kMIDIProtocol_1_0, &modern, events.receiveBlock()), noErr);
    MIDIEndpointRef device = 0, own = 0;
    loopback::createExternalSource("device", &device);
    MIDISourceCreate(client, "own", &own);
    ASSERT_EQ(MIDIPortConnectSource(legacy, device, nullptr), noErr);
    ASSERT_EQ(MIDIPortConnectSource(legacy, device, nullptr), noErr);  // still one connection
    ASSERT_EQ(MIDIPortConnectSource(modern, device, nullptr), noErr);
    EXPECT_EQ(MIDIPortDisconnectSource(legacy, own), kMIDINoConnection);

    // Note-on, running status, pitch wheel, SysEx of 13 bytes with a clock inside, program change.
    std::vector<uint8_t> bytes{0x93, 0x3C, 0x00, 0x3D, 0x01, 0xE0, 0x00, 0x40, 0xF0};
    for (int i = 0; i < 13; ++i) {
        bytes.push_back(uint8_t(i + 1));
        if (i == 7) bytes.push_back(0xF8);
    }
    bytes.insert(bytes.end(), {0xF7, 0xC5, 0x07, 0xF2, 0x01, 0x02});
    const auto list = listOf({{99, bytes}});
    ASSERT_EQ(loopback::inject(device, asList(list), list.size()), noErr);
    EXPECT_EQ(MIDIReceived(device, asList(list), list.size()), kMIDINotPermitted);  // not its owner
    EXPECT_EQ(loopback::inject(own, asList(list), list.size()), kMIDINotPermitted);
    MIDIDrain();

    ASSERT_EQ(packets.packets.size(), 1u);
    EXPECT_EQ(packets.packets[0].bytes, bytes);
    EXPECT_EQ(packets.packets[0].timeStamp, 99u);
    ASSERT_EQ(events.eventPackets.size(), 1u);
    EXPECT_EQ(events.eventPackets[0], (std::vector<uint32_t>{
                                          0x20933C00, 0x20933D01, 0x20E00040,  //
                                          0x30160102, 0x03040506,              // start, 6 bytes
                                          0x10F80000,                          // clock in place
                                          0x30260708, 0x090A0B0C,              // continue
                                          0x30310D00, 0x00000000,              // end, 1 byte
                                          0x20C50700, 0x10F20102}));

    // Disconnected: nothing more arrives.
    ASSERT_EQ(MIDIPortDisconnectSource(legacy, device), noErr);
    EXPECT_EQ(MIDIPortDisconnectSource(legacy, device), kMIDINoConnection);
    ASSERT_EQ(loopback::inject(device, asList(list), list.size()), noErr);
    MIDIDrain();
    EXPECT_EQ(packets.packets.size(), 1u);
    EXPECT_EQ(events.eventPackets.size(), 2u);

    // Older systems offer only the packet-list ports.
    MIDISetEventListsAvailable(false);
    MIDIPortRef refused = 0;
    EXPECT_NE(MIDIInputPortCreateWithProtocol(client, "in", kMIDIProtocol_1_0, &refused, events.receiveBlock()), noErr);
    MIDISetEventListsAvailable(true);
    MIDIEndpointDispose(device);
    MIDIClientDispose(client);
}

TEST(MIDIObjects, LongMessagesSplitIntoPacketsOfAtMost64Words) {
    MIDIBytesToUMP converter;
    std::vector<MIDIEventPacket> packets;
    const auto big = sysEx(600);  // 100 two-word messages
    converter.convert(big.data(), big.size(), 5, packets);
    size_t words = 0;
    for (const auto& p : packets) {
        EXPECT_LE(p.wordCount, 64u);
        const MIDITimeStamp stamp = p.timeStamp;  // a packed field: read by value, never bound by reference
        EXPECT_EQ(stamp, 5u);
        words += p.wordCount;
    }
    EXPECT_EQ(words, 200u);
    EXPECT_EQ(packets.front().words[0] >> 20, 0x301u);
    EXPECT_EQ(packets.back().words[packets.back().wordCount - 2] >> 20, 0x303u);
}

namespace {

// Records what the service tells a backend; owns one external destination.
struct RecordingBackend : MIDIBackend {
    std::mutex mutex;
    std::vector<std::string> calls;
    MIDIEndpointRef ownedDestination = 0;
    void add(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }
    std::string name() const override { return "recording"; }
    void published(MIDIEndpointRef, MIDIObjectType type, const std::string& name, bool isPrivate) override {
        add("published " + std::to_string(type) + " " + name + (isPrivate ? " private" : ""));
    }
    void changed(MIDIEndpointRef, const std::string& name, bool isPrivate) override {
        add("changed " + name + (isPrivate ? " private" : ""));
    }
    void withdrawn(MIDIEndpointRef) override { add("withdrawn"); }
    OSStatus emitted(MIDIEndpointRef, const MIDIPackets& packets) override {
        add("emitted " + std::to_string(packets.size()));
        return noErr;
    }
    OSStatus send(MIDIEndpointRef destination, const MIDIPackets& packets) override {
        if (destination != ownedDestination) return kMIDIUnknownEndpoint;
        add("send " + std::to_string(packets.front().bytes.size()));
        return noErr;
    }
    void connected(MIDIEndpointRef) override { add("connected"); }
    void disconnected(MIDIEndpointRef) override { add("disconnected"); }
};

}  // namespace

TEST(MIDIObjects, BackendHearsOfOwnEndpointsConnectionsAndSends) {
    auto owned = std::make_unique<RecordingBackend>();
    auto& backend = *owned;
    midiservice::useBackendForTesting(std::move(owned));
    EXPECT_EQ(MIDIBackendName(), "recording");

    Captured seen;
    MIDIClientRef client = 0;
    MIDIClientCreateWithBlock("c", &client, [&](const MIDINotification* n) {
        std::lock_guard lock(seen.mutex);
        seen.notifications.push_back(n->messageID);
    });
    MIDIEndpointRef source = 0, destination = 0;
    MIDISourceCreate(client, "S", &source);
    MIDIDestinationCreateWithBlock(client, "D", &destination, seen.readBlock());
    MIDIObjectSetStringProperty(source, kMIDIPropertyName, "S2");
    MIDIObjectSetIntegerProperty(source, kMIDIPropertyPrivate, 1);
    EXPECT_EQ(backend.take(), (std::vector<std::string>{"published 2 S", "published 3 D", "changed S2", "changed S2 private"}));

    // Endpoints the backend finds: listed, announced, unique IDs kept apart.
    const auto sourcesBefore = MIDIGetNumberOfSources();
    const auto device = midiservice::addExternal(kMIDIObjectType_Source, "Device", 77);
    const auto twin = midiservice::addExternal(kMIDIObjectType_Source, "Twin", 77);
    backend.ownedDestination = midiservice::addExternal(kMIDIObjectType_Destination, "Synth", 5);
    EXPECT_EQ(MIDIGetNumberOfSources(), sourcesBefore + 2);
    int32_t id = 0;
    MIDIObjectGetIntegerProperty(twin, kMIDIPropertyUniqueID, &id);
    EXPECT_EQ(id, 78);
    MIDIDrain();
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_EQ(std::count(seen.notifications.begin(), seen.notifications.end(), kMIDIMsgObjectAdded), 5);
    }

    // Connections are counted per port; what the device sends reaches the ports connected to it.
    MIDIPortRef a = 0, b = 0;
    MIDIInputPortCreateWithBlock(client, "a", &a, seen.readBlock());
    MIDIInputPortCreateWithBlock(client, "b", &b, seen.readBlock());
    MIDIPortConnectSource(a, device, nullptr);
    MIDIPortConnectSource(a, device, nullptr);
    MIDIPortConnectSource(b, device, nullptr);
    MIDIPortConnectSource(a, source, nullptr);  // the program's own source: nothing to subscribe
    EXPECT_EQ(backend.take(), (std::vector<std::string>{"connected", "connected"}));
    midiservice::receivedFromExternal(device, {{42, {0x90, 60, 100}}});
    midiservice::receivedAtDestination(destination, {{43, {0xF8}}});
    midiservice::receivedAtDestination(source, {{44, {0xF8}}});  // not a destination: nothing
    MIDIDrain();
    {
        std::lock_guard lock(seen.mutex);
        ASSERT_EQ(seen.packets.size(), 3u);
        EXPECT_EQ(seen.packets[0].timeStamp, 42u);
        EXPECT_EQ(seen.packets[2].bytes, std::vector<uint8_t>{0xF8});
    }

    // A long message the backend hands over whole arrives as one sent from the program does: in
    // packets of at most 256 bytes (at the destination, and at each of the two ports).
    {
        std::lock_guard lock(seen.mutex);
        seen.packets.clear();
    }
    const auto big = sysEx(598);  // 600 bytes: 256 + 256 + 88
    midiservice::receivedAtDestination(destination, {{45, big}});
    midiservice::receivedFromExternal(device, {{46, big}});
    MIDIDrain();
    {
        std::lock_guard lock(seen.mutex);
        ASSERT_EQ(seen.packets.size(), 9u);
        for (size_t first = 0; first < 9; first += 3) {
            std::vector<uint8_t> joined;
            for (size_t i = first; i < first + 3; ++i) {
                EXPECT_EQ(seen.packets[i].bytes.size(), i % 3 == 2 ? 88u : 256u) << i;
                EXPECT_EQ(seen.packets[i].timeStamp, first == 0 ? 45u : 46u) << i;
                joined.insert(joined.end(), seen.packets[i].bytes.begin(), seen.packets[i].bytes.end());
            }
            EXPECT_EQ(joined, big) << first;
        }
    }

    // Sends: the backend's destination goes to it, the program's source goes to it as well.
    MIDIPortRef out = 0;
    MIDIOutputPortCreate(client, "o", &out);
    const auto list = listOf({{0, {0x90, 1, 2}}});
    EXPECT_EQ(MIDISend(out, backend.ownedDestination, asList(list), list.size()), noErr);
    EXPECT_TRUE(loopback::takeReceived(backend.ownedDestination).empty());
    EXPECT_EQ(MIDIReceived(source, asList(list), list.size()), noErr);
    EXPECT_EQ(backend.take(), (std::vector<std::string>{"send 3", "emitted 1"}));

    // Letting go: by disconnecting, disposing a port, the device leaving, the client going.
    MIDIPortDisconnectSource(b, device);
    MIDIPortDispose(a);
    EXPECT_EQ(backend.take(), (std::vector<std::string>{"disconnected", "disconnected"}));
    MIDIPortConnectSource(b, device, nullptr);
    backend.take();
    midiservice::removeExternal(device);
    EXPECT_EQ(backend.take(), (std::vector<std::string>{"disconnected"}));
    EXPECT_EQ(MIDIGetNumberOfSources(), sourcesBefore + 1);
    MIDIClientDispose(client);
    EXPECT_EQ(backend.take(), (std::vector<std::string>{"withdrawn", "withdrawn"}));
    midiservice::removeExternal(twin);
    midiservice::removeExternal(backend.ownedDestination);
    MIDIDrain();  // the client's last notifications refer to `seen`
}
