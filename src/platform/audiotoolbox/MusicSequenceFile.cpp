// Standard MIDI Files into a sequence and out of it.
#include "platform/audiotoolbox/detail/MusicSequenceStore.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace platform::detail {

namespace {

class Reader {
public:
    Reader(const uint8_t* bytes, size_t size) : p_(bytes), size_(size) {}
    bool atEnd() const { return pos_ >= size_; }
    size_t left() const { return size_ - pos_; }
    size_t pos() const { return pos_; }
    bool byte(uint8_t& out) {
        if (pos_ >= size_) return false;
        out = p_[pos_++];
        return true;
    }
    bool peek(uint8_t& out) const {
        if (pos_ >= size_) return false;
        out = p_[pos_];
        return true;
    }
    // At most four bytes, as the file format allows.
    bool vlq(uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!byte(b)) return false;
            out = (out << 7) | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    const uint8_t* take(size_t n) {
        if (n > left()) return nullptr;
        const uint8_t* at = p_ + pos_;
        pos_ += n;
        return at;
    }

private:
    const uint8_t* p_;
    size_t size_;
    size_t pos_ = 0;
};

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

struct PendingNote {
    size_t index;  // into the track's events
    double start;
};

// Reads one track chunk's events into `target` (and tempo and, in format 0, signature metas into
// the tempo track). Returns false when the chunk is malformed; what was read stays.
class TrackParser {
public:
    TrackParser(SequenceData& sequence, TrackData* target, bool firstOfFormat1, bool tempoMetasToTempoTrack,
                double ticksToBeats)
        : sequence_(sequence),
          target_(target),
          firstOfFormat1_(firstOfFormat1),
          signaturesToTempoTrack_(tempoMetasToTempoTrack),
          ticksToBeats_(ticksToBeats) {}

    bool parse(const uint8_t* bytes, size_t size) {
        Reader in(bytes, size);
        const bool ok = events(in);
        finish();
        return ok;
    }

private:
    double beat() const { return double(ticks_) * ticksToBeats_; }

    // The regular track that takes channel events: in a format 1 file's first chunk, a track made
    // the first time one is needed.
    TrackData& channelTrack() {
        if (!target_) target_ = addTrack(sequence_);
        return *target_;
    }

    void add(TrackData& track, SequenceEvent event) {
        if (!track.events.empty() && track.events.back().time > event.time)
            track.insert(std::move(event));
        else
            track.events.push_back(std::move(event));
        lastBeat_ = std::max(lastBeat_, beat());
    }

    bool events(Reader& in) {
        uint8_t running = 0;
        while (!in.atEnd()) {
            uint32_t delta;
            if (!in.vlq(delta)) return false;
            ticks_ += delta;
            uint8_t status;
            if (!in.peek(status)) return false;
            if (status & 0x80) {
                in.byte(status);
            } else {
                if (!running) return false;
                status = running;
            }
            if (status < 0xF0) {
                running = status;
                if (!channelMessage(in, status)) return false;
            } else if (status == 0xF0 || status == 0xF7) {
                uint32_t length;
                if (!in.vlq(length)) return false;
                const uint8_t* data = in.take(length);
                if (!data) return false;
                std::vector<uint8_t> raw;
                if (status == 0xF0) raw.push_back(0xF0);
                raw.insert(raw.end(), data, data + length);
                add(channelTrack(), makeRawEvent(beat(), raw.data(), uint32_t(raw.size())));
            } else if (status == 0xFF) {
                uint8_t type;
                uint32_t length;
                if (!in.byte(type) || !in.vlq(length)) return false;
                const uint8_t* data = in.take(length);
                if (!data) return false;
                if (type == 0x2F) {
                    endOfTrack_ = beat();
                    return true;
                }
                meta(type, data, length);
            } else {
                return false;  // system real-time and common messages have no place in a file
            }
        }
        return true;  // no end-of-track event: the chunk simply ends
    }

