#include "platform/media/SndfileBackend.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/NSError.h"
#include "platform/media/ContainerMark.h"
#include "platform/media/PCMConverter.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <vector>

namespace platform::detail {

namespace {

constexpr uint32_t kChunkFrames = 4096;
// Frames per raw read or write of packed integer PCM.
constexpr uint32_t kRawChunkFrames = 16384;

// Apple's flags for the source bit depth of lossless data (FLAC, ALAC).
uint32_t losslessDepthFlag(int subtype) {
    switch (subtype) {
    case SF_FORMAT_ALAC_16: case SF_FORMAT_PCM_16: return 1;
    case SF_FORMAT_ALAC_20: return 2;
    case SF_FORMAT_ALAC_24: case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_ALAC_32: case SF_FORMAT_PCM_32: return 4;
    default: return 0;
    }
}

AudioStreamBasicDescription pcm(double rate, uint32_t channels, uint32_t bits, AudioFormatFlags flags) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = flags | kAudioFormatFlagIsPacked;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bits;
    d.mFramesPerPacket = 1;
    d.mBytesPerFrame = channels * ((bits + 7) / 8);
    d.mBytesPerPacket = d.mBytesPerFrame;
    return d;
}

AudioStreamBasicDescription compressed(double rate, uint32_t channels, AudioFormatID id, uint32_t framesPerPacket,
                                       AudioFormatFlags flags = 0) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = id;
    d.mFormatFlags = flags;
    d.mChannelsPerFrame = channels;
    d.mFramesPerPacket = framesPerPacket;
    return d;
}

// The on-disk description of what libsndfile opened.
AudioStreamBasicDescription describe(SNDFILE* file, const SF_INFO& info) {
    const double rate = info.samplerate;
    const auto channels = uint32_t(info.channels);
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool swapped = sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
    const bool bigEndian = (std::endian::native == std::endian::little) == swapped;
    const AudioFormatFlags order = bigEndian ? kAudioFormatFlagIsBigEndian : 0;
    switch (subtype) {
    case SF_FORMAT_PCM_S8: return pcm(rate, channels, 8, kAudioFormatFlagIsSignedInteger);
    case SF_FORMAT_PCM_U8: return pcm(rate, channels, 8, 0);
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
        if (major == SF_FORMAT_FLAC)
            return compressed(rate, channels, kAudioFormatFLAC, 0, losslessDepthFlag(subtype));
        return pcm(rate, channels, subtype == SF_FORMAT_PCM_16 ? 16 : subtype == SF_FORMAT_PCM_24 ? 24 : 32,
                   kAudioFormatFlagIsSignedInteger | order);
    case SF_FORMAT_FLOAT: return pcm(rate, channels, 32, kAudioFormatFlagIsFloat | order);
    case SF_FORMAT_DOUBLE: return pcm(rate, channels, 64, kAudioFormatFlagIsFloat | order);
    case SF_FORMAT_ALAC_16:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32:
        return compressed(rate, channels, kAudioFormatAppleLossless, 4096, losslessDepthFlag(subtype));
    case SF_FORMAT_VORBIS: return compressed(rate, channels, FourCC("vorb"), 0);
    case SF_FORMAT_OPUS: return compressed(rate, channels, kAudioFormatOpus, 960);
    case SF_FORMAT_ULAW: return compressed(rate, channels, FourCC("ulaw"), 1);
    case SF_FORMAT_ALAW: return compressed(rate, channels, FourCC("alaw"), 1);
    case SF_FORMAT_IMA_ADPCM: return compressed(rate, channels, FourCC("ima4"), 0);
    case SF_FORMAT_MS_ADPCM: return compressed(rate, channels, 0x6D730002, 0);
    case SF_FORMAT_GSM610: return compressed(rate, channels, FourCC("agsm"), 160);
    default: return compressed(rate, channels, FourCC("????"), 0);
    }
}

// Data libsndfile decodes to float natively; everything else is read as left-justified integers.
bool readsAsFloat(int subtype) {
    switch (subtype) {
    case SF_FORMAT_FLOAT: case SF_FORMAT_DOUBLE: case SF_FORMAT_VORBIS: case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I: case SF_FORMAT_MPEG_LAYER_II: case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default: return false;
    }
}

