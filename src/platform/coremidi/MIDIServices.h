// The packet records of the platform's MIDI service: legacy packet lists (bytes with a time stamp)
// and event lists of Universal MIDI Packets (32-bit words). The records are packed to 4 bytes, as
// the service lays them out, so a list is walked in its own memory; every walk is given the list's
// byte size and never reads past it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using MIDITimeStamp = uint64_t;
using MIDIProtocolID = int32_t;
inline constexpr MIDIProtocolID kMIDIProtocol_1_0 = 1;
inline constexpr MIDIProtocolID kMIDIProtocol_2_0 = 2;

#pragma pack(push, 4)
struct MIDIPacket {
    MIDITimeStamp timeStamp;
    uint16_t length;
    // A packet in a larger buffer may hold more than 256 bytes; the next packet starts right
    // after its `length` bytes.
    uint8_t data[256];
};

struct MIDIPacketList {
    uint32_t numPackets;
    MIDIPacket packet[1];
};

struct MIDIEventPacket {
    MIDITimeStamp timeStamp;
    uint32_t wordCount;
    uint32_t words[64];
};

struct MIDIEventList {
    MIDIProtocolID protocol;
    uint32_t numPackets;
    MIDIEventPacket packet[1];
};
#pragma pack(pop)

static_assert(sizeof(MIDIPacket) == 268);
static_assert(sizeof(MIDIPacketList) == 272);
static_assert(offsetof(MIDIPacket, data) == 10);
static_assert(offsetof(MIDIPacketList, packet) == 4);

// Offsets of a packet's fields, for reading a packet that may sit at any byte of a buffer.
inline constexpr size_t kMIDIPacketHeaderSize = offsetof(MIDIPacket, data);
inline constexpr size_t kMIDIPacketListHeaderSize = offsetof(MIDIPacketList, packet);

// The packet's time stamp and length read with memcpy (the packet may be unaligned).
MIDITimeStamp MIDIPacketTimeStamp(const MIDIPacket* packet);
uint16_t MIDIPacketLength(const MIDIPacket* packet);

// The packet that follows `packet` in its list: right after its `length` data bytes.
const MIDIPacket* MIDIPacketNext(const MIDIPacket* packet);
MIDIPacket* MIDIPacketNext(MIDIPacket* packet);

// Empties the list; returns its first packet, the `current` of the first MIDIPacketListAdd.
MIDIPacket* MIDIPacketListInit(MIDIPacketList* list);

// Appends `n` bytes at `time`: they join `current` when its time is the same and neither holds a
// system-exclusive message, else they start a new packet after it. Returns the packet holding
// them, or null when they do not fit the list's `listBytes` bytes (the list is then unchanged).
MIDIPacket* MIDIPacketListAdd(MIDIPacketList* list, size_t listBytes, MIDIPacket* current, MIDITimeStamp time,
                              size_t n, const uint8_t* bytes);

// The number of packets of a list of `listBytes` bytes, read with memcpy (0 when the count does
// not fit).
uint32_t MIDIPacketListCount(const MIDIPacketList* list, size_t listBytes);

// The event-list counterparts.
MIDIEventPacket* MIDIEventListInit(MIDIEventList* list, MIDIProtocolID protocol);
const MIDIEventPacket* MIDIEventPacketNext(const MIDIEventPacket* packet);

}  // namespace platform
