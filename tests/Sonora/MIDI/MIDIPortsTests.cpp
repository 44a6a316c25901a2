#include "Sonora/MIDI/MIDI.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace sonora;
namespace pm = platform;

namespace {

// Writes one line per call.
struct Recorder : MIDIListener {
    std::mutex mutex;
    std::vector<std::string> lines;
    void add(std::string line) {
        std::lock_guard lock(mutex);
        lines.push_back(std::move(line));
    }
    static std::string port(PortID p) { return p ? std::to_string(*p) : "none"; }
    void receivedMIDINoteOn(MIDIByte n, MIDIByte v, MIDIByte c, PortID p, Stamp) override {
        add("noteOn " + std::to_string(n) + " " + std::to_string(v) + " " + std::to_string(c) + " port " + port(p));
    }
    void receivedMIDINoteOff(MIDIByte n, MIDIByte v, MIDIByte c, PortID p, Stamp) override {
        add("noteOff " + std::to_string(n) + " " + std::to_string(v) + " " + std::to_string(c) + " port " + port(p));
    }
    void receivedMIDIPitchWheel(uint16_t value, MIDIByte c, PortID p, Stamp) override {
        add("pitchWheel " + std::to_string(value) + " " + std::to_string(c) + " port " + port(p));
    }
    void receivedMIDISystemCommand(const std::vector<MIDIByte>& d, PortID p, Stamp) override {
        char text[64];
        std::snprintf(text, sizeof text, "system %zu %02X %02X port %s", d.size(), d.front(), d.back(), port(p).c_str());
        add(text);
    }
    void receivedMIDISetupChange() override { add("setup"); }
    void receivedMIDINotification(const pm::MIDINotification& n) override { add("notification " + std::to_string(n.messageID)); }
    std::vector<std::string> take() {
        pm::MIDIDrain();
        std::lock_guard lock(mutex);
        return std::exchange(lines, {});
    }
};

std::vector<uint8_t> listOf(const std::vector<uint8_t>& bytes, pm::MIDITimeStamp time = 0) {
    std::vector<uint8_t> buffer(pm::kMIDIPacketListHeaderSize + pm::kMIDIPacketHeaderSize + bytes.size());
    auto* list = reinterpret_cast<pm::MIDIPacketList*>(buffer.data());
    pm::MIDIPacketListAdd(list, buffer.size(), pm::MIDIPacketListInit(list), time, bytes.size(), bytes.data());
    return buffer;
}

void inject(pm::MIDIEndpointRef source, const std::vector<uint8_t>& bytes) {
    const auto list = listOf(bytes);
    ASSERT_EQ(pm::loopback::inject(source, reinterpret_cast<const pm::MIDIPacketList*>(list.data()), list.size()),
              pm::noErr);
}

int32_t uidOf(pm::MIDIEndpointRef endpoint) {
    int32_t id = 0;
    pm::MIDIObjectGetIntegerProperty(endpoint, pm::kMIDIPropertyUniqueID, &id);
    return id;
}

struct Truncating : MIDITransformer {
    std::vector<MIDIEvent> transform(std::vector<MIDIEvent> events) override {
        for (auto& e : events) e.data.resize(1);
        return events;
    }
};

}  // namespace

TEST(MIDIPorts, FreshObjectAndListenerRegistration) {
    MIDI midi;
    EXPECT_NE(midi.client(), 0u);
    EXPECT_EQ(midi.virtualInputs(), std::vector<MIDIEndpointRef>{0});
    EXPECT_EQ(midi.virtualOutputs(), std::vector<MIDIEndpointRef>{0});
    EXPECT_TRUE(midi.inputPorts().empty());
    EXPECT_TRUE(midi.endpoints().empty());
    EXPECT_TRUE(midi.listeners()->empty());
    EXPECT_FALSE(midi.destroyVirtualInputPort());

    auto recorder = std::make_shared<Recorder>();
    midi.addListener(recorder);
    midi.addListener(recorder);
    midi.handleMIDIMessage(MIDIEvent{0x93, 0x3C, 0x00}, 5);
    EXPECT_EQ(recorder->take(), (std::vector<std::string>{"noteOn 60 0 3 port 5", "noteOn 60 0 3 port 5"}));
    midi.removeListener(*recorder);
    EXPECT_TRUE(midi.listeners()->empty());
    midi.addListener(recorder);
    midi.clearListeners();
    EXPECT_TRUE(midi.listeners()->empty());
}

