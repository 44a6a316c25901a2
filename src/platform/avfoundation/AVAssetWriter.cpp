#include "platform/avfoundation/AVAssetWriter.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfoundation/AVError.h"
#include "platform/media/BufferListView.h"
#include "platform/media/FFmpegEncoder.h"
#include "platform/media/PCMConverter.h"
#include "platform/media/SndfileBackend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace platform {

namespace detail {

namespace {

// Frames converted at a time.
constexpr uint32_t kChunkFrames = 4096;

NSError avError(int64_t code, const std::string& description) { return NSError{AVFoundationErrorDomain, code, description}; }

bool isPCMFileType(const AVFileType& type) {
    return type == AVFileTypeWAVE || type == AVFileTypeAIFF || type == AVFileTypeAIFC || type == AVFileTypeCoreAudioFormat;
}

double setting(const AVAudioSettings& settings, const char* key, double fallback) {
    const auto it = settings.find(key);
    return it == settings.end() ? fallback : it->second;
}

}  // namespace

// The writing state shared by a writer and its input.
class AssetWritingCore {
public:
    AssetWritingCore(URL url, AVFileType type) : url_(std::move(url)), type_(std::move(type)) {}

    AVAssetWriterStatus status() const {
        std::lock_guard lock(mutex_);
        return status_;
    }
    std::optional<NSError> error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

    // Whether the settings (with the hint for what they leave out) can be written to this file type.
    std::optional<NSError> checkSettings(const std::optional<AVAudioSettings>& settings,
                                         const std::optional<CMAudioFormatDescription>& hint) const {
        if (!settings) return avError(AVErrorOperationNotAllowed, "The input has no output settings.");
        const auto id = AudioFormatID(setting(*settings, AVFormatIDKey, 0));
        const bool m4a = type_ == AVFileTypeAppleM4A;
        if (m4a ? (id != kAudioFormatMPEG4AAC && id != kAudioFormatAppleLossless) : id != kAudioFormatLinearPCM)
            return avError(AVErrorEncoderNotFound, "The output settings cannot be written to this file type.");
        const double rate = setting(*settings, AVSampleRateKey, hint ? hint->streamBasicDescription.mSampleRate : 0);
        const double channels = setting(*settings, AVNumberOfChannelsKey, hint ? hint->streamBasicDescription.mChannelsPerFrame : 0);
        if (!(rate > 0) || !std::isfinite(rate) || !(channels >= 1))
            return avError(AVErrorOperationNotAllowed, "The output settings give no sample rate or channel count.");
        return std::nullopt;
    }