    bool channelMessage(Reader& in, uint8_t status) {
        const uint8_t kind = status & 0xF0;
        const int count = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        uint8_t data[2] = {0, 0};
        for (int i = 0; i < count; ++i)
            if (!in.byte(data[i]) || (data[i] & 0x80)) return false;
        const uint8_t channel = status & 0x0F;
        TrackData& track = channelTrack();
        if (kind == 0x90 && data[1] > 0) {
            MIDINoteMessage note{channel, data[0], data[1], 0, 0};
            add(track, makeNoteEvent(beat(), note));
            pending_[channel * 128 + data[0]].push_back({track.events.size() - 1, beat()});
            // A later insert in the middle would move indexes; notes only ever go at the end.
            return true;
        }
        if (kind == 0x80 || kind == 0x90) {
            auto& queue = pending_[channel * 128 + data[0]];
            if (!queue.empty()) {
                close(track, queue.front(), beat(), kind == 0x80 ? data[1] : 0);
                queue.pop_front();
            }
            lastBeat_ = std::max(lastBeat_, beat());
            return true;  // a note-off with no note-on has nothing to end
        }
        MIDIChannelMessage message{status, data[0], data[1], 0};
        add(track, makeChannelEvent(beat(), message));
        return true;
    }

    void close(TrackData& track, const PendingNote& note, double end, uint8_t releaseVelocity) {
        SequenceEvent& event = track.events[note.index];
        MIDINoteMessage message;
        std::memcpy(&message, event.data.data(), sizeof message);
        message.duration = float(std::max(0.0, end - note.start));
        message.releaseVelocity = releaseVelocity;
        std::memcpy(event.data.data(), &message, sizeof message);
    }

    void meta(uint8_t type, const uint8_t* data, uint32_t length) {
        TrackData& tempo = *sequence_.tempoTrack;
        if (type == 0x51) {
            if (length >= 3) {
                const uint32_t micros = uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2];
                if (micros > 0) add(tempo, makeTempoEvent(beat(), 60e6 / micros));
            }
            return;
        }
        const bool toTempo = firstOfFormat1_ || (signaturesToTempoTrack_ && (type == 0x58 || type == 0x59));
        add(toTempo ? tempo : channelTrack(), makeMetaEvent(beat(), type, data, length));
    }

    void finish() {
        const double end = endOfTrack_ ? std::max(*endOfTrack_, lastBeat_) : lastBeat_;
        if (target_) {
            // An unmatched note-on lasts to its track's end.
            for (auto& [key, queue] : pending_)
                for (const auto& note : queue) close(*target_, note, end, 0);
            target_->setLength = std::max(target_->setLength, end);
            target_->changed();
        }
        TrackData& tempo = *sequence_.tempoTrack;
        if (firstOfFormat1_) tempo.setLength = std::max(tempo.setLength, end);
        tempo.changed();
    }

    SequenceData& sequence_;
    TrackData* target_;
    bool firstOfFormat1_;
    bool signaturesToTempoTrack_;
    double ticksToBeats_;
    uint64_t ticks_ = 0;
    double lastBeat_ = 0;
    std::optional<double> endOfTrack_;
    std::map<int, std::deque<PendingNote>> pending_;
};

}  // namespace

