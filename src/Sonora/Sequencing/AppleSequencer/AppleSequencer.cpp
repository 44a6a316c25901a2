#include "Sonora/Sequencing/AppleSequencer/AppleSequencer.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/foundation/Bundle.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace sonora {

using namespace platform;

namespace {
constexpr double kMinimumTempo = 10;
constexpr double kMaximumTempo = 280;
double clampTempo(double bpm) { return std::min(kMaximumTempo, std::max(kMinimumTempo, bpm)); }
}  // namespace

AppleSequencer::AppleSequencer() {
    MusicSequence newSequence = nullptr;
    NewMusicSequence(&newSequence);
    if (newSequence) {
        sequence = newSequence;
        sequencePointer = static_cast<void*>(newSequence);
    }
    MusicPlayer player = nullptr;
    NewMusicPlayer(&player);
    if (player) {
        musicPlayer = player;
        MusicPlayerSetSequence(player, sequence.value_or(nullptr));
    }
}

AppleSequencer::~AppleSequencer() {
    Log({"deinit:"});
    if (musicPlayer) DisposeMusicPlayer(*musicPlayer);
    if (sequence) {
        for (const auto& track : tracks)
            if (track->internalMusicTrack) MusicSequenceDisposeTrack(*sequence, *track->internalMusicTrack);
        DisposeMusicSequence(*sequence);
    }
}

std::shared_ptr<AppleSequencer> AppleSequencer::withFilename(const std::string& filename) {
    auto sequencer = std::make_shared<AppleSequencer>();
    sequencer->loadMIDIFile(filename);
    return sequencer;
}

std::shared_ptr<AppleSequencer> AppleSequencer::fromURL(const std::filesystem::path& fileURL) {
    auto sequencer = std::make_shared<AppleSequencer>();
    sequencer->loadMIDIFile(fileURL);
    return sequencer;
}

std::shared_ptr<AppleSequencer> AppleSequencer::fromData(const std::vector<uint8_t>& data) {
    auto sequencer = std::make_shared<AppleSequencer>();
    sequencer->loadMIDIFile(data);
    return sequencer;
}

void AppleSequencer::preroll() {
    if (musicPlayer) MusicPlayerPreroll(*musicPlayer);
}

// --- Looping and lengths ---

void AppleSequencer::writeLoop(double duration, int32_t count) {
    for (const auto& track : tracks)
        if (track->internalMusicTrack)
            MusicTrackSetProperty(*track->internalMusicTrack, kSequenceTrackProperty_LoopInfo,
                                  MusicTrackLoopInfo{duration, count});
}

void AppleSequencer::toggleLoop() {
    if (loopEnabled_)
        disableLooping();
    else
        enableLooping();
}

void AppleSequencer::enableLooping() {
    writeLoop(length().beats, 0);
    loopEnabled_ = true;
}

void AppleSequencer::enableLooping(const Duration& loopLength) {
    writeLoop(loopLength.beats, 0);
    loopEnabled_ = true;
}

