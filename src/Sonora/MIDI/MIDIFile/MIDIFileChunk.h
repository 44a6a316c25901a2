// The chunks of a Standard MIDI File: a type ("MThd" or "MTrk"), a big-endian 32-bit length and
// the payload. A chunk is a view into bytes shared with the file it came from.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sonora {

enum class MIDIFileChunkType { track, header };
// "MTrk" or "MThd", exactly (case matters).
std::optional<MIDIFileChunkType> MIDIFileChunkTypeFromRawValue(std::string_view text);
std::string rawValue(MIDIFileChunkType type);

using MIDIFileBytes = std::shared_ptr<const std::vector<uint8_t>>;

namespace detail {
// The parsed events of a track chunk, shared by every copy of the chunk so that they are parsed once.
struct ChunkParse;
}  // namespace detail

class MIDIFileChunk {
public:
    // The chunk's bytes, type and length fields included.
    std::span<const uint8_t> rawData() const { return {bytes_->data() + offset_, size_}; }
    std::span<const uint8_t> typeBytes() const { return rawData().first(std::min<size_t>(4, size_)); }
    std::span<const uint8_t> lengthBytes() const;
    // The payload.
    std::span<const uint8_t> data() const { return rawData().subspan(std::min<size_t>(8, size_)); }

    std::optional<MIDIFileChunkType> type() const;
    bool isHeader() const { return type() == MIDIFileChunkType::header; }
    bool isTrack() const { return type() == MIDIFileChunkType::track; }
    // The announced payload length.
    uint32_t length() const;
    bool hasCompleteFields() const { return size_ >= 8; }
    bool matchesLength() const { return data().size() == length(); }
    bool isValid() const { return hasCompleteFields() && matchesLength(); }
    bool isInvalid() const { return !isValid(); }

    // The bytes of one chunk of the given type at the start of `bytes` (at least 9 bytes); a
    // track chunk running past the end keeps the bytes there, other chunks must be complete.
    static std::optional<MIDIFileChunk> cut(const MIDIFileBytes& bytes, size_t offset, MIDIFileChunkType type);

protected:
    MIDIFileChunk(MIDIFileBytes bytes, size_t offset, size_t size);
    MIDIFileBytes bytes_;
    size_t offset_;
    size_t size_;
    std::shared_ptr<detail::ChunkParse> parse_;
};

class MIDIFileHeaderChunk : public MIDIFileChunk {
public:
    explicit MIDIFileHeaderChunk(const MIDIFileChunk& chunk) : MIDIFileChunk(chunk) {}
    // init?(data:): a header chunk at the start of the bytes.
    static std::optional<MIDIFileHeaderChunk> fromData(std::span<const uint8_t> bytes);
};

// Chunk bytes shared by copies of a stored chunk as a whole.
MIDIFileBytes copyBytes(std::span<const uint8_t> bytes);

}  // namespace sonora
