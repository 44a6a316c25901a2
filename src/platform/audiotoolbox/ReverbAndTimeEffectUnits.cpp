// Registration of the reverb, time-pitch and varispeed units.
#include "platform/audiotoolbox/AVAudioUnitReverb.h"

namespace platform {

void registerReverbUnit();
void registerTimePitchUnit();
void registerVarispeedUnit();

void registerReverbAndTimeEffectUnits() {
    registerReverbUnit();
    registerTimePitchUnit();
    registerVarispeedUnit();
}

}  // namespace platform
