#include "Sonora/Internals/Utilities/AudioSignal.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/avfaudio/AVAudioFile.h"

#include <algorithm>
#include <limits>

namespace sonora {

using namespace platform;

std::optional<AudioSignal> loadAudioSignal(const URL& audioURL) {
    std::shared_ptr<AVAudioFile> file;
    try {
        file = AVAudioFile::forReading(audioURL);
    } catch (const NSErrorException&) {
        file = nullptr;
    }
    if (!file) {
        Log({"Error in Load Audio Signal: could not read url into audio file"}, OSLog::general(), OSLogType::error);
        return std::nullopt;
    }

    const AVAudioFormat format(AVAudioCommonFormat::pcmFormatFloat32, file->fileFormat().sampleRate(),
                               file->fileFormat().channelCount(), false);
    if (!format.isValid()) return std::nullopt;

    const AVAudioFramePosition length = file->length();
    const auto readFailed = [] {
        Log({"Error in Load Audio Signal: could not read audio file into buffer"}, OSLog::general(), OSLogType::error);
        return std::nullopt;
    };
    // The buffer's capacity is a 32-bit frame count.
    if (length < 0 || length > AVAudioFramePosition(std::numeric_limits<AVAudioFrameCount>::max())) return readFailed();
    const std::shared_ptr<AVAudioPCMBuffer> buffer = AVAudioPCMBuffer::make(format, AVAudioFrameCount(length));
    if (!buffer) return readFailed();
    try {
        file->read(*buffer);
    } catch (const NSErrorException&) {
        return readFailed();
    }

    AudioSignal result;
    result.rate = file->fileFormat().sampleRate();
    result.frameCount = length;
    if (float* const* channels = buffer->floatChannelData(); channels && format.channelCount() > 0) {
        result.signal.assign(channels[0], channels[0] + buffer->frameLength());
    }
    return result;
}

}  // namespace sonora
