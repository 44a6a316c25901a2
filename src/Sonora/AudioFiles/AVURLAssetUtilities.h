// The audio format of a media asset.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfoundation/AVURLAsset.h"

#include <optional>

namespace sonora {

// The on-disk format when the asset opens as an audio file, otherwise the format of the first
// audio track's first usable description; nothing when it has no audio.
std::optional<platform::AVAudioFormat> audioFormat(const platform::AVURLAsset& asset);

}  // namespace sonora
