#include "Sonora/Sequencing/AppleSequencer/MusicTrackManager.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/MIDI/MIDIStatus.h"
#include "Sonora/Sequencing/AppleSequencer/AppleSequencer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace sonora {

using namespace platform;

void iterateMusicTrack(MusicTrack track, const MusicTrackEventHandler& midiEventHandler) {
    MusicEventIterator iterator = nullptr;
    NewMusicEventIterator(track, &iterator);
    if (!iterator) {
        Log({"Unable to create iterator"});
        return;
    }
    MusicTimeStamp time = 0;
    MusicEventType type = 0;
    const void* data = nullptr;
    uint32_t size = 0;
    bool isReadyForNextEvent = true;
    bool hasCurrent = false;
    MusicEventIteratorHasCurrentEvent(iterator, &hasCurrent);
    while (hasCurrent) {
        MusicEventIteratorGetEventInfo(iterator, &time, &type, &data, &size);
        midiEventHandler(iterator, time, type, data, size, isReadyForNextEvent);
        if (isReadyForNextEvent) MusicEventIteratorNextEvent(iterator);
        // A stale iterator (its track changed behind it) answers with an error: the walk ends.
        if (MusicEventIteratorHasCurrentEvent(iterator, &hasCurrent) != 0) hasCurrent = false;
    }
    DisposeMusicEventIterator(iterator);
}

MusicTrackEventHandler deleteEventsHandler(MusicEventType eventType, uint8_t firstByte) {
    return [eventType, firstByte](MusicEventIterator iterator, MusicTimeStamp, MusicEventType type, const void* data,
                                  uint32_t, bool& isReadyForNextEvent) {
        isReadyForNextEvent = true;
        if (type == eventType && data && *static_cast<const uint8_t*>(data) == firstByte) {
            MusicEventIteratorDeleteEvent(iterator);
            isReadyForNextEvent = false;
        }
    };
}

MIDIMetaEvent* makeMetaEvent(uint8_t type, const std::vector<uint8_t>& data) {
    const size_t size = offsetof(MIDIMetaEvent, data) + std::max<size_t>(data.size(), 1);
    auto* event = static_cast<MIDIMetaEvent*>(std::calloc(1, size));
    if (!event) throw std::bad_alloc();
    event->metaEventType = type;
    event->dataLength = uint32_t(data.size());
    if (!data.empty()) std::memcpy(event->data, data.data(), data.size());
    return event;
}

void freeMetaEvent(MIDIMetaEvent* event) { std::free(event); }

namespace {

std::optional<MusicTrack*> pointerForm(MusicTrack track) { return reinterpret_cast<MusicTrack*>(track); }

double trackLength(const std::optional<MusicTrack>& track) {
    if (!track) return 0.0;
    double value = 0.0;
    uint32_t size = 0;
    MusicTrackGetProperty(*track, kSequenceTrackProperty_TrackLength, &value, &size);
    return value;
}

void logMissingTrack(std::source_location where = std::source_location::current()) {
    Log({"internalMusicTrack does not exist"}, OSLog::general(), OSLogType::info, where);
}

}  // namespace

MusicTrackManager::MusicTrackManager(const std::string& name)
    : name(name), sequencer(std::make_shared<AppleSequencer>()) {
    if (!sequencer->sequence)
        throw std::logic_error("MusicTrackManager(name:) needs a sequence, and its sequencer could not make one");
    MusicTrack track = nullptr, initial = nullptr;
    MusicSequenceNewTrack(*sequencer->sequence, &track);
    MusicSequenceNewTrack(*sequencer->sequence, &initial);
    if (track) {
        internalMusicTrack = track;
        trackPointer = pointerForm(track);
    }
    if (initial) {
        initMusicTrack = initial;
        initTrackPointer = pointerForm(initial);
    }
    if (internalMusicTrack) nameTrack(*internalMusicTrack);
}

MusicTrackManager::MusicTrackManager(MusicTrack musicTrack, const std::string& name)
    : internalMusicTrack(musicTrack),
      name(name),
      sequencer(std::make_shared<AppleSequencer>()),
      trackPointer(pointerForm(musicTrack)) {
    nameTrack(musicTrack);
    initSequence();
}

