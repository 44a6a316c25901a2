// A Standard MIDI File read into memory: its header values, its track chunks and their views.
//
//   MIDIFile file(std::filesystem::path("song.mid"));
//   for (const MIDIFileTrack& track : file.tracks()) use(track.name(), track.channelEvents());
#pragma once

#include "Sonora/MIDI/MIDIFile/MIDIFileChunk.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileTrack.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileTrackChunk.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sonora {

class MIDIFile {
public:
    // init(url:), init(filePath:): the file's chunks; an unreadable file gives none.
    explicit MIDIFile(const platform::URL& url);
    explicit MIDIFile(const std::filesystem::path& filePath) : MIDIFile(platform::URL(filePath)) {}
    // The chunks of bytes already in memory: a copy of them, or the bytes themselves when handed over.
    MIDIFile(std::span<const uint8_t> bytes, std::string filename);
    MIDIFile(std::vector<uint8_t>&& bytes, std::string filename);

    std::string filename;
    std::vector<MIDIFileChunk> chunks;

    std::optional<MIDIFileHeaderChunk> headerChunk() const;
    uint16_t format() const;
    uint16_t numberOfTracks() const;
    std::optional<MIDITimeFormat> timeFormat() const;
    std::optional<int> ticksPerBeat() const;
    std::optional<int> framesPerSecond() const;
    std::optional<int> ticksPerFrame() const;
    int timeDivision() const;
    // The track chunks after the leading header, each with the header's time format and division
    // (480 ticks per beat without a header); empty when another chunk follows.
    std::vector<MIDIFileTrackChunk> trackChunks() const;
    // The tracks (format 1 leaves its tempo track out) and the tempo track of a format-1 file.
    std::vector<MIDIFileTrack> tracks() const;
    std::optional<MIDIFileTempoTrack> tempoTrack() const;

private:
    void walk(MIDIFileBytes bytes);
    // Header payload byte i, none when the payload is shorter.
    std::optional<uint8_t> headerByte(size_t i) const;
};

}  // namespace sonora
