// Reading and writing audio files: exact samples, exact lengths, containers, seeking.
#include "platform/avfaudio/AVAudioFile.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace platform;
using testsupport::capture;
using testsupport::haveTool;
using testsupport::q;
using testsupport::run;
using testsupport::ScratchDir;

namespace {

using Channels = std::vector<std::vector<float>>;

// Every frame from the file's current position on, read in chunks of `chunk` frames.
Channels readRest(AVAudioFile& file, AVAudioFrameCount chunk = 4096) {
    const AVAudioChannelCount channels = file.processingFormat().channelCount();
    Channels out(channels);
    auto buffer = AVAudioPCMBuffer::make(file.processingFormat(), chunk);
    for (;;) {
        file.read(*buffer);
        if (buffer->frameLength() == 0) break;
        for (AVAudioChannelCount c = 0; c < channels; ++c)
            out[c].insert(out[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + buffer->frameLength());
    }
    return out;
}

Channels readAll(const std::filesystem::path& path) {
    auto file = AVAudioFile::forReading(path);
    return readRest(*file);
}

std::vector<float> interleave(const Channels& channels) {
    std::vector<float> out;
    if (channels.empty()) return out;
    for (size_t i = 0; i < channels[0].size(); ++i)
        for (const auto& c : channels) out.push_back(c[i]);
    return out;
}

std::string bytesOf(const std::vector<float>& samples) {
    return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(float));
}

std::shared_ptr<AVAudioPCMBuffer> bufferOf(const Channels& channels, double rate) {
    auto buffer = AVAudioPCMBuffer::make(AVAudioFormat::standardFormatWithSampleRate(rate, AVAudioChannelCount(channels.size())),
                                         AVAudioFrameCount(channels[0].size()));
    for (size_t c = 0; c < channels.size(); ++c)
        std::memcpy(buffer->floatChannelData()[c], channels[c].data(), channels[c].size() * sizeof(float));
    buffer->setFrameLength(AVAudioFrameCount(channels[0].size()));
    return buffer;
}

AVAudioSettings pcmSettings(double rate, int channels, int bits, bool isFloat) {
    return {{AVFormatIDKey, double(kAudioFormatLinearPCM)},
            {AVSampleRateKey, rate},
            {AVNumberOfChannelsKey, double(channels)},
            {AVLinearPCMBitDepthKey, double(bits)},
            {AVLinearPCMIsFloatKey, isFloat ? 1.0 : 0.0}};
}

// What an integer file of `bits` holds for a float sample: round half to even, clip.
float quantized(float x, int bits) {
    const double scale = std::ldexp(1.0, bits - 1);
    const double v = std::clamp(std::nearbyint(double(x) * scale), -scale, scale - 1);
    return float(v / scale);
}

}  // namespace