OSStatus loadStandardMIDIFile(SequenceData& sequence, const uint8_t* bytes, size_t length) {
    Reader in(bytes, length);
    const uint8_t* header = in.take(8);
    if (!header || std::memcmp(header, "MThd", 4) != 0) return kAudioFileInvalidFileError;
    const uint32_t headerLength = be32(header + 4);
    if (headerLength < 6 || headerLength > in.left()) return kAudioFileInvalidFileError;
    const uint8_t* fields = in.take(headerLength);
    const uint16_t format = be16(fields);
    const uint16_t trackCount = be16(fields + 2);
    const uint16_t division = be16(fields + 4);
    if (format > 2) return kAudioFileInvalidFileError;

    double ticksToBeats;
    if (division & 0x8000) {
        const int framesPerSecond = -int(int8_t(division >> 8));
        const int ticksPerFrame = division & 0xFF;
        if (framesPerSecond <= 0 || ticksPerFrame == 0) return kAudioFileInvalidFileError;
        ticksToBeats = 2.0 / (double(framesPerSecond) * ticksPerFrame);  // seconds at 120 BPM
    } else {
        if (division == 0) return kAudioFileInvalidFileError;
        ticksToBeats = 1.0 / division;
        sequence.resolution = division;
    }

    OSStatus status = 0;
    int chunkIndex = 0;
    while (!in.atEnd()) {
        const uint8_t* chunk = in.take(8);
        if (!chunk) {
            status = kAudioFileInvalidFileError;
            break;
        }
        const uint32_t chunkLength = be32(chunk + 4);
        const bool truncated = chunkLength > in.left();
        const size_t available = truncated ? in.left() : chunkLength;
        const uint8_t* data = in.take(available);
        if (std::memcmp(chunk, "MTrk", 4) == 0) {
            const bool first = format == 1 && chunkIndex == 0;
            TrackData* target = first ? nullptr : addTrack(sequence);
            TrackParser parser(sequence, target, first, format != 1, ticksToBeats);
            if (!parser.parse(data, available)) status = kAudioFileInvalidFileError;
            ++chunkIndex;
        }
        if (truncated) status = kAudioFileInvalidFileError;
    }
    if (chunkIndex < trackCount) status = kAudioFileInvalidFileError;  // tracks missing: a cut file
    return status;
}

namespace {

void putVLQ(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t buffer[5];
    int n = 0;
    buffer[n++] = value & 0x7F;
    while (value >>= 7) buffer[n++] = uint8_t(0x80 | (value & 0x7F));
    while (n) out.push_back(buffer[--n]);
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

struct Item {
    uint64_t tick;
    int rank;  // at one tick: note ends, then events in track order, then ends of notes of no length
    size_t order;
    std::vector<uint8_t> bytes;
};

// The largest delta a file's four-byte variable-length number holds.
constexpr uint64_t kMaxDelta = 0x0FFFFFFF;
// Absolute ticks are kept far above anything a file can reach through its deltas, so that a time
// beyond it is still seen as a delta the file cannot hold.
constexpr double kTickCeiling = 0x1p62;

uint64_t toTick(double beats, uint16_t resolution) {
    if (!(beats > 0)) return 0;
    const double ticks = std::round(beats * resolution);
    return ticks >= kTickCeiling ? uint64_t(kTickCeiling) : uint64_t(ticks);
}

const OSLog& writerLog() {
    static const OSLog log{"platform", "MusicSequenceFile"};
    return log;
}

// One track's chunk; none (with a log line) when two of its events lie further apart than a delta holds.
std::optional<std::vector<uint8_t>> trackChunk(const TrackData& track, uint16_t resolution, size_t trackIndex) {
    std::vector<Item> items;
    items.reserve(track.events.size() * 2);
    size_t order = 0;
    for (const auto& event : track.events) {
        const uint64_t tick = toTick(event.time, resolution);
        const uint8_t* d = event.data.data();
        switch (event.type) {
        case kMusicEventType_ExtendedTempo: {
            double bpm;
            std::memcpy(&bpm, d, sizeof bpm);
            const double micros = std::clamp(std::round(60e6 / bpm), 1.0, double(0xFFFFFF));
            const auto m = uint32_t(micros);
            items.push_back({tick, 1, order++, {0xFF, 0x51, 0x03, uint8_t(m >> 16), uint8_t(m >> 8), uint8_t(m)}});
            break;
        }
        case kMusicEventType_Meta: {
            uint32_t length;
            std::memcpy(&length, d + 4, 4);
            if (d[0] == 0x2F) break;  // written once, at the track's end
            std::vector<uint8_t> bytes{0xFF, d[0]};
            putVLQ(bytes, length);
            bytes.insert(bytes.end(), d + 8, d + 8 + length);
            items.push_back({tick, 1, order++, std::move(bytes)});
            break;
        }
        case kMusicEventType_MIDINoteMessage: {
            MIDINoteMessage note;
            std::memcpy(&note, d, sizeof note);
            const uint8_t channel = note.channel & 0x0F;
            const double duration = std::isfinite(note.duration) && note.duration > 0 ? note.duration : 0;
            const uint64_t end = toTick(event.time + duration, resolution);
            items.push_back({tick, 1, order++, {uint8_t(0x90 | channel), uint8_t(note.note & 0x7F),
                                                uint8_t(note.velocity & 0x7F)}});
            items.push_back({end, end == tick ? 2 : 0, order++,
                             {uint8_t(0x80 | channel), uint8_t(note.note & 0x7F), uint8_t(note.releaseVelocity & 0x7F)}});
            break;
        }
        case kMusicEventType_MIDIChannelMessage: {
            MIDIChannelMessage message;
            std::memcpy(&message, d, sizeof message);
            const uint8_t kind = message.status & 0xF0;
            std::vector<uint8_t> bytes{message.status, uint8_t(message.data1 & 0x7F)};
            if (kind != 0xC0 && kind != 0xD0) bytes.push_back(message.data2 & 0x7F);
            items.push_back({tick, 1, order++, std::move(bytes)});
            break;
        }
        case kMusicEventType_MIDIRawData: {
            uint32_t length;
            std::memcpy(&length, d, 4);
            if (length == 0) break;
            std::vector<uint8_t> bytes;
            const uint8_t* raw = d + 4;
            if (raw[0] == 0xF0) {
                bytes.push_back(0xF0);
                putVLQ(bytes, length - 1);
                bytes.insert(bytes.end(), raw + 1, raw + length);
            } else {
                bytes.push_back(0xF7);
                putVLQ(bytes, length);
                bytes.insert(bytes.end(), raw, raw + length);
            }
            items.push_back({tick, 1, order++, std::move(bytes)});
            break;
        }
        default: break;
        }
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.rank != b.rank) return a.rank < b.rank;
        return a.order < b.order;
    });

