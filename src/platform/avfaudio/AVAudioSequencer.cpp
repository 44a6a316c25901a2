#include "platform/avfaudio/AVAudioSequencer.h"

#include "platform/audiotoolbox/detail/TrackSchedule.h"
#include "platform/avfaudio/AVAudioEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

namespace platform {

using namespace detail;

namespace {

NSError sequencerError(OSStatus status, const std::string& what) {
    return NSError{NSOSStatusErrorDomain, status, what};
}

constexpr size_t kPendingNoteOffs = 4096;

}  // namespace

// --- Tracks ---

AVMusicTimeStamp AVMusicTrack::lengthInBeats() const {
    double length = 0;
    MusicTrackGetProperty(track_, kSequenceTrackProperty_TrackLength, &length);
    return length;
}

void AVMusicTrack::setLengthInBeats(AVMusicTimeStamp length) {
    MusicTrackSetProperty(track_, kSequenceTrackProperty_TrackLength, length);
}

bool AVMusicTrack::isMuted() const {
    uint8_t value = 0;
    uint32_t size = 1;
    MusicTrackGetProperty(track_, kSequenceTrackProperty_MuteStatus, &value, &size);
    return value != 0;
}

void AVMusicTrack::setMuted(bool muted) { MusicTrackSetProperty(track_, kSequenceTrackProperty_MuteStatus, muted); }

bool AVMusicTrack::isSoloed() const {
    uint8_t value = 0;
    uint32_t size = 1;
    MusicTrackGetProperty(track_, kSequenceTrackProperty_SoloStatus, &value, &size);
    return value != 0;
}

void AVMusicTrack::setSoloed(bool soloed) { MusicTrackSetProperty(track_, kSequenceTrackProperty_SoloStatus, soloed); }

void AVMusicTrack::setDestinationAudioUnit(std::shared_ptr<AVAudioUnit> unit) {
    destinationAudioUnit_ = std::move(unit);
    if (destinationAudioUnit_) destinationMIDIEndpoint_ = 0;
}

void AVMusicTrack::setDestinationMIDIEndpoint(MIDIEndpointRef endpoint) {
    destinationMIDIEndpoint_ = endpoint;
    if (endpoint) destinationAudioUnit_.reset();
}

// --- What the render observer of one destination unit reads and keeps ---

struct AVAudioSequencer::RenderState {
    struct Track {
        std::vector<SequenceEvent> events;
        LoopRegion loop;
    };
    struct NoteOff {
        double beat;
        uint8_t bytes[3];
    };

    std::shared_ptr<AUAudioUnit> unit;
    AUScheduleMIDIEventBlock midi;
    NSInteger token = 0;
    double sampleRate = 44100;
    TempoMap map;
    std::vector<Track> tracks;
    double startSeconds = 0;
    const EventObserver* observer = nullptr;

    // Render thread only.
    bool started = false;
    double startSample = 0;
    double cursor = 0;
    bool inclusive = true;
    std::vector<NoteOff> noteOffs;  // capacity reserved: the render thread never grows it
    std::atomic<double> position{0};

    int64_t frameOf(double beat) const {
        return int64_t(std::llround((map.secondsForBeats(beat) - startSeconds) * sampleRate));
    }

    void send(int64_t cycleFrame, int64_t frame, const uint8_t* bytes, uint8_t length) {
        const int64_t offset = std::max<int64_t>(0, frame - cycleFrame);
        midi(AUEventSampleTimeImmediate + offset, 0, length, bytes);
        if (observer && *observer) (*observer)(cycleFrame + offset, bytes, length);
    }