TEST(AVAudioFileTests, WritesAndReadsBackEveryContainerAndSampleType) {
    ScratchDir dir;
    // Edge values: full scale both ways, out of range, half-way points that round to even.
    Channels signal(2);
    for (float x : {0.0f, 1.0f, -1.0f, 1.5f, -1.5f, 0.5f / 32768, 1.5f / 32768, 2.5f / 32768, -0.5f / 32768, 0.25f})
        signal[0].push_back(x), signal[1].push_back(-x);
    for (int i = 0; i < 3000; ++i) signal[0].push_back(0.7f * std::sin(i * 0.05f)), signal[1].push_back(0.3f * std::cos(i * 0.011f));

    struct Container { std::string name; std::string magic; bool bigEndianInts; };
    const std::vector<Container> containers = {
        {"a.caf", "caff", false}, {"a.wav", "WAVE", false}, {"a.aiff", "AIFF", true}, {"a.aif", "AIFF", true},
        {"a.aifc", "AIFC", false}, {"workfile", "caff", false}, {"a.unknownext", "caff", false}};
    struct Depth { int bits; bool isFloat; };
    for (const Container& container : containers) {
        for (Depth depth : {Depth{8, false}, Depth{16, false}, Depth{24, false}, Depth{32, false}, Depth{32, true}, Depth{64, true}}) {
            SCOPED_TRACE(container.name + " " + std::to_string(depth.bits) + (depth.isFloat ? " float" : " int"));
            const auto path = dir / container.name;
            {
                auto file = AVAudioFile::forWriting(path, pcmSettings(48000, 2, depth.bits, depth.isFloat));
                EXPECT_TRUE(file->processingFormat().isStandard());
                EXPECT_EQ(file->processingFormat().sampleRate(), 48000);
                const auto& d = file->fileFormat().streamDescription();
                EXPECT_EQ(d.mFormatID, kAudioFormatLinearPCM);
                EXPECT_EQ(d.mBitsPerChannel, uint32_t(depth.bits));
                EXPECT_EQ(bool(d.mFormatFlags & kAudioFormatFlagIsFloat), depth.isFloat);
                EXPECT_FALSE(file->fileFormat().isStandard());
                file->write(*bufferOf(signal, 48000));
                EXPECT_EQ(file->length(), AVAudioFramePosition(signal[0].size()));
                EXPECT_EQ(file->framePosition(), file->length());
            }
            const std::string bytes = testsupport::readFile(path);
            ASSERT_GE(bytes.size(), 12u);
            // AIFF cannot hold floats: those files take the AIFC form.
            // libsndfile has no AIFC form for 8-bit data; plain AIFF is what AIFC readers also take.
            std::string magic = container.magic;
            if (magic == "AIFF" && depth.isFloat) magic = "AIFC";
            if (magic == "AIFC" && depth.bits == 8) magic = "AIFF";
            EXPECT_NE(bytes.substr(0, 12).find(magic), std::string::npos) << bytes.substr(0, 12);

            auto file = AVAudioFile::forReading(path);
            EXPECT_EQ(file->length(), AVAudioFramePosition(signal[0].size()));
            EXPECT_TRUE(file->processingFormat().isStandard());
            EXPECT_EQ(file->processingFormat().channelCount(), 2u);
            const auto& d = file->fileFormat().streamDescription();
            EXPECT_EQ(d.mBitsPerChannel, uint32_t(depth.bits));
            if (!depth.isFloat && depth.bits > 8) {
                EXPECT_EQ(bool(d.mFormatFlags & kAudioFormatFlagIsBigEndian), container.bigEndianInts);
            }
            const Channels back = readRest(*file);
            ASSERT_EQ(back.size(), 2u);
            ASSERT_EQ(back[0].size(), signal[0].size());
            for (size_t c = 0; c < 2; ++c)
                for (size_t i = 0; i < signal[c].size(); ++i) {
                    const float want = depth.isFloat ? signal[c][i] : quantized(signal[c][i], depth.bits);
                    ASSERT_EQ(back[c][i], want) << "channel " << c << " frame " << i;
                }
        }
    }
}

