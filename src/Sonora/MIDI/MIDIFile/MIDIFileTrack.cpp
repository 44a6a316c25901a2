#include "Sonora/MIDI/MIDIFile/MIDIFileTrack.h"

#include <cmath>

namespace sonora {

std::optional<MIDIEvent> MIDIEvent::fileEvent(const MIDIFileChunkEvent& e) {
    const auto stored = e.storedMessage();
    if (!e.runningStatus && stored.empty()) return std::nullopt;
    const uint8_t first = e.runningStatus ? e.runningStatus->byte : stored[0];
    if (first == 0xFF) return std::nullopt;
    // File events are whole messages: a SysEx message arriving from a device does not touch them.
    MIDIEvent event;
    if (MIDIStatus::fromByte(first)) {
        // Built in place (this runs for every event of every track): status, then 7-bit data bytes.
        event.data.reserve(stored.size() + 1);
        if (e.runningStatus) event.data.push_back(first);
        event.data.insert(event.data.end(), stored.begin(), stored.end());
        for (size_t i = 1; i < event.data.size(); ++i) event.data[i] &= 0x7F;
    } else {
        event = wholeMessage(e.messageBytes());
    }
    event.positionInBeats = e.positionInBeats();
    return event;
}

std::optional<std::string> MIDIFileTrack::name() const {
    for (const auto& event : chunk.parsedEvents()) {
        if (event.typeByte() != 0x03) continue;
        const auto meta = MIDICustomMetaEvent::fromData(event.messageBytes());
        if (!meta) return std::nullopt;
        return meta->payloadText();
    }
    return std::nullopt;
}

std::vector<MIDIEvent> MIDIFileTrack::events() const {
    std::vector<MIDIEvent> result;
    const auto& parsed = chunk.parsedEvents();
    result.reserve(parsed.size());
    for (const auto& event : parsed)
        if (auto midiEvent = MIDIEvent::fileEvent(event)) result.push_back(std::move(*midiEvent));
    return result;
}

std::vector<MIDIEvent> MIDIFileTrack::channelEvents() const {
    std::vector<MIDIEvent> result;
    const auto& parsed = chunk.parsedEvents();
    result.reserve(parsed.size());
    for (const auto& event : parsed) {
        const auto message = event.storedMessage();
        const uint8_t first = event.runningStatus ? event.runningStatus->byte : message.empty() ? 0 : message[0];
        if (!MIDIStatus::fromByte(first)) continue;
        if (auto midiEvent = MIDIEvent::fileEvent(event)) result.push_back(std::move(*midiEvent));
    }
    return result;
}

std::vector<MIDICustomMetaEvent> MIDIFileTrack::metaEvents() const {
    std::vector<MIDICustomMetaEvent> result;
    for (const auto& event : chunk.parsedEvents()) {
        const auto message = event.storedMessage();
        if (event.runningStatus || message.empty() || message[0] != 0xFF) continue;
        if (auto meta = MIDICustomMetaEvent::fromData(message)) {
            meta->positionInBeats = event.positionInBeats();
            result.push_back(std::move(*meta));
        }
    }
    return result;
}

double MIDIFileTrack::length() const {
    const auto& parsed = chunk.parsedEvents();
    for (auto it = parsed.rbegin(); it != parsed.rend(); ++it) {
        const auto message = it->storedMessage();
        if (it->runningStatus || message.empty() || message[0] != 0xFF) continue;
        if (!MIDICustomMetaEvent::eventSize(message)) continue;
        return it->positionInBeats().value_or(0);
    }
    return 0;
}

std::optional<MIDIFileTempoTrack> MIDIFileTempoTrack::fromTrackChunk(const MIDIFileTrackChunk& chunk) {
    MIDIFileTrack track(chunk);
    for (const auto& event : chunk.parsedEvents()) {
        const auto message = event.storedMessage();
        if (event.runningStatus || message.size() < 3 || message[0] != 0xFF || message[1] != 0x51) continue;
        const auto size = MIDICustomMetaEvent::eventSize(message);
        return MIDIFileTempoTrack{std::move(track), std::vector<uint8_t>(message.begin(), message.begin() + *size)};
    }
    return std::nullopt;
}

float MIDIFileTempoTrack::tempo() const {
    // The last three payload bytes: a shorter payload is read alone, without the event's header.
    const auto meta = MIDICustomMetaEvent::fromData(tempoData);
    std::span<const uint8_t> bytes = meta ? meta->payload() : std::span<const uint8_t>(tempoData);
    if (bytes.size() > 3) bytes = bytes.last(3);
    if (bytes.empty()) return 120.0f;
    uint32_t microseconds = 0;
    for (uint8_t b : bytes) microseconds = (microseconds << 8) | b;
    const float quotient = 60000000.0f / float(microseconds);
    // Cut toward zero at four decimals, in double so that +inf stays +inf.
    return float(std::trunc(double(quotient) * 10000.0) * 0.0001);
}

}  // namespace sonora
