// sonora-tool midi-endpoints: the MIDI backend in use and every source and destination.
//
//   backend loopback|alsa
//   source I uid U name N
//   destination I uid U name N
//
// sonora-tool midi-loop [--via virtual|source] [--receive packets|events] [--linger S]: a stream of
// MIDI through the shared MIDI object's virtual input (sent by a second client) or through an
// input opened on a source, printed by a listener and a tempo listener's observers; then a note
// sent through the virtual output and the virtual ports destroyed.

#include "ToolSupport.h"

#include "Sonora/MIDI/Listeners/MIDIListeners.h"
#include "Sonora/MIDI/MIDI.h"
#include "platform/coremidi/MIDIObjects.h"
#include "platform/foundation/HostTime.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace sonora;
namespace pm = platform;

std::mutex printing;

void line(const std::string& text) {
    std::lock_guard lock(printing);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::string hex(uint8_t b) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

std::string portText(MIDIListener::PortID p) { return p ? std::to_string(*p) : "none"; }

// The length of the system message at the start of `d`: a Universal MIDI Packet brings a system
// message together with the packet's unused bytes.
size_t messageLength(const std::vector<MIDIByte>& d) {
    switch (d.front()) {
    case 0xF0: return d.size();
    case 0xF1: case 0xF3: return std::min<size_t>(2, d.size());
    case 0xF2: return std::min<size_t>(3, d.size());
    default: return 1;
    }
}

struct Printer : MIDIListener {
    void receivedMIDINoteOn(MIDIByte n, MIDIByte v, MIDIByte c, PortID p, Stamp) override {
        line("noteOn " + std::to_string(n) + " " + std::to_string(v) + " " + std::to_string(c) + " port " + portText(p));
    }
    void receivedMIDINoteOff(MIDIByte n, MIDIByte v, MIDIByte c, PortID p, Stamp) override {
        line("noteOff " + std::to_string(n) + " " + std::to_string(v) + " " + std::to_string(c) + " port " + portText(p));
    }
    void receivedMIDIController(MIDIByte n, MIDIByte v, MIDIByte c, PortID p, Stamp) override {
        line("controller " + std::to_string(n) + " " + std::to_string(v) + " " + std::to_string(c) + " port " +
             portText(p));
    }
    void receivedMIDIPitchWheel(uint16_t v, MIDIByte c, PortID p, Stamp) override {
        line("pitchWheel " + std::to_string(v) + " " + std::to_string(c) + " port " + portText(p));
    }
    void receivedMIDIProgramChange(MIDIByte v, MIDIByte c, PortID p, Stamp) override {
        line("programChange " + std::to_string(v) + " " + std::to_string(c) + " port " + portText(p));
    }
    void receivedMIDISystemCommand(const std::vector<MIDIByte>& d, PortID p, Stamp) override {
        const size_t n = messageLength(d);
        const std::string last = n > 1 ? " " + hex(d[n - 1]) : "";
        line("system " + std::to_string(n) + " " + hex(d.front()) + last + " port " + portText(p));
    }
};

std::atomic<uint64_t> lastClock{0};
std::atomic<bool> leaderSeen{false};

struct TempoPrinter : MIDITempoObserver {
    void midiClockFollowerMode() override { line("follower"); }
    void midiClockLeaderEnabled() override {
        char text[64];
        const double s = double(pm::mach_absolute_time() - lastClock.load()) / 1e9;
        std::snprintf(text, sizeof text, "leader after %.1f s", s);
        line(text);
        leaderSeen = true;
    }
    void tempoUpdated(double, const std::string& label) override { line("tempo " + label); }
};

struct BeatPrinter : MIDIBeatObserver {
    void quarterNote(uint8_t q) override { line("quarterNote " + std::to_string(q)); }
    void midiBeat(uint64_t b) override { line("midiBeat " + std::to_string(b)); }
};

std::vector<uint8_t> listOf(const std::vector<uint8_t>& bytes, pm::MIDITimeStamp time) {
    std::vector<uint8_t> buffer(pm::kMIDIPacketListHeaderSize + pm::kMIDIPacketHeaderSize + bytes.size());
    auto* list = reinterpret_cast<pm::MIDIPacketList*>(buffer.data());
    pm::MIDIPacketListAdd(list, buffer.size(), pm::MIDIPacketListInit(list), time, bytes.size(), bytes.data());
    return buffer;
}

int32_t uidOf(pm::MIDIEndpointRef endpoint) {
    int32_t id = 0;
    pm::MIDIObjectGetIntegerProperty(endpoint, pm::kMIDIPropertyUniqueID, &id);
    return id;
}

std::string nameOf(pm::MIDIEndpointRef endpoint) {
    std::string name;
    pm::MIDIObjectGetStringProperty(endpoint, pm::kMIDIPropertyName, &name);
    return name;
}

void spin(double seconds, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

int midiEndpointsCommand(int argc, char**) {
    if (argc != 1) return tool::printUsage("usage: sonora-tool midi-endpoints\n");
    line("backend " + pm::MIDIBackendName());
    for (pm::ItemCount i = 0, n = pm::MIDIGetNumberOfSources(); i < n; ++i) {
        const auto e = pm::MIDIGetSource(i);
        line("source " + std::to_string(i) + " uid " + std::to_string(uidOf(e)) + " name " + nameOf(e));
    }
    for (pm::ItemCount i = 0, n = pm::MIDIGetNumberOfDestinations(); i < n; ++i) {
        const auto e = pm::MIDIGetDestination(i);
        line("destination " + std::to_string(i) + " uid " + std::to_string(uidOf(e)) + " name " + nameOf(e));
    }
    return 0;
}

int midiLoopCommand(int argc, char** argv) {
    const char* usageText = "usage: sonora-tool midi-loop [--via virtual|source] [--receive packets|events] [--linger S]\n";
    std::string via = "virtual", receive = "events";
    double linger = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return tool::printUsage(usageText);
        const std::string value = argv[++i];
        if (arg == "--via" && (value == "virtual" || value == "source")) {
            via = value;
        } else if (arg == "--receive" && (value == "packets" || value == "events")) {
            receive = value;
        } else if (arg == "--linger" && tool::parseNonNegative(value)) {
            linger = *tool::parseNonNegative(value);
        } else {
            return tool::printUsage(usageText);
        }
    }
    int qtArgc = 1;
    char name[] = "sonora-tool";
    char* qtArgv[] = {name, nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    pm::MIDISetEventListsAvailable(receive == "events");

    auto& midi = MIDI::sharedInstance();
    midi.createVirtualPorts(1);
    midi.addListener(std::make_shared<Printer>());
    auto tempo = MIDITempoListener::make(0.98, 30);
    tempo->addTempoObserver(std::make_shared<TempoPrinter>());
    tempo->clockListener->addObserver(std::make_shared<BeatPrinter>());
    midi.addListener(tempo);

    // The road in: a second client sending to the virtual input, or a source opened as an input.
    pm::MIDIClientRef sender = 0;
    pm::MIDIPortRef senderPort = 0;
    pm::MIDIEndpointRef source = 0;
    if (via == "virtual") {
        pm::MIDIClientCreateWithBlock("midi-loop sender", &sender, nullptr);
        pm::MIDIOutputPortCreate(sender, "out", &senderPort);
    } else {
        pm::loopback::createExternalSource("midi-loop source", &source);
        line("source uid " + std::to_string(uidOf(source)));
        midi.openInput(uidOf(source));
    }
    const auto destination = midi.virtualInputs().front();
    const auto send = [&](const std::vector<uint8_t>& bytes, pm::MIDITimeStamp time) {
        const auto list = listOf(bytes, time);
        const auto* l = reinterpret_cast<const pm::MIDIPacketList*>(list.data());
        const auto status = via == "virtual" ? pm::MIDISend(senderPort, destination, l, list.size())
                                             : pm::loopback::inject(source, l, list.size());
        if (status != pm::noErr) tool::printError("send failed: " + std::to_string(status));
    };

    send({0x93, 0x3C, 0x00}, 0);
    send({0xE0, 0x00, 0x40}, 0);
    std::vector<uint8_t> sysEx{0xF0};
    for (int i = 0; i < 298; ++i) sysEx.push_back(uint8_t(i & 0x7F));
    sysEx.push_back(0xF7);
    send(sysEx, 0);
    send({0xFA}, 0);
    const auto t0 = pm::mach_absolute_time();
    for (uint64_t k = 0; k < 48; ++k) {
        // Real time: each clock leaves when its stamp comes.
        const auto stamp = t0 + k * 20833000ULL;
        while (pm::mach_absolute_time() < stamp) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        lastClock = stamp;
        send({0xF8}, stamp);
    }
    pm::MIDIDrain();
    spin(5, [] { return leaderSeen.load(); });
    spin(linger, [] { return false; });

    // The road out: a note through the virtual output, to a client listening to it.
    pm::MIDIClientRef listener = 0;
    pm::MIDIPortRef in = 0;
    pm::MIDIClientCreateWithBlock("midi-loop listener", &listener, nullptr);
    pm::MIDIInputPortCreateWithBlock(listener, "in", &in, [](const pm::MIDIPacketList* list, size_t bytes, void*) {
        if (pm::MIDIPacketListCount(list, bytes) == 0) return;
        const auto* p = &list->packet[0];
        std::string text = "output";
        for (size_t i = 0; i < pm::MIDIPacketLength(p); ++i) text += " " + hex(p->data[i]);
        line(text);
    });
    const auto output = midi.virtualOutputs().front();
    pm::MIDIPortConnectSource(in, output, nullptr);
    midi.sendNoteOn(64, 100, 9, std::nullopt, std::vector<MIDIEndpointRef>{output});
    pm::MIDIDrain();

    const auto sources = pm::MIDIGetNumberOfSources(), destinations = pm::MIDIGetNumberOfDestinations();
    const bool destroyed = midi.destroyVirtualPorts();
    line(std::string("destroyed ") + (destroyed ? "true" : "false") + " sources " + std::to_string(sources) + " " +
         std::to_string(pm::MIDIGetNumberOfSources()) + " destinations " + std::to_string(destinations) + " " +
         std::to_string(pm::MIDIGetNumberOfDestinations()));
    midi.clearListeners();
    pm::MIDIDrain();
    return 0;
}
