// Read views of a track chunk: its name, events, channel and meta events, length; and the tempo track.
#pragma once

#include "Sonora/MIDI/MIDICustomMetaEvent.h"
#include "Sonora/MIDI/MIDIEvent.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileTrackChunk.h"

#include <optional>
#include <string>
#include <vector>

namespace sonora {

struct MIDIFileTrack {
    MIDIFileTrackChunk chunk;

    explicit MIDIFileTrack(MIDIFileTrackChunk trackChunk) : chunk(std::move(trackChunk)) {}

    std::optional<std::string> name() const;
    // The views below are made on first use and kept with the chunk's parse, which every copy of
    // the chunk (and the file it came from) shares: they stay valid while any of those lives.
    // Every non-meta event, status restored, with its position in beats.
    const std::vector<MIDIEvent>& events() const;
    // The events with a channel status byte; the same list as events() when the track holds no
    // SysEx message or escape.
    const std::vector<MIDIEvent>& channelEvents() const;
    // The meta events of known types, with their positions in beats.
    const std::vector<MIDICustomMetaEvent>& metaEvents() const;
    // The position of the last meta event; 0 without one.
    double length() const;
};

struct MIDIFileTempoTrack {
    MIDIFileTrack track;
    // The first set-tempo event's bytes: FF 51, the length quantity, the payload.
    std::vector<uint8_t> tempoData;

    // init?(trackChunk:): none without a set-tempo event.
    static std::optional<MIDIFileTempoTrack> fromTrackChunk(const MIDIFileTrackChunk& chunk);
    // Beats per minute, cut toward zero at four decimals; 120 without tempo bytes, +inf for 0 µs.
    float tempo() const;
};

}  // namespace sonora