    std::vector<uint8_t> body;
    uint64_t now = 0;
    const auto putDelta = [&](uint64_t tick) {
        if (tick - now > kMaxDelta) {
            os_log(writerLog(), OSLogType::error,
                   "cannot write track " + std::to_string(trackIndex) + ": " + std::to_string(tick - now) +
                       " ticks between two events at tick " + std::to_string(now) + " exceed the file's largest delta of " +
                       std::to_string(kMaxDelta));
            return false;
        }
        putVLQ(body, uint32_t(tick - now));
        now = tick;
        return true;
    };
    for (const auto& item : items) {
        if (!putDelta(item.tick)) return std::nullopt;
        body.insert(body.end(), item.bytes.begin(), item.bytes.end());
    }
    if (!putDelta(std::max(now, toTick(track.length(), resolution)))) return std::nullopt;
    body.insert(body.end(), {0xFF, 0x2F, 0x00});

    std::vector<uint8_t> chunk{'M', 'T', 'r', 'k'};
    put32(chunk, uint32_t(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

}  // namespace

OSStatus createStandardMIDIFile(const SequenceData& sequence, uint16_t resolution, std::vector<uint8_t>& out) {
    // The header counts the tempo track and the others in 16 bits.
    const size_t trackCount = sequence.tracks.size() + 1;
    if (trackCount > 0xFFFF) {
        os_log(writerLog(), OSLogType::error,
               "cannot write " + std::to_string(trackCount) + " tracks: a file holds at most 65535");
        return kAudioToolboxErr_CannotDoInCurrentContext;
    }
    out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    out.push_back(uint8_t(trackCount >> 8));
    out.push_back(uint8_t(trackCount));
    out.push_back(uint8_t(resolution >> 8));
    out.push_back(uint8_t(resolution));
    for (size_t i = 0; i < trackCount; ++i) {
        const auto chunk = trackChunk(i == 0 ? *sequence.tempoTrack : *sequence.tracks[i - 1], resolution, i);
        if (!chunk) {
            out.clear();
            return kAudioToolboxErr_CannotDoInCurrentContext;
        }
        out.insert(out.end(), chunk->begin(), chunk->end());
    }
    return 0;
}

}  // namespace platform::detail
