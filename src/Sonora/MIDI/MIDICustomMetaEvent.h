// Meta events of a Standard MIDI File track: FF, the type byte, a length quantity and the payload.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sonora {

enum class MIDICustomMetaEventType : uint8_t {
    sequenceNumber = 0x00,
    textEvent = 0x01,
    copyright = 0x02,
    trackName = 0x03,
    instrumentName = 0x04,
    lyric = 0x05,
    marker = 0x06,
    cuePoint = 0x07,
    programName = 0x08,
    devicePortName = 0x09,
    metaEvent10 = 0x0A,
    metaEvent12 = 0x0C,
    channelPrefix = 0x20,
    midiPort = 0x21,
    endOfTrack = 0x2F,
    setTempo = 0x51,
    smtpeOffset = 0x54,
    timeSignature = 0x58,
    keySignature = 0x59,
    sequencerSpecificMetaEvent = 0x7F,
};

// init(rawValue:): the 20 listed type bytes only.
std::optional<MIDICustomMetaEventType> MIDICustomMetaEventTypeFromRawValue(uint8_t byte);
std::string description(MIDICustomMetaEventType type);

struct MIDICustomMetaEvent {
    std::optional<double> positionInBeats;
    std::vector<uint8_t> data;  // the whole event from 0xFF on
    MIDICustomMetaEventType type = MIDICustomMetaEventType::sequenceNumber;
    int64_t length = 0;  // the announced payload length

    // One meta event of a known type from the start of the bytes (cut to what is there).
    static std::optional<MIDICustomMetaEvent> fromData(std::span<const uint8_t> bytes);
    // The byte count fromData keeps, without copying; none where fromData gives none.
    static std::optional<size_t> eventSize(std::span<const uint8_t> bytes);

    // The last `length` bytes of `data` (all of it when shorter).
    std::span<const uint8_t> payload() const;
    std::optional<std::string> payloadText() const;
    std::string description() const;
};

struct MIDISysExMessage {
    std::vector<uint8_t> data;  // from 0xF0 on
    int64_t length = 0;         // the announced payload length

    // One SysEx event as stored in a file: F0, a length quantity, the payload (cut to what is there).
    static std::optional<MIDISysExMessage> fromBytes(std::span<const uint8_t> bytes);
    std::string description() const { return "MIDI SysEx message " + std::to_string(length) + " bytes long"; }
};

// Byte utilities of the MIDI file reader.
struct MIDIHelper {
    static uint32_t bigEndianUInt32(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
        return (uint32_t(b0) << 24) | (uint32_t(b1) << 16) | (uint32_t(b2) << 8) | b3;
    }
    static uint16_t bigEndianUInt16(uint8_t msb, uint8_t lsb) { return uint16_t((msb << 8) | lsb); }
    // Each byte in decimal, no separator.
    static std::string decimalString(std::span<const uint8_t> bytes);
    // None when the bytes are not valid UTF-8.
    static std::optional<std::string> utf8String(std::span<const uint8_t> bytes);
};

// The size of a message whose length quantity starts at `quantityAt` (the bytes before it, the
// quantity, the payload it announces), cut to the bytes there; summed in 64 bits.
size_t prefixedMessageSize(std::span<const uint8_t> bytes, size_t quantityAt);

}  // namespace sonora
