// The music player: plays a sequence on a thread of its own, sending each event to its track's
// MIDI endpoint when it falls due, stamped with its due host time. No thread runs until Start;
// Dispose stops and joins it.
#pragma once

#include "platform/audiotoolbox/MusicSequence.h"

#include <functional>

namespace platform {

OSStatus NewMusicPlayer(MusicPlayer* outPlayer);
OSStatus DisposeMusicPlayer(MusicPlayer player);
OSStatus MusicPlayerSetSequence(MusicPlayer player, MusicSequence sequence);
OSStatus MusicPlayerGetSequence(MusicPlayer player, MusicSequence* outSequence);
OSStatus MusicPlayerPreroll(MusicPlayer player);
OSStatus MusicPlayerStart(MusicPlayer player);
OSStatus MusicPlayerStop(MusicPlayer player);
OSStatus MusicPlayerIsPlaying(MusicPlayer player, bool* outIsPlaying);
// Beats on the sequence's timeline.
OSStatus MusicPlayerSetTime(MusicPlayer player, MusicTimeStamp time);
OSStatus MusicPlayerGetTime(MusicPlayer player, MusicTimeStamp* outTime);
// Must be above 0.
OSStatus MusicPlayerSetPlayRateScalar(MusicPlayer player, double scaleRate);
OSStatus MusicPlayerGetPlayRateScalar(MusicPlayer player, double* outScaleRate);

// Where events of tracks without a destination go: the bytes of one message, on the player's
// thread. Unset, the player makes a General MIDI sampler on the default output the first time one
// is needed (from TAMBERLO_DEFAULT_SOUNDFONT or "/usr/share/sounds/sf2/default-GM.sf2"); without
// the SoundFont it logs one line and drops the events.
using MusicPlayerDefaultSynth = std::function<void(const uint8_t* bytes, size_t length)>;
void MusicPlayerSetDefaultSynth(MusicPlayerDefaultSynth synth);

}  // namespace platform