MusicTrackManager::MusicTrackManager(MusicTrack musicTrack, std::shared_ptr<AppleSequencer> sequencer)
    : internalMusicTrack(musicTrack), sequencer(std::move(sequencer)), trackPointer(pointerForm(musicTrack)) {
    initSequence();
}

void MusicTrackManager::nameTrack(MusicTrack track) {
    MIDIMetaEvent* event = makeMetaEvent(3, std::vector<uint8_t>(name.begin(), name.end()));
    if (MusicTrackNewMetaEvent(track, 0.0, event) != 0) Log({"Unable to name Track"});
    freeMetaEvent(event);
}

double MusicTrackManager::length() const { return trackLength(internalMusicTrack); }
double MusicTrackManager::initLength() const { return trackLength(initMusicTrack); }

void MusicTrackManager::initSequence() {
    if (!sequencer || !sequencer->sequence) {
        Log({"Sequence is nil"});
        return;
    }
    MusicTrack initial = nullptr;
    MusicSequenceNewTrack(*sequencer->sequence, &initial);
    if (initial) initMusicTrack = initial;
    if (initMusicTrack && internalMusicTrack) {
        initTrackPointer = pointerForm(*initMusicTrack);
        MusicTrackMerge(*internalMusicTrack, 0.0, length(), *initMusicTrack, 0.0);
    }
}

void MusicTrackManager::setDestinationNode(AUNode node) {
    if (internalMusicTrack) MusicTrackSetDestNode(*internalMusicTrack, node);
}

