// The platform's MIDI service: clients, ports and endpoints behind 32-bit handles, their
// properties, sending and receiving, and the setup notifications.
//
// Handles come from one registry with a counter that never repeats a value; 0 means none. A stale
// handle, or one of the wrong kind, gives an error status and is never dereferenced.
//
// Every read block, receive block and notification block runs on one MIDI thread, in the order the
// work was queued (so in order per sender). Lists are copied when sent; a packet stamped 0 is
// delivered with the host time of the send, any other stamp passes unchanged and is delivered at
// once; a packet longer than 256 bytes arrives as several packets of at most 256 bytes with its
// stamp, cut between messages (a SysEx message longer than a packet is cut inside); an empty
// packet is skipped.
//
// Backend: the ALSA sequencer where it can be opened (other programs' ports are the external
// endpoints, the program's endpoints become sequencer ports), else the in-process loopback;
// TAMBERLO_MIDI_BACKEND=loopback|alsa chooses. Under either, tests make loopback "external"
// sources and destinations (standing for devices), inject into the sources and read what reached
// the destinations.
#pragma once

#include "platform/coremidi/MIDIServices.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

using MIDIObjectRef = uint32_t;
using MIDIClientRef = MIDIObjectRef;
using MIDIPortRef = MIDIObjectRef;
using MIDIEndpointRef = MIDIObjectRef;
using MIDIUniqueID = int32_t;
using ItemCount = size_t;

inline constexpr OSStatus kMIDIInvalidClient = -10830;
inline constexpr OSStatus kMIDIInvalidPort = -10831;
inline constexpr OSStatus kMIDIWrongEndpointType = -10832;
inline constexpr OSStatus kMIDINoConnection = -10833;
inline constexpr OSStatus kMIDIUnknownEndpoint = -10834;
inline constexpr OSStatus kMIDIUnknownProperty = -10835;
inline constexpr OSStatus kMIDIWrongPropertyType = -10836;
inline constexpr OSStatus kMIDIMessageSendErr = -10838;
inline constexpr OSStatus kMIDIObjectNotFound = -10842;
inline constexpr OSStatus kMIDIIDNotUnique = -10843;
inline constexpr OSStatus kMIDINotPermitted = -10844;

// Property names.
inline constexpr const char* kMIDIPropertyName = "name";
inline constexpr const char* kMIDIPropertyDisplayName = "displayName";
inline constexpr const char* kMIDIPropertyModel = "model";
inline constexpr const char* kMIDIPropertyManufacturer = "manufacturer";
inline constexpr const char* kMIDIPropertyImage = "image";
inline constexpr const char* kMIDIPropertyDriverOwner = "driver";
inline constexpr const char* kMIDIPropertyUniqueID = "uniqueID";
inline constexpr const char* kMIDIPropertyPrivate = "private";

enum MIDIObjectType : int32_t {
    kMIDIObjectType_Other = -1,
    kMIDIObjectType_Source = 2,
    kMIDIObjectType_Destination = 3,
};

enum MIDINotificationMessageID : int32_t {
    kMIDIMsgSetupChanged = 1,
    kMIDIMsgObjectAdded = 2,
    kMIDIMsgObjectRemoved = 3,
    kMIDIMsgPropertyChanged = 4,
};

struct MIDINotification {
    int32_t messageID = 0;
    uint32_t messageSize = 0;
};

struct MIDIObjectAddRemoveNotification : MIDINotification {
    MIDIObjectRef parent = 0;
    int32_t parentType = kMIDIObjectType_Other;
    MIDIObjectRef child = 0;
    int32_t childType = kMIDIObjectType_Other;
};

struct MIDIObjectPropertyChangeNotification : MIDINotification {
    MIDIObjectRef object = 0;
    int32_t objectType = kMIDIObjectType_Other;
    std::string propertyName;
};

using MIDINotifyBlock = std::function<void(const MIDINotification*)>;
// A packet list with its size in bytes, and the connection's reference given at connection.
using MIDIReadBlock = std::function<void(const MIDIPacketList*, size_t listBytes, void* srcConnRefCon)>;
using MIDIReceiveBlock = std::function<void(const MIDIEventList*, size_t listBytes, void* srcConnRefCon)>;

OSStatus MIDIClientCreateWithBlock(const std::string& name, MIDIClientRef* outClient, MIDINotifyBlock notifyBlock);
OSStatus MIDIClientDispose(MIDIClientRef client);