TEST(AVAudioFileTests, IntegerSamplesMatchSoxExactly) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    struct Case { std::string name; std::string soxArgs; int channels; int bits; bool bigEndian; };
    for (const Case& c : {Case{"s16.wav", "-c 2 -b 16", 2, 16, false}, Case{"s24.aiff", "-c 1 -b 24", 1, 24, true},
                          Case{"u8.wav", "-c 1 -b 8", 1, 8, false}, Case{"s32.caf", "-c 2 -b 32", 2, 32, true}}) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        ASSERT_EQ(run("sox -n -r 44100 " + c.soxArgs + " " + q(path) + " synth 1.5 sine 300 sine 1234 vol 0.9 dither"), 0);
        ASSERT_EQ(run("sox -D " + q(path) + " -t f32 " + q(dir / "ref.f32")), 0);
        auto file = AVAudioFile::forReading(path);
        const auto& d = file->fileFormat().streamDescription();
        EXPECT_EQ(d.mBitsPerChannel, uint32_t(c.bits));
        EXPECT_EQ(d.mChannelsPerFrame, uint32_t(c.channels));
        EXPECT_FALSE(d.mFormatFlags & kAudioFormatFlagIsNonInterleaved);
        EXPECT_TRUE(d.mFormatFlags & kAudioFormatFlagIsPacked);
        if (c.bits > 8) {
            EXPECT_TRUE(d.mFormatFlags & kAudioFormatFlagIsSignedInteger);
            EXPECT_EQ(bool(d.mFormatFlags & kAudioFormatFlagIsBigEndian), c.bigEndian);
        }
        if (c.bits == 16) {
            EXPECT_EQ(file->fileFormat().commonFormat(), AVAudioCommonFormat::pcmFormatInt16);
        }
        EXPECT_EQ(file->length(), 66150);
        const std::vector<float> ours = interleave(readRest(*file, 1000));
        // sox's float output keeps 25 bits of a 32-bit sample; its integers are exact for every depth.
        if (c.bits <= 24) {
            EXPECT_TRUE(bytesOf(ours) == testsupport::readFile(dir / "ref.f32"));
        }
        ASSERT_EQ(run("sox " + q(path) + " -t s32 " + q(dir / "ref.s32")), 0);
        const std::string ints = testsupport::readFile(dir / "ref.s32");
        ASSERT_EQ(ints.size(), ours.size() * 4);
        for (size_t i = 0; i < ours.size(); ++i) {
            int32_t v;
            std::memcpy(&v, ints.data() + i * 4, 4);
            ASSERT_EQ(ours[i], float(double(v) / 2147483648.0)) << "sample " << i;
        }
    }
}

TEST(AVAudioFileTests, SixteenBitWavSurvivesAReadWriteRoundTrip) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(dir / "a.wav") + " synth 2 pinknoise vol 0.8"), 0);
    auto in = AVAudioFile::forReading(dir / "a.wav");
    auto buffer = AVAudioPCMBuffer::make(in->processingFormat(), AVAudioFrameCount(in->length()));
    in->read(*buffer);
    {
        auto out = AVAudioFile::forWriting(dir / "r.wav", pcmSettings(44100, 2, 16, false));
        out->write(*buffer);
        out->close();
        EXPECT_FALSE(out->isOpen());
        EXPECT_EQ(out->length(), in->length());
    }
    EXPECT_EQ(run("bash -c " + q("cmp -s <(sox " + q(dir / "a.wav") + " -t s16 -) <(sox " + q(dir / "r.wav") + " -t s16 -)")), 0)
        << "not identical";
}

TEST(AVAudioFileTests, WritingReplacesAFileAndRefusesWhatItCannotWrite) {
    ScratchDir dir;
    testsupport::writeFile(dir / "old.wav", std::string(100000, 'x'));
    {
        auto file = AVAudioFile::forWriting(dir / "old.wav", pcmSettings(44100, 1, 16, false));
        file->write(*bufferOf({std::vector<float>(10, 0.5f)}, 44100));
    }
    EXPECT_EQ(AVAudioFile::forReading(dir / "old.wav")->length(), 10);

    auto code = [](auto&& action) -> int64_t {
        try {
            action();
        } catch (const NSErrorException& e) {
            EXPECT_EQ(e.error().domain, NSOSStatusErrorDomain);
            return e.error().code;
        }
        return 0;
    };
    AVAudioSettings aac = pcmSettings(44100, 2, 16, false);
    aac[AVFormatIDKey] = double(kAudioFormatMPEG4AAC);
    EXPECT_EQ(code([&] { AVAudioFile::forWriting(dir / "x.caf", aac); }), kAudioFileUnsupportedDataFormatError);
    EXPECT_EQ(code([&] { AVAudioFile::forWriting(dir / "x.caf", pcmSettings(44100, 2, 12, false)); }),
              kAudioFileUnsupportedDataFormatError);
    EXPECT_NE(code([&] { AVAudioFile::forWriting(dir / "no" / "such" / "x.caf", pcmSettings(44100, 2, 16, false)); }), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));

    auto file = AVAudioFile::forWriting(dir / "x.caf", pcmSettings(44100, 2, 16, false));
    EXPECT_EQ(code([&] { file->write(*bufferOf({{0.1f}}, 44100)); }), kAudio_ParamError);  // one channel
    EXPECT_EQ(code([&] { file->write(*bufferOf({{0.1f}, {0.1f}}, 22050)); }), kAudio_ParamError);  // another rate
    auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), 4);
    EXPECT_NE(code([&] { file->read(*buffer); }), 0);  // open for writing
    file->close();
    EXPECT_NE(code([&] { file->write(*bufferOf({{0.1f}, {0.1f}}, 44100)); }), 0);

    // Closing without waiting for the disk closes as fully: every frame reads back, writes fail.
    const Channels three = {{0.1f, -0.2f}, {0.3f, 0.4f}, {-0.5f, 0.6f}};
    auto quick = AVAudioFile::forWriting(dir / "quick.wav", pcmSettings(44100, 3, 32, true));
    quick->write(*bufferOf(three, 44100));
    quick->closeWithoutSync();
    EXPECT_FALSE(quick->isOpen());
    EXPECT_NE(code([&] { quick->write(*bufferOf(three, 44100)); }), 0);
    EXPECT_EQ(readAll(dir / "quick.wav"), three);
}

