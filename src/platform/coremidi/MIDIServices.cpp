#include "platform/coremidi/MIDIServices.h"

#include <cstring>

namespace platform {

namespace {
bool holdsSysEx(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] == 0xF0 || bytes[i] == 0xF7) return true;
    return false;
}
}  // namespace

MIDITimeStamp MIDIPacketTimeStamp(const MIDIPacket* packet) {
    MIDITimeStamp time;
    std::memcpy(&time, reinterpret_cast<const uint8_t*>(packet) + offsetof(MIDIPacket, timeStamp), sizeof time);
    return time;
}

uint16_t MIDIPacketLength(const MIDIPacket* packet) {
    uint16_t length;
    std::memcpy(&length, reinterpret_cast<const uint8_t*>(packet) + offsetof(MIDIPacket, length), sizeof length);
    return length;
}

const MIDIPacket* MIDIPacketNext(const MIDIPacket* packet) {
    return reinterpret_cast<const MIDIPacket*>(reinterpret_cast<const uint8_t*>(packet) + kMIDIPacketHeaderSize +
                                               MIDIPacketLength(packet));
}

MIDIPacket* MIDIPacketNext(MIDIPacket* packet) {
    return const_cast<MIDIPacket*>(MIDIPacketNext(static_cast<const MIDIPacket*>(packet)));
}

MIDIPacket* MIDIPacketListInit(MIDIPacketList* list) {
    const uint32_t zero = 0;
    std::memcpy(list, &zero, sizeof zero);
    return list->packet;
}

uint32_t MIDIPacketListCount(const MIDIPacketList* list, size_t listBytes) {
    if (!list || listBytes < sizeof(uint32_t)) return 0;
    uint32_t count;
    std::memcpy(&count, list, sizeof count);
    return count;
}

MIDIPacket* MIDIPacketListAdd(MIDIPacketList* list, size_t listBytes, MIDIPacket* current, MIDITimeStamp time,
                              size_t n, const uint8_t* bytes) {
    auto* base = reinterpret_cast<uint8_t*>(list);
    if (!list || !current || listBytes < kMIDIPacketListHeaderSize) return nullptr;
    auto* at = reinterpret_cast<uint8_t*>(current);
    if (at < base + kMIDIPacketListHeaderSize || at > base + listBytes) return nullptr;
    const uint32_t count = MIDIPacketListCount(list, listBytes);
    const size_t end = size_t(base + listBytes - at);  // bytes from `current` to the list's end

    if (count > 0) {
        if (end < kMIDIPacketHeaderSize) return nullptr;
        const uint16_t length = MIDIPacketLength(current);
        if (MIDIPacketTimeStamp(current) == time && !holdsSysEx(current->data, length) && !holdsSysEx(bytes, n)) {
            if (kMIDIPacketHeaderSize + length + n > end || length + n > UINT16_MAX) return nullptr;
            if (n) std::memcpy(current->data + length, bytes, n);
            const uint16_t joined = uint16_t(length + n);
            std::memcpy(at + offsetof(MIDIPacket, length), &joined, sizeof joined);
            return current;
        }
        at += kMIDIPacketHeaderSize + length;
    }
    const size_t room = size_t(base + listBytes - at);
    if (n > UINT16_MAX || room < kMIDIPacketHeaderSize + n) return nullptr;
    const uint16_t length = uint16_t(n);
    std::memcpy(at + offsetof(MIDIPacket, timeStamp), &time, sizeof time);
    std::memcpy(at + offsetof(MIDIPacket, length), &length, sizeof length);
    if (n) std::memcpy(at + kMIDIPacketHeaderSize, bytes, n);
    const uint32_t newCount = count + 1;
    std::memcpy(list, &newCount, sizeof newCount);
    return reinterpret_cast<MIDIPacket*>(at);
}

MIDIEventPacket* MIDIEventListInit(MIDIEventList* list, MIDIProtocolID protocol) {
    list->protocol = protocol;
    list->numPackets = 0;
    list->packet[0].wordCount = 0;
    return list->packet;
}

const MIDIEventPacket* MIDIEventPacketNext(const MIDIEventPacket* packet) {
    uint32_t count;
    std::memcpy(&count, reinterpret_cast<const uint8_t*>(packet) + offsetof(MIDIEventPacket, wordCount), sizeof count);
    return reinterpret_cast<const MIDIEventPacket*>(reinterpret_cast<const uint8_t*>(packet) +
                                                    offsetof(MIDIEventPacket, words) + size_t(count) * 4);
}

}  // namespace platform