    bool start(const std::optional<AVAudioSettings>& settings, const std::optional<CMAudioFormatDescription>& hint) {
        std::lock_guard lock(mutex_);
        if (status_ != AVAssetWriterStatus::unknown) return false;
        if (auto problem = checkSettings(settings, hint)) return failLocked(*problem);
        std::error_code ec;
        if (std::filesystem::exists(url_.filePath(), ec))
            return failLocked(avError(AVErrorFileAlreadyExists, "Cannot Save: the file \u201C" + url_.lastPathComponent() +
                                                                    "\u201D already exists."));
        const AudioStreamBasicDescription* hinted = hint ? &hint->streamBasicDescription : nullptr;
        const double rate = setting(*settings, AVSampleRateKey, hinted ? hinted->mSampleRate : 0);
        const auto channels = uint32_t(setting(*settings, AVNumberOfChannelsKey, hinted ? hinted->mChannelsPerFrame : 0));
        try {
            createdFile_ = true;
            if (isPCMFileType(type_)) {
                AVAudioSettings pcm = *settings;
                pcm[AVSampleRateKey] = rate;
                pcm[AVNumberOfChannelsKey] = channels;
                pcm[AVLinearPCMIsNonInterleaved] = 0;  // files hold interleaved frames
                const AVAudioFormat format(pcm);
                if (!format.isValid() || !format.isPCM())
                    throw NSErrorException(avError(AVErrorEncoderNotFound, "The linear PCM settings describe no format."));
                AudioStreamBasicDescription d = format.streamDescription();
                SndfileContainer container = SndfileContainer::caf;
                if (type_ == AVFileTypeWAVE) container = SndfileContainer::wav;
                const bool bigIntegers = !(d.mFormatFlags & kAudioFormatFlagIsFloat) && (d.mFormatFlags & kAudioFormatFlagIsBigEndian);
                if (type_ == AVFileTypeAIFF) container = SndfileContainer::aiff;
                if (type_ == AVFileTypeAIFC) container = bigIntegers ? SndfileContainer::aiff : SndfileContainer::aifc;
                sink_ = createSndfileForWriting(url_.path(), container, d);
            } else {
                AudioStreamBasicDescription d{};
                d.mSampleRate = rate;
                d.mChannelsPerFrame = channels;
                d.mFormatID = AudioFormatID(setting(*settings, AVFormatIDKey, 0));
                if (d.mFormatID == kAudioFormatAppleLossless) {
                    const double depth = setting(*settings, AVEncoderBitDepthHintKey, 16);
                    d.mFormatFlags = depth > 16 ? 3 : 1;
                }
                const double bitRate = std::max(0.0, setting(*settings, AVEncoderBitRateKey, 0));
                sink_ = createFFmpegEncoderForWriting(url_.path(), FFmpegContainer::ipod, d, uint32_t(bitRate));
            }
        } catch (const NSErrorException& e) {
            sink_.reset();
            return failLocked(e.error());
        }
        const AudioStreamBasicDescription onDisk = sink_->fileDescription();
        processing_ = AVAudioFormat::standardFormatWithSampleRate(onDisk.mSampleRate, onDisk.mChannelsPerFrame);
        chunk_ = AVAudioPCMBuffer::make(processing_, kChunkFrames * 2);
        status_ = AVAssetWriterStatus::writing;
        return true;
    }

    void startSession() {
        std::lock_guard lock(mutex_);
        sessionStarted_ = true;
    }

    bool append(const CMSampleBuffer& buffer) {
        std::lock_guard lock(mutex_);
        if (status_ != AVAssetWriterStatus::writing || !sessionStarted_) return false;
        const AudioStreamBasicDescription& format = buffer.formatDescription().streamBasicDescription;
        try {
            if (!converter_ || std::memcmp(&format, &converterInput_, sizeof format) != 0) {
                auto next = std::make_unique<PCMConverter>(format, processing_.streamDescription(), kChunkFrames);
                if (!next->isValid()) {
                    failLocked(avError(AVErrorOperationNotAllowed, "The sample buffer's format cannot be converted to the output."));
                    return false;
                }
                if (converter_) drain(true);
                converter_ = std::move(next);
                converterInput_ = format;
            }
            const AudioBufferList& list = buffer.audioBufferList();
            const auto frames = size_t(buffer.numSamples());
            const uint32_t bpf = format.mBytesPerFrame;
            const size_t capacity = chunk_->frameCapacity();
            for (size_t done = 0; done < frames;) {
                const size_t n = std::min<size_t>(frames - done, kChunkFrames);
                view_.point(list, bpf, done, n);
                const size_t out = converter_->convert(view_.list(), n, chunk_->mutableAudioBufferList(), capacity);
                if (out > 0) sink_->write(chunk_->floatChannelData(), uint32_t(out));
                if (out == capacity) drain(false);
                done += n;
            }
        } catch (const NSErrorException& e) {
            failLocked(avError(AVErrorUnknown, e.error().localizedDescription));
            return false;
        }
        return true;
    }

    // Flushes the encoder and writes the trailer; a failed file is removed.
    void finish() {
        std::lock_guard lock(mutex_);
        if (status_ == AVAssetWriterStatus::writing) {
            try {
                if (converter_) drain(true);
                auto sink = std::move(sink_);
                sink->close();
                status_ = AVAssetWriterStatus::completed;
            } catch (const NSErrorException& e) {
                failLocked(avError(AVErrorUnknown, e.error().localizedDescription));
            }
        }
        if (status_ == AVAssetWriterStatus::failed) removeOutput();
    }

