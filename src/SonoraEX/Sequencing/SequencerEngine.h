// The real-time half of a sequencer track. On every pre-render notification of the target unit it
// sends the MIDI events that fall into the cycle to the unit's MIDI block, sample-accurately.
// The user side reaches it only through these functions: new event lists are published as
// immutable snapshots by pointer exchange, transport commands go through a single-producer ring
// of 1024 entries (1023 usable; a command to a full ring is dropped). The render side takes no
// lock, allocates nothing and makes no system call.
//
// Beats become frames as beats / tempo × 60 × sampleRate, truncated toward zero and saturated to
// 32 bits (NaN gives 0). One user thread at a time per engine.
#pragma once

#include "SonoraEX/Sequencing/SequenceEvent.h"
#include "platform/audiotoolbox/AURenderEvent.h"

#include <cstddef>
#include <cstdint>

namespace sonora {

struct SequenceSettings {
    // Carried along; playback does not consult it.
    int32_t maximumPlayCount = 1;
    // Loop or play length in beats.
    double length = 4;
    // Beats per minute.
    double tempo = 120;
    bool loopEnabled = true;
};

// The opaque handle of one engine.
struct SequencerEngineHandle;
using SequencerEngineRef = SequencerEngineHandle*;

SequencerEngineRef akSequencerEngineCreate();
// Sends note-offs for the held notes (through the MIDI block the render side last used) and drops
// the handle. The engine itself lives on while a render observer made for it exists.
void akSequencerEngineRelease(SequencerEngineRef engine);
// Publishes a copy of the events with the settings, the sample rate and the MIDI block; returns a
// render observer that runs the engine on pre-render notifications (it keeps the engine alive).
platform::AURenderObserver akSequencerEngineUpdateSequence(SequencerEngineRef engine, const SequenceEvent* events,
                                                           size_t eventCount, platform::AUScheduleMIDIEventBlock block,
                                                           SequenceSettings settings, double sampleRate);
// The position the render side computed last, in beats inside the loop.
double akSequencerEngineGetPosition(SequencerEngineRef engine);
void akSequencerEngineSeekTo(SequencerEngineRef engine, double position);
void akSequencerEngineSetPlaying(SequencerEngineRef engine, bool playing);
bool akSequencerEngineIsPlaying(SequencerEngineRef engine);
// Note-offs for every held note, from note 127 down, at the next cycle.
void akSequencerEngineStopPlayingNotes(SequencerEngineRef engine);
// Ignored unless the tempo is finite and positive.
void akSequencerEngineSetTempo(SequencerEngineRef engine, double tempo);

// Truncated toward zero and held to the signed 32-bit range; NaN gives 0.
int32_t saturatedInt32(double value);
// beats / tempo × 60 × sampleRate, in that order, as saturatedInt32.
inline int32_t sequencerFrame(double beats, double tempo, double sampleRate) {
    return saturatedInt32(beats / tempo * 60 * sampleRate);
}

}  // namespace sonora