ItemCount MIDIGetNumberOfSources();
ItemCount MIDIGetNumberOfDestinations();
// In creation order; 0 when out of range. Private endpoints are not listed.
MIDIEndpointRef MIDIGetSource(ItemCount index);
MIDIEndpointRef MIDIGetDestination(ItemCount index);

OSStatus MIDIObjectGetStringProperty(MIDIObjectRef object, const std::string& property, std::string* out);
OSStatus MIDIObjectSetStringProperty(MIDIObjectRef object, const std::string& property, const std::string& value);
OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef object, const std::string& property, int32_t* out);
OSStatus MIDIObjectSetIntegerProperty(MIDIObjectRef object, const std::string& property, int32_t value);

OSStatus MIDIInputPortCreateWithBlock(MIDIClientRef client, const std::string& name, MIDIPortRef* outPort,
                                      MIDIReadBlock readBlock);
// Receives event lists of Universal MIDI Packets; only the MIDI 1.0 protocol is offered.
OSStatus MIDIInputPortCreateWithProtocol(MIDIClientRef client, const std::string& name, MIDIProtocolID protocol,
                                         MIDIPortRef* outPort, MIDIReceiveBlock receiveBlock);
OSStatus MIDIOutputPortCreate(MIDIClientRef client, const std::string& name, MIDIPortRef* outPort);
// Connecting twice keeps one connection.
OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon);
OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source);
OSStatus MIDIPortDispose(MIDIPortRef port);

OSStatus MIDIDestinationCreateWithBlock(MIDIClientRef client, const std::string& name, MIDIEndpointRef* outDest,
                                        MIDIReadBlock readBlock);
OSStatus MIDISourceCreate(MIDIClientRef client, const std::string& name, MIDIEndpointRef* outSource);
OSStatus MIDIEndpointDispose(MIDIEndpointRef endpoint);

// Sends a list of `listBytes` bytes through an output port to a destination.
OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef destination, const MIDIPacketList* list, size_t listBytes);
// A source created with MIDISourceCreate sends the list to every port connected to it.
OSStatus MIDIReceived(MIDIEndpointRef source, const MIDIPacketList* list, size_t listBytes);

// The name of the backend in use: "alsa" or "loopback".
std::string MIDIBackendName();

// Whether input ports of the event-list kind exist (on by default; off for tests of the older
// packet-list road).
bool MIDIEventListsAvailable();
void MIDISetEventListsAvailable(bool available);

// Waits until the MIDI thread has nothing left to do (tests).
void MIDIDrain();

// Unique IDs of new endpoints are drawn from a generator this seeds (tests).
void MIDISeedUniqueIDs(uint64_t seed);

// The loopback's stand-ins for devices.
namespace loopback {
struct ReceivedPacket {
    MIDITimeStamp timeStamp = 0;
    std::vector<uint8_t> bytes;
};
OSStatus createExternalSource(const std::string& name, MIDIEndpointRef* outSource);
OSStatus createExternalDestination(const std::string& name, MIDIEndpointRef* outDestination);
// Sends from an external source to the ports connected to it.
OSStatus inject(MIDIEndpointRef source, const MIDIPacketList* list, size_t listBytes);
// Hands the event list, whatever its protocol, to the event-list ports connected to the source.
OSStatus injectEventList(MIDIEndpointRef source, const MIDIEventList* list, size_t listBytes);
// What reached an external destination so far; the record is emptied.
std::vector<ReceivedPacket> takeReceived(MIDIEndpointRef destination);
}  // namespace loopback

// Bytes to MIDI 1.0 Universal MIDI Packets in group 0, carrying running status and a SysEx
// message across calls.
class MIDIBytesToUMP {
public:
    // Appends the words of `bytes` to `packets` (each at most 64 words, stamped `time`).
    void convert(const uint8_t* bytes, size_t n, MIDITimeStamp time, std::vector<MIDIEventPacket>& packets);

private:
    void word(uint32_t w, MIDITimeStamp time, std::vector<MIDIEventPacket>& packets, uint32_t w2 = 0,
              bool two = false);
    void flushSysEx(bool last, MIDITimeStamp time, std::vector<MIDIEventPacket>& packets);

    uint8_t status_ = 0;
    uint8_t data_[2] = {};
    size_t have_ = 0;
    bool inSysEx_ = false;
    bool sysExStarted_ = false;
    uint8_t pending_[6] = {};
    size_t pendingCount_ = 0;
};

}  // namespace platform
