// The audio layer's check of a status code from the platform's audio and MIDI services.
#pragma once

#include "platform/foundation/NSError.h"

namespace sonora {

// Logs a failing status (anything but noErr) at error level under the name of the platform
// constant it stands for, or as a signed number when it has no name here. Returns normally.
void CheckError(platform::OSStatus error);

}  // namespace sonora
