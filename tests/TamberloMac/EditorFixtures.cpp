#include "EditorFixtures.h"

#include "platform/avfaudio/AVAudioFile.h"

namespace editortest {

std::vector<float> readSamples(const std::filesystem::path& path, uint32_t* channels, double* rate) {
    auto file = platform::AVAudioFile::forReading(platform::URL(path));
    const auto& format = file->processingFormat();
    if (channels) *channels = format.channelCount();
    if (rate) *rate = format.sampleRate();
    std::vector<float> samples;
    auto buffer = platform::AVAudioPCMBuffer::make(format, 65536);
    while (true) {
        file->read(*buffer);
        const uint32_t frames = buffer->frameLength();
        if (frames == 0) break;
        for (uint32_t f = 0; f < frames; ++f)
            for (uint32_t c = 0; c < format.channelCount(); ++c) samples.push_back(buffer->floatChannelData()[c][f]);
    }
    return samples;
}

}  // namespace editortest
