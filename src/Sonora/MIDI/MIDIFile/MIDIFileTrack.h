// Read views of a track chunk: its name, events, channel and meta events, length; and the tempo track.
#pragma once

#include "Sonora/MIDI/MIDICustomMetaEvent.h"
#include "Sonora/MIDI/MIDIEvent.h"
#include "Sonora/MIDI/MIDIFile/MIDIFileTrackChunk.h"

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace sonora {

// Events of a track made as they are read: a view of the track chunk's parse that holds no events
// of its own (a track of a million notes would need 72 bytes for each of its two million events).
// It keeps the chunk's bytes and parse alive, so it may outlive the track and file it came from;
// its iterators need the parse, which the chunk and every copy of it share.
class MIDIFileTrackEvents {
public:
    class iterator {
    public:
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag;  // it gives values, not references
        using value_type = MIDIEvent;
        using difference_type = std::ptrdiff_t;
        using reference = MIDIEvent;
        using pointer = void;

        iterator() = default;
        MIDIEvent operator*() const;
        iterator& operator++() {
            ++index_;
            skipLeftOut();
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const iterator& other) const { return index_ == other.index_; }

    private:
        friend class MIDIFileTrackEvents;
        iterator(const MIDIFileTrackEvents& view, size_t index, const uint32_t* leftOut);
        void skipLeftOut() {
            while (leftOut_ != leftOutEnd_ && *leftOut_ == index_) {
                ++leftOut_;
                ++index_;
            }
        }
        const MIDIFileChunkEvent* events_ = nullptr;
        const uint32_t* leftOut_ = nullptr;
        const uint32_t* leftOutEnd_ = nullptr;
        size_t index_ = 0;
        MIDITimeFormat format_ = MIDITimeFormat::ticksPerBeat;
        int64_t division_ = 0;
    };
    using value_type = MIDIEvent;
    using const_iterator = iterator;
    using size_type = size_t;

    size_t size() const { return events_->size() - leftOut_->size(); }
    bool empty() const { return size() == 0; }
    iterator begin() const { return iterator(*this, 0, leftOut_->data()); }
    iterator end() const { return iterator(*this, events_->size(), leftOut_->data() + leftOut_->size()); }
    // Event i (below size()), found without walking the ones before it.
    MIDIEvent operator[](size_t i) const;
    MIDIEvent front() const { return (*this)[0]; }
    MIDIEvent back() const { return (*this)[size() - 1]; }

private:
    friend struct MIDIFileTrack;
    // The chunk's parsed events but those at the positions in `leftOut` (ascending).
    MIDIFileTrackEvents(MIDIFileTrackChunk chunk, const std::vector<MIDIFileChunkEvent>& events,
                        const std::vector<uint32_t>& leftOut)
        : chunk_(std::move(chunk)), events_(&events), leftOut_(&leftOut) {}
    MIDIFileTrackChunk chunk_;
    const std::vector<MIDIFileChunkEvent>* events_;
    const std::vector<uint32_t>* leftOut_;
};

struct MIDIFileTrack {
    MIDIFileTrackChunk chunk;

    explicit MIDIFileTrack(MIDIFileTrackChunk trackChunk) : chunk(std::move(trackChunk)) {}

    std::optional<std::string> name() const;
    // Every non-meta event, status restored, with its position in beats.
    MIDIFileTrackEvents events() const;
    // The events with a channel status byte.
    MIDIFileTrackEvents channelEvents() const;
    // The meta events of known types, with their positions in beats.
    std::vector<MIDICustomMetaEvent> metaEvents() const;
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
