#include "Sonora/MIDI/MIDIFile/MIDIFile.h"

#include "Sonora/MIDI/MIDICustomMetaEvent.h"

#include <fstream>
#include <system_error>

namespace sonora {

namespace {

// The whole file, or nothing when it cannot be read (missing, a folder, an I/O error).
MIDIFileBytes readAll(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return nullptr;
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    in.seekg(0, std::ios::end);
    const auto size = in.tellg();
    in.seekg(0);
    if (size < 0) return nullptr;
    bytes->resize(size_t(size));
    if (!in.read(reinterpret_cast<char*>(bytes->data()), size)) return nullptr;
    return bytes;
}

}  // namespace

MIDIFile::MIDIFile(const platform::URL& url) : filename(url.lastPathComponent()) {
    if (auto bytes = readAll(url.filePath())) walk(std::move(bytes));
}

MIDIFile::MIDIFile(std::span<const uint8_t> bytes, std::string name) : filename(std::move(name)) {
    walk(copyBytes(bytes));
}

MIDIFile::MIDIFile(std::vector<uint8_t>&& bytes, std::string name) : filename(std::move(name)) {
    walk(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)));
}

void MIDIFile::walk(MIDIFileBytes bytes) {
    const size_t n = bytes->size();
    size_t p = 0;
    while (p < n) {
        auto chunk = MIDIFileChunk::cut(bytes, p, MIDIFileChunkType::header);
        if (!chunk) chunk = MIDIFileChunk::cut(bytes, p, MIDIFileChunkType::track);
        if (chunk) {
            p += chunk->rawData().size();
            chunks.push_back(std::move(*chunk));
            continue;
        }
        // A complete chunk of another type is stepped over; anything else ends the walk.
        if (n - p < 8) break;
        const uint8_t* b = bytes->data() + p;
        const uint64_t size = uint64_t(MIDIHelper::bigEndianUInt32(b[4], b[5], b[6], b[7])) + 8;
        if (MIDIFileChunkTypeFromRawValue(std::string_view(reinterpret_cast<const char*>(b), 4)) || size > n - p)
            break;
        p += size_t(size);
    }
}

std::optional<MIDIFileHeaderChunk> MIDIFile::headerChunk() const {
    for (const auto& chunk : chunks)
        if (chunk.isHeader()) return MIDIFileHeaderChunk(chunk);
    return std::nullopt;
}

std::optional<uint8_t> MIDIFile::headerByte(size_t i) const {
    for (const auto& chunk : chunks) {
        if (!chunk.isHeader()) continue;
        const auto payload = chunk.data();
        if (i < payload.size()) return payload[i];
        return std::nullopt;
    }
    return std::nullopt;
}

uint16_t MIDIFile::format() const {
    const auto msb = headerByte(0), lsb = headerByte(1);
    return msb && lsb ? MIDIHelper::bigEndianUInt16(*msb, *lsb) : 0;
}

uint16_t MIDIFile::numberOfTracks() const {
    const auto msb = headerByte(2), lsb = headerByte(3);
    return msb && lsb ? MIDIHelper::bigEndianUInt16(*msb, *lsb) : 0;
}

std::optional<MIDITimeFormat> MIDIFile::timeFormat() const {
    const auto b4 = headerByte(4);
    if (!b4 || !headerByte(5)) return std::nullopt;
    return (*b4 & 0x80) ? MIDITimeFormat::framesPerSecond : MIDITimeFormat::ticksPerBeat;
}

std::optional<int> MIDIFile::ticksPerBeat() const {
    const auto b4 = headerByte(4), b5 = headerByte(5);
    if (!b4 || !b5 || (*b4 & 0x80)) return std::nullopt;
    return ((*b4 & 0x7F) << 8) + *b5;
}

std::optional<int> MIDIFile::framesPerSecond() const {
    const auto b4 = headerByte(4);
    if (!b4 || !headerByte(5) || !(*b4 & 0x80)) return std::nullopt;
    return *b4 & 0x7F;
}

std::optional<int> MIDIFile::ticksPerFrame() const {
    const auto b4 = headerByte(4), b5 = headerByte(5);
    if (!b4 || !b5 || !(*b4 & 0x80)) return std::nullopt;
    return *b5;
}

int MIDIFile::timeDivision() const {
    const auto b4 = headerByte(4), b5 = headerByte(5);
    return b4 && b5 ? (*b4 << 8) + *b5 : 0;
}

std::vector<MIDIFileTrackChunk> MIDIFile::trackChunks() const {
    // The header's time format and division; 480 ticks per beat without a header.
    MIDITimeFormat format = MIDITimeFormat::ticksPerBeat;
    int64_t division = 480;
    if (headerChunk()) {
        format = timeFormat().value_or(MIDITimeFormat::ticksPerBeat);
        division = format == MIDITimeFormat::ticksPerBeat ? ticksPerBeat().value_or(0) : timeDivision();
    }
    size_t first = 0;
    while (first < chunks.size() && chunks[first].isHeader() && chunks[first].isValid()) ++first;
    std::vector<MIDIFileTrackChunk> result;
    result.reserve(chunks.size() - first);
    for (size_t i = first; i < chunks.size(); ++i) {
        if (!chunks[i].isTrack()) return {};
        result.emplace_back(chunks[i], format, division);
    }
    return result;
}

std::vector<MIDIFileTrack> MIDIFile::tracks() const {
    auto trackChunkList = trackChunks();
    std::vector<MIDIFileTrack> result;
    const bool skipTempoTrack = headerChunk() && format() == 1;
    for (size_t i = skipTempoTrack ? 1 : 0; i < trackChunkList.size(); ++i) result.emplace_back(trackChunkList[i]);
    return result;
}

std::optional<MIDIFileTempoTrack> MIDIFile::tempoTrack() const {
    if (!headerChunk() || format() != 1) return std::nullopt;
    const auto trackChunkList = trackChunks();
    if (trackChunkList.empty()) return std::nullopt;
    return MIDIFileTempoTrack::fromTrackChunk(trackChunkList.front());
}

}  // namespace sonora
