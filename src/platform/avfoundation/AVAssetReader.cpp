#include "platform/avfoundation/AVAssetReader.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/OSLog.h"
#include "platform/media/PCMConverter.h"

#include <cmath>
#include <filesystem>
#include <mutex>

namespace platform {

namespace detail {

namespace {

// File frames read per sample buffer.
constexpr uint32_t kChunkFrames = 4096;

bool isPlainPCM(const AudioStreamBasicDescription& d) {
    if (d.mFormatID != kAudioFormatLinearPCM || d.mChannelsPerFrame == 0 || d.mBytesPerFrame == 0) return false;
    if (d.mFormatFlags & kAudioFormatFlagIsFloat) return d.mBitsPerChannel == 32 || d.mBitsPerChannel == 64;
    return d.mBitsPerChannel == 8 || d.mBitsPerChannel == 16 || d.mBitsPerChannel == 24 || d.mBitsPerChannel == 32;
}

// The layout a track output hands out for a track stored as `stored`: the stored linear PCM, the
// PCM the settings ask for (missing rate and channels from the track), or for compressed data
// without settings Float32 interleaved. An invalid description when the settings are unusable.
AudioStreamBasicDescription outputLayout(const AudioStreamBasicDescription& stored, const std::optional<AVAudioSettings>& settings) {
    if (!settings) {
        if (isPlainPCM(stored)) {
            AudioStreamBasicDescription d = stored;
            d.mFormatFlags |= kAudioFormatFlagIsPacked;
            d.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
            return d;
        }
        return AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, stored.mSampleRate, stored.mChannelsPerFrame, true)
            .streamDescription();
    }
    AVAudioSettings complete = *settings;
    const auto id = complete.find(AVFormatIDKey);
    if (id != complete.end() && id->second != double(kAudioFormatLinearPCM)) return {};
    complete.emplace(AVSampleRateKey, stored.mSampleRate);
    complete.emplace(AVNumberOfChannelsKey, double(stored.mChannelsPerFrame));
    const AVAudioFormat format(complete);
    if (!format.isValid() || !format.isPCM()) return {};
    return format.streamDescription();
}

}  // namespace

// The reading state shared by a reader and its outputs.
class AssetReadingCore {
public:
    struct Track {
        std::optional<AVAudioSettings> settings;
        std::shared_ptr<AVAudioFile> file;
        AudioStreamBasicDescription out{};
        std::unique_ptr<PCMConverter> converter;
        std::shared_ptr<AVAudioPCMBuffer> chunk;
        std::vector<unsigned char> outBytes;
        std::vector<unsigned char> outList;
        size_t outCapacity = 0;
        int64_t framesOut = 0;
        int64_t expectedLength = 0;
        bool sourceEnded = false;
        bool done = false;
    };

    explicit AssetReadingCore(URL url) : url_(std::move(url)) {}

    AVAssetReaderStatus status() const {
        std::lock_guard lock(mutex_);
        return status_;
    }
    std::optional<NSError> error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

    int addTrack(std::optional<AVAudioSettings> settings) {
        std::lock_guard lock(mutex_);
        tracks_.emplace_back();
        tracks_.back().settings = std::move(settings);
        return int(tracks_.size()) - 1;
    }

    bool start() {
        std::lock_guard lock(mutex_);
        if (status_ != AVAssetReaderStatus::unknown) return false;
        try {
            for (Track& t : tracks_) open(t);
        } catch (const NSErrorException& e) {
            failLocked(e.error());
            return false;
        }
        status_ = AVAssetReaderStatus::reading;
        if (tracks_.empty()) status_ = AVAssetReaderStatus::completed;
        return true;
    }

    void cancel() {
        std::lock_guard lock(mutex_);
        if (status_ != AVAssetReaderStatus::unknown && status_ != AVAssetReaderStatus::reading) return;
        status_ = AVAssetReaderStatus::cancelled;
        release();
    }