[[noreturn]] void fail(OSStatus status, const std::string& text) {
    throw NSErrorException(makeOSStatusError(status, text));
}

class SndfileBackend final : public AudioFileBackend {
public:
    SndfileBackend(std::string path, SNDFILE* file, const SF_INFO& info, AudioStreamBasicDescription description, bool writing)
        : path_(std::move(path)), file_(file), description_(description), writing_(writing),
          channels_(uint32_t(info.channels)), length_(writing ? 0 : info.frames) {
        const int subtype = info.format & SF_FORMAT_SUBMASK;
        asFloat_ = readsAsFloat(subtype);
        if (subtype == SF_FORMAT_OPUS) preroll_ = 2 * kChunkFrames;
        decodeThrough_ = subtype == SF_FORMAT_VORBIS;
        preparePacking(info);
    }
    ~SndfileBackend() override { close(); }

    AudioStreamBasicDescription fileDescription() const override { return description_; }
    int64_t length() const override { return length_; }
    int64_t position() const override { return position_; }

    void seek(int64_t frame) override {
        frame = std::clamp<int64_t>(frame, 0, length_);
        if (frame == position_) return;
        if (writing_) {
            if (sf_seek(file_, frame, SEEK_SET | SFM_WRITE) < 0) fail(kAudioFileUnspecifiedError, "The file cannot seek to that frame.");
            position_ = frame;
            return;
        }
        if (decodeThrough_) {
            // libsndfile's Vorbis seek can land some hundred frames off: decode from where it is
            // known, the start when going back.
            if (frame < position_) reopen();
            skipTo(frame);
            return;
        }
        // Lossy decoders overlap blocks: start early and decode up to the frame, so that the frames
        // match a read from the start.
        const int64_t start = std::max<int64_t>(0, frame - preroll_);
        if (sf_seek(file_, start, SEEK_SET) < 0) fail(kAudioFileInvalidFileError, "The file cannot seek to that frame.");
        position_ = start;
        skipTo(frame);
    }

    uint32_t read(float* const* channels, uint32_t frameCount) override {
        uint32_t done = 0;
        while (done < frameCount && position_ < length_) {
            const auto want = sf_count_t(std::min<int64_t>({int64_t(frameCount - done), chunkFrames(), length_ - position_}));
            sf_count_t got;
            if (packer_) {
                // Read the data chunk's own bytes in one piece and unpack them ourselves: integer
                // samples scale exactly (÷ 2^(bits−1)) and large reads take few system calls.
                const auto bytes = sf_read_raw(file_, raw_.data(), want * description_.mBytesPerFrame);
                got = bytes / sf_count_t(description_.mBytesPerFrame);
                if (got > 0) {
                    AudioBufferList in{};
                    in.mNumberBuffers = 1;
                    in.mBuffers[0] = {channels_, uint32_t(got * description_.mBytesPerFrame), raw_.data()};
                    AudioBufferList* out = reinterpret_cast<AudioBufferList*>(inList_.data());
                    for (uint32_t c = 0; c < channels_; ++c) {
                        out->mBuffers[c].mData = channels[c] + done;
                        out->mBuffers[c].mDataByteSize = uint32_t(got) * sizeof(float);
                    }
                    if (packer_->convert(&in, size_t(got), out, size_t(got)) != size_t(got))
                        fail(kAudioFileUnspecifiedError, "The samples cannot be unpacked.");
                }
            } else if (asFloat_) {
                floats_.resize(size_t(want) * channels_);
                got = sf_readf_float(file_, floats_.data(), want);
                for (uint32_t c = 0; c < channels_; ++c) {
                    float* out = channels[c] + done;
                    for (sf_count_t i = 0; i < got; ++i) out[i] = floats_[size_t(i) * channels_ + c];
                }
            } else {
                ints_.resize(size_t(want) * channels_);
                got = sf_readf_int(file_, ints_.data(), want);
                // libsndfile left-justifies every integer depth in 32 bits, so one exact scale serves all.
                for (uint32_t c = 0; c < channels_; ++c) {
                    float* out = channels[c] + done;
                    for (sf_count_t i = 0; i < got; ++i)
                        out[i] = float(double(ints_[size_t(i) * channels_ + c]) / 2147483648.0);
                }
            }
            if (got <= 0) {
                // The header promised frames the data does not hold: the file ends here.
                length_ = position_;
                break;
            }
            position_ += got;
            done += uint32_t(got);
        }
        return done;
    }

