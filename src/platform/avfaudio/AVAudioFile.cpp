#include "platform/avfaudio/AVAudioFile.h"

#include "platform/media/AudioFileBackend.h"
#include "platform/media/ContainerMark.h"
#include "platform/media/FFmpegBackend.h"
#include "platform/media/SndfileBackend.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void fail(OSStatus status, const std::string& text) {
    throw NSErrorException(makeOSStatusError(status, text));
}

std::string quoted(const URL& url) { return "\u201C" + url.lastPathComponent() + "\u201D"; }

std::string lowercased(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

detail::SndfileContainer containerFor(const URL& url) {
    const std::string ext = lowercased(url.pathExtension());
    if (ext == "wav" || ext == "wave") return detail::SndfileContainer::wav;
    if (ext == "aif" || ext == "aiff") return detail::SndfileContainer::aiff;
    if (ext == "aifc") return detail::SndfileContainer::aifc;
    // Work files have no extension; they, like any other name, get CAF.
    return detail::SndfileContainer::caf;
}

}  // namespace

std::shared_ptr<AVAudioFile> AVAudioFile::forReading(const URL& url) {
    const std::string path = url.path();
    std::error_code ec;
    const auto status = std::filesystem::status(url.filePath(), ec);
    if (path.empty() || !std::filesystem::exists(status))
        fail(kAudioFileFileNotFoundError, "The file " + quoted(url) + " couldn\u2019t be opened because there is no such file.");
    if (std::filesystem::is_directory(status))
        fail(kAudioFileUnsupportedFileTypeError, "The file " + quoted(url) + " is a folder, not an audio file.");
    // A pipe or a device could block or never end.
    if (!std::filesystem::is_regular_file(status))
        fail(kAudioFileUnsupportedFileTypeError, "The file " + quoted(url) + " is not a regular file.");
    if (::access(path.c_str(), R_OK) != 0)
        fail(kAudioFilePermissionsError, "You don\u2019t have permission to read the file " + quoted(url) + ".");
    if (std::filesystem::file_size(url.filePath(), ec) == 0)
        fail(kAudioFileInvalidFileError, "The file " + quoted(url) + " is empty.");

    std::string sndfileFailure, ffmpegFailure;
    std::unique_ptr<detail::AudioFileBackend> backend = detail::openSndfileForReading(path, &sndfileFailure);
    if (!backend) backend = detail::openFFmpegForReading(path, &ffmpegFailure);
    if (!backend) {
        // A known container is damaged rather than of an unknown type; the reader meant for it says why.
        switch (detail::containerMarkOf(path)) {
        case detail::ContainerMark::sndfile:
            fail(kAudioFileInvalidFileError, "The file " + quoted(url) + " is damaged: " + sndfileFailure);
        case detail::ContainerMark::ffmpeg:
            fail(kAudioFileInvalidFileError, "The file " + quoted(url) + " is damaged: " + ffmpegFailure);
        case detail::ContainerMark::unknown: break;
        }
        fail(kAudioFileUnsupportedFileTypeError, "The file " + quoted(url) + " is not an audio file of a known type.");
    }

    const AudioStreamBasicDescription onDisk = backend->fileDescription();
    // Header fields size buffers all the way to the output: values no real recording has are
    // damage, refused before anything is allocated for them.
    if (!(onDisk.mSampleRate >= kMinimumSampleRate && onDisk.mSampleRate <= kMaximumSampleRate))
        fail(kAudioFileUnsupportedDataFormatError, "The sample rate of " + quoted(url) + " (" +
                                                       std::to_string(std::llround(onDisk.mSampleRate)) +
                                                       " Hz) is outside 1 … 1536000 Hz.");
    if (onDisk.mChannelsPerFrame < 1 || onDisk.mChannelsPerFrame > kMaximumChannels)
        fail(kAudioFileUnsupportedDataFormatError, "The channel count of " + quoted(url) + " (" +
                                                       std::to_string(onDisk.mChannelsPerFrame) + ") is outside 1 … " +
                                                       std::to_string(kMaximumChannels) + ".");
    std::shared_ptr<AVAudioFile> file(new AVAudioFile());
    file->url_ = url;
    file->fileFormat_ = AVAudioFormat(onDisk);
    file->processingFormat_ = AVAudioFormat::standardFormatWithSampleRate(onDisk.mSampleRate, onDisk.mChannelsPerFrame);
    if (!file->fileFormat_.isValid() || !file->processingFormat_.isValid())
        fail(kAudioFileUnsupportedDataFormatError, "The audio format of " + quoted(url) + " is not supported.");
    file->backend_ = std::move(backend);
    return file;
}