    void cancel() {
        std::lock_guard lock(mutex_);
        if (status_ == AVAssetWriterStatus::completed || status_ == AVAssetWriterStatus::cancelled) return;
        status_ = AVAssetWriterStatus::cancelled;
        removeOutput();
    }

private:
    void drain(bool endOfStream) {
        const size_t capacity = chunk_->frameCapacity();
        for (;;) {
            AudioBufferList* out = chunk_->mutableAudioBufferList();
            const size_t n = endOfStream ? converter_->flush(out, capacity) : converter_->convert(nullptr, 0, out, capacity);
            if (n > 0) sink_->write(chunk_->floatChannelData(), uint32_t(n));
            if (n < capacity) break;
        }
        if (endOfStream) converter_->reset();
    }

    bool failLocked(const NSError& error) {
        status_ = AVAssetWriterStatus::failed;
        error_ = error;
        return false;
    }

    // Drops the encoder without finishing it and deletes what it wrote.
    void removeOutput() {
        if (sink_) {
            try {
                sink_->close();
            } catch (const NSErrorException&) {
                // The file goes anyway.
            }
            sink_.reset();
        }
        if (createdFile_) {
            std::error_code ec;
            std::filesystem::remove(url_.filePath(), ec);
            createdFile_ = false;
        }
    }

    URL url_;
    AVFileType type_;
    mutable std::mutex mutex_;
    AVAssetWriterStatus status_ = AVAssetWriterStatus::unknown;
    std::optional<NSError> error_;
    bool sessionStarted_ = false;
    bool createdFile_ = false;
    std::unique_ptr<AudioFileBackend> sink_;
    AVAudioFormat processing_;
    std::unique_ptr<PCMConverter> converter_;
    AudioStreamBasicDescription converterInput_{};
    std::shared_ptr<AVAudioPCMBuffer> chunk_;
    BufferListView view_;
};

}  // namespace detail

// MARK: AVAssetWriter

std::shared_ptr<AVAssetWriter> AVAssetWriter::make(const URL& outputURL, const AVFileType& fileType) {
    if (fileType != AVFileTypeAppleM4A && !detail::isPCMFileType(fileType))
        throw NSErrorException(detail::avError(AVErrorFileFormatNotRecognized, "The file type " + fileType + " cannot be written."));
    if (outputURL.isEmpty() || outputURL.lastPathComponent().empty())
        throw NSErrorException(detail::avError(AVErrorOperationNotAllowed, "The output URL names no file."));
    return std::shared_ptr<AVAssetWriter>(new AVAssetWriter(outputURL, fileType));
}

AVAssetWriter::AVAssetWriter(URL outputURL, AVFileType fileType)
    : outputURL_(std::move(outputURL)), fileType_(std::move(fileType)),
      core_(std::make_shared<detail::AssetWritingCore>(outputURL_, fileType_)) {}

AVAssetWriter::~AVAssetWriter() = default;

bool AVAssetWriter::canAdd(const std::shared_ptr<AVAssetWriterInput>& input) const {
    if (!input || input->core_ || !inputs_.empty() || core_->status() != AVAssetWriterStatus::unknown) return false;
    if (input->mediaType() != AVMediaType::audio) return false;
    return !core_->checkSettings(input->outputSettings(), input->sourceFormatHint());
}

void AVAssetWriter::add(const std::shared_ptr<AVAssetWriterInput>& input) {
    if (!input || input->core_ || !inputs_.empty() || core_->status() != AVAssetWriterStatus::unknown) return;
    input->core_ = core_;
    inputs_.push_back(input);
}

bool AVAssetWriter::startWriting() {
    if (inputs_.empty()) {
        core_->start(std::nullopt, std::nullopt);
        return false;
    }
    return core_->start(inputs_.front()->outputSettings(), inputs_.front()->sourceFormatHint());
}

void AVAssetWriter::startSession(CMTime) { core_->startSession(); }

