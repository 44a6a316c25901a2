#include "platform/audiotoolbox/detail/TrackSchedule.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::detail {

namespace {
size_t firstAt(const std::vector<SequenceEvent>& events, double time, bool inclusive) {
    auto compare = [&](const SequenceEvent& e, double t) { return inclusive ? e.time < t : e.time <= t; };
    return size_t(std::lower_bound(events.begin(), events.end(), time, compare) - events.begin());
}
}  // namespace

LoopRegion trackLoop(const TrackData& track) {
    const double length = track.length();
    const double duration = std::min(track.loop.loopDuration, length);
    if (!(duration > 0) || track.loop.numberOfLoops < 0) return {};  // a negative count repeats nothing
    return {true, length - duration, length, track.loop.numberOfLoops};
}

std::optional<Occurrence> nextOccurrence(const std::vector<SequenceEvent>& events, const LoopRegion& loop,
                                         double after, bool inclusive) {
    const size_t i = firstAt(events, after, inclusive);
    if (i < events.size() && (!loop.enabled || events[i].time < loop.end)) return Occurrence{events[i].time, i};
    const double duration = loop.end - loop.start;
    if (!loop.enabled || !(duration > 0)) return std::nullopt;
    const size_t first = firstAt(events, loop.start, true);
    if (first >= events.size() || events[first].time >= loop.end) return std::nullopt;  // nothing repeats
    // The pass `after` falls in and the next. Rounding may place `after` a pass off either way, and
    // may map it back onto the very event it came from: the passes around are tried, and only a
    // beat that really lies after `after` is taken (else a walk would stand still on one event).
    const auto follows = [&](double beat) { return inclusive ? beat >= after : beat > after; };
    double k = after < loop.end ? 0 : std::max(0.0, std::floor((after - loop.end) / duration) - 1);
    for (int step = 0; step < 4; ++step, ++k) {
        if (loop.repeats > 0 && k >= double(loop.repeats)) return std::nullopt;
        const double passStart = loop.end + k * duration;
        size_t j = after < passStart ? first : std::max(first, firstAt(events, loop.start + (after - passStart), inclusive));
        for (; j < events.size() && events[j].time < loop.end; ++j) {
            const double beat = passStart + (events[j].time - loop.start);
            if (follows(beat)) return Occurrence{beat, j};
        }
    }
    return std::nullopt;
}

double scheduleEnd(const LoopRegion& loop, double length) {
    if (!loop.enabled) return length;
    if (loop.repeats <= 0) return INFINITY;
    return loop.end + double(loop.repeats) * (loop.end - loop.start);
}

bool messageOf(const SequenceEvent& event, double beat, ScheduledMessage& out) {
    const uint8_t* d = event.data.data();
    out = ScheduledMessage{};
    switch (event.type) {
    case kMusicEventType_MIDINoteMessage: {
        MIDINoteMessage note;
        std::memcpy(&note, d, sizeof note);
        out.length = 3;
        out.bytes[0] = uint8_t(0x90 | (note.channel & 0x0F));
        out.bytes[1] = note.note & 0x7F;
        out.bytes[2] = note.velocity & 0x7F;
        out.hasNoteOff = true;
        out.noteOffBeat = beat + (std::isfinite(note.duration) && note.duration > 0 ? double(note.duration) : 0.0);
        out.noteOff[0] = uint8_t(0x80 | (note.channel & 0x0F));
        out.noteOff[1] = note.note & 0x7F;
        out.noteOff[2] = note.releaseVelocity & 0x7F;
        return true;
    }
    case kMusicEventType_MIDIChannelMessage: {
        MIDIChannelMessage channel;
        std::memcpy(&channel, d, sizeof channel);
        const uint8_t kind = channel.status & 0xF0;
        out.length = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
        out.bytes[0] = channel.status;
        out.bytes[1] = channel.data1 & 0x7F;
        out.bytes[2] = channel.data2 & 0x7F;
        return true;
    }
    case kMusicEventType_MIDIRawData: {
        uint32_t length;
        std::memcpy(&length, d, 4);
        if (!length) return false;
        out.raw = d + 4;
        out.rawLength = length;
        return true;
    }
    default: return false;
    }
}

}  // namespace platform::detail
