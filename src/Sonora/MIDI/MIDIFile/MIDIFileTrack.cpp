#include "Sonora/MIDI/MIDIFile/MIDIFileTrack.h"

#include "Sonora/MIDI/MIDIFile/detail/ChunkParse.h"

#include <cmath>

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

static_assert(std::forward_iterator<MIDIFileTrackEvents::iterator>);

MIDIFileTrackEvents::iterator::iterator(const MIDIFileTrackEvents& view, size_t index, const uint32_t* leftOut)
    : events_(view.events_->data()), leftOut_(leftOut), leftOutEnd_(view.leftOut_->data() + view.leftOut_->size()),
      index_(index), format_(view.chunk_.timeFormat()), division_(view.chunk_.timeDivision()) {
    skipLeftOut();
}

// Every event a view keeps gives a MIDIEvent: the parse stores no empty message, and the views
// leave out at least the meta events.
MIDIEvent MIDIFileTrackEvents::iterator::operator*() const {
    return *MIDIEvent::fileEvent(events_[index_], format_, division_);
}

MIDIEvent MIDIFileTrackEvents::operator[](size_t i) const {
    // The k-th left-out position has (position - k) kept events before it, a count that never
    // falls: the left-out positions before event i are those where it is at most i.
    const auto& out = *leftOut_;
    size_t low = 0, high = out.size();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (out[mid] - mid <= i)
            low = mid + 1;
        else
            high = mid;
    }
    return *MIDIEvent::fileEvent((*events_)[i + low], chunk_.timeFormat(), chunk_.timeDivision());
}

std::optional<std::string> MIDIFileTrack::name() const {
    // Only a meta event has the type byte 0x03.
    const auto& parse = chunk.parse();
    for (const uint32_t i : parse.metaEvents) {
        const auto& event = parse.events[i];
        if (event.typeByte() != 0x03) continue;
        const auto meta = MIDICustomMetaEvent::fromData(event.messageBytes());
        if (!meta) return std::nullopt;
        return meta->payloadText();
    }
    return std::nullopt;
}

MIDIFileTrackEvents MIDIFileTrack::events() const {
    const auto& parse = chunk.parse();
    return MIDIFileTrackEvents(chunk, parse.events, parse.metaEvents);
}

MIDIFileTrackEvents MIDIFileTrack::channelEvents() const {
    const auto& parse = chunk.parse();
    return MIDIFileTrackEvents(chunk, parse.events, parse.nonChannelEvents);
}

std::vector<MIDICustomMetaEvent> MIDIFileTrack::metaEvents() const {
    const auto& parse = chunk.parse();
    std::vector<MIDICustomMetaEvent> result;
    result.reserve(parse.metaEvents.size());
    for (const uint32_t i : parse.metaEvents) {
        if (auto meta = MIDICustomMetaEvent::fromData(parse.events[i].storedMessage())) {
            meta->positionInBeats = chunk.positionInBeats(parse.events[i]);
            result.push_back(std::move(*meta));
        }
    }
    return result;
}

double MIDIFileTrack::length() const {
    const auto& parse = chunk.parse();
    for (auto it = parse.metaEvents.rbegin(); it != parse.metaEvents.rend(); ++it) {
        const auto& event = parse.events[*it];
        if (!MIDICustomMetaEvent::eventSize(event.storedMessage())) continue;
        return chunk.positionInBeats(event).value_or(0);
    }
    return 0;
}

std::optional<MIDIFileTempoTrack> MIDIFileTempoTrack::fromTrackChunk(const MIDIFileTrackChunk& chunk) {
    const auto& parse = chunk.parse();
    for (const uint32_t i : parse.metaEvents) {
        const auto message = parse.events[i].storedMessage();
        if (message.size() < 3 || message[1] != 0x51) continue;
        const auto size = MIDICustomMetaEvent::eventSize(message);
        return MIDIFileTempoTrack{MIDIFileTrack(chunk), std::vector<uint8_t>(message.begin(), message.begin() + *size)};
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
