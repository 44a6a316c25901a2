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

// The messages of a packet in order. A real-time byte (0xF8 ... 0xFF) is a message of its own
// where it stands, even inside another message, which is read as if it were not there. A SysEx
// message may run on into later packets (the shared MIDI object gathers it); the walk goes on
// after its 0xF7.
class MIDIPacketEventIterator {
public:
    explicit MIDIPacketEventIterator(const MIDIPacketBytes& packet) : packet_(packet) {}
    std::optional<MIDIEvent> next();

private:
    // Reads on until an event is ready or the walk has ended.
    void parse();
    // Gathers the open SysEx message; false when a status byte cut it short (it is dropped).
    bool continueSysEx();
    // The message of a real-time byte, in place; none for the undefined 0xF9 and 0xFD.
    void realTime(uint8_t byte);

    MIDIPacketBytes packet_;
    size_t count_ = 0;
    bool ended_ = false;
    bool startedSysEx_ = false;  // a SysEx message began in this packet and is still open
    std::vector<MIDIEvent> ready_;  // read, not yet handed out from readyAt_ on
    size_t readyAt_ = 0;
};

// Every event of a packet, up to the first absent one.
std::vector<MIDIEvent> packetEvents(const MIDIPacketBytes& packet);

}  // namespace sonora