TEST(AVAudioFileTests, WritingAtAnEarlierPositionOverwrites) {
    ScratchDir dir;
    auto file = AVAudioFile::forWriting(dir / "a.wav", pcmSettings(44100, 1, 16, false));
    file->write(*bufferOf({std::vector<float>(1000, 0.25f)}, 44100));
    file->setFramePosition(500);
    file->write(*bufferOf({std::vector<float>(100, -0.5f)}, 44100));
    EXPECT_EQ(file->framePosition(), 600);
    EXPECT_EQ(file->length(), 1000);
    file->close();
    const Channels back = readAll(dir / "a.wav");
    ASSERT_EQ(back[0].size(), 1000u);
    EXPECT_EQ(back[0][499], 0.25f);
    EXPECT_EQ(back[0][500], -0.5f);
    EXPECT_EQ(back[0][599], -0.5f);
    EXPECT_EQ(back[0][600], 0.25f);
}

TEST(AVAudioFileTests, HeaderIsValidAfterEveryWrite) {
    ScratchDir dir;
    for (const std::string name : {"live.caf", "live.wav", "live.aiff", "live"}) {
        SCOPED_TRACE(name);
        auto writer = AVAudioFile::forWriting(dir / name, pcmSettings(44100, 2, 24, false));
        Channels chunk(2, std::vector<float>(1000));
        for (int i = 0; i < 1000; ++i) chunk[0][i] = float(i) / 1024, chunk[1][i] = -float(i) / 2048;
        for (int round = 1; round <= 3; ++round) {
            writer->write(*bufferOf(chunk, 44100));
            auto reader = AVAudioFile::forReading(dir / name);
            EXPECT_EQ(reader->length(), 1000 * round);
            const Channels seen = readRest(*reader);
            ASSERT_EQ(seen[0].size(), size_t(1000 * round));
            EXPECT_EQ(seen[0][1000 * round - 1], chunk[0][999]);
            EXPECT_EQ(seen[1][1000 * round - 1], chunk[1][999]);
        }
    }
}

