#include "platform/media/FFmpegEncoder.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/NSError.h"
#include "platform/media/FFmpegLibrary.h"
#include "platform/media/FFmpegSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace platform::detail {

namespace {
// NaN has no integer sample: it becomes silence rather than an undefined conversion.
inline double sampleOrSilence(float x) { return std::isnan(x) ? 0.0 : double(x); }
}  // namespace

namespace {

class FFmpegEncoder final : public AudioFileBackend {
public:
    FFmpegEncoder(const std::string& path, FFmpegContainer container, const AudioStreamBasicDescription& format,
                  uint32_t bitRate)
        : path_(path), boxed_(container != FFmpegContainer::adts) {
        channels_ = format.mChannelsPerFrame;
        const int rate = int(std::lround(format.mSampleRate));
        if (channels_ == 0 || channels_ > 8 || rate <= 0 || double(rate) != format.mSampleRate)
            fail(kAudioFileUnsupportedDataFormatError, "The encoder takes 1 to 8 channels at a whole sample rate.");
        const bool aac = format.mFormatID == kAudioFormatMPEG4AAC;
        if (!aac && format.mFormatID != kAudioFormatAppleLossless)
            fail(kAudioFileUnsupportedDataFormatError, "Only AAC and Apple Lossless can be encoded.");
        if (!aac && container == FFmpegContainer::adts)
            fail(kAudioFileUnsupportedDataFormatError, "ADTS holds AAC only.");
        std::string missing;
        if (!loadFFmpeg(&missing))
            fail(kAudioFileUnsupportedDataFormatError, "AAC and Apple Lossless are encoded by FFmpeg, which cannot be loaded: " + missing + ".");

        const AVCodec* codec = ffmpeg().avcodec_find_encoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC);
        if (!codec) fail(kAudioFileUnsupportedDataFormatError, "FFmpeg has no encoder for this format.");
        codec_ = ffmpeg().avcodec_alloc_context3(codec);
        if (!codec_) fail(kAudioFileUnspecifiedError, "The encoder cannot be set up.");
        codec_->sample_rate = rate;
        ffmpeg().av_channel_layout_default(&codec_->ch_layout, int(channels_));
        codec_->time_base = AVRational{1, rate};
        if (aac) {
            codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
            codec_->bit_rate = bitRate ? bitRate : std::min<uint32_t>(64000 * channels_, 320000);
        } else {
            // Apple's lossless flags name the source depth; deeper sources need 32-bit samples.
            const uint32_t depth = format.mFormatFlags;
            wide_ = depth == 2 || depth == 3 || depth == 4;
            codec_->sample_fmt = wide_ ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_S16P;
            codec_->bits_per_raw_sample = depth == 2 ? 20 : depth == 3 ? 24 : depth == 4 ? 32 : 16;
        }

        const char* muxer = container == FFmpegContainer::adts ? "adts" : container == FFmpegContainer::ipod ? "ipod" : "mp4";
        if (ffmpeg().avformat_alloc_output_context2(&format_, nullptr, muxer, nullptr) < 0 || !format_) {
            release();
            fail(kAudioFileUnspecifiedError, std::string("FFmpeg has no ") + muxer + " muxer.");
        }
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        int rc = ffmpeg().avcodec_open2(codec_, codec, nullptr);
        if (rc < 0) {
            release();
            fail(kAudioFileUnsupportedDataFormatError, "The encoder refuses this format: " + avErrorText(rc));
        }
        stream_ = ffmpeg().avformat_new_stream(format_, nullptr);
        if (!stream_ || ffmpeg().avcodec_parameters_from_context(stream_->codecpar, codec_) < 0) {
            release();
            fail(kAudioFileUnspecifiedError, "The output stream cannot be set up.");
        }
        stream_->time_base = codec_->time_base;

        // The protocol prefix keeps a ':' in a file name from reading as a protocol.
        rc = ffmpeg().avio_open(&format_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) {
            release();
            fail(rc == AVERROR(EACCES) ? kAudioFilePermissionsError : kAudioFileUnspecifiedError,
                 "The file \"" + path + "\" cannot be created: " + avErrorText(rc));
        }
        rc = ffmpeg().avformat_write_header(format_, nullptr);
        if (rc < 0) {
            release();
            std::error_code ec;
            std::filesystem::remove(path, ec);
            fail(kAudioFileUnsupportedDataFormatError, "The container refuses this format: " + avErrorText(rc));
        }

        frameSize_ = codec_->frame_size > 0 ? uint32_t(codec_->frame_size) : 4096;
        frame_ = ffmpeg().av_frame_alloc();
        packet_ = ffmpeg().av_packet_alloc();
        fifo_.assign(channels_, {});

        description_.mSampleRate = rate;
        description_.mFormatID = format.mFormatID;
        description_.mFormatFlags = aac ? 0 : losslessDepthFlag(codec_->bits_per_raw_sample);
        description_.mChannelsPerFrame = channels_;
        description_.mFramesPerPacket = frameSize_;
    }

    ~FFmpegEncoder() override {
        try {
            close();
        } catch (...) {
            // Nobody to tell in a destructor; the file is as far as it got.
        }
    }

    AudioStreamBasicDescription fileDescription() const override { return description_; }
    int64_t length() const override { return written_; }
    int64_t position() const override { return written_; }
    void seek(int64_t frame) override {
        if (frame != written_) fail(kAudioFileOperationNotSupported, "An encoded file is written from start to end.");
    }
    uint32_t read(float* const*, uint32_t) override { fail(kAudioFileNotOpenError, "The file is open for writing."); }