TEST(MIDIPorts, NotificationsOfEndpointsMadeElsewhereReachListeners) {
    MIDI midi;
    auto recorder = std::make_shared<Recorder>();
    midi.addListener(recorder);
    pm::MIDIClientRef other = 0;
    pm::MIDIClientCreateWithBlock("other", &other, nullptr);
    pm::MIDIEndpointRef source = 0;
    pm::MIDISourceCreate(other, "elsewhere", &source);
    EXPECT_EQ(recorder->take(), (std::vector<std::string>{"notification 2", "setup"}));
    pm::MIDIClientDispose(other);
    EXPECT_EQ(recorder->take(), (std::vector<std::string>{"notification 3", "setup"}));
}

TEST(MIDIPorts, InputOpenedByUniqueIDBehindOwnVirtualOutputsOnBothRoads) {
    for (const bool eventLists : {true, false}) {
        SCOPED_TRACE(eventLists ? "event lists" : "packet lists");
        pm::MIDISetEventListsAvailable(eventLists);
        MIDI midi;
        midi.createVirtualPorts(2);  // two of the program's own sources come first
        pm::MIDIEndpointRef device = 0, second = 0;
        pm::loopback::createExternalSource("Device", &device);
        pm::loopback::createExternalSource("Second", &second);
        const auto uid = uidOf(device);
        auto recorder = std::make_shared<Recorder>();
        midi.addListener(recorder);
        recorder->take();

        midi.openInput(uid);
        ASSERT_EQ(midi.inputPorts().size(), 1u);
        EXPECT_EQ(midi.endpoints().at(uid), device);
        inject(device, {0x93, 0x3C, 0x00, 0xE0, 0x00, 0x40, 0xF8, 0xFF});
        inject(second, {0x90, 1, 1});
        std::vector<uint8_t> sysEx{0xF0};
        sysEx.resize(299, 0x11);
        sysEx.push_back(0xF7);
        inject(device, sysEx);
        const auto p = std::to_string(uid);
        // A system message from a Universal MIDI Packet keeps the packet's three bytes.
        const std::string clock = eventLists ? "system 3 F8 00 port " : "system 1 F8 F8 port ";
        EXPECT_EQ(recorder->take(), (std::vector<std::string>{"noteOn 60 0 3 port " + p, "pitchWheel 8192 0 port " + p,
                                                              clock + p, "system 300 F0 F7 port " + p}));

        // By name; an unknown name opens nothing; a second open makes a second port.
        midi.openInput(std::string("Nobody"));
        EXPECT_EQ(midi.inputPorts().size(), 1u);
        midi.openInput(std::string("Second"));
        EXPECT_EQ(midi.inputPorts().size(), 2u);

        // A transformer may shorten a message: missing bytes read as 0.
        midi.addTransformer(std::make_shared<Truncating>());
        inject(second, {0x90, 1, 1});
        EXPECT_EQ(recorder->take(), (std::vector<std::string>{"noteOn 0 0 0 port " + std::to_string(uidOf(second))}));
        midi.clearTransformers();

        midi.closeInput();  // unique ID 0: no source carries it, nothing closes
        EXPECT_EQ(midi.inputPorts().size(), 2u);
        midi.closeInput(std::string("Second"));
        EXPECT_EQ(midi.inputPorts().size(), 1u);
        midi.closeAllInputs();
        EXPECT_TRUE(midi.inputPorts().empty());
        inject(device, {0x90, 1, 1});
        EXPECT_TRUE(recorder->take().empty());
        pm::MIDIEndpointDispose(device);
        pm::MIDIEndpointDispose(second);
    }
    pm::MIDISetEventListsAvailable(true);
}