    std::shared_ptr<CMSampleBuffer> next(int slot) {
        std::lock_guard lock(mutex_);
        if (status_ != AVAssetReaderStatus::reading || slot < 0 || size_t(slot) >= tracks_.size()) return nullptr;
        Track& t = tracks_[size_t(slot)];
        try {
            while (!t.done) {
                auto* out = reinterpret_cast<AudioBufferList*>(t.outList.data());
                size_t produced = 0;
                if (!t.sourceEnded) {
                    t.file->read(*t.chunk, kChunkFrames);
                    const AVAudioFrameCount got = t.chunk->frameLength();
                    if (got == 0) {
                        t.sourceEnded = true;
                        // Frames the file promised and no longer holds are lost data, not the end.
                        if (t.file->framePosition() < t.expectedLength)
                            throw NSErrorException(makeOSStatusError(kAudioFileInvalidFileError,
                                                                     "The file ends before its stated length."));
                        continue;
                    }
                    produced = t.converter->convert(t.chunk->audioBufferList(), got, out, t.outCapacity);
                } else {
                    produced = t.converter->flush(out, t.outCapacity);
                    if (produced == 0) {
                        t.done = true;
                        break;
                    }
                }
                if (produced == 0) continue;  // the resampler is still filling
                return makeBuffer(t, produced);
            }
        } catch (const NSErrorException& e) {
            failLocked(e.error());
            return nullptr;
        }
        bool all = true;
        for (const Track& other : tracks_) all = all && other.done;
        if (all) {
            status_ = AVAssetReaderStatus::completed;
            release();
        }
        return nullptr;
    }

private:
    void open(Track& t) {
        t.file = AVAudioFile::forReading(url_);
        const AudioStreamBasicDescription stored = t.file->fileFormat().streamDescription();
        t.out = outputLayout(stored, t.settings);
        const AVAudioFormat processing = t.file->processingFormat();
        t.converter = std::make_unique<PCMConverter>(processing.streamDescription(), t.out, kChunkFrames);
        if (!t.converter->isValid())
            throw NSErrorException(makeOSStatusError(kAudioFileUnsupportedDataFormatError,
                                                     "The track cannot be converted to the output settings."));
        t.chunk = AVAudioPCMBuffer::make(processing, kChunkFrames);
        t.expectedLength = t.file->length();
        // Room for one chunk's output and what the resampler may add in a burst.
        t.outCapacity = t.converter->maximumOutputFrames(kChunkFrames) + 8192;
        const bool planar = t.out.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
        const uint32_t buffers = planar ? t.out.mChannelsPerFrame : 1;
        const size_t bytesPerBuffer = t.outCapacity * t.out.mBytesPerFrame;
        t.outBytes.assign(bytesPerBuffer * buffers, 0);
        t.outList.assign(AudioBufferListSize(buffers), 0);
        auto* list = reinterpret_cast<AudioBufferList*>(t.outList.data());
        list->mNumberBuffers = buffers;
        for (uint32_t b = 0; b < buffers; ++b) {
            list->mBuffers[b].mNumberChannels = planar ? 1 : t.out.mChannelsPerFrame;
            list->mBuffers[b].mDataByteSize = uint32_t(bytesPerBuffer);
            list->mBuffers[b].mData = t.outBytes.data() + b * bytesPerBuffer;
        }
    }

    std::shared_ptr<CMSampleBuffer> makeBuffer(Track& t, size_t frames) {
        const double rate = t.out.mSampleRate;
        const auto scale = CMTimeScale(std::lround(rate));
        const CMTime pts = double(scale) == rate ? CMTimeMake(t.framesOut, scale)
                                                 : CMTimeMake(CMTimeValue(std::llround(double(t.framesOut) / rate * 1e6)), 1000000);
        t.framesOut += int64_t(frames);
        return CMSampleBuffer::make(t.out, *reinterpret_cast<const AudioBufferList*>(t.outList.data()), CMItemCount(frames), pts);
    }

    void failLocked(const NSError& error) {
        status_ = AVAssetReaderStatus::failed;
        error_ = error;
        release();
    }

    // Closes the files; the outputs give nothing more.
    void release() {
        for (Track& t : tracks_) {
            if (t.file) t.file->close();
            t.done = true;
        }
    }

    URL url_;
    mutable std::mutex mutex_;
    AVAssetReaderStatus status_ = AVAssetReaderStatus::unknown;
    std::optional<NSError> error_;
    std::vector<Track> tracks_;
};

}  // namespace detail

AVAssetReaderTrackOutput::AVAssetReaderTrackOutput(AVAssetTrack track, std::optional<AVAudioSettings> outputSettings)
    : track_(std::move(track)), outputSettings_(std::move(outputSettings)) {}

AVAssetReaderTrackOutput::~AVAssetReaderTrackOutput() = default;

std::shared_ptr<CMSampleBuffer> AVAssetReaderTrackOutput::copyNextSampleBuffer() {
    return core_ ? core_->next(slot_) : nullptr;
}

std::shared_ptr<AVAssetReader> AVAssetReader::make(const AVURLAsset& asset) {
    std::error_code ec;
    if (asset.url().isEmpty() || !std::filesystem::exists(asset.url().filePath(), ec))
        throw NSErrorException(NSError{NSCocoaErrorDomain, 260,
                                       "The file \u201C" + asset.url().lastPathComponent() +
                                           "\u201D couldn\u2019t be opened because there is no such file."});
    return std::shared_ptr<AVAssetReader>(new AVAssetReader(asset));
}

AVAssetReader::AVAssetReader(AVURLAsset asset)
    : asset_(std::move(asset)), core_(std::make_shared<detail::AssetReadingCore>(asset_.url())) {}

AVAssetReader::~AVAssetReader() = default;

bool AVAssetReader::canAdd(const std::shared_ptr<AVAssetReaderTrackOutput>& output) const {
    if (!output || output->core_ || core_->status() != AVAssetReaderStatus::unknown) return false;
    const AVAssetTrack& track = output->track();
    if (track.mediaType() != AVMediaType::audio || track.trackID() > 1 || track.formatDescriptions().empty()) return false;
    const AudioStreamBasicDescription stored = track.formatDescriptions().front().streamBasicDescription;
    return detail::outputLayout(stored, output->outputSettings()).mFormatID == kAudioFormatLinearPCM;
}

void AVAssetReader::add(const std::shared_ptr<AVAssetReaderTrackOutput>& output) {
    if (!canAdd(output)) {
        os_log(OSLog{"io.tamberlo.platform", "avfoundation"}, OSLogType::error,
               "AVAssetReader cannot add an output for this track or with these settings");
        return;
    }
    output->slot_ = core_->addTrack(output->outputSettings());
    output->core_ = core_;
    outputs_.push_back(output);
}

bool AVAssetReader::startReading() { return core_->start(); }
void AVAssetReader::cancelReading() { core_->cancel(); }
AVAssetReaderStatus AVAssetReader::status() const { return core_->status(); }
std::optional<NSError> AVAssetReader::error() const { return core_->error(); }

}  // namespace platform
