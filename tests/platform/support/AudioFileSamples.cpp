#include "platform/support/AudioFileSamples.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"

namespace testsupport {

std::vector<std::vector<float>> readChannels(const std::filesystem::path& path) {
    using namespace platform;
    auto file = AVAudioFile::forReading(URL::fileURLWithPath(path.string()));
    auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), AVAudioFrameCount(file->length()));
    file->read(*buffer);
    std::vector<std::vector<float>> out(file->processingFormat().channelCount());
    for (size_t c = 0; c < out.size(); ++c)
        out[c].assign(buffer->floatChannelData()[c], buffer->floatChannelData()[c] + buffer->frameLength());
    return out;
}

}  // namespace testsupport