    void render(const AudioTimeStamp* timestamp, AUAudioFrameCount frames) {
        if (!started) {
            started = true;
            startSample = timestamp->mSampleTime;
        }
        const auto cycleFrame = int64_t(std::llround(timestamp->mSampleTime - startSample));
        const int64_t cycleEnd = cycleFrame + frames;
        for (;;) {
            double next = INFINITY;
            for (const auto& track : tracks)
                if (auto o = nextOccurrence(track.events, track.loop, cursor, inclusive)) next = std::min(next, o->beat);
            for (const auto& off : noteOffs) next = std::min(next, off.beat);
            if (next == INFINITY) break;
            const int64_t frame = frameOf(next);
            if (frame >= cycleEnd) break;
            for (size_t i = 0; i < noteOffs.size();) {
                if (noteOffs[i].beat <= next) {
                    send(cycleFrame, frame, noteOffs[i].bytes, 3);
                    noteOffs[i] = noteOffs.back();
                    noteOffs.pop_back();
                } else {
                    ++i;
                }
            }
            for (const auto& track : tracks) {
                auto o = nextOccurrence(track.events, track.loop, cursor, inclusive);
                if (!o || o->beat > next) continue;
                const double time = track.events[o->index].time;
                for (size_t i = o->index; i < track.events.size() && track.events[i].time == time; ++i) {
                    ScheduledMessage message;
                    if (!messageOf(track.events[i], next, message) || message.raw) continue;
                    send(cycleFrame, frame, message.bytes, message.length);
                    if (message.hasNoteOff && noteOffs.size() < noteOffs.capacity()) {
                        NoteOff off{message.noteOffBeat, {}};
                        std::memcpy(off.bytes, message.noteOff, 3);
                        noteOffs.push_back(off);
                    }
                }
            }
            cursor = next;
            inclusive = false;
        }
        position.store(map.beatsForSeconds(startSeconds + double(cycleEnd) / sampleRate), std::memory_order_relaxed);
    }
};

// --- The sequencer ---

AVAudioSequencer::AVAudioSequencer(std::shared_ptr<AVAudioEngine> audioEngine) : engine_(audioEngine) {
    NewMusicSequence(&sequence_);
}

AVAudioSequencer::~AVAudioSequencer() {
    stopPlaying(false);
    DisposeMusicSequence(sequence_);
}

void AVAudioSequencer::rebuildTracks() {
    tracks_.clear();
    uint32_t count = 0;
    MusicSequenceGetTrackCount(sequence_, &count);
    for (uint32_t i = 0; i < count; ++i) {
        MusicTrack track = nullptr;
        if (MusicSequenceGetIndTrack(sequence_, i, &track) == 0) tracks_.push_back(std::make_shared<AVMusicTrack>(track, this));
    }
}

void AVAudioSequencer::load(const std::vector<uint8_t>& data, AVMusicSequenceLoadOptions) {
    MusicSequence loaded = nullptr;
    NewMusicSequence(&loaded);
    const OSStatus status = MusicSequenceFileLoadData(loaded, data, kMusicSequenceFile_MIDIType, 0);
    if (status != 0) {
        DisposeMusicSequence(loaded);
        throw NSErrorException(sequencerError(status, "The MIDI data could not be read."));
    }
    stopPlaying(false);
    DisposeMusicSequence(sequence_);
    sequence_ = loaded;
    position_ = 0;
    rebuildTracks();
}

void AVAudioSequencer::load(const std::string& fileURL, AVMusicSequenceLoadOptions options) {
    std::ifstream in(fileURL, std::ios::binary);
    if (!in) throw NSErrorException(sequencerError(-43, "The file \"" + fileURL + "\" could not be opened."));
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    load(bytes, options);
}

AVMusicTimeStamp AVAudioSequencer::lengthInBeats() const {
    double length = 0;
    for (const auto& track : tracks_) length = std::max(length, track->lengthInBeats());
    return length;
}

double AVAudioSequencer::seconds(AVMusicTimeStamp beats) const {
    double seconds = 0;
    MusicSequenceGetSecondsForBeats(sequence_, beats, &seconds);
    return seconds;
}

AVMusicTimeStamp AVAudioSequencer::beats(double seconds) const {
    double beats = 0;
    MusicSequenceGetBeatsForSeconds(sequence_, seconds, &beats);
    return beats;
}

AVMusicTimeStamp AVAudioSequencer::currentPositionInBeats() const {
    if (!playing_) return position_;
    if (!renderStates_.empty()) return renderStates_.front()->position.load(std::memory_order_relaxed);
    double time = position_;
    if (endpointPlayer_) MusicPlayerGetTime(endpointPlayer_, &time);
    return time;
}

void AVAudioSequencer::setCurrentPositionInBeats(AVMusicTimeStamp position) {
    if (!std::isfinite(position)) return;
    const bool wasPlaying = playing_;
    if (wasPlaying) stopPlaying(false);
    position_ = std::max(0.0, position);
    if (wasPlaying) start();
}

std::shared_ptr<AVAudioUnit> AVAudioSequencer::defaultDestination() const {
    const auto engine = engine_.lock();
    if (!engine) return nullptr;
    for (const auto& node : engine->attachedNodes()) {
        auto unit = std::dynamic_pointer_cast<AVAudioUnit>(node);
        if (unit && unit->audioComponentDescription().componentType == kAudioUnitType_MusicDevice) return unit;
    }
    return nullptr;
}

void AVAudioSequencer::start() {
    if (playing_) return;
    const auto engine = engine_.lock();
    if (!engine || !engine->isRunning())
        throw NSErrorException(sequencerError(kAudioToolboxErr_InvalidPlayerState,
                                              "The sequencer cannot start: its engine is not running."));
    const TempoMap map = [&] {
        std::lock_guard lock(sequenceLock());
        const SequenceData* data = findSequence(sequence_);
        return data ? TempoMap::of(*data) : TempoMap{{{0, 120, 0}}};
    }();
    bool anySolo = false;
    for (const auto& track : tracks_) anySolo = anySolo || track->isSoloed();

    std::map<AVAudioUnit*, std::shared_ptr<RenderState>> byUnit;
    std::vector<std::shared_ptr<AVMusicTrack>> endpointTracks;
    for (const auto& track : tracks_) {
        if (track->isMuted() || (anySolo && !track->isSoloed())) continue;
        if (track->destinationMIDIEndpoint()) {
            endpointTracks.push_back(track);
            continue;
        }
        auto unit = track->destinationAudioUnit() ? track->destinationAudioUnit() : defaultDestination();
        if (!unit || !unit->auAudioUnit()) continue;
        auto& state = byUnit[unit.get()];
        if (!state) {
            state = std::make_shared<RenderState>();
            state->unit = unit->auAudioUnit();
            state->midi = state->unit->scheduleMIDIEventBlock();
            state->sampleRate = unit->outputFormat(0).sampleRate() > 0 ? unit->outputFormat(0).sampleRate() : 44100;
            state->map = map;
            state->startSeconds = map.secondsForBeats(position_);
            state->cursor = position_;
            state->observer = &eventObserver_;
            state->noteOffs.reserve(kPendingNoteOffs);
        }
        if (!state->midi) continue;
        RenderState::Track snapshot;
        {
            std::lock_guard lock(sequenceLock());
            if (const TrackData* data = findTrack(track->musicTrack())) snapshot.events = data->events;
        }
        if (track->isLoopingEnabled() && track->numberOfLoops() != 0) {
            const AVBeatRange range = track->loopRange();
            const bool whole = !(range.length > 0);
            snapshot.loop = {true, whole ? 0.0 : range.start, whole ? track->lengthInBeats() : range.start + range.length,
                             track->numberOfLoops() < 0 ? 0 : track->numberOfLoops()};
            if (!(snapshot.loop.end > snapshot.loop.start)) snapshot.loop.enabled = false;
        }
        state->tracks.push_back(std::move(snapshot));
    }
    for (auto& [unit, state] : byUnit) {
        if (!state->midi) continue;
        auto* raw = state.get();
        state->token = state->unit->tokenByAddingRenderObserver(
            [raw](AudioUnitRenderActionFlags flags, const AudioTimeStamp* timestamp, AUAudioFrameCount frames, NSInteger) {
                if (flags & kAudioUnitRenderAction_PreRender) raw->render(timestamp, frames);
            });
        renderStates_.push_back(state);
    }

    if (!endpointTracks.empty()) {
        NewMusicSequence(&endpointSequence_);
        MusicTrack tempo = nullptr, source = nullptr;
        MusicSequenceGetTempoTrack(endpointSequence_, &tempo);
        MusicSequenceGetTempoTrack(sequence_, &source);
        MusicTrackMerge(source, 0, 1e15, tempo, 0);
        for (const auto& track : endpointTracks) {
            MusicTrack copy = nullptr;
            MusicSequenceNewTrack(endpointSequence_, &copy);
            MusicTrackMerge(track->musicTrack(), 0, 1e15, copy, 0);
            MusicTrackSetProperty(copy, kSequenceTrackProperty_TrackLength, track->lengthInBeats());
            if (track->isLoopingEnabled() && track->numberOfLoops() != 0) {
                const double length = track->loopRange().length > 0 ? track->loopRange().length : track->lengthInBeats();
                MusicTrackSetProperty(copy, kSequenceTrackProperty_LoopInfo,
                                      MusicTrackLoopInfo{length, std::max(0, track->numberOfLoops())});
            }
            MusicTrackSetDestMIDIEndpoint(copy, track->destinationMIDIEndpoint());
        }
        NewMusicPlayer(&endpointPlayer_);
        MusicPlayerSetSequence(endpointPlayer_, endpointSequence_);
        MusicPlayerSetTime(endpointPlayer_, position_);
        MusicPlayerStart(endpointPlayer_);
    }
    playing_ = true;
}

void AVAudioSequencer::stopPlaying(bool keepPosition) {
    if (!playing_) return;
    if (keepPosition) position_ = currentPositionInBeats();
    for (const auto& state : renderStates_) {
        state->unit->removeRenderObserver(state->token);
        // Nothing may sound on after the stop.
        for (const auto& off : state->noteOffs) state->midi(AUEventSampleTimeImmediate, 0, 3, off.bytes);
    }
    renderStates_.clear();
    if (endpointPlayer_) {
        DisposeMusicPlayer(endpointPlayer_);
        endpointPlayer_ = nullptr;
    }
    if (endpointSequence_) {
        DisposeMusicSequence(endpointSequence_);
        endpointSequence_ = nullptr;
    }
    playing_ = false;
}

void AVAudioSequencer::stop() { stopPlaying(true); }

}  // namespace platform
