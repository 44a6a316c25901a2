#include "Sonora/Internals/Utilities/AVAudioPCMBufferAudition.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "platform/avfaudio/AVAudioEngine.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace sonora {

void audition(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer) {
    if (!buffer) return;
    AudioEngine engine;
    auto player = std::make_shared<AudioPlayer>();
    engine.setOutput(player);
    try {
        engine.start();
    } catch (const platform::NSErrorException& e) {
        Log({e.error()}, OSLog::general(), OSLogType::error);
        return;
    }
    player->setBuffer(buffer);
    player->play(std::nullopt, std::nullopt, std::nullopt, AudioPlayer::CompletionCallbackType::dataPlayedBack);

    // The wait is the buffer's own length; a rate that gives no sensible length skips it.
    const double rate = buffer->format().sampleRate();
    if (std::isfinite(rate) && rate >= 1 && rate < 4294967296.0) {
        const double seconds = double(buffer->frameLength()) / rate;
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    engine.avEngine()->stop();
}

}  // namespace sonora
