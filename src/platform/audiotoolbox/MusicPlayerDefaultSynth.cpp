// The synthesizer that plays tracks without a destination: a General MIDI sampler on the default
// output, made the first time a player needs it.
#include "platform/audiotoolbox/detail/MusicPlayerDefaultSynth.h"

#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/foundation/OSLog.h"

#include <cstdlib>
#include <filesystem>

namespace platform::detail {

namespace {
void logSynth(const std::string& message) {
    os_log(OSLog{"com.tamberlo.audiotoolbox", "MusicPlayer"}, OSLogType::error, message);
}
}  // namespace

MusicPlayerDefaultSynth makeGeneralMIDISynth() {
    const char* env = std::getenv("TAMBERLO_DEFAULT_SOUNDFONT");
    const std::string soundFont = env && *env ? env : "/usr/share/sounds/sf2/default-GM.sf2";
    std::error_code error;
    if (!std::filesystem::is_regular_file(soundFont, error)) {
        logSynth("MusicPlayer: no General MIDI SoundFont at " + soundFont +
                 "; the events of tracks without a destination are dropped");
        return {};
    }
    try {
        auto engine = AVAudioEngine::make();
        auto sampler = std::make_shared<AVAudioUnitSampler>();
        engine->attach(sampler);
        engine->connect(sampler, engine->mainMixerNode(), std::nullopt);
        sampler->loadSoundBankInstrument(URL(soundFont), 0, kAUSampler_DefaultMelodicBankMSB, 0);
        engine->start();
        auto block = sampler->auAudioUnit()->scheduleMIDIEventBlock();
        if (!block) return {};
        // The engine plays until the process ends.
        return [engine, sampler, block](const uint8_t* bytes, size_t length) {
            if (length >= 1 && length <= 3) block(AUEventSampleTimeImmediate, 0, NSInteger(length), bytes);
        };
    } catch (const NSErrorException& e) {
        logSynth("MusicPlayer: the General MIDI sampler could not start: " + e.error().description() +
                 "; the events of tracks without a destination are dropped");
        return {};
    }
}

}  // namespace platform::detail