    bool readsRaw() const override { return packer_ && !writing_; }

    uint32_t readRaw(void* bytes, uint32_t frameCount) override {
        if (!readsRaw()) return 0;
        const auto want = sf_count_t(std::min<int64_t>(frameCount, length_ - position_));
        if (want <= 0) return 0;
        const sf_count_t got = sf_read_raw(file_, bytes, want * description_.mBytesPerFrame) / description_.mBytesPerFrame;
        if (got <= 0) {
            // The header promised frames the data does not hold: the file ends here.
            length_ = position_;
            return 0;
        }
        position_ += got;
        return uint32_t(got);
    }

    void write(const float* const* channels, uint32_t frameCount) override {
        uint32_t done = 0;
        while (done < frameCount) {
            // Float writes keep their pieces: libsndfile tracks the PEAK chunk's values piece by piece.
            const uint32_t n = std::min(frameCount - done, uint32_t(chunkFrames()));
            sf_count_t put;
            if (packer_) {
                // Pack the frames into the file's own byte layout and hand them over in one piece:
                // libsndfile's converting writes go out in small blocks, a system call each.
                AudioBufferList* in = reinterpret_cast<AudioBufferList*>(inList_.data());
                for (uint32_t c = 0; c < channels_; ++c) {
                    in->mBuffers[c].mData = const_cast<float*>(channels[c] + done);
                    in->mBuffers[c].mDataByteSize = n * sizeof(float);
                }
                AudioBufferList out{};
                out.mNumberBuffers = 1;
                out.mBuffers[0] = {channels_, uint32_t(raw_.size()), raw_.data()};
                const size_t packed = packer_->convert(in, n, &out, n);
                const auto bytes = sf_count_t(packed) * description_.mBytesPerFrame;
                put = packed == n && sf_write_raw(file_, raw_.data(), bytes) == bytes ? sf_count_t(n) : 0;
            } else {
                // Float files; integer files always get a packer above.
                floats_.resize(size_t(n) * channels_);
                interleave(channels, done, n);
                put = sf_writef_float(file_, floats_.data(), n);
            }
            if (put != sf_count_t(n)) fail(kAudioFileUnspecifiedError, std::string("The file cannot be written: ") + sf_strerror(file_));
            done += n;
            position_ += n;
            length_ = std::max(length_, position_);
        }
        // Keep the header true after every write, so a reader opening the file meanwhile sees every
        // frame. Once per call rather than per chunk: each update costs a few system calls.
        if (frameCount > 0) sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    }

    bool writeRaw(const void* bytes, uint32_t frameCount) override {
        // Only files whose samples we pack ourselves have a byte layout we know for certain.
        if (!packer_ || !writing_) return false;
        const auto size = sf_count_t(frameCount) * description_.mBytesPerFrame;
        if (frameCount > 0 && sf_write_raw(file_, bytes, size) != size)
            fail(kAudioFileUnspecifiedError, std::string("The file cannot be written: ") + sf_strerror(file_));
        position_ += frameCount;
        length_ = std::max(length_, position_);
        if (frameCount > 0) sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        return true;
    }

    // Reads and drops frames up to `frame`.
    void skipTo(int64_t frame) {
        while (position_ < frame) {
            const auto n = sf_count_t(std::min<int64_t>(frame - position_, kChunkFrames));
            floats_.resize(size_t(n) * channels_);
            const sf_count_t got = sf_readf_float(file_, floats_.data(), n);
            if (got <= 0) {
                length_ = position_;  // the data ends early
                return;
            }
            position_ += got;
        }
    }

    void reopen() {
        SF_INFO info{};
        SNDFILE* again = sf_open(path_.c_str(), SFM_READ, &info);
        if (!again) fail(kAudioFileInvalidFileError, "The file can no longer be read.");
        sf_close(file_);
        file_ = again;
        position_ = 0;
    }

    void skipSyncOnClose() override { syncOnClose_ = false; }

