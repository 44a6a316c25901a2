// One track of a platform music sequence, edited in place, beside an initial copy of its content
// kept in a sequencer of its own so that it can be reset to it.
#pragma once

#include "Sonora/Sequencing/AppleSequencer/AppleMIDIEvent.h"
#include "Sonora/Sequencing/AppleSequencer/MIDINoteData.h"
#include "Sonora/Sequencing/AppleSequencer/MIDIProgramChangeEvent.h"
#include "Sonora/Sequencing/Duration.h"
#include "platform/audiotoolbox/MusicSequence.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonora {

class AppleSequencer;

// A handler of iterateMusicTrack: (iterator, time, type, data, size, isReadyForNextEvent).
using MusicTrackEventHandler = std::function<void(platform::MusicEventIterator, platform::MusicTimeStamp,
                                                  platform::MusicEventType, const void*, uint32_t, bool&)>;

// Runs the handler over every event of the track; a handler that deletes the current event sets
// the flag to false so that the walk does not step over the event that moved under the iterator.
void iterateMusicTrack(platform::MusicTrack track, const MusicTrackEventHandler& midiEventHandler);

// A handler that deletes every event of `type` whose first data byte is `firstByte`.
MusicTrackEventHandler deleteEventsHandler(platform::MusicEventType type, uint8_t firstByte);

// A meta-event block of `type` holding `data`; freed with freeMetaEvent.
platform::MIDIMetaEvent* makeMetaEvent(uint8_t type, const std::vector<uint8_t>& data);
void freeMetaEvent(platform::MIDIMetaEvent* event);

class MusicTrackManager {
public:
    std::optional<platform::MusicTrack> internalMusicTrack;
    std::optional<platform::MusicTrack> initMusicTrack;
    std::string name = "Unnamed";
    std::shared_ptr<AppleSequencer> sequencer;
    std::optional<platform::MusicTrack*> trackPointer;
    std::optional<platform::MusicTrack*> initTrackPointer;

    // init(name:): both tracks new in a private sequencer; the edited one named. Fails loudly
    // (std::logic_error) when that sequencer has no sequence.
    explicit MusicTrackManager(const std::string& name);
    // init(musicTrack:name:): names the given track and copies it into the initial track.
    MusicTrackManager(platform::MusicTrack musicTrack, const std::string& name);
    // init(musicTrack:sequencer:): the initial track lives in the given sequencer's sequence.
    MusicTrackManager(platform::MusicTrack musicTrack, std::shared_ptr<AppleSequencer> sequencer);
    virtual ~MusicTrackManager() = default;

    virtual bool isNotEmpty() const { return !isEmpty(); }
    virtual double length() const;
    virtual double initLength() const;

    virtual void initSequence();
    virtual void setDestinationNode(platform::AUNode node);
    // Counts beyond the signed 32-bit range are saturated.
    virtual void setLoopInfo(double duration, int64_t loopCount);
    virtual void setLength(const Duration& duration);
    virtual void setLengthProperty(double duration);
    virtual void clear();
    virtual void clearMetaEvents();
    virtual void clearSysExEvents();
    virtual void clearHelper(platform::MusicEventType eventType, const std::string& from);
    virtual void clearNote(uint8_t note);
    virtual bool isEmpty() const;
    virtual void clearRange(const Duration& start, const Duration& duration);
    virtual void add(uint8_t noteNumber, uint8_t velocity, const Duration& position, const Duration& duration,
                     uint8_t channel = 0);
    virtual void add(const MIDINoteData& midiNoteData);
    virtual void replaceMIDINoteData(const std::vector<MIDINoteData>& with);
    virtual void addController(uint8_t controller, uint8_t value, const Duration& position, uint8_t channel = 0);
    virtual void addAftertouch(uint8_t noteNumber, uint8_t pressure, const Duration& position, uint8_t channel = 0);
    virtual void addChannelAftertouch(uint8_t pressure, const Duration& position, uint8_t channel = 0);
    virtual void addSysEx(const std::vector<uint8_t>& data, const Duration& position);
    virtual void addPitchBend(int64_t value, const Duration& position, uint8_t channel = 0);
    virtual void resetPitchBend(const Duration& position, uint8_t channel = 0);
    virtual std::vector<MIDINoteData> getMIDINoteData();
    virtual void copyAndMergeTo(MusicTrackManager& musicTrack);
    virtual std::shared_ptr<MusicTrackManager> makeCopy();
    virtual void resetToInit();
    virtual void setDestinationMIDIEndpoint(platform::MIDIEndpointRef endpoint);

    // The event listing: each record owns a copy of the event's bytes.
    std::optional<std::vector<AppleMIDIEvent>> getRawEventData(std::optional<uint32_t> ofType = std::nullopt) const;
    std::optional<std::vector<AppleMIDIEvent>> eventData() const { return getRawEventData(); }
    std::optional<std::vector<AppleMIDIEvent>> noteData() const {
        return getRawEventData(platform::kMusicEventType_MIDINoteMessage);
    }
    std::vector<MIDIProgramChangeEvent> programChangeEvents() const;
    // One log line per event.
    void debug() const;
    // The lines debug() writes, without the log's decoration.
    std::vector<std::string> debugLines() const;

private:
    void nameTrack(platform::MusicTrack track);
    void addChannelMessage(uint8_t status, uint8_t data1, uint8_t data2, const Duration& position);
};

}  // namespace sonora
