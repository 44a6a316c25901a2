// Offline rendering of a platform engine's graph into an audio file, faster than real time.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"

#include <functional>

namespace platform {
class AVAudioEngine;
class AVAudioFile;
}  // namespace platform

namespace sonora {

// The error domain of the file render's own errors (code 1).
inline constexpr const char* kAVAudioEngineExtErrorDomain = "AVAudioEngine ext";

// render(to:maximumFrameCount:duration:renderUntilSilent:silenceThreshold:prerender:progress:):
// switches the engine to offline manual rendering in the file's processing format, starts it,
// runs `prerender`, then renders `duration` seconds in chunks of at most `maximumFrameCount`
// frames, writing each chunk and reporting progress (0…1) after it. With `renderUntilSilent` it
// goes on until three chunks in a row are below `silenceThreshold`. Returns with the engine
// stopped and out of manual rendering; throws platform::NSErrorException on failure.
void render(platform::AVAudioEngine& engine, platform::AVAudioFile& file, platform::AVAudioFrameCount maximumFrameCount,
            double duration, bool renderUntilSilent = false, float silenceThreshold = 0.00005f,
            const std::function<void()>& prerender = {}, const std::function<void(double)>& progress = {});

}  // namespace sonora