TEST(MIDIPorts, OpeningEveryInputSkipsTheProgramsOwn) {
    MIDI midi;
    midi.createVirtualOutputPorts(1);
    std::vector<pm::MIDIEndpointRef> sources(3);
    for (auto& s : sources) pm::loopback::createExternalSource("S", &s);
    auto recorder = std::make_shared<Recorder>();
    midi.addListener(recorder);
    midi.openInput();
    EXPECT_EQ(midi.inputPorts().size(), 3u);
    for (auto s : sources) EXPECT_TRUE(midi.inputPorts().count(uidOf(s)));
    inject(sources[1], {0x80, 2, 3});
    const auto lines = recorder->take();
    EXPECT_EQ(lines.back(), "noteOff 2 3 0 port 0");
    for (auto s : sources) pm::MIDIEndpointDispose(s);
}

TEST(MIDIPorts, VirtualPortsCarryDefaultsReceiveAndGoAway) {
    MIDI midi;
    const auto sources = pm::MIDIGetNumberOfSources(), destinations = pm::MIDIGetNumberOfDestinations();
    midi.createVirtualPorts(0);
    EXPECT_EQ(midi.virtualInputs().size(), 1u);
    midi.createVirtualPorts(1);
    ASSERT_EQ(midi.virtualInputs().size(), 2u);
    EXPECT_EQ(midi.virtualInputUIDs(), std::vector<MIDIUniqueID>{2000000});
    EXPECT_EQ(midi.virtualOutputUIDs(), std::vector<MIDIUniqueID>{2000001});
    EXPECT_EQ(midi.virtualInputNames(), std::vector<std::string>{"Sonora Input 1"});
    EXPECT_EQ(midi.virtualOutputNames(), std::vector<std::string>{"Sonora Output 1"});
    midi.createVirtualInputPorts(3, std::vector<MIDIUniqueID>{7, 8, 9, 10});
    EXPECT_EQ(midi.virtualInputUIDs(), (std::vector<MIDIUniqueID>{2000000, 8, 9, 10}));

    auto recorder = std::make_shared<Recorder>();
    midi.addListener(recorder);
    recorder->take();
    pm::MIDIClientRef other = 0;
    pm::MIDIClientCreateWithBlock("sender", &other, nullptr);
    pm::MIDIPortRef out = 0;
    pm::MIDIOutputPortCreate(other, "out", &out);
    const auto list = listOf({0x93, 0x3C, 0x00});
    pm::MIDISend(out, midi.virtualInputs()[0], reinterpret_cast<const pm::MIDIPacketList*>(list.data()), list.size());
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"noteOn 60 0 3 port 2000000"});

    EXPECT_TRUE(midi.destroyVirtualPorts());
    EXPECT_EQ(midi.virtualInputs(), std::vector<MIDIEndpointRef>{0});
    EXPECT_EQ(pm::MIDIGetNumberOfSources(), sources);
    EXPECT_EQ(pm::MIDIGetNumberOfDestinations(), destinations);
    pm::MIDIClientDispose(other);
}

TEST(MIDIPorts, SendingReachesOpenDestinationsAndVirtualOutputs) {
    MIDI midi;
    midi.createVirtualInputPorts(1);  // the program's own destination comes first
    pm::MIDIEndpointRef a = 0, b = 0;
    pm::loopback::createExternalDestination("A", &a);
    pm::loopback::createExternalDestination("B", &b);
    midi.openOutput(std::string("B"));
    ASSERT_EQ(midi.endpoints().size(), 1u);
    EXPECT_EQ(midi.endpoints().begin()->second, b);
    midi.openOutput(std::string("nobody"));  // unknown: every destination
    EXPECT_EQ(midi.endpoints().size(), 2u);

    const auto bytesAt = [](pm::MIDIEndpointRef d) {
        std::vector<std::vector<uint8_t>> out;
        for (auto& p : pm::loopback::takeReceived(d)) out.push_back(p.bytes);
        return out;
    };
    midi.sendNoteOn(60, 100, 9);
    midi.sendPitchBend(8192, 0, std::vector<MIDIUniqueID>{uidOf(a)});
    midi.sendNoteOff(1, 2, 3, std::vector<MIDIUniqueID>{});
    EXPECT_EQ(bytesAt(a), (std::vector<std::vector<uint8_t>>{{0x99, 0x3C, 0x64}, {0xE0, 0x00, 0x40}}));
    EXPECT_EQ(bytesAt(b), (std::vector<std::vector<uint8_t>>{{0x99, 0x3C, 0x64}}));

    // The limits of one send, with and without a time.
    for (const bool withTime : {false, true}) {
        std::vector<uint8_t> big(65522, 0x10);
        big.front() = 0xF0;
        big.back() = 0xF7;
        withTime ? midi.sendMessageWithTime(big, 5) : midi.sendMessage(big);
        size_t got = 0;
        for (auto& p : bytesAt(a)) got += p.size();
        EXPECT_EQ(got, big.size());
        big.insert(big.begin() + 1, 0x10);
        withTime ? midi.sendMessageWithTime(big, 5) : midi.sendMessage(big);
        EXPECT_TRUE(bytesAt(a).empty());
    }
    bytesAt(b);

    // Closing the last endpoint disposes the port.
    midi.closeOutput(uidOf(a));
    EXPECT_NE(midi.outputPort(), 0u);
    midi.closeOutput(std::string("B"));
    EXPECT_EQ(midi.outputPort(), 0u);
    pm::MIDIEndpointDispose(a);
    pm::MIDIEndpointDispose(b);
}

