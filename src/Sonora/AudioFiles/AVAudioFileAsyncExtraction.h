// Cutting a time range out of an audio file into a file of any format the format converter writes.
#pragma once

#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/URL.h"

#include <optional>

namespace sonora {

// The range from startTime to endTime (seconds; an end of 0 means the end), faded when the fade
// lengths are not 0, written first to "<name>_temp.caf" next to `to` and then converted to
// "<name>.<format>", where the format is the options' (by default the SOURCE file's extension and
// on-disk format) or else `to`'s extension. The extraction runs before the call returns; the
// outcome arrives through the handler, on the thread the converter finishes on. The temporary file
// is removed once the conversion has finished.
void extract(platform::AVAudioFile& file, const platform::URL& to, double startTime, double endTime,
             double fadeInTime, double fadeOutTime, std::optional<FormatConverter::Options> options,
             FormatConverter::CompletionHandler completionHandler);

}  // namespace sonora
