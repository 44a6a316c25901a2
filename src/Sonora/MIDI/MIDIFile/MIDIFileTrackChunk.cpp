#include "Sonora/MIDI/MIDIFile/MIDIFileTrackChunk.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/MIDI/MIDICustomMetaEvent.h"
#include "Sonora/MIDI/MIDIVariableLengthQuantity.h"
#include "Sonora/MIDI/MIDIFile/detail/ChunkParse.h"

#include <mutex>

namespace sonora {

static_assert(sizeof(void*) != 8 || sizeof(MIDIFileChunkEvent) == 24, "a parsed event grew");

size_t MIDIFileChunkEvent::deltaTimeLength() const {
    return size_t(MIDIVariableLengthQuantity::lengthOf(data()).first);
}

uint32_t MIDIFileChunkEvent::deltaTime() const { return MIDIVariableLengthQuantity::lengthOf(data()).second; }

std::vector<uint8_t> MIDIFileChunkEvent::messageBytes() const {
    const auto message = storedMessage();
    std::vector<uint8_t> bytes;
    bytes.reserve(message.size() + 1);
    if (runningStatus) bytes.push_back(runningStatus->byte);
    bytes.insert(bytes.end(), message.begin(), message.end());
    return bytes;
}

std::optional<size_t> MIDIFileChunkEvent::typeByteIndex() const {
    const auto d = data();
    const size_t k = deltaTimeLength();
    if (k >= d.size()) return std::nullopt;
    if (d[k] == 0xFF && k + 1 < d.size()) return k + 1;
    if (MIDIStatus::fromByte(d[k]) || MIDISystemCommandFromRawValue(d[k])) return k;
    return std::nullopt;
}

std::optional<uint8_t> MIDIFileChunkEvent::typeByte() const {
    if (runningStatus) return runningStatus->byte;
    if (const auto index = typeByteIndex()) return data()[*index];
    return std::nullopt;
}

std::optional<double> MIDIFileChunkEvent::positionInBeats(MIDITimeFormat format, int64_t division) const {
    if (format != MIDITimeFormat::ticksPerBeat || division == 0) return std::nullopt;
    return double(tick()) / double(division);
}

MIDIFileTrackChunk::MIDIFileTrackChunk(const MIDIFileChunk& chunk, MIDITimeFormat format, int64_t division)
    : MIDIFileChunk(chunk), timeFormat_(format), timeDivision_(division) {}

std::optional<MIDIFileTrackChunk> MIDIFileTrackChunk::fromData(std::span<const uint8_t> bytes) {
    const auto chunk = cut(copyBytes(bytes), 0, MIDIFileChunkType::track);
    if (!chunk) return std::nullopt;
    return MIDIFileTrackChunk(*chunk, MIDITimeFormat::ticksPerBeat, 480);
}

namespace {

// Data bytes of a channel message after its status byte.
size_t dataBytes(uint8_t status) {
    const uint8_t kind = status >> 4;
    return kind == 0xC || kind == 0xD ? 1 : 2;
}

}  // namespace

void detail::ChunkParse::parse(std::span<const uint8_t> d) {
    if (done) return;
    // Done only once whole: a parse cut short by a failed allocation starts over on the next use
    // rather than leaving its first events as the track.
    events.clear();
    metaEvents.clear();
    nonChannelEvents.clear();
    // An event takes at least two bytes (a delta time and a data byte under running status), so
    // the list never grows past this: one allocation, and the pages never filled are never touched.
    events.reserve(d.size() / 2);
    const size_t n = d.size();
    size_t p = 0;
    int64_t time = 0;
    std::optional<MIDIStatus> running;
    while (p < n) {
        const size_t eventStart = p;
        const auto [deltaLength, delta] = MIDIVariableLengthQuantity::lengthOf(d.subspan(p));
        p += size_t(deltaLength);
        if (p >= n) break;  // a delta time with no message after it
        const auto rest = d.subspan(p);
        const uint8_t b = rest[0];
        std::optional<MIDIStatus> eventStatus;
        size_t advance;
        size_t size;
        if (b == 0xFF) {
            // Every meta event, of a listed type or not, is stepped over whole.
            advance = size = prefixedMessageSize(rest, 2);
            running.reset();
            metaEvents.push_back(uint32_t(events.size()));
            nonChannelEvents.push_back(uint32_t(events.size()));
        } else if (b == 0xF0 || b == 0xF7) {
            // A SysEx message or an escape: F0/F7, a length quantity, the bytes.
            advance = size = prefixedMessageSize(rest, 1);
            running.reset();
            nonChannelEvents.push_back(uint32_t(events.size()));
        } else if (const auto status = MIDIStatus::fromByte(b)) {
            advance = 1 + dataBytes(b);
            size = std::min(advance, rest.size());
            running = status;
        } else if (running) {
            advance = dataBytes(running->byte);
            size = std::min(advance, rest.size());
            eventStatus = running;
        } else {
            Log({"error parsing midi file, byte is " + std::to_string(b) + ", processed " + std::to_string(p) +
                 " of " + std::to_string(n)},
                OSLog::general(), OSLogType::error);
            break;
        }
        events.emplace_back(d.subspan(eventStart, p - eventStart + size), eventStatus, time);
        time += int64_t(delta);
        p += advance;
    }
    done = true;
}

const detail::ChunkParse& MIDIFileTrackChunk::parse() const {
    std::lock_guard lock(parse_->mutex);
    parse_->parse(data());
    return *parse_;
}

const std::vector<MIDIFileChunkEvent>& MIDIFileTrackChunk::parsedEvents() const { return parse().events; }

}  // namespace sonora
