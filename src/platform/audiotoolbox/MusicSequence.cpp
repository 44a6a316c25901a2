#include "platform/audiotoolbox/MusicSequence.h"

#include "platform/audiotoolbox/detail/MusicSequenceStore.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_map>

namespace platform {

namespace detail {

namespace {

struct IteratorData {
    uintptr_t track = 0;
    size_t index = 0;
    uint64_t version = 0;
};

struct Registry {
    std::unordered_map<uintptr_t, std::unique_ptr<SequenceData>> sequences;
    std::unordered_map<uintptr_t, TrackData*> tracks;
    std::unordered_map<uintptr_t, IteratorData> iterators;
};

Registry& registry() {
    static Registry* r = new Registry;  // lives until exit: a late player thread may still ask
    return *r;
}

template <class Handle>
uintptr_t key(Handle handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

IteratorData* findIterator(MusicEventIterator iterator) {
    auto it = registry().iterators.find(key(iterator));
    return it == registry().iterators.end() ? nullptr : &it->second;
}

}  // namespace

std::recursive_mutex& sequenceLock() {
    static std::recursive_mutex* m = new std::recursive_mutex;
    return *m;
}

uintptr_t newHandle() {
    static std::atomic<uintptr_t> next{0x5E0010};
    return next.fetch_add(0x10);
}

SequenceData* findSequence(MusicSequence sequence) {
    auto it = registry().sequences.find(key(sequence));
    return it == registry().sequences.end() ? nullptr : it->second.get();
}

TrackData* findTrack(MusicTrack track) {
    auto it = registry().tracks.find(key(track));
    return it == registry().tracks.end() ? nullptr : it->second;
}

SequenceData* sequenceOf(const TrackData& track) {
    return findSequence(reinterpret_cast<MusicSequence>(track.sequence));
}

MusicTrack trackHandle(const TrackData& track) { return reinterpret_cast<MusicTrack>(track.handle); }

double TrackData::length() const {
    double end = setLength;
    for (const auto& event : events) {
        double eventEnd = event.time;
        if (event.type == kMusicEventType_MIDINoteMessage) {
            MIDINoteMessage note;
            std::memcpy(&note, event.data.data(), sizeof note);
            if (note.duration > 0) eventEnd += double(note.duration);
        }
        if (eventEnd > end) end = eventEnd;
    }
    return end;
}

void TrackData::insert(SequenceEvent event) {
    auto at = std::upper_bound(events.begin(), events.end(), event.time,
                               [](double time, const SequenceEvent& e) { return time < e.time; });
    events.insert(at, std::move(event));
    changed();
}

namespace {
SequenceEvent makeEvent(double time, MusicEventType type, const void* record, uint32_t size, uint32_t allocated) {
    SequenceEvent event;
    event.time = time;
    event.type = type;
    event.size = size;
    event.data.assign(std::max(allocated, size), 0);
    std::memcpy(event.data.data(), record, size);
    return event;
}
}  // namespace

SequenceEvent makeTempoEvent(double time, double bpm) {
    ExtendedTempoEvent record{bpm};
    return makeEvent(time, kMusicEventType_ExtendedTempo, &record, sizeof record, sizeof record);
}

SequenceEvent makeMetaEvent(double time, uint8_t type, const uint8_t* bytes, uint32_t length) {
    SequenceEvent event;
    event.time = time;
    event.type = kMusicEventType_Meta;
    event.size = 8 + length;
    event.data.assign(size_t(8) + std::max<uint32_t>(length, 1), 0);
    event.data[0] = type;
    std::memcpy(event.data.data() + 4, &length, 4);
    if (length) std::memcpy(event.data.data() + 8, bytes, length);
    return event;
}

SequenceEvent makeNoteEvent(double time, const MIDINoteMessage& message) {
    return makeEvent(time, kMusicEventType_MIDINoteMessage, &message, sizeof message, sizeof message);
}

SequenceEvent makeChannelEvent(double time, const MIDIChannelMessage& message) {
    return makeEvent(time, kMusicEventType_MIDIChannelMessage, &message, sizeof message, sizeof message);
}

SequenceEvent makeRawEvent(double time, const uint8_t* bytes, uint32_t length) {
    SequenceEvent event;
    event.time = time;
    event.type = kMusicEventType_MIDIRawData;
    event.size = 4 + length;
    event.data.assign(size_t(4) + std::max<uint32_t>(length, 1), 0);
    std::memcpy(event.data.data(), &length, 4);
    if (length) std::memcpy(event.data.data() + 4, bytes, length);
    return event;
}

TempoMap TempoMap::of(const SequenceData& sequence) {
    TempoMap map;
    map.steps.push_back({0, 120, 0});
    if (sequence.tempoTrack) {
        for (const auto& event : sequence.tempoTrack->events) {
            if (event.type != kMusicEventType_ExtendedTempo) continue;
            double bpm;
            std::memcpy(&bpm, event.data.data(), sizeof bpm);
            if (!(bpm > 0) || !std::isfinite(bpm)) continue;
            const double beat = std::max(0.0, event.time);
            Step& last = map.steps.back();
            if (beat <= last.beat) {
                last.bpm = bpm;
            } else {
                const double seconds = last.seconds + (beat - last.beat) * 60.0 / last.bpm;
                map.steps.push_back({beat, bpm, seconds});
            }
        }
    }
    return map;
}

double TempoMap::secondsForBeats(double beats) const {
    if (beats <= 0) return beats * 60.0 / steps.front().bpm;
    auto it = std::upper_bound(steps.begin(), steps.end(), beats, [](double b, const Step& s) { return b < s.beat; });
    const Step& step = *std::prev(it);
    return step.seconds + (beats - step.beat) * 60.0 / step.bpm;
}

double TempoMap::beatsForSeconds(double seconds) const {
    if (seconds <= 0) return seconds * steps.front().bpm / 60.0;
    auto it = std::upper_bound(steps.begin(), steps.end(), seconds,
                               [](double s, const Step& step) { return s < step.seconds; });
    const Step& step = *std::prev(it);
    return step.beat + (seconds - step.seconds) * step.bpm / 60.0;
}

double SequenceData::secondsForBeats(double beats) const { return TempoMap::of(*this).secondsForBeats(beats); }
double SequenceData::beatsForSeconds(double seconds) const { return TempoMap::of(*this).beatsForSeconds(seconds); }

namespace {

std::unique_ptr<TrackData> newTrackData(SequenceData& sequence, bool tempo) {
    auto track = std::make_unique<TrackData>();
    track->handle = newHandle();
    track->sequence = sequence.handle;
    track->isTempoTrack = tempo;
    registry().tracks[track->handle] = track.get();
    return track;
}

void forgetTrack(const TrackData& track) {
    registry().tracks.erase(track.handle);
    for (auto it = registry().iterators.begin(); it != registry().iterators.end();)
        it = it->second.track == track.handle ? registry().iterators.erase(it) : std::next(it);
}

}  // namespace

TrackData* addTrack(SequenceData& sequence) {
    sequence.tracks.push_back(newTrackData(sequence, false));
    return sequence.tracks.back().get();
}

}  // namespace detail

using namespace detail;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// The record size for a new event of `type`, checked against what the caller hands over.
OSStatus insertEvent(MusicTrack track, SequenceEvent event) {
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    if (!std::isfinite(event.time)) return kAudio_ParamError;
    if (event.type == kMusicEventType_ExtendedTempo && !data->isTempoTrack) return kAudioToolboxErr_InvalidEventType;
    data->insert(std::move(event));
    return 0;
}

}  // namespace

uint32_t MusicEventDataSize(MusicEventType type, const void* data) {
    switch (type) {
    case kMusicEventType_ExtendedTempo: return sizeof(ExtendedTempoEvent);
    case kMusicEventType_MIDINoteMessage: return sizeof(MIDINoteMessage);
    case kMusicEventType_MIDIChannelMessage: return sizeof(MIDIChannelMessage);
    case kMusicEventType_Meta: {
        if (!data) return 0;
        uint32_t length;
        std::memcpy(&length, static_cast<const uint8_t*>(data) + 4, 4);
        return 8 + length;
    }
    case kMusicEventType_MIDIRawData: {
        if (!data) return 0;
        uint32_t length;
        std::memcpy(&length, data, 4);
        return 4 + length;
    }
    default: return 0;
    }
}

OSStatus NewMusicSequence(MusicSequence* outSequence) {
    if (!outSequence) return kAudio_ParamError;
    Lock lock(sequenceLock());
    auto sequence = std::make_unique<SequenceData>();
    sequence->handle = newHandle();
    sequence->tempoTrack = [&] {
        auto track = std::make_unique<TrackData>();
        track->handle = newHandle();
        track->sequence = sequence->handle;
        track->isTempoTrack = true;
        registry().tracks[track->handle] = track.get();
        return track;
    }();
    *outSequence = reinterpret_cast<MusicSequence>(sequence->handle);
    registry().sequences[sequence->handle] = std::move(sequence);
    return 0;
}

OSStatus DisposeMusicSequence(MusicSequence sequence) {
    Lock lock(sequenceLock());
    auto it = registry().sequences.find(reinterpret_cast<uintptr_t>(sequence));
    if (it == registry().sequences.end()) return kAudioToolboxErr_NoSequence;
    SequenceData& data = *it->second;
    forgetTrack(*data.tempoTrack);
    for (const auto& track : data.tracks) forgetTrack(*track);
    registry().sequences.erase(it);
    return 0;
}

OSStatus MusicSequenceNewTrack(MusicSequence sequence, MusicTrack* outTrack) {
    if (!outTrack) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    *outTrack = trackHandle(*addTrack(*data));
    return 0;
}

OSStatus MusicSequenceDisposeTrack(MusicSequence sequence, MusicTrack track) {
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    auto it = std::find_if(data->tracks.begin(), data->tracks.end(),
                           [&](const auto& t) { return trackHandle(*t) == track; });
    if (it == data->tracks.end()) return kAudioToolboxErr_TrackNotFound;
    forgetTrack(**it);
    data->tracks.erase(it);
    return 0;
}

OSStatus MusicSequenceGetTrackCount(MusicSequence sequence, uint32_t* outNumberOfTracks) {
    if (!outNumberOfTracks) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    *outNumberOfTracks = uint32_t(data->tracks.size());
    return 0;
}

OSStatus MusicSequenceGetIndTrack(MusicSequence sequence, uint32_t trackIndex, MusicTrack* outTrack) {
    if (!outTrack) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    if (trackIndex >= data->tracks.size()) return kAudioToolboxErr_TrackIndexError;
    *outTrack = trackHandle(*data->tracks[trackIndex]);
    return 0;
}

OSStatus MusicSequenceGetTrackIndex(MusicSequence sequence, MusicTrack track, uint32_t* outTrackIndex) {
    if (!outTrackIndex) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    for (size_t i = 0; i < data->tracks.size(); ++i)
        if (trackHandle(*data->tracks[i]) == track) {
            *outTrackIndex = uint32_t(i);
            return 0;
        }
    return kAudioToolboxErr_TrackNotFound;
}

OSStatus MusicSequenceGetTempoTrack(MusicSequence sequence, MusicTrack* outTrack) {
    if (!outTrack) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    *outTrack = trackHandle(*data->tempoTrack);
    return 0;
}

OSStatus MusicSequenceGetSecondsForBeats(MusicSequence sequence, MusicTimeStamp beats, double* outSeconds) {
    if (!outSeconds) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    *outSeconds = data->secondsForBeats(beats);
    return 0;
}

OSStatus MusicSequenceGetBeatsForSeconds(MusicSequence sequence, double seconds, MusicTimeStamp* outBeats) {
    if (!outBeats) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    *outBeats = data->beatsForSeconds(seconds);
    return 0;
}

OSStatus MusicTrackGetSequence(MusicTrack track, MusicSequence* outSequence) {
    if (!outSequence) return kAudio_ParamError;
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    *outSequence = reinterpret_cast<MusicSequence>(data->sequence);
    return 0;
}

OSStatus MusicSequenceFileLoad(MusicSequence sequence, const std::string& path, MusicSequenceFileTypeID fileType,
                               MusicSequenceLoadFlags flags) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return -43;  // fnfErr
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return MusicSequenceFileLoadData(sequence, bytes, fileType, flags);
}