void AppleSequencer::enableLooping(const Duration& loopLength, int64_t numberOfLoops) {
    const auto count = int32_t(std::clamp<int64_t>(numberOfLoops, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
    writeLoop(loopLength.beats, count);
    loopEnabled_ = true;
}

void AppleSequencer::disableLooping() {
    writeLoop(0.0, 0);
    loopEnabled_ = false;
}

void AppleSequencer::setLength(const Duration& length) {
    for (const auto& track : tracks) track->setLength(length);
    if (auto tempo = tempoTrack()) MusicTrackSetProperty(*tempo, kSequenceTrackProperty_TrackLength, length.beats);
}

Duration AppleSequencer::length() const {
    double longest = 0.0;
    for (const auto& track : tracks) {
        const double length = track->length();
        if (length >= longest) longest = length;
    }
    return Duration(longest, tempo());
}

void AppleSequencer::setRate(double rate) {
    if (musicPlayer) MusicPlayerSetPlayRateScalar(*musicPlayer, rate);
}

double AppleSequencer::rate() const {
    double rate = 1.0;
    if (musicPlayer) MusicPlayerGetPlayRateScalar(*musicPlayer, &rate);
    return rate;
}

// --- The tempo track ---

std::optional<MusicTrack> AppleSequencer::tempoTrack() const {
    if (!sequence) return std::nullopt;
    MusicTrack track = nullptr;
    MusicSequenceGetTempoTrack(*sequence, &track);
    if (!track) return std::nullopt;
    return track;
}

double AppleSequencer::tempo() const {
    const auto track = tempoTrack();
    if (!track) return 0.0;
    MusicEventIterator iterator = nullptr;
    NewMusicEventIterator(*track, &iterator);
    if (!iterator) return 0.0;
    MusicEventIteratorSeek(iterator, currentPosition().beats);
    double result = 120.0;
    bool hasPrevious = false;
    MusicEventIteratorHasPreviousEvent(iterator, &hasPrevious);
    if (hasPrevious) {
        MusicEventIteratorPreviousEvent(iterator);
        MusicEventType type = 0;
        const void* data = nullptr;
        MusicEventIteratorGetEventInfo(iterator, nullptr, &type, &data, nullptr);
        if (type == kMusicEventType_ExtendedTempo && data) std::memcpy(&result, data, sizeof result);
    }
    DisposeMusicEventIterator(iterator);
    return result;
}

void AppleSequencer::deleteTempoEvent(MusicEventIterator iterator, MusicTimeStamp, MusicEventType type, const void*,
                                      uint32_t, bool& isReadyForNextEvent) {
    isReadyForNextEvent = true;
    if (type == kMusicEventType_ExtendedTempo) {
        MusicEventIteratorDeleteEvent(iterator);
        isReadyForNextEvent = false;
    }
}

void AppleSequencer::setTempo(double bpm) {
    const double clamped = clampTempo(bpm);
    const auto track = tempoTrack();
    if (!track) return;
    // Only the tempo events go: time signatures, key signatures and markers stay.
    iterateMusicTrack(*track, &AppleSequencer::deleteTempoEvent);
    MusicTrackNewExtendedTempoEvent(*track, 0.0, clamped);
}

void AppleSequencer::addTempoEventAt(double tempo, const Duration& position) {
    const double clamped = clampTempo(tempo);
    if (auto track = tempoTrack()) MusicTrackNewExtendedTempoEvent(*track, position.beats, clamped);
}

std::vector<std::pair<double, double>> AppleSequencer::allTempoEvents() const {
    std::vector<std::pair<double, double>> events;
    const auto track = tempoTrack();
    if (!track) return events;
    iterateMusicTrack(*track, [&](MusicEventIterator, MusicTimeStamp time, MusicEventType type, const void* data,
                                  uint32_t, bool&) {
        if (type != kMusicEventType_ExtendedTempo || !data) return;
        double bpm;
        std::memcpy(&bpm, data, sizeof bpm);
        events.emplace_back(time, bpm);
    });
    return events;
}

namespace {
// The value of the last event at or before `position`, scanning in list order.
template <class T>
T valueAt(const std::vector<std::pair<double, T>>& events, double position, T fallback) {
    if (events.empty() || !(position >= events.front().first)) return fallback;
    size_t i = 0;
    while (i + 1 < events.size() && position >= events[i + 1].first) ++i;
    return events[i].second;
}
}  // namespace

double AppleSequencer::getTempo(double at) const { return valueAt(allTempoEvents(), at, 120.0); }

void AppleSequencer::addTimeSignatureEvent(double at, TimeSignature timeSignature, uint8_t ticksPerMetronomeClick,
                                           uint8_t thirtySecondNotesPerQuarter, bool clearExistingEvents) {
    const auto track = tempoTrack();
    if (!track) {
        Log({"Couldn't get tempo track"});
        return;
    }
    if (clearExistingEvents) iterateMusicTrack(*track, deleteEventsHandler(kMusicEventType_Meta, 0x58));
    MIDIMetaEvent* block = makeMetaEvent(0x58, {timeSignature.topValue, uint8_t(timeSignature.bottomValue),
                                                ticksPerMetronomeClick, thirtySecondNotesPerQuarter});
    if (MusicTrackNewMetaEvent(*track, at, block) != 0) Log({"Unable to set time signature"});
    freeMetaEvent(block);
}

std::vector<std::pair<double, TimeSignature>> AppleSequencer::allTimeSignatureEvents() const {
    std::vector<std::pair<double, TimeSignature>> events;
    const auto track = tempoTrack();
    if (!track) {
        Log({"Couldn't get tempo track"});
        return events;
    }
    iterateMusicTrack(*track, [&](MusicEventIterator, MusicTimeStamp time, MusicEventType type, const void* data,
                                  uint32_t, bool&) {
        if (type != kMusicEventType_Meta || !data) return;
        const auto* block = static_cast<const uint8_t*>(data);
        if (block[0] != 0x58) return;
        uint32_t length;
        std::memcpy(&length, block + 4, 4);
        // A block too short to hold the bottom value is no time signature.
        const auto bottom = length >= 2 ? TimeSignatureBottomValueFromRawValue(block[9]) : std::nullopt;
        if (!bottom) {
            Log({"Inavlid time signature bottom value"});
            return;
        }
        events.emplace_back(time, TimeSignature{block[8], *bottom});
    });
    return events;
}

TimeSignature AppleSequencer::getTimeSignature(double at) const {
    return valueAt(allTimeSignatureEvents(), at, TimeSignature{});
}

uint32_t AppleSequencer::timeResolution() const {
    if (!sequence) {
        Log({"Couldn't get sequence for time resolution"});
        return 0;
    }
    const auto track = tempoTrack();
    if (!track) {
        Log({"No tempo track for time resolution"});
        return 0;
    }
    uint32_t value = 0;
    uint32_t size = 0;
    MusicTrackGetProperty(*track, kSequenceTrackProperty_TimeResolution, &value, &size);
    return value;
}

// --- Time ---

Duration AppleSequencer::duration(double seconds) const {
    double beats = 0.0;
    if (sequence) MusicSequenceGetBeatsForSeconds(*sequence, std::fabs(seconds), &beats);
    return Duration(seconds > 0 ? beats : -beats);
}

double AppleSequencer::seconds(const Duration& duration) const {
    double seconds = 0.0;
    if (sequence) MusicSequenceGetSecondsForBeats(*sequence, std::fabs(duration.beats), &seconds);
    return duration.beats > 0 ? seconds : -seconds;
}

void AppleSequencer::play() {
    if (musicPlayer) MusicPlayerStart(*musicPlayer);
}

void AppleSequencer::stop() {
    if (musicPlayer) MusicPlayerStop(*musicPlayer);
}

void AppleSequencer::rewind() {
    if (musicPlayer) MusicPlayerSetTime(*musicPlayer, 0);
}

bool AppleSequencer::isPlaying() const {
    bool playing = false;
    if (musicPlayer) MusicPlayerIsPlaying(*musicPlayer, &playing);
    return playing;
}

Duration AppleSequencer::currentPosition() const {
    double time = 0.0;
    if (musicPlayer) MusicPlayerGetTime(*musicPlayer, &time);
    return Duration(time);
}

Duration AppleSequencer::currentRelativePosition() const {
    Duration position = currentPosition();
    position.beats = std::fmod(position.beats, length().beats);
    return position;
}

int AppleSequencer::trackCount() const {
    uint32_t count = 0;
    if (sequence) MusicSequenceGetTrackCount(*sequence, &count);
    return int(count);
}

// --- Loading ---

void AppleSequencer::loadMIDIFile(const std::string& filename) {
    const auto url = Bundle::main().urlForResource(filename, "mid");
    if (!url) {
        Log({"No midi file found"});
        return;
    }
    loadMIDIFile(url->filePath());
}

void AppleSequencer::loadTracks(const std::function<OSStatus(MusicSequence)>& load,
                                const std::function<void(OSStatus)>& report) {
    removeTracks();
    if (sequence) {
        const OSStatus status = load(*sequence);
        if (status != 0) report(status);
    }
    initTracks();
}

void AppleSequencer::loadMIDIFile(const std::filesystem::path& fromURL) {
    loadTracks([&](MusicSequence s) { return MusicSequenceFileLoad(s, fromURL.string(), kMusicSequenceFile_MIDIType, 0); },
               [&](OSStatus status) {
                   Log({"error reading midi file url: " + fromURL.string() + ", read status: " + std::to_string(status)});
               });
}

void AppleSequencer::loadMIDIFile(const std::vector<uint8_t>& fromData) {
    loadTracks([&](MusicSequence s) { return MusicSequenceFileLoadData(s, fromData, kMusicSequenceFile_MIDIType, 0); },
               [&](OSStatus status) { Log({"error reading midi data, read status: " + std::to_string(status)}); });
}

void AppleSequencer::addMIDIFileTracks(const std::string& filename, bool useExistingSequencerLength) {
    auto source = std::make_shared<AppleSequencer>();
    source->loadMIDIFile(filename);
    addMusicTrackNoteData(*source, useExistingSequencerLength);
}

void AppleSequencer::addMIDIFileTracks(const std::filesystem::path& fileURL, bool useExistingSequencerLength) {
    auto source = std::make_shared<AppleSequencer>();
    source->loadMIDIFile(fileURL);
    addMusicTrackNoteData(*source, useExistingSequencerLength);
}

void AppleSequencer::addMusicTrackNoteData(const AppleSequencer& from, bool useExistingSequencerLength) {
    if (isPlaying()) {
        Log({"Can't add tracks during playback"});
        return;
    }
    const Duration oldLength = length();
    for (const auto& entry : from.tracks) {
        const auto notes = entry->getMIDINoteData();
        if (notes.empty()) continue;
        if (sequence) {
            MusicTrack track = nullptr;
            MusicSequenceNewTrack(*sequence, &track);
            if (track) tracks.push_back(std::make_shared<MusicTrackManager>(track, "Unnamed"));
        }
        if (!tracks.empty()) {
            tracks.back()->replaceMIDINoteData(notes);
            if (useExistingSequencerLength) tracks.back()->setLength(oldLength);
        }
    }
}

void AppleSequencer::initTracks() {
    uint32_t count = 0;
    if (sequence) MusicSequenceGetTrackCount(*sequence, &count);
    for (uint32_t i = 0; i < count; ++i) {
        MusicTrack track = nullptr;
        MusicSequenceGetIndTrack(*sequence, i, &track);
        if (track) tracks.push_back(std::make_shared<MusicTrackManager>(track, "InitializedTrack"));
    }
    if (loopEnabled_) enableLooping();
}

void AppleSequencer::removeTracks() {
    if (sequence) {
        if (auto tempo = tempoTrack()) {
            MusicTrackClear(*tempo, 0, length().beats);
            iterateMusicTrack(*tempo, deleteEventsHandler(kMusicEventType_Meta, 0x58));
            iterateMusicTrack(*tempo, &AppleSequencer::deleteTempoEvent);
        }
        for (const auto& track : tracks)
            if (track->internalMusicTrack) MusicSequenceDisposeTrack(*sequence, *track->internalMusicTrack);
    }
    tracks.clear();
}

std::shared_ptr<MusicTrackManager> AppleSequencer::newTrack(const std::string& name) {
    if (sequence) {
        MusicTrack track = nullptr;
        MusicSequenceNewTrack(*sequence, &track);
        if (track) tracks.push_back(std::make_shared<MusicTrackManager>(track, name));
    }
    return tracks.empty() ? nullptr : tracks.back();
}

void AppleSequencer::deleteTrack(int trackIndex) {
    if (isPlaying()) {
        Log({"Can't delete sequencer track during playback"});
        return;
    }
    if (trackIndex < 0 || size_t(trackIndex) >= tracks.size() || !tracks[size_t(trackIndex)]->internalMusicTrack) {
        Log({"Can't get track for index"});
        return;
    }
    if (!sequence) {
        Log({"Can't get sequence"});
        return;
    }
    MusicSequenceDisposeTrack(*sequence, *tracks[size_t(trackIndex)]->internalMusicTrack);
    tracks.erase(tracks.begin() + trackIndex);
}

void AppleSequencer::clearRange(const Duration& start, const Duration& duration) {
    for (const auto& track : tracks) track->clearRange(start, duration);
}

void AppleSequencer::setTime(double time) {
    if (musicPlayer) MusicPlayerSetTime(*musicPlayer, time);
}

std::optional<std::vector<uint8_t>> AppleSequencer::genData() {
    if (!sequence) return std::vector<uint8_t>{};
    std::vector<uint8_t>* data = nullptr;
    const OSStatus status =
        MusicSequenceFileCreateData(*sequence, kMusicSequenceFile_MIDIType, kMusicSequenceFileFlags_EraseFile, 480, &data);
    if (status != 0) {
        Log({"error creating MusicSequence Data"});
        return std::nullopt;
    }
    if (!data) return std::vector<uint8_t>{};
    std::unique_ptr<std::vector<uint8_t>> owned(data);
    return *owned;
}

void AppleSequencer::debug() {
    if (sequencePointer) CAShow(*sequencePointer);
}

void AppleSequencer::setGlobalMIDIOutput(MIDIEndpointRef midiEndpoint) {
    for (const auto& track : tracks)
        if (track->internalMusicTrack) MusicTrackSetDestMIDIEndpoint(*track->internalMusicTrack, midiEndpoint);
}

// --- Quantized positions ---

Duration AppleSequencer::previousQuantizedPosition(double quantizationInBeats) const {
    const double r = currentRelativePosition().beats;
    return Duration(std::fmod(r - std::fmod(r, quantizationInBeats), length().beats));
}

Duration AppleSequencer::nextQuantizedPosition(double quantizationInBeats) const {
    const double p = previousQuantizedPosition(quantizationInBeats).beats;
    return Duration(std::fmod(p + quantizationInBeats, length().beats));
}

Duration AppleSequencer::nearestQuantizedPosition(double quantizationInBeats) const {
    const double r = currentRelativePosition().beats;
    const double p = previousQuantizedPosition(quantizationInBeats).beats;
    const double n = nextQuantizedPosition(quantizationInBeats).beats;
    return Duration((r - p) < (n - r) ? p : n);
}

}  // namespace sonora