void MusicTrackManager::setLoopInfo(double duration, int64_t loopCount) {
    if (!internalMusicTrack) return;
    const auto count = int32_t(std::clamp<int64_t>(loopCount, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
    MusicTrackSetProperty(*internalMusicTrack, kSequenceTrackProperty_LoopInfo, MusicTrackLoopInfo{duration, count});
}

void MusicTrackManager::setLengthProperty(double duration) {
    if (internalMusicTrack) MusicTrackSetProperty(*internalMusicTrack, kSequenceTrackProperty_TrackLength, duration);
}

void MusicTrackManager::setLength(const Duration& duration) {
    const double len = duration.beats;
    // The track is cleared and refilled below: a length that is no length would lose its events.
    if (!std::isfinite(len) || len < 0) {
        Log({"Invalid track length"});
        return;
    }
    MusicSequence temp = nullptr;
    NewMusicSequence(&temp);
    if (!temp) {
        Log({"Unable to create temp sequence in setLength"});
        return;
    }
    MusicTrack tempTrack = nullptr;
    MusicSequenceNewTrack(temp, &tempTrack);
    auto done = [&] {
        if (tempTrack) MusicSequenceDisposeTrack(temp, tempTrack);
        DisposeMusicSequence(temp);
    };
    if (!tempTrack || !internalMusicTrack) {
        logMissingTrack();
        done();
        return;
    }
    const MusicTrack track = *internalMusicTrack;
    MusicTrackSetProperty(track, kSequenceTrackProperty_TrackLength, len);
    if (!isNotEmpty()) {
        MusicTrackSetProperty(track, kSequenceTrackProperty_TrackLength, len);
        done();
        return;
    }
    MusicTrackCopyInsert(track, 0.0, len, tempTrack, 0.0);
    clearMetaEvents();
    if (internalMusicTrack && isNotEmpty()) MusicTrackClear(track, 0.0, length());
    MusicTrackSetProperty(track, kSequenceTrackProperty_TrackLength, len);
    MusicTrackCopyInsert(tempTrack, 0.0, len, track, 0.0);

    iterateMusicTrack(track, [len](MusicEventIterator iterator, MusicTimeStamp time, MusicEventType type,
                                   const void* data, uint32_t, bool&) {
        if (type != kMusicEventType_MIDINoteMessage) return;
        if (!data) {
            Log({"Problem with raw midi note message"});
            return;
        }
        MIDINoteMessage note;
        std::memcpy(&note, data, sizeof note);
        if (time + double(note.duration) > len) {
            const MIDINoteMessage trimmed{note.channel, note.note, note.velocity, 0, float(len - time)};
            MusicEventIteratorSetEventInfo(iterator, kMusicEventType_MIDINoteMessage, &trimmed);
        }
    });
    done();
}

void MusicTrackManager::clearHelper(MusicEventType eventType, const std::string& from) {
    if (!internalMusicTrack) {
        logMissingTrack();
        return;
    }
    MusicEventIterator iterator = nullptr;
    NewMusicEventIterator(*internalMusicTrack, &iterator);
    if (!iterator) {
        Log({"Unable to create iterator in " + from});
        return;
    }
    bool hasCurrent = false;
    MusicEventIteratorHasCurrentEvent(iterator, &hasCurrent);
    while (hasCurrent) {
        MusicEventType type = 0;
        MusicEventIteratorGetEventInfo(iterator, nullptr, &type, nullptr, nullptr);
        if (type == eventType)
            MusicEventIteratorDeleteEvent(iterator);
        else
            MusicEventIteratorNextEvent(iterator);
        if (MusicEventIteratorHasCurrentEvent(iterator, &hasCurrent) != 0) hasCurrent = false;
    }
    DisposeMusicEventIterator(iterator);
}

void MusicTrackManager::clearMetaEvents() { clearHelper(kMusicEventType_Meta, "clearMetaEvents"); }
void MusicTrackManager::clearSysExEvents() { clearHelper(kMusicEventType_MIDIRawData, "clearSysExEvents"); }

void MusicTrackManager::clearNote(uint8_t note) {
    if (!internalMusicTrack) {
        logMissingTrack();
        return;
    }
    MusicEventIterator iterator = nullptr;
    NewMusicEventIterator(*internalMusicTrack, &iterator);
    if (!iterator) {
        Log({"Unable to create iterator in clearNote"});
        return;
    }
    bool hasCurrent = false;
    MusicEventIteratorHasCurrentEvent(iterator, &hasCurrent);
    while (hasCurrent) {
        MusicEventType type = 0;
        const void* data = nullptr;
        MusicEventIteratorGetEventInfo(iterator, nullptr, &type, &data, nullptr);
        if (type == kMusicEventType_MIDINoteMessage && data && static_cast<const uint8_t*>(data)[1] == note)
            MusicEventIteratorDeleteEvent(iterator);
        else
            MusicEventIteratorNextEvent(iterator);
        if (MusicEventIteratorHasCurrentEvent(iterator, &hasCurrent) != 0) hasCurrent = false;
    }
    DisposeMusicEventIterator(iterator);
}

void MusicTrackManager::clear() {
    clearMetaEvents();
    if (internalMusicTrack && isNotEmpty()) MusicTrackClear(*internalMusicTrack, 0.0, length());
}

bool MusicTrackManager::isEmpty() const {
    if (!internalMusicTrack) {
        logMissingTrack();
        return true;
    }
    MusicEventIterator iterator = nullptr;
    NewMusicEventIterator(*internalMusicTrack, &iterator);
    if (!iterator) {
        Log({"Unable to create iterator in isEmpty"});
        return true;
    }
    bool hasCurrent = false;
    MusicEventIteratorHasCurrentEvent(iterator, &hasCurrent);
    DisposeMusicEventIterator(iterator);
    return !hasCurrent;
}

void MusicTrackManager::clearRange(const Duration& start, const Duration& duration) {
    if (!internalMusicTrack) {
        logMissingTrack();
        return;
    }
    if (isEmpty()) return;
    MusicTrackClear(*internalMusicTrack, start.beats, start.beats + duration.beats);
}

void MusicTrackManager::add(uint8_t noteNumber, uint8_t velocity, const Duration& position, const Duration& duration,
                            uint8_t channel) {
    if (!internalMusicTrack) {
        logMissingTrack();
        return;
    }
    const MIDINoteMessage message{channel, noteNumber, velocity, 0, float(duration.beats)};
    MusicTrackNewMIDINoteEvent(*internalMusicTrack, position.beats, &message);
}

void MusicTrackManager::add(const MIDINoteData& midiNoteData) {
    add(midiNoteData.noteNumber, midiNoteData.velocity, midiNoteData.position, midiNoteData.duration,
        midiNoteData.channel);
}

void MusicTrackManager::replaceMIDINoteData(const std::vector<MIDINoteData>& with) {
    clearRange(Duration(0), Duration(length()));
    for (const auto& note : with) add(note);
}

void MusicTrackManager::addChannelMessage(uint8_t status, uint8_t data1, uint8_t data2, const Duration& position) {
    const MIDIChannelMessage message{status, data1, data2, 0};
    MusicTrackNewMIDIChannelEvent(*internalMusicTrack, position.beats, &message);
}

void MusicTrackManager::addController(uint8_t controller, uint8_t value, const Duration& position, uint8_t channel) {
    if (!internalMusicTrack) return logMissingTrack();
    addChannelMessage(uint8_t(0xB0 | (channel & 0x0F)), controller, value, position);
}

void MusicTrackManager::addAftertouch(uint8_t noteNumber, uint8_t pressure, const Duration& position,
                                      uint8_t channel) {
    if (!internalMusicTrack) return logMissingTrack();
    addChannelMessage(uint8_t(0xA0 | (channel & 0x0F)), noteNumber, pressure, position);
}

void MusicTrackManager::addChannelAftertouch(uint8_t pressure, const Duration& position, uint8_t channel) {
    if (!internalMusicTrack) return logMissingTrack();
    addChannelMessage(uint8_t(0xD0 | (channel & 0x0F)), pressure, 0, position);
}

void MusicTrackManager::addPitchBend(int64_t value, const Duration& position, uint8_t channel) {
    if (!internalMusicTrack) return logMissingTrack();
    addChannelMessage(uint8_t(0xE0 | (channel & 0x0F)), uint8_t(value & 0x7F),
                      uint8_t((uint64_t(value) >> 7) & 0x7F), position);
}

void MusicTrackManager::resetPitchBend(const Duration& position, uint8_t channel) {
    addPitchBend(8192, position, channel);
}

void MusicTrackManager::addSysEx(const std::vector<uint8_t>& data, const Duration& position) {
    if (!internalMusicTrack) return logMissingTrack();
    if (data.size() > std::numeric_limits<uint32_t>::max()) {
        Log({"Unable to insert raw midi data"});
        return;
    }
    std::vector<uint8_t> record(offsetof(MIDIRawData, data) + std::max<size_t>(data.size(), 1));
    const auto length = uint32_t(data.size());
    std::memcpy(record.data(), &length, 4);
    if (!data.empty()) std::memcpy(record.data() + 4, data.data(), data.size());
    if (MusicTrackNewMIDIRawDataEvent(*internalMusicTrack, position.beats,
                                      reinterpret_cast<const MIDIRawData*>(record.data())) != 0)
        Log({"Unable to insert raw midi data"});
}

std::vector<MIDINoteData> MusicTrackManager::getMIDINoteData() {
    std::vector<MIDINoteData> notes;
    if (!internalMusicTrack) {
        logMissingTrack();
        return notes;
    }
    iterateMusicTrack(*internalMusicTrack, [&](MusicEventIterator, MusicTimeStamp time, MusicEventType type,
                                               const void* data, uint32_t, bool&) {
        if (type != kMusicEventType_MIDINoteMessage) return;
        if (!data) {
            Log({"Problem with raw midi note message"});
            return;
        }
        MIDINoteMessage message;
        std::memcpy(&message, data, sizeof message);
        notes.push_back(MIDINoteData{message.note, message.velocity, message.channel,
                                     Duration(double(message.duration)), Duration(time)});
    });
    return notes;
}

void MusicTrackManager::copyAndMergeTo(MusicTrackManager& musicTrack) {
    if (internalMusicTrack && musicTrack.internalMusicTrack)
        MusicTrackMerge(*internalMusicTrack, 0.0, length(), *musicTrack.internalMusicTrack, 0.0);
    else
        logMissingTrack();
}

std::shared_ptr<MusicTrackManager> MusicTrackManager::makeCopy() {
    auto copy = std::make_shared<MusicTrackManager>("Unnamed");
    if (!internalMusicTrack || !copy->internalMusicTrack) return nullptr;
    MusicTrackMerge(*internalMusicTrack, 0.0, length(), *copy->internalMusicTrack, 0.0);
    return copy;
}

void MusicTrackManager::resetToInit() {
    const double saved = initLength();
    clear();
    if (!internalMusicTrack || !initMusicTrack) return;
    setLength(Duration(initLength()));
    MusicTrackSetProperty(*initMusicTrack, kSequenceTrackProperty_TrackLength, saved);
    MusicTrackMerge(*initMusicTrack, 0.0, length(), *internalMusicTrack, 0.0);
}

void MusicTrackManager::setDestinationMIDIEndpoint(MIDIEndpointRef endpoint) {
    if (internalMusicTrack) MusicTrackSetDestMIDIEndpoint(*internalMusicTrack, endpoint);
}

// --- Event listing ---

std::optional<std::vector<AppleMIDIEvent>> MusicTrackManager::getRawEventData(std::optional<uint32_t> ofType) const {
    if (!internalMusicTrack) {
        Log({"debug failed - track doesn't exist"});
        return std::nullopt;
    }
    std::vector<AppleMIDIEvent> events;
    iterateMusicTrack(*internalMusicTrack, [&](MusicEventIterator, MusicTimeStamp time, MusicEventType type,
                                               const void* data, uint32_t size, bool&) {
        if ((ofType && type != *ofType) || !data) return;
        const auto* bytes = static_cast<const uint8_t*>(data);
        events.push_back(AppleMIDIEvent{time, type, std::vector<uint8_t>(bytes, bytes + size), size});
    });
    return events;
}

std::vector<MIDIProgramChangeEvent> MusicTrackManager::programChangeEvents() const {
    std::vector<MIDIProgramChangeEvent> result;
    const auto events = eventData();
    if (!events) return result;
    for (const auto& event : *events) {
        if (event.type != kMusicEventType_MIDIChannelMessage || event.data.size() < 2) continue;
        if ((event.data[0] & 0xF0) == 0xC0)
            result.push_back({event.time, uint8_t(event.data[0] & 0x0F), event.data[1]});
    }
    return result;
}

namespace {

std::string statusCaseName(uint8_t status) {
    switch (MIDIStatusTypeFromByte(status).value_or(MIDIStatusType::programChange)) {
    case MIDIStatusType::noteOff: return "noteOff";
    case MIDIStatusType::noteOn: return "noteOn";
    case MIDIStatusType::polyphonicAftertouch: return "polyphonicAftertouch";
    case MIDIStatusType::controllerChange: return "controllerChange";
    case MIDIStatusType::programChange: return "programChange";
    case MIDIStatusType::channelAftertouch: return "channelAftertouch";
    case MIDIStatusType::pitchWheel: return "pitchWheel";
    }
    return "";
}

std::string text(double value) { return LogItem(value).text(); }
std::string text(float value) { return LogItem(value).text(); }
std::string text(uint32_t value) { return std::to_string(value); }

}  // namespace

std::vector<std::string> MusicTrackManager::debugLines() const {
    std::vector<std::string> lines;
    const auto events = eventData();
    if (!events) return lines;
    for (const auto& event : *events) {
        const auto& d = event.data;
        switch (event.type) {
        case kMusicEventType_MIDINoteMessage: {
            if (d.size() < sizeof(MIDINoteMessage)) break;
            MIDINoteMessage note;
            std::memcpy(&note, d.data(), sizeof note);
            lines.push_back("MIDI Note @:" + text(event.time) + " note:" + text(uint32_t(note.note)) +
                            " velocity:" + text(uint32_t(note.velocity)) + " duration:" + text(note.duration) +
                            " channel:" + text(uint32_t(note.channel)));
            break;
        }
        case kMusicEventType_Meta: {
            if (d.size() < 8) break;
            uint32_t length;
            std::memcpy(&length, d.data() + 4, 4);
            // An empty block has no first byte to show.
            const uint32_t first = length > 0 && d.size() > 8 ? d[8] : 0;
            lines.push_back("MIDI Meta @ " + text(event.time) + " - size: " + text(length) +
                            " - type: " + text(uint32_t(d[0])) + " - data: " + text(first));
            break;
        }
        case kMusicEventType_MIDIChannelMessage: {
            if (d.size() < 3) break;
            const uint8_t status = d[0];
            if (status >= 0xC0 && status <= 0xCF)
                lines.push_back("MIDI Program Change @ " + text(event.time) + " - program: " + text(uint32_t(d[1])) +
                                " - channel: " + text(uint32_t(status & 0x0F)));
            else if (status >= 0x80 && status < 0xF0)
                lines.push_back("MIDI Channel Message @" + text(event.time) + " data1:" + text(uint32_t(d[1])) +
                                " data2:" + text(uint32_t(d[2])) + " status:" + statusCaseName(status));
            break;
        }
        default: lines.push_back("MIDI Event @ " + text(event.time)); break;
        }
    }
    return lines;
}

void MusicTrackManager::debug() const {
    for (const auto& line : debugLines()) Log({line});
}

}  // namespace sonora
