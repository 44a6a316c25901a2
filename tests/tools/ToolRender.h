// Rendering an engine's graph for sonora-tool's commands: offline in 512-frame cycles, or in real
// time on the output device with its capture.
#pragma once

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tool {

// Frames per offline render call.
inline constexpr platform::AVAudioFrameCount kRenderFrames = 512;

// Renders `frames` frames offline in kRenderFrames-frame calls and writes them to `file` in slices.
// `beforeCycle` (when given) learns the first frame of each call before it renders.
void renderInSlices(sonora::AudioEngine& engine, int64_t frames, platform::AVAudioFile& file,
                    const std::function<void(int64_t)>& beforeCycle = nullptr);

// Plays the engine on the output device until `frames` frames of `source` have been rendered,
// capturing them to `out` (32-bit float stereo at `rate`; the device's tail past `frames` is cut).
void playAndCapture(sonora::AudioEngine& engine, const sonora::Node& source, int64_t frames, double rate,
                    const std::string& out);

}  // namespace tool
