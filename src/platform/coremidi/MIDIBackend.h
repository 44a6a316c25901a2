// What the MIDI service hands to a backend that reaches endpoints outside the process, and what
// the backend calls back. Without a backend the service is the in-process loopback.
//
// The service calls the hooks with its registry locked, so a hook never calls back into the
// service on the calling thread; the backend calls the service from its own thread, holding none
// of its own locks.
#pragma once

#include "platform/coremidi/MIDIObjects.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

using MIDIPackets = std::vector<loopback::ReceivedPacket>;

class MIDIBackend {
public:
    virtual ~MIDIBackend() = default;
    virtual std::string name() const = 0;

    // The program published a source or destination (`type`), renamed it or changed its privacy,
    // or withdrew it.
    virtual void published(MIDIEndpointRef endpoint, MIDIObjectType type, const std::string& name, bool isPrivate) = 0;
    virtual void changed(MIDIEndpointRef endpoint, const std::string& name, bool isPrivate) = 0;
    virtual void withdrawn(MIDIEndpointRef endpoint) = 0;

    // One of the program's sources emitted packets: to every listener outside the process. noErr
    // once they are on their way (or the source is none of the backend's), kMIDIMessageSendErr
    // when the backend cannot take them.
    virtual OSStatus emitted(MIDIEndpointRef source, const MIDIPackets& packets) = 0;
    // Packets for an external destination: as emitted(), and kMIDIUnknownEndpoint when the
    // destination is none of the backend's. A hook never waits for the device.
    virtual OSStatus send(MIDIEndpointRef destination, const MIDIPackets& packets) = 0;
    // An input port connected to (or let go of) an external source; counted per connection.
    virtual void connected(MIDIEndpointRef source) = 0;
    virtual void disconnected(MIDIEndpointRef source) = 0;
};

// The service's side, for the backend's thread.
namespace midiservice {
// A new external endpoint with `uniqueID` (the next free one after it when taken); notified as added.
MIDIEndpointRef addExternal(MIDIObjectType type, const std::string& name, MIDIUniqueID uniqueID);
// An external endpoint gone; notified as removed.
void removeExternal(MIDIEndpointRef endpoint);
// Packets from an external source, to the input ports connected to it.
void receivedFromExternal(MIDIEndpointRef source, const MIDIPackets& packets);
// Packets sent from outside to one of the program's destinations, to its read block.
void receivedAtDestination(MIDIEndpointRef destination, const MIDIPackets& packets);
// Puts `backend` in place of the one in use (tests of the service's side, without a device); the
// one it replaces is destroyed outside the registry's lock, so its threads can finish their calls.
void useBackendForTesting(std::unique_ptr<MIDIBackend> backend);
}  // namespace midiservice

}  // namespace platform