OSStatus MusicSequenceFileLoadData(MusicSequence sequence, const uint8_t* bytes, size_t length,
                                   MusicSequenceFileTypeID fileType, MusicSequenceLoadFlags flags) {
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    if ((fileType != 0 && fileType != kMusicSequenceFile_MIDIType) || flags != 0)
        return kAudioToolboxErr_InvalidSequenceType;
    if (!bytes && length) return kAudio_ParamError;
    return loadStandardMIDIFile(*data, bytes, length);
}

OSStatus MusicSequenceFileLoadData(MusicSequence sequence, const std::vector<uint8_t>& data,
                                   MusicSequenceFileTypeID fileType, MusicSequenceLoadFlags flags) {
    return MusicSequenceFileLoadData(sequence, data.data(), data.size(), fileType, flags);
}

OSStatus MusicSequenceFileCreateData(MusicSequence sequence, MusicSequenceFileTypeID fileType,
                                     MusicSequenceFileFlags, int16_t resolution, std::vector<uint8_t>** outData) {
    if (!outData) return kAudio_ParamError;
    if (fileType != kMusicSequenceFile_MIDIType) return kAudioToolboxErr_InvalidSequenceType;
    if (resolution < 0) return kAudio_ParamError;
    Lock lock(sequenceLock());
    SequenceData* data = findSequence(sequence);
    if (!data) return kAudioToolboxErr_NoSequence;
    auto bytes = std::make_unique<std::vector<uint8_t>>();
    const OSStatus status = createStandardMIDIFile(*data, resolution ? uint16_t(resolution) : 480, *bytes);
    if (status) return status;
    *outData = bytes.release();
    return 0;
}