TEST(MIDIPorts, VirtualOutputsReachConnectedPortsOnlyOnceCreated) {
    MIDI midi, other;
    auto recorder = std::make_shared<Recorder>();
    other.addListener(recorder);
    midi.sendNoteOn(64, 100, 9, std::nullopt, std::vector<MIDIEndpointRef>{1});  // no virtual outputs yet
    midi.createVirtualPorts(1);
    other.openInput(MIDIUniqueID(2000001));
    recorder->take();
    midi.sendNoteOn(64, 100, 25, std::nullopt, midi.virtualOutputs());  // channel masked to 9
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"noteOn 64 100 9 port 2000001"});
}

TEST(MIDIPorts, RegisteringListenersWhileDispatching) {
    MIDI midi;
    pm::MIDIEndpointRef device = 0;
    pm::loopback::createExternalSource("D", &device);
    midi.openInput(uidOf(device));
    pm::MIDIDrain();  // the notifications of the new source
    auto keep = std::make_shared<Recorder>();
    midi.addListener(keep);
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            auto extra = std::make_shared<Recorder>();
            midi.addListener(extra);
            midi.removeListener(*extra);
        }
    });
    for (int i = 0; i < 2000; ++i) inject(device, {0x90, uint8_t(i & 0x7F), 1});
    pm::MIDIDrain();
    stop = true;
    churn.join();
    EXPECT_EQ(keep->take().size(), 2000u);
    pm::MIDIEndpointDispose(device);
}

// A stream of SysEx7 packets whose start was lost (or whose message grew too long) is dropped
// with one error line for the run, not one per six-byte packet; the next message is whole.
TEST(MIDIPorts, ADroppedSysEx7StreamIsLoggedOnce) {
    const std::string orphan = "Continue or end without a start dropped";
    const auto count = [&] {
        size_t n = 0;
        for (const auto& entry : pm::LogSink::entries())
            n += entry.type == pm::OSLogType::error && entry.message.find(orphan) != std::string::npos;
        return n;
    };
    MIDI midi;
    midi.resetSysExStateForTesting();
    pm::LogSink::clear();
    const std::vector<uint8_t> continues{0x26, 1, 2, 3, 4, 5, 6}, end{0x32, 7, 8}, start{0x16, 1, 2, 3, 4, 5, 6};
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(midi.processUMPSysExMessage(continues).empty());
    EXPECT_TRUE(midi.processUMPSysExMessage(end).empty());
    EXPECT_EQ(count(), 1u);
    EXPECT_TRUE(midi.processUMPSysExMessage(continues).empty());
    EXPECT_EQ(count(), 2u) << "a new run after the end is logged again";
    EXPECT_TRUE(midi.processUMPSysExMessage(start).empty());
    EXPECT_EQ(midi.processUMPSysExMessage(end), (std::vector<uint8_t>{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}));
    EXPECT_EQ(count(), 2u);
}

