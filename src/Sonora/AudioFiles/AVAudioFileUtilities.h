// Operations on audio files: read a whole file into one buffer, write a buffer into a new file,
// per-channel sample arrays, the loudest block, and cutting a time range into a new CAF file.
#pragma once

#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/URL.h"

#include <memory>
#include <optional>
#include <vector>

namespace sonora {

// The whole file from frame 0, in its processing format; nullptr when the buffer cannot be
// created, the file has more frames than one buffer can hold, or the read fails (logged).
std::shared_ptr<AVAudioPCMBuffer> toAVAudioPCMBuffer(AVAudioFile& file);

// init(url:fromBuffer:): a file at `url` (container from the extension) in the buffer format's
// settings, already holding the buffer's frames and still open for writing; the data is complete
// once the object is released. Throws NSErrorException when the file cannot be created or written.
std::shared_ptr<AVAudioFile> makeAudioFile(const URL& url, const AVAudioPCMBuffer& fromBuffer);

// Every frame of the file as one array per channel; nothing when it cannot be read.
std::optional<std::vector<std::vector<float>>> floatChannelData(AVAudioFile& file);

// The file's loudest block; nothing when it cannot be read or is empty.
std::optional<Peak> peak(AVAudioFile& file);

// The range from startTime to endTime (seconds; an end of 0 means the end of the file), with an
// exponential fade-in and fade-out when their lengths are not 0, written as a CAF file at `to`
// (its extension replaced by "caf" unless it already is). Returns the new file, still open for
// writing, or nullptr when reading, cutting or writing fails.
std::shared_ptr<AVAudioFile> extract(AVAudioFile& file, const URL& to, double startTime, double endTime,
                                     double fadeInTime = 0, double fadeOutTime = 0);

}  // namespace sonora
