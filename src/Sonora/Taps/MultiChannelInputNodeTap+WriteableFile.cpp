#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Taps/MultiChannelInputNodeTap.h"
#include "platform/accelerate/vDSP.h"

#include <cmath>
#include <filesystem>

namespace sonora {

namespace {
// The mean over the buffer's channels of |RMS|; 0 without float data.
float meanRMS(const platform::AVAudioPCMBuffer& buffer) {
    float* const* data = buffer.floatChannelData();
    const uint32_t channels = buffer.format().channelCount();
    if (!data || channels == 0) return 0;
    float sum = 0;
    for (uint32_t c = 0; c < channels; ++c) {
        float rms = 0;
        const bool interleaved = buffer.stride() > 1;
        platform::vDSP_rmsqv(interleaved ? data[0] + c : data[c], platform::vDSP_Stride(buffer.stride()), &rms,
                             buffer.frameLength());
        sum += std::fabs(rms);
    }
    return sum / float(channels);
}
}  // namespace

using WriteableFile = MultiChannelInputNodeTap::WriteableFile;

WriteableFile::WriteableFile(platform::URL url, platform::AVAudioFormat fileFormat, int32_t channel, uint32_t ioLatency)
    : url(std::move(url)), fileFormat(std::move(fileFormat)), channel(channel), ioLatency(ioLatency) {}

std::string WriteableFile::description() const {
    return "url: " + url.path() + ", channel: " + std::to_string(channel) + ", file is open: " + (file ? "true" : "false");
}

void WriteableFile::createFile() {
    std::lock_guard lock(mutex_);
    if (file) return;
    timestamp.reset();
    try {
        file = platform::AVAudioFile::forWriting(url, fileFormat.settings());
    } catch (const platform::NSErrorException& e) {
        Log({"Failed creating file at", url, e.error().localizedDescription});
    }
}

void WriteableFile::setTotalFramesWritten(int64_t frames) {
    totalFramesWritten = frames;
    duration = double(frames) / fileFormat.sampleRate();
}

void WriteableFile::write(const platform::AVAudioPCMBuffer& buffer) {
    file->write(buffer);
    amplitudeArray.push_back(amplitude);
    setTotalFramesWritten(file->length());
}

void WriteableFile::writeFile(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time) {
    std::lock_guard lock(mutex_);
    if (!file) return;
    const uint32_t frameLength = buffer.frameLength();
    totalFramesRead += frameLength;
    if (!timestamp) timestamp = time;
    if (!ioLatencyHandled && ioLatency != 0) {
        Log({"Actual buffer size is", frameLength, "totalFramesRead", totalFramesRead, "Attempting to skip", ioLatency,
             "frames for latency compensation"});
        if (totalFramesRead <= ioLatency) return;
        const uint32_t offset = totalFramesRead - ioLatency;
        if (offset < frameLength) {
            if (auto partial = copyFromFrame(buffer, frameLength - offset)) {
                Log({"Writing partial buffer", partial->frameLength(), "frames, ioLatency is", ioLatency, "latencyOffset", offset});
                ioLatencyHandled = true;
                write(*partial);
                return;
            }
        }
        Log({"Unexpected buffer size of", frameLength});
        ioLatencyHandled = true;
    }
    write(buffer);
}

void WriteableFile::writeAndMeasure(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time, bool doWrite) {
    if (doWrite) writeFile(buffer, time);
    std::lock_guard lock(mutex_);
    amplitude = meanRMS(buffer);
}

void WriteableFile::close() {
    std::lock_guard lock(mutex_);
    Log({"recorded duration is", duration, "initial timestamp is",
         timestamp ? LogItem(std::to_string(timestamp->sampleTime())) : LogItem(nullptr), "totalFramesRead", totalFramesRead,
         "file.length", file ? LogItem(file->length()) : LogItem(nullptr)});
    file.reset();
    amplitudeArray.clear();
}

std::optional<platform::URL> MultiChannelInputNodeTap::nextAvailableURL(const platform::URL& directory, const std::string& name,
                                                                      int startIndex) const {
    if (startIndex > 10000) {
        Log({"The file index", startIndex, "is above 10000"});
        return std::nullopt;
    }
    const std::filesystem::path folder = directory.filePath();
    for (int n = startIndex; n <= 10000; ++n) {
        const std::filesystem::path candidate = folder / (name + " #" + std::to_string(n) + "." + recordFileType_);
        // The name itself, not what it may link to: a dangling link is a taken name.
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) return platform::URL(candidate);
    }
    return std::nullopt;
}

}  // namespace sonora
