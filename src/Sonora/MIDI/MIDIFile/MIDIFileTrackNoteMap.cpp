#include "Sonora/MIDI/MIDIFile/MIDIFileTrackNoteMap.h"

#include "Sonora/Internals/Utilities/Log.h"

#include <algorithm>
#include <array>

namespace sonora {

MIDIFileTrackNoteMap::MIDIFileTrackNoteMap(MIDIFile file, int64_t number) {
    const auto tracks = file.tracks();
    if (file.headerChunk() && file.timeFormat() == MIDITimeFormat::ticksPerBeat && file.ticksPerBeat().value_or(0) > 0)
        divisor_ = *file.ticksPerBeat();
    midiFile_ = std::move(file);
    if (tracks.empty()) {
        Log({"No Tracks in the MIDI File"});
        return;
    }
    const int64_t count = int64_t(tracks.size());
    const int64_t chosen = std::clamp<int64_t>(number, 0, count - 1);
    midiTrack_ = tracks[size_t(chosen)];
    trackNumber_ = chosen;
}

double MIDIFileTrackNoteMap::time(std::optional<double> positionInBeats) const {
    return positionInBeats.value_or(1.0) / divisor_;
}

std::vector<MIDINoteDuration> MIDIFileTrackNoteMap::notes() const {
    std::vector<MIDINoteDuration> result;
    if (!midiTrack_) return result;
    std::optional<uint8_t> noteOnStatus, noteOffStatus;
    std::array<std::optional<double>, 128> open{};
    // A note takes two channel events, one that starts it and one that ends it.
    result.reserve(midiTrack_->channelEvents().size() / 2);
    // The track's channel events read in place: status restored, data bytes masked to 7 bits.
    const auto& chunk = midiTrack_->chunk;
    for (const auto& event : chunk.parsedEvents()) {
        const auto stored = event.storedMessage();
        const bool running = event.runningStatus.has_value();
        const uint8_t s = running ? event.runningStatus->byte : stored.empty() ? 0 : stored[0];
        if (!MIDIStatus::fromByte(s)) continue;
        const auto dataBytes = running ? stored : stored.subspan(1);
        if (dataBytes.empty()) continue;  // no note number
        if (!noteOnStatus && (s >> 4) == 0x9) noteOnStatus = s;
        if (!noteOffStatus && (s >> 4) == 0x8) noteOffStatus = s;
        const bool hasVelocity = dataBytes.size() >= 2;
        const uint8_t velocity = hasVelocity ? dataBytes[1] & 0x7F : 0;
        const uint8_t key = dataBytes[0] & 0x7F;
        if (s == noteOnStatus && (velocity != 0 || !hasVelocity)) {
            open[key] = time(chunk.positionInBeats(event));
        } else if ((s == noteOnStatus && hasVelocity && velocity == 0) || s == noteOffStatus) {
            if (open[key]) {
                result.emplace_back(*open[key], time(chunk.positionInBeats(event)), key);
                open[key].reset();
            }
        }
    }
    return result;
}

int64_t MIDIFileTrackNoteMap::lowestNote() const {
    const auto list = notes();
    if (list.size() < 2) return 0;
    int64_t lowest = list.front().noteNumber;
    for (const auto& note : list) lowest = std::min(lowest, note.noteNumber);
    return lowest;
}

int64_t MIDIFileTrackNoteMap::highestNote() const {
    const auto list = notes();
    if (list.size() < 2) return 0;
    int64_t highest = list.front().noteNumber;
    for (const auto& note : list) highest = std::max(highest, note.noteNumber);
    return highest;
}

double MIDIFileTrackNoteMap::trackEnd() const {
    if (!midiTrack_) return 0;
    for (const auto& meta : midiTrack_->metaEvents())
        if (meta.type == MIDICustomMetaEventType::endOfTrack) return time(meta.positionInBeats);
    const auto list = notes();
    return list.empty() ? 0 : list.back().noteEndTime;
}

}  // namespace sonora
