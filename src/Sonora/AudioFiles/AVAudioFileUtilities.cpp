#include "Sonora/AudioFiles/AVAudioFileUtilities.h"

#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"
#include "Sonora/Internals/Utilities/Log.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace sonora {

std::shared_ptr<AVAudioPCMBuffer> toAVAudioPCMBuffer(AVAudioFile& file) {
    const AVAudioFormat& format = file.processingFormat();
    const AVAudioFramePosition length = file.length();
    // A buffer counts frames in 32 bits; a longer file cannot be held and is not read at all.
    if (length < 0 || length > AVAudioFramePosition(std::numeric_limits<AVAudioFrameCount>::max())) {
        Log({"File is too long to read into one buffer:", file.url(), "frames:", length}, OSLog::fileHandling(),
            OSLogType::error);
        return nullptr;
    }
    auto buffer = AVAudioPCMBuffer::make(format, AVAudioFrameCount(length));
    if (!buffer) return nullptr;
    try {
        file.setFramePosition(0);
        file.read(*buffer);
    } catch (const platform::NSErrorException& e) {
        Log({"Cannot read into buffer " + e.error().localizedDescription}, OSLog::fileHandling(), OSLogType::error);
        return nullptr;
    }
    // A success is not logged: an export reads one buffer per clip, thousands in a large project.
    return buffer;
}

std::shared_ptr<AVAudioFile> makeAudioFile(const URL& url, const AVAudioPCMBuffer& fromBuffer) {
    auto file = AVAudioFile::forWriting(url, fromBuffer.format().settings());
    try {
        file->setFramePosition(0);
        file->write(fromBuffer);
    } catch (const platform::NSErrorException& e) {
        Log({e.error()}, OSLog::general(), OSLogType::error);
        throw;
    }
    return file;
}

std::optional<std::vector<std::vector<float>>> floatChannelData(AVAudioFile& file) {
    const auto buffer = toAVAudioPCMBuffer(file);
    if (!buffer) return std::nullopt;
    return toFloatChannelData(*buffer);
}

std::optional<Peak> peak(AVAudioFile& file) {
    const auto buffer = toAVAudioPCMBuffer(file);
    if (!buffer) return std::nullopt;
    return peak(*buffer);
}

std::shared_ptr<AVAudioFile> extract(AVAudioFile& file, const URL& to, double startTime, double endTime,
                                     double fadeInTime, double fadeOutTime) {
    const auto source = toAVAudioPCMBuffer(file);
    if (!source) {
        Log({"Error reading into input buffer"}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
    auto range = extract(*source, startTime, endTime);
    if (!range) {
        Log({"Failed to create edited buffer"}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
    // A length that is not a number counts as a fade to apply; fade() then refuses it.
    if (fadeInTime != 0 || fadeOutTime != 0) {
        if (auto faded = fade(range, fadeInTime, fadeOutTime, false)) range = std::move(faded);
    }

    std::string extension = to.pathExtension();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const URL destination = extension == "caf" ? to : to.deletingPathExtension().appendingPathExtension("caf");
    try {
        return makeAudioFile(destination, *range);
    } catch (const platform::NSErrorException&) {
        Log({"Failed to write new file at", destination}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
}

}  // namespace sonora