TEST(MIDIPorts, UnusableStatusesAndMIDI2ListsAreLoggedNotDispatched) {
    const auto count = [](const std::string& text) {
        pm::MIDIDrain();
        size_t n = 0;
        for (const auto& entry : pm::LogSink::entries()) n += entry.message.find(text) != std::string::npos;
        return n;
    };
    const std::string unusable = "No usable status detected in handleMIDIMessage";
    const std::string midi2 = "Got unsupported MIDI 2.0 MIDIEventList, skipping";
    MIDI midi;
    midi.createVirtualInputPorts(1);
    pm::MIDIEndpointRef device = 0;
    pm::loopback::createExternalSource("D", &device);
    midi.openInput(uidOf(device));
    auto first = std::make_shared<Recorder>(), second = std::make_shared<Recorder>();
    midi.addListener(first);
    midi.addListener(second);
    first->take();
    second->take();
    pm::LogSink::clear();

    // 0xFF through a virtual input reaches dispatch: one line per listener.
    pm::MIDIClientRef other = 0;
    pm::MIDIPortRef out = 0;
    pm::MIDIClientCreateWithBlock("sender", &other, nullptr);
    pm::MIDIOutputPortCreate(other, "out", &out);
    const auto list = listOf({0xFF});
    pm::MIDISend(out, midi.virtualInputs()[0], reinterpret_cast<const pm::MIDIPacketList*>(list.data()), list.size());
    EXPECT_EQ(count(unusable), 2u);

    // From an input port the receive filter drops it silently.
    inject(device, {0xFF});
    EXPECT_EQ(count(unusable), 2u);

    // A MIDI 2.0 event list is dropped whole with one line.
    std::vector<uint8_t> buffer(sizeof(pm::MIDIEventList));
    auto* events = reinterpret_cast<pm::MIDIEventList*>(buffer.data());
    pm::MIDIEventListInit(events, pm::kMIDIProtocol_2_0);
    events->numPackets = 1;
    events->packet[0].timeStamp = 1;
    events->packet[0].wordCount = 2;
    events->packet[0].words[0] = 0x40903C00;
    events->packet[0].words[1] = 0xFFFF0000;
    ASSERT_EQ(pm::loopback::injectEventList(device, events, buffer.size()), pm::noErr);
    EXPECT_EQ(count(midi2), 1u);
    EXPECT_TRUE(first->take().empty());
    EXPECT_TRUE(second->take().empty());

    // No source carries the unique ID 0: closing it names it and closes nothing.
    midi.closeInput();
    EXPECT_EQ(count("Trying to close midi input 0, but no name was found"), 1u);
    EXPECT_EQ(midi.inputPorts().size(), 1u);
    pm::MIDIClientDispose(other);
    pm::MIDIEndpointDispose(device);
}

TEST(MIDIPorts, FreshVirtualInputsTakeGivenIDsFirstAndIdleSendsStayQuiet) {
    MIDI midi;
    pm::LogSink::clear();
    midi.createVirtualPorts(0);
    size_t refusals = 0;
    for (const auto& entry : pm::LogSink::entries())
        refusals += entry.message.find("Number of port to create can't be less than one") != std::string::npos;
    EXPECT_EQ(refusals, 1u);
    EXPECT_EQ(midi.virtualOutputs(), std::vector<MIDIEndpointRef>{0});

    midi.createVirtualInputPorts(3, std::vector<MIDIUniqueID>{7, 8});
    EXPECT_EQ(midi.virtualInputUIDs(), (std::vector<MIDIUniqueID>{7, 8, 2000000}));
    EXPECT_EQ(midi.virtualInputNames(),
              (std::vector<std::string>{"Sonora Input 1", "Sonora Input 2", "Sonora Input 3"}));

    // Nothing open and no virtual output: a send does nothing and says nothing.
    pm::LogSink::clear();
    midi.sendMessage({0x90, 1, 2}, 0, std::nullopt, std::vector<MIDIEndpointRef>{midi.virtualInputs()[0]});
    pm::MIDIDrain();
    EXPECT_TRUE(pm::LogSink::entries().empty());

    // Closing the last output disposes the port; opening again makes a new one.
    pm::MIDIEndpointRef synth = 0;
    pm::loopback::createExternalDestination("Synth", &synth);
    midi.openOutput(uidOf(synth));
    const auto first = midi.outputPort();
    midi.closeOutput(uidOf(synth));
    EXPECT_EQ(midi.outputPort(), 0u);
    midi.openOutput(uidOf(synth));
    EXPECT_NE(midi.outputPort(), 0u);
    EXPECT_NE(midi.outputPort(), first);
    pm::MIDIEndpointDispose(synth);
}

