// The settings of one conversion: output format, sample rate, bit depth, channels and bit rate.
#pragma once

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sonora {

// FormatConverter.BitDepthRule: whether the PCM path may raise the input's bit depth.
enum class FormatConverterBitDepthRule : int {
    lessThanOrEqual = 0,  // never more bits than the input has
    any = 1,              // the requested depth as it is
};

// FormatConverter.Options. Absent values mean "the input's".
struct FormatConverterOptions {
    // "wav", "aif", "caf" or "m4a"; start() takes the output's extension when absent.
    std::optional<std::string> format;
    std::optional<double> sampleRate;
    std::optional<uint32_t> bitDepth;
    FormatConverterBitDepthRule bitDepthRule = FormatConverterBitDepthRule::lessThanOrEqual;
    std::optional<uint32_t> channels;
    // Interleaving of PCM written by the compressed path.
    std::optional<bool> isInterleaved;
    // start() may delete an existing output file.
    bool eraseFile = true;

    // All defaults.
    FormatConverterOptions() = default;
    // From a file open for reading: its extension as the format (unchanged), and the rate, bit depth
    // and channels of its on-disk format.
    explicit FormatConverterOptions(const platform::AVAudioFile& audioFile);
    // Opens the URL for reading and continues as above; nothing when it cannot be opened.
    static std::optional<FormatConverterOptions> fromURL(const platform::URL& url);
    FormatConverterOptions(std::optional<std::string> format, std::optional<double> sampleRate,
                           std::optional<uint32_t> bitDepth, std::optional<uint32_t> channels);

    // Encoder bit rate in bit/s, used by AAC output. Setting it keeps it within 64000...320000.
    uint32_t bitRate() const { return bitRate_; }
    void setBitRate(uint32_t bitRate);

private:
    uint32_t bitRate_ = 128000;
};

}  // namespace sonora
