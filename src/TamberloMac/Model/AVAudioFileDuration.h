// The length of an audio file in seconds, as every clip duration in the editor measures it.
#pragma once

#include "platform/avfaudio/AVAudioFile.h"

#include <memory>

namespace tamberlo {

// Frames ÷ the sample rate of the file's own format; 0 for a file without a rate or without frames
// (an empty or unreadable file must not turn into a NaN width or export length).
double duration(const platform::AVAudioFile& file);
// The same for a clip's file reference; 0 when the clip refers to no file.
double duration(const std::shared_ptr<platform::AVAudioFile>& file);

}  // namespace tamberlo
