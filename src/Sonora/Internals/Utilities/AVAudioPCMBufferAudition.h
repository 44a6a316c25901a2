// Listening to a buffer from code: one call plays it through the default output and returns when
// it has played.
#pragma once

#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <memory>

namespace sonora {

// AVAudioPCMBuffer.audition(): plays the buffer (Float32, non-interleaved) on a private engine and
// blocks the calling thread for the buffer's length (frameLength ÷ rate), then stops. An engine
// that cannot start is logged and nothing plays.
void audition(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer);

}  // namespace sonora
