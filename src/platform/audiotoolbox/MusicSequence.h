// The platform's music sequencing: sequences of tracks of timed events (in beats), an ever-present
// tempo track, event iterators, and Standard MIDI File load and save.
//
// Handles are values from one checked registry that never reuses a value: a stale handle, or one
// of the wrong kind, gives an error status and never touches freed memory. Every call takes one
// process-wide lock, so the player thread can read tracks while the caller edits them.
#pragma once

#include "platform/coremidi/MIDIObjects.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct OpaqueMusicSequence;
struct OpaqueMusicTrack;
struct OpaqueMusicPlayer;
struct OpaqueMusicEventIterator;
using MusicSequence = OpaqueMusicSequence*;
using MusicTrack = OpaqueMusicTrack*;
using MusicPlayer = OpaqueMusicPlayer*;
using MusicEventIterator = OpaqueMusicEventIterator*;

using MusicTimeStamp = double;
using MusicEventType = uint32_t;
using AUNode = int32_t;
using MusicSequenceFileTypeID = uint32_t;
using MusicSequenceLoadFlags = uint32_t;
using MusicSequenceFileFlags = uint32_t;

inline constexpr OSStatus kAudioToolboxErr_InvalidSequenceType = -10846;
inline constexpr OSStatus kAudioToolboxErr_TrackIndexError = -10859;
inline constexpr OSStatus kAudioToolboxErr_TrackNotFound = -10858;
inline constexpr OSStatus kAudioToolboxErr_EndOfTrack = -10857;
inline constexpr OSStatus kAudioToolboxErr_StartOfTrack = -10856;
inline constexpr OSStatus kAudioToolboxErr_IllegalTrackDestination = -10855;
inline constexpr OSStatus kAudioToolboxErr_NoSequence = -10854;
inline constexpr OSStatus kAudioToolboxErr_InvalidEventType = -10853;
inline constexpr OSStatus kAudioToolboxErr_InvalidPlayerState = -10852;
inline constexpr OSStatus kAudioToolboxErr_CannotDoInCurrentContext = -10863;
// A stale or wrong iterator, or one whose track changed behind it.
inline constexpr OSStatus kAudioToolboxErr_InvalidEventIterator = -10860;

inline constexpr MusicSequenceFileTypeID kMusicSequenceFile_MIDIType = 0x6D696469;  // 'midi'
inline constexpr MusicSequenceFileFlags kMusicSequenceFileFlags_EraseFile = 1;

enum : MusicEventType {
    kMusicEventType_NULL = 0,
    kMusicEventType_ExtendedTempo = 3,
    kMusicEventType_Meta = 5,
    kMusicEventType_MIDINoteMessage = 6,
    kMusicEventType_MIDIChannelMessage = 7,
    kMusicEventType_MIDIRawData = 8,
};

enum : uint32_t {
    kSequenceTrackProperty_LoopInfo = 0,
    kSequenceTrackProperty_MuteStatus = 2,
    kSequenceTrackProperty_SoloStatus = 3,
    kSequenceTrackProperty_TrackLength = 5,
    kSequenceTrackProperty_TimeResolution = 6,
};

struct ExtendedTempoEvent {
    double bpm;
};

struct MIDIMetaEvent {
    uint8_t metaEventType;
    uint8_t unused1;
    uint8_t unused2;
    uint8_t unused3;
    uint32_t dataLength;
    uint8_t data[1];
};

struct MIDINoteMessage {
    uint8_t channel;
    uint8_t note;
    uint8_t velocity;
    uint8_t releaseVelocity;
    float duration;
};

struct MIDIChannelMessage {
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
    uint8_t reserved;
};

struct MIDIRawData {
    uint32_t length;
    uint8_t data[1];
};

struct MusicTrackLoopInfo {
    MusicTimeStamp loopDuration;
    int32_t numberOfLoops;
};

static_assert(sizeof(MIDINoteMessage) == 8);
static_assert(sizeof(MusicTrackLoopInfo) == 16);
static_assert(offsetof(MIDIMetaEvent, data) == 8);
static_assert(offsetof(MIDIRawData, data) == 4);

// The bytes an event of `type` holds for `data` (as GetEventInfo reports them); 0 for an unknown type.
uint32_t MusicEventDataSize(MusicEventType type, const void* data);

// --- Sequences ---
OSStatus NewMusicSequence(MusicSequence* outSequence);
OSStatus DisposeMusicSequence(MusicSequence sequence);
OSStatus MusicSequenceNewTrack(MusicSequence sequence, MusicTrack* outTrack);
OSStatus MusicSequenceDisposeTrack(MusicSequence sequence, MusicTrack track);
OSStatus MusicSequenceGetTrackCount(MusicSequence sequence, uint32_t* outNumberOfTracks);
OSStatus MusicSequenceGetIndTrack(MusicSequence sequence, uint32_t trackIndex, MusicTrack* outTrack);
OSStatus MusicSequenceGetTrackIndex(MusicSequence sequence, MusicTrack track, uint32_t* outTrackIndex);
OSStatus MusicSequenceGetTempoTrack(MusicSequence sequence, MusicTrack* outTrack);
// Through the tempo map: piecewise constant from the tempo track's tempo events, 120 BPM before the first.
OSStatus MusicSequenceGetSecondsForBeats(MusicSequence sequence, MusicTimeStamp beats, double* outSeconds);
OSStatus MusicSequenceGetBeatsForSeconds(MusicSequence sequence, double seconds, MusicTimeStamp* outBeats);
OSStatus MusicTrackGetSequence(MusicTrack track, MusicSequence* outSequence);