OSStatus MusicSequenceFileCreate(MusicSequence sequence, const std::string& path, MusicSequenceFileTypeID fileType,
                                 MusicSequenceFileFlags flags, int16_t resolution) {
    std::vector<uint8_t>* bytes = nullptr;
    const OSStatus status = MusicSequenceFileCreateData(sequence, fileType, flags, resolution, &bytes);
    if (status) return status;
    std::unique_ptr<std::vector<uint8_t>> owned(bytes);
    if (!(flags & kMusicSequenceFileFlags_EraseFile) && std::ifstream(path)) return -48;  // dupFNErr
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(owned->data()), std::streamsize(owned->size()));
    return out ? 0 : -36;  // ioErr
}

// --- Tracks ---

OSStatus MusicTrackGetProperty(MusicTrack track, uint32_t propertyID, void* outData, uint32_t* ioLength) {
    if (!outData) return kAudio_ParamError;
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    auto put = [&](const void* value, uint32_t size) {
        std::memcpy(outData, value, size);
        if (ioLength) *ioLength = size;
        return OSStatus(0);
    };
    switch (propertyID) {
    case kSequenceTrackProperty_LoopInfo: return put(&data->loop, sizeof data->loop);
    case kSequenceTrackProperty_MuteStatus: return put(&data->mute, 1);
    case kSequenceTrackProperty_SoloStatus: return put(&data->solo, 1);
    case kSequenceTrackProperty_TrackLength: {
        const double length = data->length();
        return put(&length, sizeof length);
    }
    case kSequenceTrackProperty_TimeResolution: {
        if (!data->isTempoTrack) return kAudio_ParamError;
        const SequenceData* sequence = sequenceOf(*data);
        const int16_t resolution = int16_t(sequence ? sequence->resolution : 480);
        uint32_t value = uint32_t(resolution);
        // Read as a 16-bit or a 32-bit value: the low bytes hold it either way.
        return put(&value, ioLength && *ioLength == 2 ? 2 : 4);
    }
    default: return kAudio_ParamError;
    }
}

OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, const void* inData, uint32_t inLength) {
    if (!inData) return kAudio_ParamError;
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    switch (propertyID) {
    case kSequenceTrackProperty_LoopInfo: {
        if (inLength != 0 && inLength < sizeof(MusicTrackLoopInfo)) return kAudio_ParamError;
        MusicTrackLoopInfo loop;
        std::memcpy(&loop, inData, sizeof loop);
        if (!std::isfinite(loop.loopDuration) || loop.loopDuration < 0)
            return kAudio_ParamError;
        data->loop = loop;
        break;
    }
    case kSequenceTrackProperty_MuteStatus:
        data->mute = *static_cast<const uint8_t*>(inData) != 0;
        break;
    case kSequenceTrackProperty_SoloStatus:
        data->solo = *static_cast<const uint8_t*>(inData) != 0;
        break;
    case kSequenceTrackProperty_TrackLength: {
        // The 64-bit length is taken whatever size is stated.
        double length;
        std::memcpy(&length, inData, sizeof length);
        if (!std::isfinite(length) || length < 0) return kAudio_ParamError;
        data->setLength = length;
        break;
    }
    case kSequenceTrackProperty_TimeResolution: return -10865;  // kAudioUnitErr_PropertyNotWritable
    default: return kAudio_ParamError;
    }
    data->changed();
    return 0;
}