    void close() override {
        if (!file_) return;
        if (writing_ && syncOnClose_) sf_write_sync(file_);
        sf_close(file_);
        file_ = nullptr;
    }

private:
    // Frames [from, from + n) of every channel into floats_, frame by frame.
    void interleave(const float* const* channels, uint32_t from, uint32_t n) {
        float* out = floats_.data();
        if (channels_ == 2) {
            // Stereo, the common case, in one pass the compiler can vectorise.
            const float* left = channels[0] + from;
            const float* right = channels[1] + from;
            for (uint32_t i = 0; i < n; ++i) {
                out[2 * i] = left[i];
                out[2 * i + 1] = right[i];
            }
            return;
        }
        for (uint32_t c = 0; c < channels_; ++c)
            for (uint32_t i = 0; i < n; ++i) out[size_t(i) * channels_ + c] = channels[c][from + i];
    }

    int64_t chunkFrames() const { return packer_ ? kRawChunkFrames : kChunkFrames; }

    // Raw reads and writes need the exact byte layout of the data chunk: packed integer PCM whose description
    // libsndfile confirms. Float files keep libsndfile's own writes, which also keep their PEAK chunk
    // true. Anything else keeps libsndfile's converting writes.
    void preparePacking(const SF_INFO& info) {
        const int subtype = info.format & SF_FORMAT_SUBMASK;
        const bool plainPCM = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
                              subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32;
        if (!plainPCM || description_.mFormatID != kAudioFormatLinearPCM || description_.mBytesPerFrame == 0 ||
            (description_.mFormatFlags & kAudioFormatFlagIsNonInterleaved))
            return;
        AudioStreamBasicDescription floats = description_;
        floats.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
        floats.mBitsPerChannel = 32;
        floats.mBytesPerFrame = floats.mBytesPerPacket = 4;
        auto packer = writing_ ? std::make_unique<PCMConverter>(floats, description_, kRawChunkFrames)
                               : std::make_unique<PCMConverter>(description_, floats, kRawChunkFrames);
        if (!packer->isValid() || packer->resamples()) return;
        packer_ = std::move(packer);
        raw_.resize(size_t(kRawChunkFrames) * description_.mBytesPerFrame);
        inList_.resize(AudioBufferListSize(channels_));
        reinterpret_cast<AudioBufferList*>(inList_.data())->mNumberBuffers = channels_;
        for (uint32_t c = 0; c < channels_; ++c) reinterpret_cast<AudioBufferList*>(inList_.data())->mBuffers[c].mNumberChannels = 1;
    }

    std::string path_;
    SNDFILE* file_;
    AudioStreamBasicDescription description_;
    bool writing_;
    bool syncOnClose_ = true;
    uint32_t channels_;
    int64_t length_;
    int64_t position_ = 0;
    bool asFloat_ = false;
    int64_t preroll_ = 0;
    bool decodeThrough_ = false;
    std::vector<float> floats_;
    std::vector<int32_t> ints_;
    std::unique_ptr<PCMConverter> packer_;
    std::vector<unsigned char> raw_;
    std::vector<unsigned char> inList_;
};

// Compressed data states its length in a header that a cut file no longer fulfils: when the last
// frame cannot be read, count the frames that can. Each check has its own handle, as a failed seek
// can leave a decoder unusable.
sf_count_t framesThatDecode(const std::string& path, const SF_INFO& claimed) {
    if (claimed.frames == 0) return 0;
    auto readable = [&](auto&& use) {
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        if (!file) return sf_count_t(0);
        std::vector<float> chunk(size_t(info.channels) * kChunkFrames);
        const sf_count_t result = use(file, chunk);
        sf_close(file);
        return result;
    };
    const sf_count_t last = readable([&](SNDFILE* file, std::vector<float>& chunk) {
        return sf_count_t(sf_seek(file, claimed.frames - 1, SEEK_SET) == claimed.frames - 1 &&
                          sf_readf_float(file, chunk.data(), 1) == 1);
    });
    if (last) return claimed.frames;
    return readable([&](SNDFILE* file, std::vector<float>& chunk) {
        sf_count_t count = 0, got;
        while ((got = sf_readf_float(file, chunk.data(), kChunkFrames)) > 0) count += got;
        return std::min(count, claimed.frames);
    });
}

}  // namespace

