// The engine's sequencer: plays a music sequence's tracks into audio units of an engine (or out to
// MIDI endpoints). Driven by the render clock: before each render cycle of a destination unit, the
// cycle's events go to the unit's MIDI block at their sample offsets, so an offline render plays
// them exactly and the same way every time. Tracks sent to MIDI endpoints play on a music player's
// thread instead.
#pragma once

#include "platform/audiotoolbox/AVAudioUnit.h"
#include "platform/audiotoolbox/MusicPlayer.h"
#include "platform/audiotoolbox/MusicSequence.h"
#include "platform/foundation/NSError.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class AVAudioEngine;
class AVAudioSequencer;

using AVMusicTimeStamp = double;

struct AVBeatRange {
    AVMusicTimeStamp start = 0;
    AVMusicTimeStamp length = 0;
};

inline constexpr int AVMusicTrackLoopCountForever = -1;

enum AVMusicSequenceLoadOptions : uint32_t {
    AVMusicSequenceLoadSMF_PreserveTracks = 0,
    AVMusicSequenceLoadSMF_ChannelsToTracks = 1,
};

class AVMusicTrack {
public:
    AVMusicTrack(MusicTrack track, AVAudioSequencer* owner) : track_(track), owner_(owner) {}

    // The track's length property (beats).
    AVMusicTimeStamp lengthInBeats() const;
    void setLengthInBeats(AVMusicTimeStamp length);
    bool isLoopingEnabled() const { return loopingEnabled_; }
    void setLoopingEnabled(bool enabled) { loopingEnabled_ = enabled; }
    // The beats that repeat; a range of length 0 means the whole track.
    AVBeatRange loopRange() const { return loopRange_; }
    void setLoopRange(AVBeatRange range) { loopRange_ = range; }
    // How often the range repeats; AVMusicTrackLoopCountForever (the default) without end.
    int numberOfLoops() const { return numberOfLoops_; }
    void setNumberOfLoops(int loops) { numberOfLoops_ = loops; }
    bool isMuted() const;
    void setMuted(bool muted);
    bool isSoloed() const;
    void setSoloed(bool soloed);

    // Where the events go: an audio unit of the sequencer's engine or a MIDI endpoint, not both.
    // Neither set: the engine's first instrument unit.
    std::shared_ptr<AVAudioUnit> destinationAudioUnit() const { return destinationAudioUnit_; }
    void setDestinationAudioUnit(std::shared_ptr<AVAudioUnit> unit);
    MIDIEndpointRef destinationMIDIEndpoint() const { return destinationMIDIEndpoint_; }
    void setDestinationMIDIEndpoint(MIDIEndpointRef endpoint);

    MusicTrack musicTrack() const { return track_; }

private:
    MusicTrack track_;
    AVAudioSequencer* owner_;
    bool loopingEnabled_ = false;
    AVBeatRange loopRange_{};
    int numberOfLoops_ = AVMusicTrackLoopCountForever;
    std::shared_ptr<AVAudioUnit> destinationAudioUnit_;
    MIDIEndpointRef destinationMIDIEndpoint_ = 0;
};

class AVAudioSequencer {
public:
    explicit AVAudioSequencer(std::shared_ptr<AVAudioEngine> audioEngine);
    virtual ~AVAudioSequencer();
    AVAudioSequencer(const AVAudioSequencer&) = delete;
    AVAudioSequencer& operator=(const AVAudioSequencer&) = delete;

    // load(from:options:): replaces the tracks with the file's. Throws NSErrorException for a
    // file it cannot read, keeping the sequence it had.
    void load(const std::string& fileURL, AVMusicSequenceLoadOptions options = AVMusicSequenceLoadSMF_PreserveTracks);
    void load(const std::vector<uint8_t>& data, AVMusicSequenceLoadOptions options = AVMusicSequenceLoadSMF_PreserveTracks);

    // The tracks, the tempo track excluded.
    const std::vector<std::shared_ptr<AVMusicTrack>>& tracks() const { return tracks_; }
    // The longest track's length.
    AVMusicTimeStamp lengthInBeats() const;

    AVMusicTimeStamp currentPositionInBeats() const;
    void setCurrentPositionInBeats(AVMusicTimeStamp position);
    double seconds(AVMusicTimeStamp beats) const;
    AVMusicTimeStamp beats(double seconds) const;

    void prepareToPlay() {}
    // Throws NSErrorException unless the engine runs.
    void start();
    void stop();
    bool isPlaying() const { return playing_; }

    // Called on the render thread with each message as it is handed to a unit: the absolute
    // sample time of the unit's cycle plus the event's offset (tests and tools).
    using EventObserver = std::function<void(int64_t sampleTime, const uint8_t* bytes, size_t length)>;
    void setEventObserver(EventObserver observer) { eventObserver_ = std::move(observer); }

    MusicSequence musicSequence() const { return sequence_; }

private:
    friend class AVMusicTrack;
    struct RenderState;

    void rebuildTracks();
    std::shared_ptr<AVAudioUnit> defaultDestination() const;
    void stopPlaying(bool keepPosition);

    std::weak_ptr<AVAudioEngine> engine_;
    MusicSequence sequence_ = nullptr;
    std::vector<std::shared_ptr<AVMusicTrack>> tracks_;
    bool playing_ = false;
    double position_ = 0;
    EventObserver eventObserver_;
    // While playing: one render state per destination unit, and the player of endpoint tracks.
    std::vector<std::shared_ptr<RenderState>> renderStates_;
    MusicSequence endpointSequence_ = nullptr;
    MusicPlayer endpointPlayer_ = nullptr;
};

}  // namespace platform