OSStatus MusicTrackGetProperty(MusicTrack track, uint32_t propertyID, double* outValue) {
    uint32_t size = sizeof(double);
    return MusicTrackGetProperty(track, propertyID, static_cast<void*>(outValue), &size);
}

OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, double value) {
    return MusicTrackSetProperty(track, propertyID, static_cast<const void*>(&value), 0);
}

OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, const MusicTrackLoopInfo& loop) {
    return MusicTrackSetProperty(track, propertyID, static_cast<const void*>(&loop), sizeof loop);
}

OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, bool value) {
    const uint8_t byte = value ? 1 : 0;
    return MusicTrackSetProperty(track, propertyID, static_cast<const void*>(&byte), 1);
}

OSStatus MusicTrackNewExtendedTempoEvent(MusicTrack track, MusicTimeStamp time, double bpm) {
    if (!(bpm > 0) || !std::isfinite(bpm)) return kAudio_ParamError;
    return insertEvent(track, makeTempoEvent(time, bpm));
}

OSStatus MusicTrackNewMetaEvent(MusicTrack track, MusicTimeStamp time, const MIDIMetaEvent* event) {
    if (!event) return kAudio_ParamError;
    return insertEvent(track, makeMetaEvent(time, event->metaEventType, event->data, event->dataLength));
}

OSStatus MusicTrackNewMIDINoteEvent(MusicTrack track, MusicTimeStamp time, const MIDINoteMessage* message) {
    if (!message) return kAudio_ParamError;
    return insertEvent(track, makeNoteEvent(time, *message));
}

OSStatus MusicTrackNewMIDIChannelEvent(MusicTrack track, MusicTimeStamp time, const MIDIChannelMessage* message) {
    if (!message) return kAudio_ParamError;
    if (message->status < 0x80 || message->status >= 0xF0) return kAudioToolboxErr_InvalidEventType;
    return insertEvent(track, makeChannelEvent(time, *message));
}

OSStatus MusicTrackNewMIDIRawDataEvent(MusicTrack track, MusicTimeStamp time, const MIDIRawData* data) {
    if (!data) return kAudio_ParamError;
    return insertEvent(track, makeRawEvent(time, data->data, data->length));
}