TEST(AVAudioFileTests, ReadsFillFromFrameZeroAdvanceAndEndWithZeroFrames) {
    ScratchDir dir;
    Channels signal(1);
    for (int i = 0; i < 1000; ++i) signal[0].push_back(float(i) / 1000);
    AVAudioFile::forWriting(dir / "a.caf", pcmSettings(8000, 1, 32, true))->write(*bufferOf(signal, 8000));

    auto file = AVAudioFile::forReading(dir / "a.caf");
    auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), 600);
    file->read(*buffer, 100);
    EXPECT_EQ(buffer->frameLength(), 100u);
    EXPECT_EQ(file->framePosition(), 100);
    file->read(*buffer);
    EXPECT_EQ(buffer->frameLength(), 600u);
    EXPECT_EQ(buffer->floatChannelData()[0][0], signal[0][100]);
    file->read(*buffer);
    EXPECT_EQ(buffer->frameLength(), 300u);
    EXPECT_EQ(buffer->floatChannelData()[0][299], signal[0][999]);
    file->read(*buffer);
    EXPECT_EQ(buffer->frameLength(), 0u);
    EXPECT_EQ(file->framePosition(), 1000);
    file->setFramePosition(5000);
    file->read(*buffer);
    EXPECT_EQ(buffer->frameLength(), 0u);

    auto stereo = AVAudioPCMBuffer::make(AVAudioFormat::standardFormatWithSampleRate(8000, 2), 10);
    auto interleaved = AVAudioPCMBuffer::make(AVAudioFormat(AVAudioCommonFormat::pcmFormatFloat32, 8000, 1, true), 10);
    for (auto* wrong : {stereo.get(), interleaved.get()}) {
        try {
            file->read(*wrong);
            ADD_FAILURE() << "a buffer in another format was accepted";
        } catch (const NSErrorException& e) {
            EXPECT_EQ(e.error().code, kAudio_ParamError);
        }
    }
}

namespace {

struct Compressed {
    std::string name;
    std::string encoder;  // ffmpeg's name
    std::string args;
    AudioFormatID formatID;
    uint32_t framesPerPacket;
    bool lossless;
    double sampleRate = 44100;
    AVAudioFramePosition frames = 132300;  // 3 s
    float seekTolerance = 0;  // Opus decoders converge after a seek, but not to the last bit
};

const std::vector<Compressed>& compressedCases() {
    static const std::vector<Compressed> cases = {
        {"a.mp3", "libmp3lame", "-c:a libmp3lame -b:a 128k", kAudioFormatMPEGLayer3, 1152, false},
        // Noise substitution draws from the decoder's random state, which only a decode from the start
        // reproduces; without it a seek lands on bit-identical frames.
        {"a.m4a", "aac", "-c:a aac -b:a 128k -aac_pns 0", kAudioFormatMPEG4AAC, 1024, false},
        {"alac.m4a", "alac", "-c:a alac", kAudioFormatAppleLossless, 4096, true},
        {"a.flac", "flac", "-c:a flac", kAudioFormatFLAC, 0, true},
        // Opus runs at 48 kHz; its pre-skip comes from the decoder, its end trim from the container.
        {"a.webm", "libopus", "-c:a libopus", kAudioFormatOpus, 960, false, 48000, 144000, 1e-3f},
        {"a.ogg", "libvorbis", "-c:a libvorbis", FourCC("vorb"), 0, false},
    };
    return cases;
}

bool haveEncoder(const std::string& name) {
    return haveTool("ffmpeg") && capture("ffmpeg -hide_banner -encoders 2>/dev/null").find(" " + name + " ") != std::string::npos;
}

// A 3 s stereo 16-bit source of 132300 frames and its encoding.
void makeCompressed(const ScratchDir& dir, const Compressed& c) {
    ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(dir / "src.wav") + " synth 3 sine 440 sine 660 vol 0.5"), 0);
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + q(dir / "src.wav") + " " + c.args + " " + q(dir / c.name)), 0);
}

}  // namespace

