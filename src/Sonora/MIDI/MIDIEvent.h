// One MIDI message with its timing: the bytes in wire order (status byte first) and the optional
// position and time stamps the MIDI subsystem attaches to it.
#pragma once

#include "Sonora/MIDI/MIDIBytes.h"
#include "Sonora/MIDI/MIDIStatus.h"
#include "Sonora/MIDI/MIDISystemCommand.h"
#include "platform/coremidi/MIDIServices.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sonora {

// The platform's host-clock time of a MIDI message.
using MIDITimeStamp = platform::MIDITimeStamp;

struct MIDIFileChunkEvent;

// A packet's time stamp and its first `length` data bytes, cut to the memory the packet lies in.
struct MIDIPacketBytes {
    MIDITimeStamp timeStamp = 0;
    std::span<const uint8_t> bytes;

    // A packet on its own: at most its 256-byte data area.
    static MIDIPacketBytes of(const platform::MIDIPacket& packet);
};

// packetBytes: the packet's first `length` data bytes (at most 256).
std::vector<uint8_t> packetBytes(const platform::MIDIPacket& packet);

struct MIDIEvent {
    // The message bytes, status byte first.
    MIDIBytes data;
    // Present for events read from a MIDI file counted in ticks per beat.
    std::optional<double> positionInBeats;
    // Host-time offset; no builder of this library sets it.
    std::optional<MIDITimeStamp> offset;
    std::optional<MIDITimeStamp> timeStamp;

    MIDIEvent() = default;

    // init(data:timeStamp:): the bytes of one received message. A channel message keeps its status
    // byte and its later bytes masked to 7 bits; a system message keeps every byte; anything else
    // gives no bytes. While the shared MIDI object gathers a SysEx message, the bytes continue it:
    // only those up to its 0xF7 are kept.
    explicit MIDIEvent(std::span<const uint8_t> bytes, std::optional<MIDITimeStamp> timeStamp = std::nullopt);
    explicit MIDIEvent(const std::vector<uint8_t>& bytes, std::optional<MIDITimeStamp> timeStamp = std::nullopt)
        : MIDIEvent(std::span<const uint8_t>(bytes), timeStamp) {}
    MIDIEvent(std::initializer_list<uint8_t> bytes, std::optional<MIDITimeStamp> timeStamp = std::nullopt)
        : MIDIEvent(std::span<const uint8_t>(bytes.begin(), bytes.size()), timeStamp) {}

    // init(packet:): the packet's first message, with the packet's time stamp; a SysEx start turns
    // the shared SysEx gathering on. Bytes past the packet's length read as 0.
    explicit MIDIEvent(const platform::MIDIPacket& packet) : MIDIEvent(MIDIPacketBytes::of(packet)) {}
    explicit MIDIEvent(const MIDIPacketBytes& packet);

    // init(fileEvent:): a channel or SysEx event of a MIDI file track, with its position in beats
    // when the track's time format (that of its file) counts ticks per beat; none for meta events
    // and empty events.
    static std::optional<MIDIEvent> fileEvent(const MIDIFileChunkEvent& event, MIDITimeFormat format,
                                              int64_t timeDivision);

    // appendIncomingSysEx(packet:): continues the SysEx message being gathered; the finished
    // message once the packet holds its 0xF7, else none.
    static std::optional<MIDIEvent> appendIncomingSysEx(const MIDIPacketBytes& packet);
    static std::optional<MIDIEvent> appendIncomingSysEx(const platform::MIDIPacket& packet) {
        return appendIncomingSysEx(MIDIPacketBytes::of(packet));
    }

    // One whole message received on another road than legacy packets (Universal MIDI Packets): the
    // bytes as init(data:timeStamp:) keeps them outside SysEx gathering, whatever the packet road's
    // gathering state, so a SysEx message left open there does not swallow it.
    static MIDIEvent ofMessage(std::span<const uint8_t> bytes, std::optional<MIDITimeStamp> timeStamp);

    // Builders; the channel is masked to 0 ... 15. They do not take part in SysEx gathering.
    static MIDIEvent noteOn(uint8_t noteNumber, uint8_t velocity, uint8_t channel);
    static MIDIEvent noteOff(uint8_t noteNumber, uint8_t velocity, uint8_t channel);
    static MIDIEvent programChange(uint8_t program, uint8_t channel);
    static MIDIEvent controllerChange(uint8_t controller, uint8_t value, uint8_t channel);

    // Whole packet lists and Bluetooth LE payloads.
    static std::vector<MIDIEvent> eventsFromPacketList(const platform::MIDIPacketList* list, size_t listBytes);
    static std::vector<MIDIEvent> eventsFromTimestampedPayload(std::span<const uint8_t> payload);

    std::optional<MIDIStatus> status() const;
    std::optional<MIDISystemCommand> command() const;
    std::optional<uint8_t> channel() const;
    std::optional<uint8_t> noteNumber() const;
    std::optional<uint16_t> pitchWheelValue() const;
    size_t length() const { return data.size(); }
    // `data` in pieces of at most 256 bytes; a multiple of 256 (0 included) ends with an empty piece.
    std::vector<std::vector<uint8_t>> dataChunks() const;
    std::string description() const;

    // Equal bytes and equal optional fields (absent in both or present and equal; a NaN position
    // never equals anything).
    bool operator==(const MIDIEvent& other) const;

private:
    // The bytes of one whole message, as init(data:timeStamp:) keeps them outside SysEx gathering.
    static MIDIEvent wholeMessage(std::span<const uint8_t> bytes);
};

}  // namespace sonora