OSStatus MusicTrackClear(MusicTrack track, MusicTimeStamp start, MusicTimeStamp end) {
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    if (std::isnan(start) || std::isnan(end)) return kAudio_ParamError;
    const auto before = data->events.size();
    std::erase_if(data->events, [&](const SequenceEvent& e) { return e.time >= start && e.time < end; });
    if (data->events.size() != before) data->changed();
    return 0;
}

namespace {

std::vector<SequenceEvent> copyRange(const TrackData& source, double start, double end, double at) {
    std::vector<SequenceEvent> copies;
    for (const auto& event : source.events)
        if (event.time >= start && event.time < end) {
            copies.push_back(event);
            copies.back().time = at + (event.time - start);
        }
    return copies;
}

OSStatus mergeOrInsert(MusicTrack source, MusicTimeStamp start, MusicTimeStamp end, MusicTrack destination,
                       MusicTimeStamp at, bool insert) {
    Lock lock(sequenceLock());
    TrackData* from = findTrack(source);
    TrackData* to = findTrack(destination);
    if (!from || !to) return kAudioToolboxErr_TrackNotFound;
    if (!std::isfinite(start) || !std::isfinite(end) || !std::isfinite(at)) return kAudio_ParamError;
    if (end < start) return kAudio_ParamError;
    auto copies = copyRange(*from, start, end, at);
    if (!to->isTempoTrack)
        std::erase_if(copies, [](const SequenceEvent& e) { return e.type == kMusicEventType_ExtendedTempo; });
    if (insert && end > start) {
        for (auto& event : to->events)
            if (event.time >= at) event.time += end - start;
        to->changed();
    }
    for (auto& event : copies) to->insert(std::move(event));
    return 0;
}

}  // namespace

OSStatus MusicTrackMerge(MusicTrack source, MusicTimeStamp start, MusicTimeStamp end, MusicTrack destination,
                         MusicTimeStamp at) {
    return mergeOrInsert(source, start, end, destination, at, false);
}

OSStatus MusicTrackCopyInsert(MusicTrack source, MusicTimeStamp start, MusicTimeStamp end, MusicTrack destination,
                              MusicTimeStamp at) {
    return mergeOrInsert(source, start, end, destination, at, true);
}

OSStatus MusicTrackSetDestMIDIEndpoint(MusicTrack track, MIDIEndpointRef endpoint) {
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    if (data->isTempoTrack) return kAudioToolboxErr_IllegalTrackDestination;
    data->destination = endpoint;
    return 0;
}

OSStatus MusicTrackGetDestMIDIEndpoint(MusicTrack track, MIDIEndpointRef* outEndpoint) {
    if (!outEndpoint) return kAudio_ParamError;
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    *outEndpoint = data->destination;
    return 0;
}

OSStatus MusicTrackSetDestNode(MusicTrack track, AUNode) {
    Lock lock(sequenceLock());
    if (!findTrack(track)) return kAudioToolboxErr_TrackNotFound;
    return kAudioToolboxErr_IllegalTrackDestination;
}

// --- Iterators ---

namespace {

// The iterator and its track, when both are current.
OSStatus iteratorAndTrack(MusicEventIterator iterator, IteratorData*& it, TrackData*& track) {
    it = findIterator(iterator);
    if (!it) return kAudioToolboxErr_InvalidEventIterator;
    track = findTrack(reinterpret_cast<MusicTrack>(it->track));
    if (!track) return kAudioToolboxErr_TrackNotFound;
    if (track->version != it->version) return kAudioToolboxErr_InvalidEventIterator;
    return 0;
}

}  // namespace