// --- Standard MIDI Files ('midi' only; load flags 0) ---
// Appends the file's tracks to the sequence; a malformed file gives kAudioFileInvalidFileError
// (AVAudioFile.h) and keeps what loaded.
OSStatus MusicSequenceFileLoad(MusicSequence sequence, const std::string& path, MusicSequenceFileTypeID fileType,
                               MusicSequenceLoadFlags flags);
OSStatus MusicSequenceFileLoadData(MusicSequence sequence, const uint8_t* bytes, size_t length,
                                   MusicSequenceFileTypeID fileType, MusicSequenceLoadFlags flags);
OSStatus MusicSequenceFileLoadData(MusicSequence sequence, const std::vector<uint8_t>& data,
                                   MusicSequenceFileTypeID fileType, MusicSequenceLoadFlags flags);
// A format 1 file of the sequence at `resolution` ticks per quarter (0: 480). The caller owns the
// bytes (`*outData` is replaced). kAudioToolboxErr_CannotDoInCurrentContext, with nothing made,
// when a file cannot hold the sequence: more than 65535 tracks, or two events of a track further
// apart than 0x0FFFFFFF ticks at that resolution.
OSStatus MusicSequenceFileCreateData(MusicSequence sequence, MusicSequenceFileTypeID fileType,
                                     MusicSequenceFileFlags flags, int16_t resolution, std::vector<uint8_t>** outData);
OSStatus MusicSequenceFileCreate(MusicSequence sequence, const std::string& path, MusicSequenceFileTypeID fileType,
                                 MusicSequenceFileFlags flags, int16_t resolution);

// --- Tracks ---
OSStatus MusicTrackGetProperty(MusicTrack track, uint32_t propertyID, void* outData, uint32_t* ioLength);
OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, const void* inData, uint32_t inLength);
// Typed forms, for callers that do not pass a size.
OSStatus MusicTrackGetProperty(MusicTrack track, uint32_t propertyID, double* outValue);
OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, double value);
OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, const MusicTrackLoopInfo& loop);
OSStatus MusicTrackSetProperty(MusicTrack track, uint32_t propertyID, bool value);

OSStatus MusicTrackNewExtendedTempoEvent(MusicTrack track, MusicTimeStamp time, double bpm);
OSStatus MusicTrackNewMetaEvent(MusicTrack track, MusicTimeStamp time, const MIDIMetaEvent* event);
OSStatus MusicTrackNewMIDINoteEvent(MusicTrack track, MusicTimeStamp time, const MIDINoteMessage* message);
OSStatus MusicTrackNewMIDIChannelEvent(MusicTrack track, MusicTimeStamp time, const MIDIChannelMessage* message);
OSStatus MusicTrackNewMIDIRawDataEvent(MusicTrack track, MusicTimeStamp time, const MIDIRawData* data);

// Removes the events in [start, end).
OSStatus MusicTrackClear(MusicTrack track, MusicTimeStamp start, MusicTimeStamp end);
// Copies the events of [start, end) of `source` into `destination` at at + (t − start).
OSStatus MusicTrackMerge(MusicTrack source, MusicTimeStamp start, MusicTimeStamp end, MusicTrack destination,
                         MusicTimeStamp at);
// As merge, after moving the destination's events at or after `at` later by end − start.
OSStatus MusicTrackCopyInsert(MusicTrack source, MusicTimeStamp start, MusicTimeStamp end, MusicTrack destination,
                              MusicTimeStamp at);
OSStatus MusicTrackSetDestMIDIEndpoint(MusicTrack track, MIDIEndpointRef endpoint);
OSStatus MusicTrackGetDestMIDIEndpoint(MusicTrack track, MIDIEndpointRef* outEndpoint);
// There is no audio graph behind a sequence here: always kAudioToolboxErr_IllegalTrackDestination.
OSStatus MusicTrackSetDestNode(MusicTrack track, AUNode node);

// --- Event iterators ---
OSStatus NewMusicEventIterator(MusicTrack track, MusicEventIterator* outIterator);
OSStatus DisposeMusicEventIterator(MusicEventIterator iterator);
// Onto the first event at or after `time`.
OSStatus MusicEventIteratorSeek(MusicEventIterator iterator, MusicTimeStamp time);
OSStatus MusicEventIteratorNextEvent(MusicEventIterator iterator);
OSStatus MusicEventIteratorPreviousEvent(MusicEventIterator iterator);
// The data pointer stays valid until the track changes.
OSStatus MusicEventIteratorGetEventInfo(MusicEventIterator iterator, MusicTimeStamp* outTimeStamp,
                                        MusicEventType* outEventType, const void** outEventData,
                                        uint32_t* outEventDataSize);
OSStatus MusicEventIteratorSetEventInfo(MusicEventIterator iterator, MusicEventType type, const void* eventData);
OSStatus MusicEventIteratorSetEventTime(MusicEventIterator iterator, MusicTimeStamp time);
// Deletes the current event; the iterator then stands on the one that followed it.
OSStatus MusicEventIteratorDeleteEvent(MusicEventIterator iterator);
OSStatus MusicEventIteratorHasPreviousEvent(MusicEventIterator iterator, bool* outHasPrevEvent);
OSStatus MusicEventIteratorHasNextEvent(MusicEventIterator iterator, bool* outHasNextEvent);
OSStatus MusicEventIteratorHasCurrentEvent(MusicEventIterator iterator, bool* outHasCurEvent);

// Writes a description of a sequence, track or player to standard error.
OSStatus CAShow(void* object);
std::string CAShowText(void* object);

}  // namespace platform