void AVAssetWriter::finishWriting(std::function<void()> completionHandler) {
    for (const auto& input : inputs_) input->markAsFinished();
    auto core = core_;
    DispatchQueue::global().async([core, handler = std::move(completionHandler)] {
        core->finish();
        if (handler) handler();
    });
}

void AVAssetWriter::cancelWriting() {
    for (const auto& input : inputs_) input->markAsFinished();
    core_->cancel();
}

AVAssetWriterStatus AVAssetWriter::status() const { return core_->status(); }
std::optional<NSError> AVAssetWriter::error() const { return core_->error(); }

// MARK: AVAssetWriterInput

AVAssetWriterInput::AVAssetWriterInput(AVMediaType mediaType, std::optional<AVAudioSettings> outputSettings,
                                       std::optional<CMAudioFormatDescription> sourceFormatHint)
    : mediaType_(mediaType), outputSettings_(std::move(outputSettings)), sourceFormatHint_(std::move(sourceFormatHint)) {}

AVAssetWriterInput::~AVAssetWriterInput() = default;

bool AVAssetWriterInput::isReadyForMoreMediaData() const {
    {
        std::lock_guard lock(requestMutex_);
        if (finished_) return false;
    }
    if (!core_) return false;
    const AVAssetWriterStatus status = core_->status();
    return status == AVAssetWriterStatus::writing || status == AVAssetWriterStatus::failed;
}

bool AVAssetWriterInput::append(const CMSampleBuffer& sampleBuffer) {
    {
        std::lock_guard lock(requestMutex_);
        if (finished_) return false;
    }
    return core_ && core_->append(sampleBuffer);
}

void AVAssetWriterInput::markAsFinished() {
    std::function<void()> block;
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard lock(requestMutex_);
        finished_ = true;
        block = std::move(requestBlock_);
        queue = std::move(requestQueue_);
        requestBlock_ = nullptr;
        ++requestGeneration_;
    }
    // The block and the queue are released here, outside the lock: what they hold may lead back
    // to this input.
}

void AVAssetWriterInput::requestMediaDataWhenReady(std::shared_ptr<DispatchQueue> queue, std::function<void()> block) {
    if (!queue || !block) return;
    std::function<void()> oldBlock;
    std::shared_ptr<DispatchQueue> oldQueue;
    uint64_t generation;
    {
        std::lock_guard lock(requestMutex_);
        if (finished_) return;
        oldBlock = std::move(requestBlock_);
        oldQueue = std::move(requestQueue_);
        requestBlock_ = std::move(block);
        requestQueue_ = std::move(queue);
        generation = ++requestGeneration_;
    }
    scheduleRequest(generation, true);
}

void AVAssetWriterInput::scheduleRequest(uint64_t generation, bool soon) {
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard lock(requestMutex_);
        if (generation != requestGeneration_ || !requestBlock_) return;
        queue = requestQueue_;
    }
    auto self = shared_from_this();
    auto serve = [self, generation] { self->serveRequest(generation); };
    // Before writing starts there is nothing to do yet: look again shortly rather than spin.
    if (soon) queue->async(serve);
    else queue->asyncAfter(0.002, serve);
}

void AVAssetWriterInput::serveRequest(uint64_t generation) {
    std::function<void()> block;
    {
        std::lock_guard lock(requestMutex_);
        if (generation != requestGeneration_ || !requestBlock_) return;
        block = requestBlock_;
    }
    const AVAssetWriterStatus status = core_ ? core_->status() : AVAssetWriterStatus::unknown;
    if (status == AVAssetWriterStatus::completed || status == AVAssetWriterStatus::cancelled) {
        // The writer is done with this input: stop asking and let the block go.
        std::function<void()> old;
        std::shared_ptr<DispatchQueue> oldQueue;
        std::lock_guard lock(requestMutex_);
        if (generation == requestGeneration_) {
            old = std::move(requestBlock_);
            oldQueue = std::move(requestQueue_);
            requestBlock_ = nullptr;
        }
        return;
    }
    const bool ready = isReadyForMoreMediaData();
    if (ready) block();
    block = nullptr;
    scheduleRequest(generation, isReadyForMoreMediaData());
}

}  // namespace platform