std::shared_ptr<AVAudioFile> AVAudioFile::forWriting(const URL& url, const AVAudioSettings& settings) {
    const auto id = settings.find(AVFormatIDKey);
    if (id != settings.end() && id->second != double(kAudioFormatLinearPCM))
        fail(kAudioFileUnsupportedDataFormatError, "Only linear PCM can be written to an audio file.");
    const AVAudioFormat wanted(settings);
    if (!wanted.isValid() || !wanted.isPCM())
        fail(kAudioFileUnsupportedDataFormatError, "The settings describe no writable audio format.");

    auto backend = detail::createSndfileForWriting(url.path(), containerFor(url), wanted.streamDescription());
    const AudioStreamBasicDescription onDisk = backend->fileDescription();
    std::shared_ptr<AVAudioFile> file(new AVAudioFile());
    file->url_ = url;
    file->writing_ = true;
    file->fileFormat_ = AVAudioFormat(onDisk);
    file->processingFormat_ = AVAudioFormat::standardFormatWithSampleRate(onDisk.mSampleRate, onDisk.mChannelsPerFrame);
    if (!file->processingFormat_.isValid())
        fail(kAudioFileUnsupportedDataFormatError, "The settings describe no writable audio format.");
    file->backend_ = std::move(backend);
    return file;
}

std::shared_ptr<AVAudioFile> AVAudioFile::forWriting(const URL& url, const AVAudioSettings& settings,
                                                     AVAudioCommonFormat commonFormat, bool interleaved) {
    if (commonFormat != AVAudioCommonFormat::pcmFormatFloat32)
        fail(kAudioFileUnsupportedDataFormatError, "Only Float32 is offered as the processing format.");
    auto file = forWriting(url, settings);
    const auto& f = file->processingFormat_;
    file->processingFormat_ = AVAudioFormat(commonFormat, f.sampleRate(), f.channelCount(), interleaved);
    return file;
}

AVAudioFile::~AVAudioFile() {
    try {
        close();
    } catch (...) {
        // A failing flush in a destructor has nobody to tell.
    }
}

AVAudioFramePosition AVAudioFile::length() const { return backend_ ? backend_->length() : closedLength_; }

void AVAudioFile::setFramePosition(AVAudioFramePosition position) { framePosition_ = std::max<AVAudioFramePosition>(0, position); }

void AVAudioFile::read(AVAudioPCMBuffer& buffer) { read(buffer, buffer.frameCapacity()); }

void AVAudioFile::read(AVAudioPCMBuffer& buffer, AVAudioFrameCount frameCount) {
    if (!backend_) fail(kAudioFileNotOpenError, "The file " + quoted(url_) + " is closed.");
    if (writing_) fail(kAudioFileNotOpenError, "The file " + quoted(url_) + " is open for writing, not reading.");
    if (!(buffer.format() == processingFormat_))
        fail(kAudio_ParamError, "The buffer's format is not the file's processing format.");
    const AVAudioFrameCount wanted = std::min(frameCount, buffer.frameCapacity());
    if (framePosition_ >= backend_->length() || wanted == 0) {
        buffer.setFrameLength(0);
        return;
    }
    if (backend_->position() != framePosition_) backend_->seek(framePosition_);
    const uint32_t got = backend_->read(buffer.floatChannelData(), wanted);
    buffer.setFrameLength(got);
    framePosition_ += got;
}

bool AVAudioFile::readsRaw() const { return backend_ && !writing_ && backend_->readsRaw(); }

AVAudioFrameCount AVAudioFile::readRaw(void* bytes, AVAudioFrameCount frameCount) {
    if (!readsRaw()) fail(kAudioFileNotOpenError, "The file " + quoted(url_) + " gives no raw reads.");
    if (framePosition_ >= backend_->length() || frameCount == 0) return 0;
    if (backend_->position() != framePosition_) backend_->seek(framePosition_);
    const uint32_t got = backend_->readRaw(bytes, frameCount);
    framePosition_ += got;
    return got;
}

void AVAudioFile::write(const AVAudioPCMBuffer& buffer) {
    if (!backend_) fail(kAudioFileNotOpenError, "The file " + quoted(url_) + " is closed.");
    if (!writing_) fail(kAudioFileNotOpenError, "The file " + quoted(url_) + " is open for reading, not writing.");
    const AVAudioFormat& format = buffer.format();
    if (format.commonFormat() != AVAudioCommonFormat::pcmFormatFloat32 || format.sampleRate() != processingFormat_.sampleRate() ||
        format.channelCount() != processingFormat_.channelCount())
        fail(kAudio_ParamError, "The buffer's format " + format.description() + " does not match the file's " +
                                    processingFormat_.description() + ".");
    if (backend_->position() != framePosition_) backend_->seek(framePosition_);
    const AVAudioFrameCount frames = buffer.frameLength();
    if (format.isInterleaved() && format.channelCount() > 1) {
        const uint32_t channels = format.channelCount();
        deinterleaved_.resize(size_t(frames) * channels);
        std::vector<const float*> pointers(channels);
        const float* in = buffer.floatChannelData()[0];
        for (uint32_t c = 0; c < channels; ++c) {
            float* out = deinterleaved_.data() + size_t(c) * frames;
            for (AVAudioFrameCount i = 0; i < frames; ++i) out[i] = in[size_t(i) * channels + c];
            pointers[c] = out;
        }
        backend_->write(pointers.data(), frames);
    } else {
        backend_->write(buffer.floatChannelData(), frames);
    }
    framePosition_ = backend_->position();
}

void AVAudioFile::close() {
    if (!backend_) return;
    closedLength_ = backend_->length();
    auto backend = std::move(backend_);
    backend->close();
}

void AVAudioFile::closeWithoutSync() {
    if (backend_) backend_->skipSyncOnClose();
    close();
}

bool AVAudioFile::isOpen() const { return backend_ != nullptr; }

}  // namespace platform
