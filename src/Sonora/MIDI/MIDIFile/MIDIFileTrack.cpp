#include "Sonora/MIDI/MIDIFile/MIDIFileTrack.h"

#include "Sonora/MIDI/MIDIFile/detail/ChunkParse.h"

#include <cmath>
#include <mutex>

namespace sonora {

std::optional<MIDIEvent> MIDIEvent::fileEvent(const MIDIFileChunkEvent& e, MIDITimeFormat format, int64_t division) {
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
    event.positionInBeats = e.positionInBeats(format, division);
    return event;
}

namespace {

using Views = detail::ChunkParse::Views;

// The status a parsed event's message starts with: its running status or its first stored byte.
uint8_t firstByte(const MIDIFileChunkEvent& event) {
    const auto message = event.storedMessage();
    return event.runningStatus ? event.runningStatus->byte : message.empty() ? 0 : message[0];
}

bool isMeta(const MIDIFileChunkEvent& event) {
    const auto message = event.storedMessage();
    return !event.runningStatus && !message.empty() && message[0] == 0xFF;
}

// With the parse's mutex held and the chunk parsed.
const std::vector<MIDIEvent>& eventsOf(const detail::ChunkParse& parse, Views& views) {
    if (!views.events) {
        auto& list = views.events.emplace();
        list.reserve(parse.events.size() - parse.metaCount);
        for (const auto& event : parse.events)
            if (auto midiEvent = MIDIEvent::fileEvent(event, views.format, views.division))
                list.push_back(std::move(*midiEvent));
    }
    return *views.events;
}

}  // namespace

std::optional<std::string> MIDIFileTrack::name() const {
    for (const auto& event : chunk.parsedEvents()) {
        if (event.typeByte() != 0x03) continue;
        const auto meta = MIDICustomMetaEvent::fromData(event.messageBytes());
        if (!meta) return std::nullopt;
        return meta->payloadText();
    }
    return std::nullopt;
}

const std::vector<MIDIEvent>& MIDIFileTrack::events() const {
    auto& parse = chunk.sharedParse();
    std::lock_guard lock(parse.mutex);
    parse.parse(chunk.data());
    return eventsOf(parse, parse.viewsOf(chunk.timeFormat(), chunk.timeDivision()));
}

const std::vector<MIDIEvent>& MIDIFileTrack::channelEvents() const {
    auto& parse = chunk.sharedParse();
    std::lock_guard lock(parse.mutex);
    parse.parse(chunk.data());
    auto& views = parse.viewsOf(chunk.timeFormat(), chunk.timeDivision());
    // Every non-meta event has a channel status: the lists are the same.
    if (parse.events.size() - parse.metaCount == parse.channelCount) return eventsOf(parse, views);
    if (!views.channelEvents) {
        auto& list = views.channelEvents.emplace();
        list.reserve(parse.channelCount);
        for (const auto& event : parse.events) {
            if (!MIDIStatus::fromByte(firstByte(event))) continue;
            if (auto midiEvent = MIDIEvent::fileEvent(event, views.format, views.division))
                list.push_back(std::move(*midiEvent));
        }
    }
    return *views.channelEvents;
}

const std::vector<MIDICustomMetaEvent>& MIDIFileTrack::metaEvents() const {
    auto& parse = chunk.sharedParse();
    std::lock_guard lock(parse.mutex);
    parse.parse(chunk.data());
    auto& views = parse.viewsOf(chunk.timeFormat(), chunk.timeDivision());
    if (!views.metaEvents) {
        auto& list = views.metaEvents.emplace();
        list.reserve(parse.metaCount);
        for (const auto& event : parse.events) {
            if (!isMeta(event)) continue;
            if (auto meta = MIDICustomMetaEvent::fromData(event.storedMessage())) {
                meta->positionInBeats = event.positionInBeats(views.format, views.division);
                list.push_back(std::move(*meta));
            }
        }
    }
    return *views.metaEvents;
}

double MIDIFileTrack::length() const {
    const auto& parsed = chunk.parsedEvents();
    for (auto it = parsed.rbegin(); it != parsed.rend(); ++it) {
        if (!isMeta(*it) || !MIDICustomMetaEvent::eventSize(it->storedMessage())) continue;
        return chunk.positionInBeats(*it).value_or(0);
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
