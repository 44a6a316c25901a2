#include "platform/media/FFmpegBackend.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/NSError.h"
#include "platform/media/FFmpegLibrary.h"
#include "platform/media/FFmpegSupport.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace platform::detail {

namespace {

// Packets decoded before a seek target so that the decoder's overlap and the MP3 bit reservoir are
// filled again; the output then matches a decode from the start.
constexpr size_t kPrerollPackets = 10;
// Forward jumps up to this many frames are decoded through rather than sought.
constexpr int64_t kDecodeThroughFrames = 1 << 16;
// A stream whose first packets all fail to decode is damaged, not silent.
constexpr int kProbePackets = 32;
// No codec puts more samples than this in one packet (FLAC's largest block is 65535): a container
// that claims more is damaged, and decoding tells how many samples there really are.
constexpr int64_t kMostSamplesPerPacket = 1 << 18;
// Silence for samples that damaged data lost is handed to the output in pieces of this size.
constexpr int64_t kSilenceChunk = 1 << 14;

AudioStreamBasicDescription describe(const AVCodecParameters* par) {
    AudioStreamBasicDescription d;
    d.mSampleRate = par->sample_rate;
    d.mChannelsPerFrame = uint32_t(std::max(0, par->ch_layout.nb_channels));
    const uint32_t frameSize = par->frame_size > 0 ? uint32_t(par->frame_size) : 0;
    auto other = [&](AudioFormatID id, uint32_t framesPerPacket, AudioFormatFlags flags = 0) {
        d.mFormatID = id;
        d.mFramesPerPacket = framesPerPacket;
        d.mFormatFlags = flags;
        return d;
    };
    auto pcm = [&](uint32_t bits, AudioFormatFlags flags) {
        d.mFormatID = kAudioFormatLinearPCM;
        d.mFormatFlags = flags | kAudioFormatFlagIsPacked;
        d.mBitsPerChannel = bits;
        d.mFramesPerPacket = 1;
        d.mBytesPerFrame = d.mChannelsPerFrame * ((bits + 7) / 8);
        d.mBytesPerPacket = d.mBytesPerFrame;
        return d;
    };
    const AudioFormatFlags sInt = kAudioFormatFlagIsSignedInteger, big = kAudioFormatFlagIsBigEndian,
                           flt = kAudioFormatFlagIsFloat;
    const int rawBits = par->bits_per_raw_sample;
    switch (par->codec_id) {
    case AV_CODEC_ID_MP3: return other(kAudioFormatMPEGLayer3, frameSize ? frameSize : 1152);
    case AV_CODEC_ID_MP2: return other(FourCC(".mp2"), 1152);
    case AV_CODEC_ID_MP1: return other(FourCC(".mp1"), 384);
    case AV_CODEC_ID_AAC: return other(kAudioFormatMPEG4AAC, frameSize ? frameSize : 1024);
    case AV_CODEC_ID_ALAC: return other(kAudioFormatAppleLossless, frameSize ? frameSize : 4096, losslessDepthFlag(rawBits));
    case AV_CODEC_ID_FLAC: return other(kAudioFormatFLAC, frameSize, losslessDepthFlag(rawBits));
    case AV_CODEC_ID_OPUS: return other(kAudioFormatOpus, 960);
    case AV_CODEC_ID_VORBIS: return other(FourCC("vorb"), 0);
    case AV_CODEC_ID_AC3: return other(FourCC("ac-3"), 1536);
    case AV_CODEC_ID_EAC3: return other(FourCC("ec-3"), 1536);
    case AV_CODEC_ID_AMR_NB: return other(FourCC("samr"), 160);
    case AV_CODEC_ID_PCM_MULAW: return other(FourCC("ulaw"), 1);
    case AV_CODEC_ID_PCM_ALAW: return other(FourCC("alaw"), 1);
    case AV_CODEC_ID_PCM_U8: return pcm(8, 0);
    case AV_CODEC_ID_PCM_S8: return pcm(8, sInt);
    case AV_CODEC_ID_PCM_S16LE: return pcm(16, sInt);
    case AV_CODEC_ID_PCM_S16BE: return pcm(16, sInt | big);
    case AV_CODEC_ID_PCM_S24LE: return pcm(24, sInt);
    case AV_CODEC_ID_PCM_S24BE: return pcm(24, sInt | big);
    case AV_CODEC_ID_PCM_S32LE: return pcm(32, sInt);
    case AV_CODEC_ID_PCM_S32BE: return pcm(32, sInt | big);
    case AV_CODEC_ID_PCM_F32LE: return pcm(32, flt);
    case AV_CODEC_ID_PCM_F32BE: return pcm(32, flt | big);
    case AV_CODEC_ID_PCM_F64LE: return pcm(64, flt);
    case AV_CODEC_ID_PCM_F64BE: return pcm(64, flt | big);
    default: {
        // Name other codecs by their container tag when it is printable, else by a neutral code.
        const uint32_t tag = par->codec_tag;
        const uint32_t id = tag > 0xFFFFFF ? ((tag & 0xFF) << 24) | ((tag & 0xFF00) << 8) | ((tag >> 8) & 0xFF00) | (tag >> 24)
                                           : FourCC("????");
        return other(id, frameSize);
    }
    }
}

// What the first pass learned about one packet: where it is, how many samples the decoder makes of
// it and how many of those the container says to drop.
struct PacketEntry {
    int64_t pos = -1;
    int64_t pts = AV_NOPTS_VALUE;
    int64_t rawStart = 0;  // first decoded sample, counting every sample the decoder makes
    int64_t outStart = 0;  // first frame handed out
    int32_t duration = 0;  // decoded samples
    int32_t skip = 0;      // dropped at the start (encoder delay)
    int32_t discard = 0;   // dropped at the end (padding)
    // What the container said: a start skip (-1: none; it replaces what is left of an earlier one,
    // as in the decoder), an end discard, and whether the whole packet only primes the decoder.
    int64_t sideSkip = -1;
    int64_t sideDiscard = 0;
    bool primingOnly = false;
    int64_t rawEnd() const { return rawStart + duration; }
    int64_t kept() const { return std::max<int64_t>(0, int64_t(duration) - skip - discard); }
};

struct FormatDeleter {
    void operator()(AVFormatContext* c) const { ffmpeg().avformat_close_input(&c); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const { ffmpeg().avcodec_free_context(&c); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { ffmpeg().av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { ffmpeg().av_frame_free(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatDeleter>;

FormatPtr openInput(const std::string& path, std::string* failure) {
    AVFormatContext* raw = nullptr;
    // The protocol prefix keeps a ':' in a file name from reading as a protocol.
    const int rc = ffmpeg().avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, nullptr);
    if (rc < 0) {
        if (failure) *failure = avErrorText(rc);
        return nullptr;
    }
    FormatPtr format(raw);
    if (ffmpeg().avformat_find_stream_info(raw, nullptr) < 0) {
        if (failure) *failure = "no stream information";
        return nullptr;
    }
    return format;
}

// FFmpeg guesses a format from any content that resembles it (noise can pass for AMR): only a
// confident guess, or one that the file's extension agrees with, recognises the file.
bool recognised(const AVFormatContext* format, const std::string& path) {
    if (format->probe_score >= AVPROBE_SCORE_EXTENSION) return true;
    const char* extensions = format->iformat ? format->iformat->extensions : nullptr;
    return format->probe_score > AVPROBE_SCORE_RETRY && extensions && ffmpeg().av_match_ext(path.c_str(), extensions);
}

int firstAudioStream(const AVFormatContext* format) {
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return int(i);
    return -1;
}

class FFmpegBackend final : public AudioFileBackend {
public:
    FFmpegBackend(std::string path, FormatPtr format, int stream) : path_(std::move(path)), format_(std::move(format)), stream_(stream) {
        const AVCodecParameters* par = format_->streams[stream_]->codecpar;
        description_ = describe(par);
        channels_ = description_.mChannelsPerFrame;
        sampleRate_ = par->sample_rate;
        if (sampleRate_ <= 0 || channels_ == 0) fail(kAudioFileInvalidFileError, "The audio stream has no sample rate or channels.");
        const AVCodec* codec = ffmpeg().avcodec_find_decoder(par->codec_id);
        if (!codec) fail(kAudioFileUnsupportedDataFormatError, std::string("No decoder for ") + ffmpeg().avcodec_get_name(par->codec_id) + ".");
        codec_.reset(ffmpeg().avcodec_alloc_context3(codec));
        if (!codec_ || ffmpeg().avcodec_parameters_to_context(codec_.get(), par) < 0)
            fail(kAudioFileUnspecifiedError, "The decoder cannot be set up.");
        // Delay and padding are trimmed here, by the first pass's packet table, so that a seek
        // lands on the same frames a decode from the start gives.
        codec_->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
        if (ffmpeg().avcodec_open2(codec_.get(), codec, nullptr) < 0)
            fail(kAudioFileUnsupportedDataFormatError, std::string("The ") + ffmpeg().avcodec_get_name(par->codec_id) + " decoder cannot open this stream.");
        delayed_ = codec->capabilities & AV_CODEC_CAP_DELAY;
        packet_.reset(ffmpeg().av_packet_alloc());
        frame_.reset(ffmpeg().av_frame_alloc());
        pending_.resize(channels_);
        converted_.resize(channels_);
        convertedPtrs_.resize(channels_);

        if (!scanPackets()) scanByDecoding();
        if (index_.empty()) fail(kAudioFileInvalidFileError, "The audio stream holds no data.");
        for (size_t i = 0; i < index_.size(); ++i)
            if (index_[i].pos >= 0) packetAtPos_.emplace(index_[i].pos, i);

        // Check that the stream really decodes, and have the first frames ready.
        resync(0);
        while (decoded_ == 0 && !finished_ && sent_ < kProbePackets) decodeMore();
        if (decoded_ == 0 && length_ > 0) fail(kAudioFileInvalidFileError, "The audio data cannot be decoded.");
    }

    AudioStreamBasicDescription fileDescription() const override { return description_; }
    int64_t length() const override { return length_; }
    int64_t position() const override { return pendingStart_; }

    void seek(int64_t frame) override {
        frame = std::clamp<int64_t>(frame, 0, length_);
        if (frame == pendingStart_) return;
        const int64_t pendingEnd = pendingStart_ + int64_t(pendingFrames());
        if (frame > pendingStart_ && frame <= pendingEnd) {
            dropPending(size_t(frame - pendingStart_));
            return;
        }
        if (frame > pendingEnd && frame - pendingEnd <= kDecodeThroughFrames) {
            clearPending(frame);
            return;
        }
        resync(frame);
    }

    uint32_t read(float* const* channels, uint32_t frameCount) override {
        uint32_t done = 0;
        while (done < frameCount) {
            if (pendingFrames() == 0) {
                if (!finished_) {
                    decodeMore();
                    continue;
                }
                // What the data could not give is silence, so that reads keep the length's promise.
                const int64_t left = length_ - pendingStart_;
                if (left <= 0) break;
                const auto n = uint32_t(std::min<int64_t>(frameCount - done, left));
                for (uint32_t c = 0; c < channels_; ++c) std::fill_n(channels[c] + done, n, 0.0f);
                pendingStart_ += n;
                done += n;
                continue;
            }
            // Never a frame past the length, whatever was decoded.
            const int64_t left = length_ - pendingStart_;
            if (left <= 0) break;
            const auto n = uint32_t(std::min<int64_t>({int64_t(frameCount - done), int64_t(pendingFrames()), left}));
            for (uint32_t c = 0; c < channels_; ++c)
                std::memcpy(channels[c] + done, pending_[c].data() + pendingOffset_, n * sizeof(float));
            dropPending(n);
            done += n;
        }
        return done;
    }

    void write(const float* const*, uint32_t) override { fail(kAudioFileNotOpenError, "The file is open for reading."); }

    void close() override {
        codec_.reset();
        format_.reset();
    }

private:
    size_t pendingFrames() const { return pending_.empty() ? 0 : pending_[0].size() - pendingOffset_; }

    void dropPending(size_t n) {
        pendingOffset_ += n;
        pendingStart_ += int64_t(n);
        if (pendingOffset_ == pending_[0].size()) {
            for (auto& p : pending_) p.clear();
            pendingOffset_ = 0;
        }
    }

    // Forgets what is decoded and hands out nothing before `frame`.
    void clearPending(int64_t frame) {
        for (auto& p : pending_) p.clear();
        pendingOffset_ = 0;
        pendingStart_ = frame;
    }

    int64_t samplesOf(int64_t duration) const {
        const AVRational tb = format_->streams[stream_]->time_base;
        return ffmpeg().av_rescale_q(duration, tb, AVRational{1, sampleRate_});
    }

    bool exactInSamples(int64_t duration) const {
        const AVRational tb = format_->streams[stream_]->time_base;
        return duration > 0 && (__int128(duration) * tb.num * sampleRate_) % tb.den == 0;
    }

    // Reads the next packet of our stream; false at the end (or on a read error, which ends the
    // stream the same way every time).
    bool nextPacket() {
        for (;;) {
            ffmpeg().av_packet_unref(packet_.get());
            if (ffmpeg().av_read_frame(format_.get(), packet_.get()) < 0) return false;
            if (packet_->stream_index == stream_) return true;
        }
    }

    static void readSkipSideData(const uint8_t* side, size_t size, PacketEntry& e) {
        if (!side || size < 10) return;
        auto le32 = [&](int at) { return int64_t(side[at]) | int64_t(side[at + 1]) << 8 | int64_t(side[at + 2]) << 16 | int64_t(side[at + 3]) << 24; };
        e.sideSkip = le32(0);
        e.sideDiscard = le32(4);
    }

    // First pass without decoding: the container's packet durations and trim side data. False when
    // a packet's duration is not an exact sample count or more than a packet can hold (then
    // decoding tells).
    bool scanPackets() {
        index_.clear();
        while (nextPacket()) {
            if (!exactInSamples(packet_->duration)) return false;
            const int64_t samples = samplesOf(packet_->duration);
            if (samples > kMostSamplesPerPacket) return false;
            PacketEntry e;
            e.pos = packet_->pos;
            e.pts = packet_->pts;
            e.duration = int32_t(samples);
            size_t size = 0;
            const uint8_t* side = ffmpeg().av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            readSkipSideData(side, size, e);
            e.primingOnly = packet_->flags & AV_PKT_FLAG_DISCARD;
            index_.push_back(e);
        }
        layOut(index_.empty() || index_[0].sideSkip >= 0 ? 0 : decoderOwnSkip());
        return true;
    }

    // The start skip a decoder applies by itself (Opus pre-skip from its header, when the container
    // states none): what it reports for the first frame of the stream.
    int64_t decoderOwnSkip() {
        int64_t skip = 0;
        // The decoder is fresh here: no flush, which would forget the skip it set up.
        if (!restart()) return 0;
        if (ffmpeg().avcodec_send_packet(codec_.get(), packet_.get()) >= 0 && ffmpeg().avcodec_receive_frame(codec_.get(), frame_.get()) == 0) {
            const AVFrameSideData* side = ffmpeg().av_frame_get_side_data(frame_.get(), AV_FRAME_DATA_SKIP_SAMPLES);
            PacketEntry e;
            if (side) readSkipSideData(side->data, side->size, e);
            skip = std::max<int64_t>(0, e.sideSkip);
            ffmpeg().av_frame_unref(frame_.get());
        }
        ffmpeg().avcodec_flush_buffers(codec_.get());
        return skip;
    }

    // Places every packet's kept samples on the output timeline, trimming as the decoder would.
    void layOut(int64_t decoderSkip) {
        int64_t raw = 0, out = 0, carrySkip = decoderSkip;
        for (PacketEntry& e : index_) {
            e.rawStart = raw;
            e.outStart = out;
            if (e.sideSkip >= 0) carrySkip = e.sideSkip;
            e.discard = int32_t(std::clamp<int64_t>(e.sideDiscard, 0, e.duration));
            if (e.primingOnly) carrySkip = std::max<int64_t>(carrySkip, e.duration);
            // A start skip longer than one packet carries into the next.
            e.skip = int32_t(std::min<int64_t>(carrySkip, e.duration - e.discard));
            carrySkip -= e.skip;
            raw += e.duration;
            out += e.kept();
        }
        length_ = out;
        // Containers that state the stream's duration in samples (MP4's edit list) also trim the
        // padding after the last frame that no packet carries.
        const AVStream* st = format_->streams[stream_];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0 && st->time_base.num == 1 && st->time_base.den == sampleRate_)
            length_ = std::min(length_, st->duration);
    }

    // First pass by decoding, for containers whose packets do not tell their sample counts.
    void scanByDecoding() {
        index_.clear();
        ffmpeg().avcodec_flush_buffers(codec_.get());
        if (!reopen()) fail(kAudioFileInvalidFileError, "The file cannot be read from its start.");
        auto collect = [&](PacketEntry* e) {
            while (ffmpeg().avcodec_receive_frame(codec_.get(), frame_.get()) == 0) {
                if (!e) continue;
                if (const AVFrameSideData* side = ffmpeg().av_frame_get_side_data(frame_.get(), AV_FRAME_DATA_SKIP_SAMPLES)) {
                    PacketEntry trims;
                    readSkipSideData(side->data, side->size, trims);
                    if (trims.sideSkip > 0) e->sideSkip = trims.sideSkip;
                    e->sideDiscard += trims.sideDiscard;
                }
                e->duration += frame_->nb_samples;
                ffmpeg().av_frame_unref(frame_.get());
            }
        };
        while (nextPacket()) {
            PacketEntry e;
            e.pos = packet_->pos;
            e.pts = packet_->pts;
            e.primingOnly = packet_->flags & AV_PKT_FLAG_DISCARD;
            ffmpeg().avcodec_send_packet(codec_.get(), packet_.get());
            collect(&e);
            index_.push_back(e);
        }
        ffmpeg().avcodec_send_packet(codec_.get(), nullptr);
        collect(index_.empty() ? nullptr : &index_.back());
        ffmpeg().avcodec_flush_buffers(codec_.get());
        layOut(0);
    }

    // Opens the file again: the demuxer then stands before the first packet for certain.
    bool reopen() {
        FormatPtr again = openInput(path_, nullptr);
        if (!again || int(again->nb_streams) <= stream_ ||
            again->streams[stream_]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            return false;
        format_ = std::move(again);
        return true;
    }

    // Back to the first packet, which is then held in packet_.
    bool restart() {
        const AVStream* st = format_->streams[stream_];
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        if (index_[0].pos >= 0 && ffmpeg().av_seek_frame(format_.get(), stream_, start, AVSEEK_FLAG_BACKWARD) >= 0 &&
            nextPacket() && packet_->pos == index_[0].pos)
            return true;
        return reopen() && nextPacket();
    }

    // Asks the demuxer for a packet of the table; returns the one it delivers first (held in
    // packet_), or the table's size when that cannot be told.
    size_t seekTo(size_t packet) {
        const PacketEntry& e = index_[packet];
        int rc = -1;
        if (!(format_->iformat->flags & AVFMT_NO_BYTE_SEEK) && e.pos >= 0)
            rc = ffmpeg().av_seek_frame(format_.get(), stream_, e.pos, AVSEEK_FLAG_BYTE);
        else if (e.pts != AV_NOPTS_VALUE && e.pos >= 0)
            rc = ffmpeg().av_seek_frame(format_.get(), stream_, e.pts, AVSEEK_FLAG_BACKWARD);
        // Packets the table does not know (a resync in the middle of a frame) are passed over.
        for (int passed = 0; rc >= 0 && passed < 64 && nextPacket(); ++passed) {
            const auto it = packetAtPos_.find(packet_->pos);
            if (it != packetAtPos_.end()) return it->second;
        }
        return index_.size();
    }

    // Positions the decoder a few packets before the one that holds `frame`, so that decoding from
    // there delivers exactly the frames a decode from the start gives.
    void resync(int64_t frame) {
        clearPending(frame);
        finished_ = false;
        draining_ = false;
        haveHeldPacket_ = false;
        ffmpeg().avcodec_flush_buffers(codec_.get());
        size_t target = size_t(std::upper_bound(index_.begin(), index_.end(), frame,
                                                [](int64_t f, const PacketEntry& e) { return f < e.outStart; }) -
                               index_.begin());
        target = target ? target - 1 : 0;
        // Packets that only carry dropped samples sort at the same output frame: start before them.
        while (target > 0 && index_[target - 1].outStart == index_[target].outStart) --target;
        const size_t first = target > kPrerollPackets ? target - kPrerollPackets : 0;
        // Demuxers land near, not on, what they are asked for (MP4 and Matroska by their indexes);
        // too late leaves the decoder without its pre-roll, so ask further back until it is enough.
        size_t landed = index_.size();
        for (size_t back : {size_t(0), 4 * kPrerollPackets, 32 * kPrerollPackets, 256 * kPrerollPackets}) {
            if (first <= back) break;
            const size_t at = seekTo(first - back);
            if (at <= first) {
                landed = at;
                break;
            }
        }
        if (landed == index_.size()) {
            if (!restart()) {
                // The file went away under us: what cannot be read is silence.
                finished_ = true;
                return;
            }
            landed = 0;
        }
        haveHeldPacket_ = true;
        nextIndex_ = landed;
        mapIndex_ = landed;
        rawCursor_ = index_[landed].rawStart;
    }

    // Decodes one step: takes a frame out of the decoder, or feeds it the next packet.
    void decodeMore() {
        const int rc = ffmpeg().avcodec_receive_frame(codec_.get(), frame_.get());
        if (rc == 0) {
            ++decoded_;
            convert();
            accept(convertedPtrs_, frame_->nb_samples);
            ffmpeg().av_frame_unref(frame_.get());
            return;
        }
        if (rc == AVERROR_EOF || (draining_ && rc == AVERROR(EAGAIN))) {
            finished_ = true;
            return;
        }
        // Any other failure belongs to damaged data: move on to the next packet.
        if (rc != AVERROR(EAGAIN)) ++errors_;
        if (draining_) {
            finished_ = true;
            return;
        }
        const bool have = haveHeldPacket_ || nextPacket();
        haveHeldPacket_ = false;
        if (!have || nextIndex_ >= index_.size()) {
            draining_ = true;
            ffmpeg().avcodec_send_packet(codec_.get(), nullptr);
            return;
        }
        const PacketEntry& e = index_[nextIndex_++];
        ++sent_;
        // A decoder without delay has handed out everything of the earlier packets: a shortfall was
        // lost to damaged data and is silence.
        if (!delayed_ && rawCursor_ < e.rawStart) acceptSilence(e.rawStart - rawCursor_);
        const int sent = ffmpeg().avcodec_send_packet(codec_.get(), packet_.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            ++errors_;
            if (!delayed_) acceptSilence(e.rawEnd() - rawCursor_);
        }
    }

    void acceptSilence(int64_t samples) {
        if (samples <= 0) return;
        silence_.assign(size_t(std::min(samples, kSilenceChunk)), 0.0f);
        const std::vector<float*> zero(channels_, silence_.data());
        while (samples > 0) {
            const int64_t n = std::min(samples, kSilenceChunk);
            accept(zero, n);
            samples -= n;
        }
    }

    // Maps decoded samples (the decoder's next ones) to output frames through the packet table.
    void accept(const std::vector<float*>& data, int64_t samples) {
        int64_t used = 0;
        while (used < samples) {
            while (mapIndex_ < index_.size() && rawCursor_ >= index_[mapIndex_].rawEnd()) ++mapIndex_;
            if (mapIndex_ >= index_.size()) return;  // more than the first pass saw: not ours to give
            const PacketEntry& e = index_[mapIndex_];
            const int64_t span = std::min<int64_t>(samples - used, e.rawEnd() - rawCursor_);
            const int64_t keepFrom = std::max(rawCursor_, e.rawStart + e.skip);
            const int64_t keepTo = std::min(rawCursor_ + span, e.rawEnd() - e.discard);
            if (keepTo > keepFrom) deliver(e.outStart + (keepFrom - e.rawStart - e.skip), data, used + (keepFrom - rawCursor_), keepTo - keepFrom);
            rawCursor_ += span;
            used += span;
        }
    }

    void deliver(int64_t out, const std::vector<float*>& data, int64_t from, int64_t count) {
        const int64_t end = pendingStart_ + int64_t(pendingFrames());
        if (out + count <= end) return;
        if (out < end) {
            from += end - out;
            count -= end - out;
            out = end;
        }
        // Nothing at or past the length is kept, not even the silence before it.
        count = std::min(count, length_ - out);
        if (count <= 0) return;
        if (out > end) fillTo(out);
        for (uint32_t c = 0; c < channels_; ++c) pending_[c].insert(pending_[c].end(), data[c] + from, data[c] + from + count);
    }

    void fillTo(int64_t out) {
        const int64_t end = pendingStart_ + int64_t(pendingFrames());
        if (out <= end) return;
        for (auto& p : pending_) p.insert(p.end(), size_t(out - end), 0.0f);
    }

    // The decoded frame as one float array per channel, scaled exactly as the integer depth says.
    void convert() {
        const int n = frame_->nb_samples;
        const int have = frame_->ch_layout.nb_channels;
        const auto fmt = AVSampleFormat(frame_->format);
        const bool planar = ffmpeg().av_sample_fmt_is_planar(fmt);
        const AVSampleFormat packed = ffmpeg().av_get_packed_sample_fmt(fmt);
        for (uint32_t c = 0; c < channels_; ++c) {
            auto& out = converted_[c];
            out.assign(size_t(std::max(n, 0)), 0.0f);
            if (int(c) >= have) continue;
            const uint8_t* base = planar ? frame_->extended_data[c] : frame_->extended_data[0];
            const int step = planar ? 1 : have;
            const int at = planar ? 0 : int(c);
            for (int i = 0; i < n; ++i) {
                const int k = i * step + at;
                switch (packed) {
                case AV_SAMPLE_FMT_FLT: out[i] = reinterpret_cast<const float*>(base)[k]; break;
                case AV_SAMPLE_FMT_DBL: out[i] = float(reinterpret_cast<const double*>(base)[k]); break;
                case AV_SAMPLE_FMT_S16: out[i] = float(reinterpret_cast<const int16_t*>(base)[k]) / 32768.0f; break;
                case AV_SAMPLE_FMT_S32: out[i] = float(double(reinterpret_cast<const int32_t*>(base)[k]) / 2147483648.0); break;
                case AV_SAMPLE_FMT_S64: out[i] = float(double(reinterpret_cast<const int64_t*>(base)[k]) / 9223372036854775808.0); break;
                case AV_SAMPLE_FMT_U8: out[i] = float(int(base[k]) - 128) / 128.0f; break;
                default: break;
                }
            }
        }
        for (uint32_t c = 0; c < channels_; ++c) convertedPtrs_[c] = converted_[c].data();
    }

    std::string path_;
    FormatPtr format_;
    int stream_;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    AudioStreamBasicDescription description_;
    uint32_t channels_ = 0;
    int sampleRate_ = 0;
    bool delayed_ = false;

    std::vector<PacketEntry> index_;
    std::unordered_map<int64_t, size_t> packetAtPos_;
    int64_t length_ = 0;

    size_t nextIndex_ = 0;     // the packet the decoder gets next
    size_t mapIndex_ = 0;      // the packet the decoder's output is in
    int64_t rawCursor_ = 0;    // the decoder's next output sample
    bool haveHeldPacket_ = false;  // packet_ holds the packet nextIndex_ names, read but not sent
    bool draining_ = false;
    bool finished_ = false;
    int64_t decoded_ = 0;
    int64_t sent_ = 0;
    int64_t errors_ = 0;

    std::vector<std::vector<float>> pending_;  // decoded frames from pendingStart_ on
    size_t pendingOffset_ = 0;
    int64_t pendingStart_ = 0;
    std::vector<std::vector<float>> converted_;
    std::vector<float*> convertedPtrs_;
    std::vector<float> silence_;
};

}  // namespace

std::unique_ptr<AudioFileBackend> openFFmpegForReading(const std::string& path, std::string* failure) {
    // Without FFmpeg nothing here can tell what the file is: unsupported, with the reason.
    std::string missing;
    if (!loadFFmpeg(&missing))
        fail(kAudioFileUnsupportedFileTypeError, "The file cannot be read without FFmpeg, which cannot be loaded: " + missing + ".");
    FormatPtr format = openInput(path, failure);
    if (!format) return nullptr;
    if (!recognised(format.get(), path)) {
        if (failure) *failure = "the content is not a known format";
        return nullptr;
    }
    const int stream = firstAudioStream(format.get());
    if (stream < 0) {
        if (failure) *failure = "the file has no audio stream";
        return nullptr;
    }
    return std::make_unique<FFmpegBackend>(path, std::move(format), stream);
}

std::vector<AudioStreamBasicDescription> probeAudioStreams(const std::string& path) {
    std::vector<AudioStreamBasicDescription> found;
    if (!loadFFmpeg()) return found;
    FormatPtr format = openInput(path, nullptr);
    if (!format || !recognised(format.get(), path)) return found;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        const AudioStreamBasicDescription d = describe(par);
        if (d.mSampleRate > 0 && d.mChannelsPerFrame > 0) found.push_back(d);
    }
    return found;
}

}  // namespace platform::detail
