#include "Sonora/MIDI/MIDICustomMetaEvent.h"

#include "Sonora/MIDI/MIDIVariableLengthQuantity.h"

#include <algorithm>

namespace sonora {

std::pair<int64_t, uint32_t> MIDIVariableLengthQuantity::lengthOf(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return {0, 0};
    uint32_t quantity = bytes[0] & 0x7F;
    const size_t count = bytes.size();
    for (size_t i = 0; i + 1 < count; ++i) {
        if (!(bytes[i] & 0x80)) return {int64_t(i + 1), quantity};
        quantity = (quantity << 7) | (bytes[i + 1] & 0x7F);
    }
    return {int64_t(count), quantity};
}

std::optional<MIDIVariableLengthQuantity> MIDIVariableLengthQuantity::fromBytes(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    MIDIVariableLengthQuantity vlq;
    vlq.vlqResult = lengthOf(bytes);
    vlq.data.assign(bytes.begin(), bytes.begin() + vlq.vlqResult.first);
    return vlq;
}

size_t prefixedMessageSize(std::span<const uint8_t> bytes, size_t quantityAt) {
    if (quantityAt >= bytes.size()) return bytes.size();
    const auto [n, length] = MIDIVariableLengthQuantity::lengthOf(bytes.subspan(quantityAt));
    const uint64_t total = uint64_t(quantityAt) + uint64_t(n) + uint64_t(length);
    return size_t(std::min<uint64_t>(total, bytes.size()));
}

std::optional<MIDICustomMetaEventType> MIDICustomMetaEventTypeFromRawValue(uint8_t byte) {
    switch (byte) {
    case 0x00: case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
    case 0x09: case 0x0A: case 0x0C: case 0x20: case 0x21: case 0x2F: case 0x51: case 0x54: case 0x58:
    case 0x59: case 0x7F:
        return MIDICustomMetaEventType(byte);
    default:
        return std::nullopt;
    }
}

std::string description(MIDICustomMetaEventType type) {
    switch (type) {
    case MIDICustomMetaEventType::sequenceNumber: return "Sequence Number";
    case MIDICustomMetaEventType::textEvent: return "Text Event";
    case MIDICustomMetaEventType::copyright: return "Copyright";
    case MIDICustomMetaEventType::trackName: return "Track Name";
    case MIDICustomMetaEventType::instrumentName: return "Instrument Name";
    case MIDICustomMetaEventType::lyric: return "Lyric";
    case MIDICustomMetaEventType::marker: return "Marker";
    case MIDICustomMetaEventType::cuePoint: return "Cue Point";
    case MIDICustomMetaEventType::programName: return "Program Name";
    case MIDICustomMetaEventType::devicePortName: return "Device (Port) Name";
    case MIDICustomMetaEventType::metaEvent10: return "Meta Event 10";
    case MIDICustomMetaEventType::metaEvent12: return "Meta Event 12";
    case MIDICustomMetaEventType::channelPrefix: return "Channel Prefix";
    case MIDICustomMetaEventType::midiPort: return "MIDI Port";
    case MIDICustomMetaEventType::endOfTrack: return "End of Track";
    case MIDICustomMetaEventType::setTempo: return "Set Tempo";
    case MIDICustomMetaEventType::smtpeOffset: return "SMPTE Offset";
    case MIDICustomMetaEventType::timeSignature: return "Time Signature";
    case MIDICustomMetaEventType::keySignature: return "Key Signature";
    case MIDICustomMetaEventType::sequencerSpecificMetaEvent: return "Sequence Specific";
    }
    return {};
}

namespace {
bool showsText(MIDICustomMetaEventType type) {
    switch (type) {
    case MIDICustomMetaEventType::trackName:
    case MIDICustomMetaEventType::instrumentName:
    case MIDICustomMetaEventType::programName:
    case MIDICustomMetaEventType::devicePortName:
    case MIDICustomMetaEventType::metaEvent10:
    case MIDICustomMetaEventType::metaEvent12:
        return true;
    default:
        return false;
    }
}
}  // namespace

std::optional<size_t> MIDICustomMetaEvent::eventSize(std::span<const uint8_t> bytes) {
    if (bytes.size() < 3 || bytes[0] != 0xFF || !MIDICustomMetaEventTypeFromRawValue(bytes[1])) return std::nullopt;
    return prefixedMessageSize(bytes, 2);
}

std::optional<MIDICustomMetaEvent> MIDICustomMetaEvent::fromData(std::span<const uint8_t> bytes) {
    const auto size = eventSize(bytes);
    if (!size) return std::nullopt;
    MIDICustomMetaEvent event;
    event.data.assign(bytes.begin(), bytes.begin() + *size);
    event.type = MIDICustomMetaEventType(bytes[1]);
    event.length = MIDIVariableLengthQuantity::lengthOf(bytes.subspan(2)).second;
    return event;
}

std::span<const uint8_t> MIDICustomMetaEvent::payload() const {
    const std::span<const uint8_t> all(data);
    return uint64_t(length) >= all.size() ? all : all.last(size_t(length));
}

std::optional<std::string> MIDICustomMetaEvent::payloadText() const { return MIDIHelper::utf8String(payload()); }

std::string MIDICustomMetaEvent::description() const {
    std::string text = sonora::description(type) + " " + std::to_string(length) + " bytes long ";
    if (showsText(type))
        if (const auto payloadString = payloadText()) text += "- " + *payloadString;
    return text;
}

std::optional<MIDISysExMessage> MIDISysExMessage::fromBytes(std::span<const uint8_t> bytes) {
    if (bytes.size() < 3 || bytes[0] != 0xF0) return std::nullopt;
    MIDISysExMessage message;
    message.data.assign(bytes.begin(), bytes.begin() + prefixedMessageSize(bytes, 1));
    message.length = MIDIVariableLengthQuantity::lengthOf(bytes.subspan(1)).second;
    return message;
}

std::string MIDIHelper::decimalString(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) text += std::to_string(b);
    return text;
}

std::optional<std::string> MIDIHelper::utf8String(std::span<const uint8_t> bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const uint8_t b = bytes[i];
        size_t extra;
        uint32_t cp;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { extra = 1; cp = b & 0x1F; }
        else if (b >= 0xE0 && b <= 0xEF) { extra = 2; cp = b & 0x0F; }
        else if (b >= 0xF0 && b <= 0xF4) { extra = 3; cp = b & 0x07; }
        else return std::nullopt;
        if (i + extra >= n) return std::nullopt;
        for (size_t k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (bytes[i + k] & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return std::nullopt;
        i += extra + 1;
    }
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace sonora