    void write(const float* const* channels, uint32_t frameCount) override {
        if (!format_) fail(kAudioFileNotOpenError, "The file is closed.");
        for (uint32_t c = 0; c < channels_; ++c) fifo_[c].insert(fifo_[c].end(), channels[c], channels[c] + frameCount);
        written_ += frameCount;
        while (fifo_[0].size() - fifoOffset_ >= frameSize_) encode(frameSize_);
        // Keep the backlog small without moving samples on every call.
        if (fifoOffset_ > 8 * size_t(frameSize_)) {
            for (auto& f : fifo_) f.erase(f.begin(), f.begin() + std::ptrdiff_t(fifoOffset_));
            fifoOffset_ = 0;
        }
    }

    void close() override {
        if (!format_) return;
        bool ok = true;
        std::string why;
        try {
            const auto rest = uint32_t(fifo_[0].size() - fifoOffset_);
            // The last frame may be short: the encoder pads it, and the packet durations and edit
            // list say how much of it is real.
            if (rest > 0) encode(rest);
            send(nullptr);
            const int rc = ffmpeg().av_write_trailer(format_);
            if (rc < 0) {
                ok = false;
                why = avErrorText(rc);
            }
        } catch (const NSErrorException& e) {
            ok = false;
            why = e.error().localizedDescription;
        }
        // An MP4 container drops a track without packets: a file without frames would be an m4a
        // with no audio stream at all, which no reader takes for an empty recording. (An empty
        // ADTS stream is simply an empty file.)
        if (ok && boxed_ && written_ == 0) {
            ok = false;
            why = "there is no audio to encode (the input holds no frames)";
        }
        release();
        if (!ok) fail(kAudioFileUnspecifiedError, "The file \"" + path_ + "\" cannot be finished: " + why);
    }

private:
    static constexpr OSStatus kAudioFileOperationNotSupported = 0x6F703F3F;  // 'op??'

    void encode(uint32_t n) {
        ffmpeg().av_frame_unref(frame_);
        frame_->nb_samples = int(n);
        frame_->format = codec_->sample_fmt;
        frame_->sample_rate = codec_->sample_rate;
        ffmpeg().av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout);
        if (ffmpeg().av_frame_get_buffer(frame_, 0) < 0) fail(kAudioFileUnspecifiedError, "Out of memory for the encoder.");
        for (uint32_t c = 0; c < channels_; ++c) {
            const float* in = fifo_[c].data() + fifoOffset_;
            if (codec_->sample_fmt == AV_SAMPLE_FMT_FLTP) {
                std::memcpy(frame_->extended_data[c], in, n * sizeof(float));
            } else if (wide_) {
                auto* out = reinterpret_cast<int32_t*>(frame_->extended_data[c]);
                // Samples sit in the top bits of the 32-bit container, as the encoder expects.
                const int shift = 32 - codec_->bits_per_raw_sample;
                const double scale = std::ldexp(1.0, codec_->bits_per_raw_sample - 1);
                for (uint32_t i = 0; i < n; ++i) {
                    const double v = std::clamp(std::nearbyint(sampleOrSilence(in[i]) * scale), -scale, scale - 1);
                    out[i] = int32_t(int64_t(v) * (int64_t(1) << shift));
                }
            } else {
                auto* out = reinterpret_cast<int16_t*>(frame_->extended_data[c]);
                for (uint32_t i = 0; i < n; ++i)
                    out[i] = int16_t(std::clamp(std::nearbyint(sampleOrSilence(in[i]) * 32768.0), -32768.0, 32767.0));
            }
        }
        frame_->pts = pts_;
        pts_ += n;
        fifoOffset_ += n;
        send(frame_);
    }

    void send(AVFrame* frame) {
        int rc = ffmpeg().avcodec_send_frame(codec_, frame);
        if (rc < 0) fail(kAudioFileUnspecifiedError, "The encoder failed: " + avErrorText(rc));
        for (;;) {
            rc = ffmpeg().avcodec_receive_packet(codec_, packet_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) fail(kAudioFileUnspecifiedError, "The encoder failed: " + avErrorText(rc));
            ffmpeg().av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            rc = ffmpeg().av_interleaved_write_frame(format_, packet_);
            if (rc < 0) fail(kAudioFileUnspecifiedError, "The file cannot be written: " + avErrorText(rc));
        }
    }

    void release() {
        if (format_) {
            if (format_->pb) ffmpeg().avio_closep(&format_->pb);
            ffmpeg().avformat_free_context(format_);
            format_ = nullptr;
        }
        ffmpeg().avcodec_free_context(&codec_);
        ffmpeg().av_frame_free(&frame_);
        ffmpeg().av_packet_free(&packet_);
    }

    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    AudioStreamBasicDescription description_{};
    uint32_t channels_ = 0;
    uint32_t frameSize_ = 1024;
    bool wide_ = false;
    bool boxed_ = false;  // an MP4 container rather than a bare ADTS stream
    int64_t pts_ = 0;
    int64_t written_ = 0;
    std::vector<std::vector<float>> fifo_;
    size_t fifoOffset_ = 0;
};

}  // namespace

std::unique_ptr<AudioFileBackend> createFFmpegEncoderForWriting(const std::string& path, FFmpegContainer container,
                                                                const AudioStreamBasicDescription& format,
                                                                uint32_t bitRate) {
    return std::make_unique<FFmpegEncoder>(path, container, format, bitRate);
}

}  // namespace platform::detail
