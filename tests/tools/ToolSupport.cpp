#include "ToolSupport.h"

#include "platform/coreaudio/CoreAudioTypes.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace tool {

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> parseNonNegative(const std::string& text) {
    const auto value = parseNumber(text);
    if (!value || *value < 0) return std::nullopt;
    return value;
}

std::optional<uint32_t> parseCount(const std::string& text) {
    const auto value = parseNumber(text);
    if (!value || *value < 0 || *value > 4294967295.0 || std::floor(*value) != *value) return std::nullopt;
    return uint32_t(*value);
}

std::optional<std::pair<std::string, std::string>> splitClip(const std::string& text) {
    const auto at = text.rfind('@');
    if (at == std::string::npos || at == 0) return std::nullopt;
    return std::pair{text.substr(0, at), text.substr(at + 1)};
}

int printUsage(const char* lines) {
    std::cerr << lines;
    return 2;
}

void printError(const std::string& text) { std::cerr << "sonora-tool: " << text << "\n"; }

void printError(const platform::NSError& error) {
    std::cerr << "sonora-tool: " << error.localizedDescription << " (" << error.domain << " " << error.code << ")\n";
}

platform::AVAudioSettings floatStereoSettings(double sampleRate) {
    return {
        {platform::AVFormatIDKey, double(platform::kAudioFormatLinearPCM)},
        {platform::AVSampleRateKey, sampleRate},
        {platform::AVNumberOfChannelsKey, 2},
        {platform::AVLinearPCMBitDepthKey, 32},
        {platform::AVLinearPCMIsFloatKey, 1},
    };
}

namespace {
// "35.2 GB", "493 TB": three digits in the largest unit that keeps one before the point.
std::string byteText(double bytes) {
    static const char* const units[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
    size_t unit = 0;
    while (bytes >= 1000 && unit + 1 < std::size(units)) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3g %s", bytes, units[unit]);
    return text;
}
}  // namespace

int64_t renderFrames(const std::string& out, double seconds, std::optional<double> limit, double rate) {
    if (limit) seconds = std::min(seconds, *limit);
    const double frames = std::ceil(seconds * rate);
    const double bytes = frames * 2 * sizeof(float);
    // A folder that cannot be looked at is left to the writer to report; no file holds 2^62 bytes.
    double free = 0x1p62;
    std::error_code error;
    const auto folder = std::filesystem::absolute(out, error).parent_path();
    struct statvfs disk{};
    if (!error && ::statvfs(folder.c_str(), &disk) == 0) free = std::min(free, double(disk.f_bavail) * double(disk.f_frsize));
    if (!(bytes <= free)) {
        char length[32];
        std::snprintf(length, sizeof length, "%.0f s", seconds);
        throw std::runtime_error(std::string("a render of ") + length + " (" + byteText(bytes) + ") does not fit in the " +
                                 byteText(free) + " free at " + folder.string());
    }
    return int64_t(frames);
}

}  // namespace tool

// ---------------------------------------------------------------------------------------------
// The engine commands' source.

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioSourceNode.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace tool {

namespace {

std::shared_ptr<platform::AVAudioFile> openInput(const std::string& path) {
    auto file = platform::AVAudioFile::forReading(path);
    const auto& format = file->processingFormat();
    if (format.sampleRate() != kInputRate || format.channelCount() < 1 || format.channelCount() > 2)
        throw std::runtime_error(path + " is not 44100 Hz mono or stereo: " + format.description());
    return file;
}

}  // namespace

std::vector<std::vector<float>> readInput(const std::string& path) {
    const auto file = openInput(path);
    const auto& format = file->processingFormat();
    const auto frames = platform::AVAudioFrameCount(file->length());
    auto buffer = platform::AVAudioPCMBuffer::make(format, std::max<platform::AVAudioFrameCount>(frames, 1));
    if (!buffer) throw std::runtime_error("cannot hold " + path + " in memory");
    file->read(*buffer, frames);
    std::vector<std::vector<float>> samples(2);
    for (uint32_t c = 0; c < 2; ++c) {
        const float* data = buffer->floatChannelData()[std::min(c, format.channelCount() - 1)];
        samples[c].assign(data, data + buffer->frameLength());
    }
    return samples;
}

BufferSource::BufferSource(std::vector<std::vector<float>> samples) {
    auto data = std::make_shared<std::vector<std::vector<float>>>(std::move(samples));
    auto position = std::make_shared<size_t>(0);
    node_ = std::make_shared<platform::AVAudioSourceNode>(
        [data, position](bool&, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames, platform::AudioBufferList* out) {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c) {
                auto* channel = static_cast<float*>(out->mBuffers[c].mData);
                const auto& source = (*data)[std::min<size_t>(c, data->size() - 1)];
                for (platform::AVAudioFrameCount i = 0; i < frames; ++i) {
                    const size_t at = *position + i;
                    channel[i] = at < source.size() ? source[at] : 0.0f;
                }
            }
            *position += frames;
            return platform::noErr;
        });
}

std::shared_ptr<platform::AVAudioNode> BufferSource::avAudioNode() const { return node_; }


struct FileSource::Reader {
    static constexpr platform::AVAudioFrameCount kChunkFrames = 65536;
    std::shared_ptr<platform::AVAudioFile> file;
    std::shared_ptr<platform::AVAudioPCMBuffer> chunk;
    platform::AVAudioFrameCount at = 0;  // the next frame of the chunk to play
    bool ended = false;
    std::exception_ptr failure;

    // Fills `frames` frames of every buffer of `out` from `offset` on; silence after the end.
    void play(platform::AVAudioFrameCount frames, platform::AudioBufferList* out) {
        const uint32_t channels = file->processingFormat().channelCount();
        for (platform::AVAudioFrameCount done = 0; done < frames;) {
            if (at >= chunk->frameLength() && !ended) {
                try {
                    file->read(*chunk);
                } catch (...) {
                    failure = std::current_exception();
                    chunk->setFrameLength(0);
                }
                at = 0;
                ended = chunk->frameLength() == 0;
            }
            const platform::AVAudioFrameCount n = ended ? frames - done : std::min(frames - done, chunk->frameLength() - at);
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c) {
                float* channel = static_cast<float*>(out->mBuffers[c].mData) + done;
                if (ended)
                    std::fill_n(channel, n, 0.0f);
                else
                    std::copy_n(chunk->floatChannelData()[std::min(c, channels - 1)] + at, n, channel);
            }
            if (!ended) at += n;
            done += n;
        }
    }
};

FileSource::FileSource(const std::string& path) : reader_(std::make_shared<Reader>()) {
    reader_->file = openInput(path);
    length_ = reader_->file->length();
    reader_->chunk = platform::AVAudioPCMBuffer::make(reader_->file->processingFormat(), Reader::kChunkFrames);
    if (!reader_->chunk) throw std::runtime_error("cannot read " + path);
    node_ = std::make_shared<platform::AVAudioSourceNode>(
        [reader = reader_](bool&, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames,
                           platform::AudioBufferList* out) {
            reader->play(frames, out);
            return platform::noErr;
        });
}

void FileSource::checkReads() const {
    if (reader_->failure) std::rethrow_exception(reader_->failure);
}

std::shared_ptr<platform::AVAudioNode> FileSource::avAudioNode() const { return node_; }

}  // namespace tool