OSStatus NewMusicEventIterator(MusicTrack track, MusicEventIterator* outIterator) {
    if (!outIterator) return kAudio_ParamError;
    Lock lock(sequenceLock());
    TrackData* data = findTrack(track);
    if (!data) return kAudioToolboxErr_TrackNotFound;
    const uintptr_t handle = newHandle();
    registry().iterators[handle] = IteratorData{data->handle, 0, data->version};
    *outIterator = reinterpret_cast<MusicEventIterator>(handle);
    return 0;
}

OSStatus DisposeMusicEventIterator(MusicEventIterator iterator) {
    Lock lock(sequenceLock());
    return registry().iterators.erase(key(iterator)) ? 0 : kAudioToolboxErr_InvalidEventIterator;
}

OSStatus MusicEventIteratorSeek(MusicEventIterator iterator, MusicTimeStamp time) {
    Lock lock(sequenceLock());
    IteratorData* it = findIterator(iterator);
    if (!it) return kAudioToolboxErr_InvalidEventIterator;
    TrackData* track = findTrack(reinterpret_cast<MusicTrack>(it->track));
    if (!track) return kAudioToolboxErr_TrackNotFound;
    if (std::isnan(time)) return kAudio_ParamError;
    // Seeking places the iterator afresh, so it also brings it up to date with its track.
    it->version = track->version;
    it->index = size_t(std::lower_bound(track->events.begin(), track->events.end(), time,
                                        [](const SequenceEvent& e, double t) { return e.time < t; }) -
                       track->events.begin());
    return 0;
}

OSStatus MusicEventIteratorNextEvent(MusicEventIterator iterator) {
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    if (it->index >= track->events.size()) return kAudioToolboxErr_EndOfTrack;
    ++it->index;
    return 0;
}

OSStatus MusicEventIteratorPreviousEvent(MusicEventIterator iterator) {
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    if (it->index == 0) return kAudioToolboxErr_StartOfTrack;
    --it->index;
    return 0;
}

OSStatus MusicEventIteratorGetEventInfo(MusicEventIterator iterator, MusicTimeStamp* outTimeStamp,
                                        MusicEventType* outEventType, const void** outEventData,
                                        uint32_t* outEventDataSize) {
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    if (it->index >= track->events.size()) return kAudioToolboxErr_EndOfTrack;
    const SequenceEvent& event = track->events[it->index];
    if (outTimeStamp) *outTimeStamp = event.time;
    if (outEventType) *outEventType = event.type;
    if (outEventData) *outEventData = event.data.data();
    if (outEventDataSize) *outEventDataSize = event.size;
    return 0;
}

OSStatus MusicEventIteratorSetEventInfo(MusicEventIterator iterator, MusicEventType type, const void* eventData) {
    if (!eventData) return kAudio_ParamError;
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    if (it->index >= track->events.size()) return kAudioToolboxErr_EndOfTrack;
    SequenceEvent& event = track->events[it->index];
    const double time = event.time;
    switch (type) {
    case kMusicEventType_ExtendedTempo:
        if (!track->isTempoTrack) return kAudioToolboxErr_InvalidEventType;
        event = makeTempoEvent(time, static_cast<const ExtendedTempoEvent*>(eventData)->bpm);
        break;
    case kMusicEventType_MIDINoteMessage:
        event = makeNoteEvent(time, *static_cast<const MIDINoteMessage*>(eventData));
        break;
    case kMusicEventType_MIDIChannelMessage:
        event = makeChannelEvent(time, *static_cast<const MIDIChannelMessage*>(eventData));
        break;
    case kMusicEventType_Meta: {
        const auto* meta = static_cast<const MIDIMetaEvent*>(eventData);
        event = makeMetaEvent(time, meta->metaEventType, meta->data, meta->dataLength);
        break;
    }
    case kMusicEventType_MIDIRawData: {
        const auto* raw = static_cast<const MIDIRawData*>(eventData);
        event = makeRawEvent(time, raw->data, raw->length);
        break;
    }
    default: return kAudioToolboxErr_InvalidEventType;
    }
    track->changed();
    it->version = track->version;
    return 0;
}