TEST(AVAudioFileTests, CompressedFilesHaveExactLengthsAndTheirOwnFormats) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    for (const Compressed& c : compressedCases()) {
        SCOPED_TRACE(c.name);
        if (!haveEncoder(c.encoder)) continue;
        ScratchDir dir;
        makeCompressed(dir, c);
        auto file = AVAudioFile::forReading(dir / c.name);
        const auto& d = file->fileFormat().streamDescription();
        EXPECT_EQ(d.mFormatID, c.formatID);
        EXPECT_EQ(d.mFramesPerPacket, c.framesPerPacket);
        EXPECT_EQ(d.mBitsPerChannel, 0u);
        EXPECT_EQ(file->fileFormat().commonFormat(), AVAudioCommonFormat::otherFormat);
        EXPECT_EQ(d.mSampleRate, c.sampleRate);
        EXPECT_EQ(d.mChannelsPerFrame, 2u);
        EXPECT_TRUE(file->processingFormat().isStandard());
        EXPECT_EQ(file->length(), c.frames);
        const Channels samples = readRest(*file, 10000);
        ASSERT_EQ(samples[0].size(), size_t(c.frames));
        if (c.formatID == kAudioFormatMPEGLayer3 && haveTool("mpg123")) {
            // mpg123 trims the LAME delay and padding too: 2 bytes per sample.
            EXPECT_EQ(capture("mpg123 -q -s " + q(dir / c.name) + " | wc -c"), std::to_string(132300 * 2 * 2) + "\n");
        }
        if (c.lossless) {
            EXPECT_TRUE(samples == readAll(dir / "src.wav"));
        } else {
            // Same decoder as the command line: the frames must line up with its output (which
            // keeps the AAC padding at the end).
            ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -i " + q(dir / c.name) + " -f f32le " + q(dir / "ref.f32")), 0);
            const auto cli = testsupport::readFloats(dir / "ref.f32");
            ASSERT_GE(cli.size(), size_t(c.frames) * 2);
            const std::vector<float> ours = interleave(samples);
            double worst = 0;
            for (size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, double(std::fabs(ours[i] - cli[i])));
            EXPECT_LT(worst, 1e-6);
        }
    }
}

TEST(AVAudioFileTests, SeekingIsFrameExactAndMatchesAFullRead) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    std::vector<Compressed> cases = compressedCases();
    cases.push_back({"a.wav", "pcm_s16le", "-c:a pcm_s16le", kAudioFormatLinearPCM, 1, true});
    for (const Compressed& c : cases) {
        SCOPED_TRACE(c.name);
        if (!haveEncoder(c.encoder)) continue;
        ScratchDir dir;
        makeCompressed(dir, c);
        const Channels whole = readAll(dir / c.name);
        ASSERT_EQ(whole[0].size(), size_t(c.frames));
        auto file = AVAudioFile::forReading(dir / c.name);
        auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), 3000);
        // Forward, backward, near the start and end, across packet edges.
        for (AVAudioFramePosition at : {0, 70000, 1151, 1152, 1105, 1, 131000, 129300, 100, 40000, 39000, 41000, 90000, 0}) {
            SCOPED_TRACE(at);
            file->setFramePosition(at);
            file->read(*buffer);
            const size_t expected = std::min<size_t>(3000, size_t(c.frames - at));
            ASSERT_EQ(buffer->frameLength(), expected);
            EXPECT_EQ(file->framePosition(), at + AVAudioFramePosition(expected));
            for (size_t ch = 0; ch < 2; ++ch)
                for (size_t i = 0; i < expected; ++i)
                    ASSERT_NEAR(buffer->floatChannelData()[ch][i], whole[ch][size_t(at) + i], c.seekTolerance)
                        << "channel " << ch << " frame " << i;
        }
    }
}

TEST(AVAudioFileTests, FloatFilesReadBackUnscaledByOtherTools) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    const Channels quiet{{0.25f, -0.5f, 0.125f}, {0.0f, 0.5f, -0.25f}};
    // sox reads CAF through libsndfile, which scales floats to the file's peak: only its own readers count.
    for (const char* name : {"f.wav", "f.aiff"}) {
        {
            auto file = AVAudioFile::forWriting(dir / name, AVAudioFormat::standardFormatWithSampleRate(44100, 2).settings());
            file->write(*bufferOf(quiet, 44100));
        }
        const std::string dumped = capture("sox " + q(dir / name) + " -t f32 - 2>/dev/null");
        const std::vector<float> expected = interleave(quiet);
        ASSERT_EQ(dumped.size(), expected.size() * sizeof(float)) << name;
        std::vector<float> got(expected.size());
        std::memcpy(got.data(), dumped.data(), dumped.size());
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1e-6) << name << " sample " << i;
    }
}
