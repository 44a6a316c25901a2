// The MIDI service's backend on the ALSA sequencer: other programs' and devices' ports are the
// external sources and destinations, the program's own endpoints are ports of one sequencer client
// per process, and the System announce port tells when ports come and go.
//
// The pieces that need no sequencer (which endpoints a port stands for, their unique IDs, bytes to
// events and back) are here for the tests.
#pragma once

#include "platform/coremidi/MIDIBackend.h"

#include <alsa/asoundlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

namespace platform::alsa {

// One sequencer port as enumeration shows it.
struct PortDescription {
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
    unsigned capability = 0;
};

// An endpoint standing for a port of another client.
struct ExternalEndpoint {
    MIDIObjectType type = kMIDIObjectType_Source;
    int client = 0;
    int port = 0;
    std::string name;
    MIDIUniqueID uniqueID = 0;

    bool operator==(const ExternalEndpoint&) const = default;
};

// A unique ID that stays the same from run to run and across client renumbering: hashed from the
// client's name, the port's name and the direction. Never 0.
MIDIUniqueID uniqueIDFor(const std::string& clientName, const std::string& portName, MIDIObjectType type);

// The endpoints a port stands for: a source when others may read it and subscribe to it, a
// destination when they may write to it and subscribe to it (a duplex port gives both). None for
// the System client, for the client `self` and for ports that refuse routing.
std::vector<ExternalEndpoint> endpointsOf(const PortDescription& port, int self);

// MIDI bytes to sequencer events and back, through the library's MIDI event coder. Encoding keeps
// running status and an unfinished SysEx message from one call to the next; SysEx messages come
// out in chunks of at most 256 bytes; real-time bytes inside a SysEx message come out in place.
class EventCoder {
public:
    // How a coder gets the library's coder state (the library's call, or a failing one in tests).
    using Allocate = int (*)(size_t bufferSize, snd_midi_event_t** coder);

    explicit EventCoder(Allocate allocate = snd_midi_event_new);
    ~EventCoder();
    EventCoder(const EventCoder&) = delete;
    EventCoder& operator=(const EventCoder&) = delete;

    // False when the library could not make the coder (logged): nothing is encoded or decoded.
    bool ok() const { return encoder_ && decoder_; }

    // Calls `emit` with each finished event; its variable data lives until `emit` returns.
    void encode(const uint8_t* bytes, size_t n, const std::function<void(snd_seq_event_t&)>& emit);
    // The bytes of a MIDI event, status byte always written; empty for other events.
    std::vector<uint8_t> decode(const snd_seq_event_t& event);

private:
    snd_midi_event_t* encoder_ = nullptr;
    snd_midi_event_t* decoder_ = nullptr;
};

// The sequencer calls the backend makes on its client's handle. The handle never blocks; the
// backend makes one call at a time and holds no lock while it waits for a receiver or for input.
// The library's one forwards to the handle; tests put a stand-in for a device in its place.
// Destroying it closes the handle.
class Sequencer {
public:
    virtual ~Sequencer() = default;
    virtual int clientID() = 0;
    virtual int createPort(const std::string& name, unsigned capability, unsigned type) = 0;
    virtual int deletePort(int port) = 0;
    // Renames a port of the client and sets its capability.
    virtual int changePort(int port, const std::string& name, unsigned capability) = 0;
    virtual int connectFrom(int port, int client, int clientPort) = 0;
    virtual int disconnectFrom(int port, int client, int clientPort) = 0;
    // Every port of every client.
    virtual std::vector<PortDescription> ports() = 0;
    // Writes one event to its receiver at once; -EAGAIN while the receiver's queue is full.
    virtual int output(snd_seq_event_t* event) = 0;
    // The next event received, which lives until the next call; -EAGAIN when there is none,
    // -ENOSPC once after input was lost.
    virtual int input(snd_seq_event_t** event) = 0;
    // The descriptors that signal input.
    virtual std::vector<pollfd> pollDescriptors() = 0;
};

// The backend over a sequencer client: makes its hidden "io" port, follows the System announce
// port and starts its reader and writer threads; null (with the reason) when that fails.
// Destroying the backend stops and joins both threads, then closes the handle.
std::unique_ptr<MIDIBackend> openOn(std::unique_ptr<Sequencer> sequencer, std::string* error);

// The backend over the process's sequencer client; null (with the reason) when the sequencer
// cannot be opened.
std::unique_ptr<MIDIBackend> open(std::string* error);

}  // namespace platform::alsa