OSStatus MusicEventIteratorSetEventTime(MusicEventIterator iterator, MusicTimeStamp time) {
    if (!std::isfinite(time)) return kAudio_ParamError;
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    if (it->index >= track->events.size()) return kAudioToolboxErr_EndOfTrack;
    SequenceEvent event = std::move(track->events[it->index]);
    track->events.erase(track->events.begin() + std::ptrdiff_t(it->index));
    event.time = time;
    auto at = std::upper_bound(track->events.begin(), track->events.end(), time,
                               [](double t, const SequenceEvent& e) { return t < e.time; });
    it->index = size_t(track->events.insert(at, std::move(event)) - track->events.begin());
    track->changed();
    it->version = track->version;
    return 0;
}

OSStatus MusicEventIteratorDeleteEvent(MusicEventIterator iterator) {
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    if (it->index >= track->events.size()) return kAudioToolboxErr_EndOfTrack;
    track->events.erase(track->events.begin() + std::ptrdiff_t(it->index));
    track->changed();
    it->version = track->version;
    return 0;
}

OSStatus MusicEventIteratorHasPreviousEvent(MusicEventIterator iterator, bool* outHasPrevEvent) {
    if (!outHasPrevEvent) return kAudio_ParamError;
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    *outHasPrevEvent = it->index > 0 && !track->events.empty();
    return 0;
}

OSStatus MusicEventIteratorHasNextEvent(MusicEventIterator iterator, bool* outHasNextEvent) {
    if (!outHasNextEvent) return kAudio_ParamError;
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    *outHasNextEvent = it->index + 1 < track->events.size();
    return 0;
}

OSStatus MusicEventIteratorHasCurrentEvent(MusicEventIterator iterator, bool* outHasCurEvent) {
    if (!outHasCurEvent) return kAudio_ParamError;
    Lock lock(sequenceLock());
    IteratorData* it;
    TrackData* track;
    if (OSStatus status = iteratorAndTrack(iterator, it, track)) return status;
    *outHasCurEvent = it->index < track->events.size();
    return 0;
}

// --- CAShow ---

namespace {

void describeTrack(std::ostream& out, const TrackData& track, const char* name) {
    out << "  " << name << " length " << track.length() << " events " << track.events.size();
    if (track.loop.loopDuration > 0) out << " loop " << track.loop.loopDuration << " x" << track.loop.numberOfLoops;
    if (track.mute) out << " muted";
    if (track.solo) out << " solo";
    if (track.destination) out << " dest " << track.destination;
    out << "\n";
    for (const auto& event : track.events) {
        out << "    " << event.time << " type " << event.type << ":";
        char hex[4];
        for (uint32_t i = 0; i < event.size && i < 24; ++i) {
            std::snprintf(hex, sizeof hex, " %02X", event.data[i]);
            out << hex;
        }
        out << "\n";
    }
}

}  // namespace

std::string CAShowText(void* object) {
    Lock lock(sequenceLock());
    std::ostringstream out;
    const auto handle = reinterpret_cast<uintptr_t>(object);
    if (SequenceData* sequence = findSequence(reinterpret_cast<MusicSequence>(handle))) {
        out << "MusicSequence resolution " << sequence->resolution << " tracks " << sequence->tracks.size() << "\n";
        describeTrack(out, *sequence->tempoTrack, "tempo track");
        for (size_t i = 0; i < sequence->tracks.size(); ++i)
            describeTrack(out, *sequence->tracks[i], ("track " + std::to_string(i)).c_str());
    } else if (TrackData* track = findTrack(reinterpret_cast<MusicTrack>(handle))) {
        describeTrack(out, *track, track->isTempoTrack ? "tempo track" : "track");
    } else {
        out << "unknown object\n";
    }
    return out.str();
}

OSStatus CAShow(void* object) {
    const std::string text = CAShowText(object);
    std::fputs(text.c_str(), stderr);
    return text == "unknown object\n" ? kAudio_ParamError : 0;
}

}  // namespace platform