std::unique_ptr<AudioFileBackend> openSndfileForReading(const std::string& path, std::string* failure) {
    // libsndfile also guesses from the extension and probes MPEG audio noisily: content decides
    // here, and FFmpeg takes everything else.
    if (containerMarkOf(path) != ContainerMark::sndfile) {
        if (failure) *failure = "not a container libsndfile reads";
        return nullptr;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        if (failure) *failure = sf_strerror(nullptr);
        return nullptr;
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_MPEG || info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
        if (failure) *failure = major == SF_FORMAT_MPEG ? "MPEG audio" : "no audio in the file";
        sf_close(file);
        return nullptr;
    }
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool plainPCM = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
                          subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_FLOAT ||
                          subtype == SF_FORMAT_DOUBLE;
    // libsndfile already bounds uncompressed data by the file's size.
    if (!plainPCM || major == SF_FORMAT_FLAC) info.frames = framesThatDecode(path, info);
    return std::make_unique<SndfileBackend>(path, file, info, describe(file, info), false);
}

std::unique_ptr<AudioFileBackend> createSndfileForWriting(const std::string& path, SndfileContainer container,
                                                          const AudioStreamBasicDescription& format) {
    const bool isFloat = format.mFormatFlags & kAudioFormatFlagIsFloat;
    const uint32_t bits = format.mBitsPerChannel;
    int subtype = 0;
    if (isFloat) subtype = bits == 32 ? SF_FORMAT_FLOAT : bits == 64 ? SF_FORMAT_DOUBLE : 0;
    else if (bits == 8) subtype = container == SndfileContainer::wav ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8;
    else subtype = bits == 16 ? SF_FORMAT_PCM_16 : bits == 24 ? SF_FORMAT_PCM_24 : bits == 32 ? SF_FORMAT_PCM_32 : 0;
    if (!subtype) fail(kAudioFileUnsupportedDataFormatError, "The settings describe no writable sample type.");

    int major = SF_FORMAT_CAF;
    int endian = SF_ENDIAN_FILE;
    switch (container) {
    case SndfileContainer::caf:
        endian = (format.mFormatFlags & kAudioFormatFlagIsBigEndian) ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE;
        break;
    case SndfileContainer::wav: major = SF_FORMAT_WAV; break;
    // AIFF holds big-endian integers; floats make libsndfile write the AIFC form.
    case SndfileContainer::aiff: major = SF_FORMAT_AIFF; break;
    // libsndfile writes the AIFC form for little-endian ('sowt') integers and for floats.
    case SndfileContainer::aifc: major = SF_FORMAT_AIFF; endian = isFloat ? SF_ENDIAN_FILE : SF_ENDIAN_LITTLE; break;
    // NeXT/Sun audio is big-endian.
    case SndfileContainer::au: major = SF_FORMAT_AU; break;
    }
    if (bits == 8) endian = SF_ENDIAN_FILE;

    SF_INFO info{};
    info.samplerate = int(std::lround(format.mSampleRate));
    info.channels = int(format.mChannelsPerFrame);
    info.format = major | subtype | endian;
    if (info.samplerate <= 0 || double(info.samplerate) != format.mSampleRate || info.channels <= 0 || !sf_format_check(&info))
        fail(kAudioFileUnsupportedDataFormatError, "The settings describe no format this file type can hold.");

    const std::filesystem::path target(path);
    std::error_code ec;
    const auto folder = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    if (!std::filesystem::is_directory(folder, ec))
        fail(kAudioFileFileNotFoundError, "The folder \"" + folder.string() + "\" does not exist.");
    if (std::filesystem::is_directory(target, ec))
        fail(kAudioFilePermissionsError, "\"" + path + "\" is a folder.");

    errno = 0;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        const int err = errno;
        const std::string why = sf_strerror(nullptr);
        fail(err == EACCES || err == EPERM || err == EROFS ? kAudioFilePermissionsError : kAudioFileUnspecifiedError,
             "The file \"" + path + "\" cannot be created: " + why);
    }

    return std::make_unique<SndfileBackend>(path, file, info, describe(file, info), true);
}

}  // namespace platform::detail