namespace {

// Each message as its bytes in hex; real-time messages by their status alone (a Universal MIDI
// Packet keeps three bytes of them), SysEx messages longer than 16 bytes by size and ends.
struct Messages : MIDIListener {
    std::mutex mutex;
    std::vector<std::string> lines;
    static std::string hex(const std::vector<uint8_t>& bytes) {
        std::string text;
        for (auto b : bytes) {
            char h[4];
            std::snprintf(h, sizeof h, text.empty() ? "%02X" : " %02X", b);
            text += h;
        }
        return text;
    }
    void add(const std::vector<uint8_t>& bytes) {
        std::string line = hex(bytes);
        if (bytes[0] >= 0xF8) line = hex({bytes[0]});
        if (bytes.size() > 16) line = "sysex " + std::to_string(bytes.size()) + " " + hex({bytes.front(), bytes.back()});
        std::lock_guard lock(mutex);
        lines.push_back(line);
    }
    void receivedMIDINoteOn(MIDIByte n, MIDIByte v, MIDIByte c, PortID, Stamp) override { add({uint8_t(0x90 | c), n, v}); }
    void receivedMIDINoteOff(MIDIByte n, MIDIByte v, MIDIByte c, PortID, Stamp) override { add({uint8_t(0x80 | c), n, v}); }
    void receivedMIDIProgramChange(MIDIByte p, MIDIByte c, PortID, Stamp) override { add({uint8_t(0xC0 | c), p}); }
    void receivedMIDISystemCommand(const std::vector<MIDIByte>& d, PortID, Stamp) override { add(d); }
    std::vector<std::string> take() {
        pm::MIDIDrain();
        std::lock_guard lock(mutex);
        return std::exchange(lines, {});
    }
};

using Packets = std::vector<std::vector<uint8_t>>;

// A packet list holding the packets as they are (an empty one included), stamped 0.
std::vector<uint8_t> rawList(const Packets& packets) {
    std::vector<uint8_t> buffer(pm::kMIDIPacketListHeaderSize);
    const uint32_t count = uint32_t(packets.size());
    std::memcpy(buffer.data(), &count, 4);
    for (const auto& bytes : packets) {
        const size_t at = buffer.size();
        buffer.resize(at + pm::kMIDIPacketHeaderSize + bytes.size());
        const uint16_t length = uint16_t(bytes.size());
        std::memcpy(buffer.data() + at + 8, &length, 2);
        if (!bytes.empty()) std::memcpy(buffer.data() + at + pm::kMIDIPacketHeaderSize, bytes.data(), bytes.size());
    }
    return buffer;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

// Byte streams that are hard to read (messages across the service's 256-byte packets, real-time
// bytes inside other messages, SysEx messages cut short, empty packets, unusual SysEx7 packets),
// on every road into the program: a virtual input, and an input port taking packet lists or
// event lists.
TEST(MIDIPorts, EveryCompleteMessageArrivesOnEveryRoad) {
    const std::vector<uint8_t> data298(298, 0x11), data253(253, 0x11);
    std::vector<uint8_t> notes;
    std::vector<std::string> noteLines;
    for (uint8_t n = 0; n < 90; ++n) {  // 270 bytes: the service's cut falls inside a note
        notes.insert(notes.end(), {0x90, n, 1});
        noteLines.push_back(Messages::hex({0x90, n, 1}));
    }
    auto clockInSysEx = concat({{0xF0}, data298, {0xF7}});
    clockInSysEx.insert(clockInSysEx.begin() + 270, 0xFE);
    const struct {
        const char* what;
        std::vector<Packets> sends;    // each send one packet list
        std::vector<uint32_t> words;  // an event list instead (that road only)
        std::vector<std::string> expected;
    } cases[] = {
        {"a SysEx longer than a packet, then a note", {{concat({{0xF0}, data298, {0xF7, 0x90, 0x3C, 0x64}})}}, {},
         {"sysex 300 F0 F7", "90 3C 64"}},
        {"the cut falls just before the SysEx ends",
         {{concat({{0xF0, 0x43, 0x12}, data253, {0x10, 0x20, 0xF7, 0x90, 0x3C, 0x64}})}}, {},
         {"sysex 259 F0 F7", "90 3C 64"}},
        {"notes across the cut", {{notes}}, {}, noteLines},
        {"a clock between status and data", {{{0x90, 0xF8, 0x3C, 0x64}}}, {}, {"F8", "90 3C 64"}},
        {"a clock inside a SysEx", {{{0xF0, 0x01, 0xF8, 0x02, 0xF7}}}, {}, {"F8", "F0 01 02 F7"}},
        {"real time inside a SysEx past the cut and inside a program change",
         {{concat({clockInSysEx, {0xC0, 0xFA, 0x05}})}}, {}, {"FE", "sysex 300 F0 F7", "FA", "C0 05"}},
        {"a SysEx cut short by a note", {{{0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64}}}, {}, {"90 3C 64"}},
        {"a long SysEx cut short by the next send's note",
         {{{0xF0, 1, 2, 3, 4, 5, 6, 7, 8}}, {{0x90, 0x3C, 0x64}}, {{0xF0, 0x05, 0xF7}}}, {},
         {"90 3C 64", "F0 05 F7"}},
        {"an empty packet between two notes", {{{0x90, 0x3C, 0x64}, {}, {0x80, 0x3C, 0x00}}}, {},
         {"90 3C 64", "80 3C 00"}},
        {"SysEx7 payload bytes are 7-bit", {}, {0x300F1234, 0x56789ABC}, {"F0 12 34 56 78 1A 3C F7"}},
        {"SysEx7 continue and end without a start", {}, {0x30260708, 0x090A0B0C, 0x30320D0E, 0x00000000}, {}},
        {"SysEx7 end after a finished message", {}, {0x30031234, 0x56000000, 0x30331111, 0x22000000},
         {"F0 12 34 56 F7"}},
    };

    enum class Road { virtualInput, packets, eventLists };
    for (const Road road : {Road::virtualInput, Road::packets, Road::eventLists}) {
        SCOPED_TRACE(road == Road::virtualInput ? "virtual input" : road == Road::packets ? "input port, packet lists"
                                                                                          : "input port, event lists");
        pm::MIDISetEventListsAvailable(road == Road::eventLists);
        MIDI midi;
        midi.createVirtualInputPorts(1);
        pm::MIDIEndpointRef device = 0;
        pm::loopback::createExternalSource("Device", &device);
        midi.openInput(uidOf(device));
        pm::MIDIClientRef sender = 0;
        pm::MIDIPortRef out = 0;
        pm::MIDIClientCreateWithBlock("sender", &sender, nullptr);
        pm::MIDIOutputPortCreate(sender, "out", &out);
        auto messages = std::make_shared<Messages>();
        midi.addListener(messages);

        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            if (!c.words.empty() && road != Road::eventLists) continue;
            MIDI::sharedInstance().resetSysExStateForTesting();
            messages->take();
            for (const auto& send : c.sends) {
                const auto list = rawList(send);
                const auto* packets = reinterpret_cast<const pm::MIDIPacketList*>(list.data());
                EXPECT_EQ(road == Road::virtualInput ? pm::MIDISend(out, midi.virtualInputs()[0], packets, list.size())
                                                     : pm::loopback::inject(device, packets, list.size()),
                          pm::noErr);
            }
            if (!c.words.empty()) {
                std::vector<uint8_t> buffer(sizeof(pm::MIDIEventList));
                auto* events = reinterpret_cast<pm::MIDIEventList*>(buffer.data());
                pm::MIDIEventListInit(events, pm::kMIDIProtocol_1_0);
                events->numPackets = 1;
                events->packet[0].timeStamp = 1;
                events->packet[0].wordCount = uint32_t(c.words.size());
                std::copy(c.words.begin(), c.words.end(), events->packet[0].words);
                EXPECT_EQ(pm::loopback::injectEventList(device, events, buffer.size()), pm::noErr);
            }
            EXPECT_EQ(messages->take(), c.expected);
        }
        midi.closeAllInputs();
        pm::MIDIClientDispose(sender);
        pm::MIDIEndpointDispose(device);
    }
    pm::MIDISetEventListsAvailable(true);
    MIDI::sharedInstance().resetSysExStateForTesting();
}
