// The General MIDI sampler a music player plays tracks without a destination on.
#pragma once

#include "platform/audiotoolbox/MusicPlayer.h"

namespace platform::detail {

// A sampler with the General MIDI SoundFont (TAMBERLO_DEFAULT_SOUNDFONT, else
// "/usr/share/sounds/sf2/default-GM.sf2") on the default output; empty, after one log line, when
// there is no SoundFont or the output cannot start.
MusicPlayerDefaultSynth makeGeneralMIDISynth();

}  // namespace platform::detail
