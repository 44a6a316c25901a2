#include "Sonora/AudioFiles/FormatConverter/FormatConverterOptions.h"

#include <algorithm>

namespace sonora {

FormatConverterOptions::FormatConverterOptions(const platform::AVAudioFile& audioFile)
    : format(audioFile.url().pathExtension()) {
    const auto& description = audioFile.fileFormat().streamDescription();
    sampleRate = description.mSampleRate;
    bitDepth = description.mBitsPerChannel;
    channels = description.mChannelsPerFrame;
}

std::optional<FormatConverterOptions> FormatConverterOptions::fromURL(const platform::URL& url) {
    try {
        const auto file = platform::AVAudioFile::forReading(url);
        return FormatConverterOptions(*file);
    } catch (const platform::NSErrorException&) {
        return std::nullopt;
    }
}

FormatConverterOptions::FormatConverterOptions(std::optional<std::string> format_, std::optional<double> sampleRate_,
                                               std::optional<uint32_t> bitDepth_, std::optional<uint32_t> channels_)
    : format(std::move(format_)), sampleRate(sampleRate_), bitDepth(bitDepth_), channels(channels_) {}

void FormatConverterOptions::setBitRate(uint32_t bitRate) { bitRate_ = std::clamp<uint32_t>(bitRate, 64000, 320000); }

}  // namespace sonora
