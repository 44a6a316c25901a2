// A platform music sequence and its player: loads MIDI files, keeps one MusicTrackManager per
// track, sets lengths and loops, plays, converts beats and seconds, handles the tempo track and
// writes the sequence back out as Standard MIDI File bytes.
#pragma once

#include "Sonora/Sequencing/AppleSequencer/MusicTrackManager.h"
#include "Sonora/Sequencing/Duration.h"
#include "platform/audiotoolbox/MusicPlayer.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sonora {

class AppleSequencer : public std::enable_shared_from_this<AppleSequencer> {
public:
    std::optional<platform::MusicSequence> sequence;
    std::optional<void*> sequencePointer;
    std::vector<std::shared_ptr<MusicTrackManager>> tracks;
    std::optional<platform::MusicPlayer> musicPlayer;

    AppleSequencer();
    virtual ~AppleSequencer();
    AppleSequencer(const AppleSequencer&) = delete;
    AppleSequencer& operator=(const AppleSequencer&) = delete;

    // init(filename:), init(fromURL:), init(fromData:).
    static std::shared_ptr<AppleSequencer> withFilename(const std::string& filename);
    static std::shared_ptr<AppleSequencer> fromURL(const std::filesystem::path& fileURL);
    static std::shared_ptr<AppleSequencer> fromData(const std::vector<uint8_t>& data);

    bool loopEnabled() const { return loopEnabled_; }

    virtual void preroll();
    virtual void toggleLoop();
    virtual void enableLooping();
    virtual void enableLooping(const Duration& loopLength);
    // Counts beyond the signed 32-bit range are saturated.
    virtual void enableLooping(const Duration& loopLength, int64_t numberOfLoops);
    virtual void disableLooping();
    virtual void setLength(const Duration& length);
    virtual Duration length() const;
    virtual void setRate(double rate);
    virtual double rate() const;

    // The tempo track.
    virtual void setTempo(double bpm);
    virtual double tempo() const;
    virtual void addTempoEventAt(double tempo, const Duration& position);
    virtual std::vector<std::pair<double, double>> allTempoEvents() const;
    virtual double getTempo(double at) const;
    virtual void addTimeSignatureEvent(double at, TimeSignature timeSignature, uint8_t ticksPerMetronomeClick = 24,
                                       uint8_t thirtySecondNotesPerQuarter = 8, bool clearExistingEvents = true);
    virtual std::vector<std::pair<double, TimeSignature>> allTimeSignatureEvents() const;
    virtual TimeSignature getTimeSignature(double at) const;
    virtual uint32_t timeResolution() const;
    // The handler that deletes tempo events during a walk.
    static void deleteTempoEvent(platform::MusicEventIterator iterator, platform::MusicTimeStamp time,
                                 platform::MusicEventType type, const void* data, uint32_t size,
                                 bool& isReadyForNextEvent);

    virtual Duration duration(double seconds) const;
    virtual double seconds(const Duration& duration) const;
    virtual void play();
    virtual void stop();
    virtual void rewind();
    virtual bool isPlaying() const;
    virtual Duration currentPosition() const;
    virtual Duration currentRelativePosition() const;
    virtual int trackCount() const;

    virtual void loadMIDIFile(const std::string& filename);
    virtual void loadMIDIFile(const std::filesystem::path& fromURL);
    virtual void loadMIDIFile(const std::vector<uint8_t>& fromData);
    virtual void addMIDIFileTracks(const std::string& filename, bool useExistingSequencerLength = true);
    virtual void addMIDIFileTracks(const std::filesystem::path& fileURL, bool useExistingSequencerLength = true);
    virtual void addMusicTrackNoteData(const AppleSequencer& from, bool useExistingSequencerLength = true);
    virtual void initTracks();
    virtual void removeTracks();
    virtual std::shared_ptr<MusicTrackManager> newTrack(const std::string& name = "Unnamed");
    virtual void deleteTrack(int trackIndex);
    virtual void clearRange(const Duration& start, const Duration& duration);
    virtual void setTime(double time);
    virtual std::optional<std::vector<uint8_t>> genData();
    virtual void debug();
    virtual void setGlobalMIDIOutput(platform::MIDIEndpointRef midiEndpoint);
    virtual Duration nearestQuantizedPosition(double quantizationInBeats) const;
    virtual Duration previousQuantizedPosition(double quantizationInBeats) const;
    virtual Duration nextQuantizedPosition(double quantizationInBeats) const;

private:
    std::optional<platform::MusicTrack> tempoTrack() const;
    void writeLoop(double duration, int32_t count);
    void loadTracks(const std::function<platform::OSStatus(platform::MusicSequence)>& load,
                    const std::function<void(platform::OSStatus)>& report);

    bool loopEnabled_ = false;
};

}  // namespace sonora
