// Registration of the built-in effect units under their component descriptions.
#include "platform/audiotoolbox/AVAudioUnitEffect.h"
#include "platform/audiotoolbox/EffectAudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnitReverb.h"

#include <mutex>

namespace platform {

void registerBuiltInEffectUnits() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerEffectUnits();
        registerReverbAndTimeEffectUnits();
    });
}

}  // namespace platform
