// Walking legacy packet lists: a list as a sequence of packets, a packet as a sequence of events.
// Both walk the memory in place and are single-pass.
//
//   MIDIPacketListIterator packets(list, listBytes);
//   while (auto packet = packets.next())
//       for (MIDIPacketEventIterator events(*packet); auto event = events.next();) handle(*event);
#pragma once

#include "Sonora/MIDI/MIDIEvent.h"

#include <optional>
#include <vector>

namespace sonora {

class MIDIPacketListIterator {
public:
    // `listBytes` is the size of the memory the list lies in; a packet crossing it ends the walk,
    // whatever `numPackets` says.
    MIDIPacketListIterator(const platform::MIDIPacketList* list, size_t listBytes);
    std::optional<MIDIPacketBytes> next();

private:
    const uint8_t* base_;
    size_t size_;
    size_t offset_;
    uint32_t index_ = 0;
    uint32_t count_;
};

class MIDIPacketEventIterator {
public:
    explicit MIDIPacketEventIterator(const MIDIPacketBytes& packet) : packet_(packet) {}
    std::optional<MIDIEvent> next();

private:
    // The next data byte; 0 past the packet's length.
    uint8_t read();
    MIDIPacketBytes packet_;
    size_t count_ = 0;
    bool ended_ = false;
};

// Every event of a packet, up to the first absent one.
std::vector<MIDIEvent> packetEvents(const MIDIPacketBytes& packet);

}  // namespace sonora
