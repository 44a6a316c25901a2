#include "Sonora/MIDI/MIDIFile/MIDIFileChunk.h"

#include "Sonora/MIDI/MIDICustomMetaEvent.h"
#include "Sonora/MIDI/MIDIFile/detail/ChunkParse.h"

#include <algorithm>

namespace sonora {

std::optional<MIDIFileChunkType> MIDIFileChunkTypeFromRawValue(std::string_view text) {
    if (text == "MTrk") return MIDIFileChunkType::track;
    if (text == "MThd") return MIDIFileChunkType::header;
    return std::nullopt;
}

std::string rawValue(MIDIFileChunkType type) { return type == MIDIFileChunkType::track ? "MTrk" : "MThd"; }

MIDIFileBytes copyBytes(std::span<const uint8_t> bytes) {
    return std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end());
}

MIDIFileChunk::MIDIFileChunk(MIDIFileBytes bytes, size_t offset, size_t size)
    : bytes_(std::move(bytes)), offset_(offset), size_(size), parse_(std::make_shared<detail::ChunkParse>()) {}

std::span<const uint8_t> MIDIFileChunk::lengthBytes() const {
    const auto raw = rawData();
    if (raw.size() <= 4) return {};
    return raw.subspan(4, std::min<size_t>(4, raw.size() - 4));
}

std::optional<MIDIFileChunkType> MIDIFileChunk::type() const {
    const auto bytes = typeBytes();
    if (bytes.size() != 4) return std::nullopt;
    // Bytes above 0x7F never match: the raw values are ASCII.
    return MIDIFileChunkTypeFromRawValue(std::string_view(reinterpret_cast<const char*>(bytes.data()), 4));
}

uint32_t MIDIFileChunk::length() const {
    const auto b = lengthBytes();
    if (b.size() < 4) return 0;
    return MIDIHelper::bigEndianUInt32(b[0], b[1], b[2], b[3]);
}

std::optional<MIDIFileChunk> MIDIFileChunk::cut(const MIDIFileBytes& bytes, size_t offset, MIDIFileChunkType type) {
    if (!bytes || offset > bytes->size()) return std::nullopt;
    const size_t remaining = bytes->size() - offset;
    if (remaining < 9) return std::nullopt;
    const uint8_t* b = bytes->data() + offset;
    if (MIDIFileChunkTypeFromRawValue(std::string_view(reinterpret_cast<const char*>(b), 4)) != type)
        return std::nullopt;
    const uint64_t size = uint64_t(MIDIHelper::bigEndianUInt32(b[4], b[5], b[6], b[7])) + 8;
    if (size > remaining && type != MIDIFileChunkType::track) return std::nullopt;
    return MIDIFileChunk(bytes, offset, size_t(std::min<uint64_t>(size, remaining)));
}

std::optional<MIDIFileHeaderChunk> MIDIFileHeaderChunk::fromData(std::span<const uint8_t> bytes) {
    const auto chunk = cut(copyBytes(bytes), 0, MIDIFileChunkType::header);
    if (!chunk) return std::nullopt;
    return MIDIFileHeaderChunk(*chunk);
}

}  // namespace sonora
