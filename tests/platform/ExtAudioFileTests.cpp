// Reading and writing audio files through a client format of the caller's choice.
#include "platform/audiotoolbox/AudioFormat.h"
#include "platform/audiotoolbox/ExtendedAudioFile.h"
#include "platform/avfaudio/AVAudioFile.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

using namespace platform;
using testsupport::capture;
using testsupport::haveTool;
using testsupport::q;
using testsupport::readFile;
using testsupport::readFloats;
using testsupport::run;
using testsupport::ScratchDir;

namespace {

AudioStreamBasicDescription pcm(double rate, uint32_t channels, uint32_t bits, AudioFormatFlags flags) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = flags | kAudioFormatFlagIsPacked;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bits;
    d.mFramesPerPacket = 1;
    uint32_t size = sizeof d;
    EXPECT_EQ(AudioFormatGetProperty(kAudioFormatProperty_FormatInfo, 0, nullptr, &size, &d), noErr);
    return d;
}

AudioStreamBasicDescription floats(double rate, uint32_t channels) {
    return pcm(rate, channels, 32, kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved);
}

// Buffers laid out for a client format, with the list that describes them.
struct ClientBuffers {
    ClientBuffers(const AudioStreamBasicDescription& d, size_t frames) {
        const bool planar = d.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
        const uint32_t count = planar ? d.mChannelsPerFrame : 1;
        bytes.assign(count, std::vector<unsigned char>(frames * d.mBytesPerFrame));
        listBytes.assign(AudioBufferListSize(count), 0);
        list()->mNumberBuffers = count;
        for (uint32_t b = 0; b < count; ++b)
            list()->mBuffers[b] = AudioBuffer{planar ? 1 : d.mChannelsPerFrame, uint32_t(bytes[b].size()), bytes[b].data()};
    }
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(listBytes.data()); }
    std::vector<std::vector<unsigned char>> bytes;
    std::vector<unsigned char> listBytes;
};

// Every frame of a file in the client format: the raw bytes of each buffer, concatenated per buffer.
std::vector<std::vector<unsigned char>> readAll(const std::filesystem::path& path, const AudioStreamBasicDescription& client) {
    ExtAudioFileRef file = nullptr;
    EXPECT_EQ(ExtAudioFileOpenURL(path, &file), noErr);
    if (!file) return {};
    EXPECT_EQ(ExtAudioFileSetProperty(file, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client), noErr);
    const bool planar = client.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    std::vector<std::vector<unsigned char>> all(planar ? client.mChannelsPerFrame : 1);
    for (;;) {
        ClientBuffers buffers(client, 1000);
        uint32_t frames = 1000;
        EXPECT_EQ(ExtAudioFileRead(file, &frames, buffers.list()), noErr);
        if (frames == 0) break;
        for (size_t b = 0; b < all.size(); ++b)
            all[b].insert(all[b].end(), buffers.bytes[b].begin(), buffers.bytes[b].begin() + frames * client.mBytesPerFrame);
    }
    EXPECT_EQ(ExtAudioFileDispose(file), noErr);
    return all;
}

std::vector<float> asFloats(const std::vector<unsigned char>& bytes) {
    std::vector<float> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

// Writes `seconds` of a two-tone signal through a Float32 client into a new file.
void writeTones(const std::filesystem::path& path, AudioFileTypeID type, const AudioStreamBasicDescription& format,
                double seconds) {
    ExtAudioFileRef file = nullptr;
    ASSERT_EQ(ExtAudioFileCreateWithURL(path, type, &format, nullptr, kAudioFileFlags_EraseFile, &file), noErr);
    const AudioStreamBasicDescription client = floats(format.mSampleRate, format.mChannelsPerFrame);
    ASSERT_EQ(ExtAudioFileSetProperty(file, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client), noErr);
    const auto total = size_t(std::lround(seconds * format.mSampleRate));
    ClientBuffers buffers(client, total);
    for (uint32_t c = 0; c < client.mChannelsPerFrame; ++c) {
        auto* s = reinterpret_cast<float*>(buffers.bytes[c].data());
        for (size_t i = 0; i < total; ++i)
            s[i] = float(0.4 * std::sin(2 * M_PI * (440.0 + 560.0 * c) * double(i) / format.mSampleRate));
    }
    ASSERT_EQ(ExtAudioFileWrite(file, uint32_t(total), buffers.list()), noErr);
    ASSERT_EQ(ExtAudioFileDispose(file), noErr);
}

std::string probe(const std::filesystem::path& path, const std::string& entry) {
    std::string out = capture("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                              " -of default=nw=1:nk=1 " + q(path));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

const AudioStreamBasicDescription kStereo16 = pcm(44100, 2, 16, kAudioFormatFlagIsSignedInteger);

}  // namespace

TEST(ExtAudioFileTests, OpenReportsWhyAFileCannotBeRead) {
    ScratchDir dir;
    testsupport::writeFile(dir / "notes.txt", "just some words, not audio at all\n");
    testsupport::writeFile(dir / "broken.wav", std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16) + std::string(40, '\x7f'));
    const struct {
        std::string name;
        OSStatus status;
    } cases[] = {{"missing.wav", -43}, {"notes.txt", kAudioFileUnsupportedFileTypeError}, {"broken.wav", kAudioFileInvalidFileError}};
    for (const auto& c : cases) {
        ExtAudioFileRef file = reinterpret_cast<ExtAudioFileRef>(0x1);
        EXPECT_EQ(ExtAudioFileOpenURL(dir / c.name, &file), c.status) << c.name;
        EXPECT_EQ(file, nullptr) << c.name;
    }
}

TEST(ExtAudioFileTests, ClientFormatsMatchTheFloatRead) {
    ScratchDir dir;
    writeTones(dir / "r.wav", kAudioFileWAVEType, kStereo16, 0.5);
    const std::vector<std::vector<unsigned char>> planes = readAll(dir / "r.wav", floats(44100, 2));
    ASSERT_EQ(planes.size(), 2u);
    const std::vector<float> left = asFloats(planes[0]), right = asFloats(planes[1]);
    ASSERT_EQ(left.size(), 22050u);

    {  // Int16 big-endian interleaved: the stored samples exactly, bytes swapped.
        const auto data = readAll(dir / "r.wav", pcm(44100, 2, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian));
        ASSERT_EQ(data.size(), 1u);
        ASSERT_EQ(data[0].size(), left.size() * 4);
        for (size_t i = 0; i < left.size(); ++i) {
            const auto l = int16_t(uint16_t(data[0][4 * i] << 8 | data[0][4 * i + 1]));
            const auto r = int16_t(uint16_t(data[0][4 * i + 2] << 8 | data[0][4 * i + 3]));
            ASSERT_EQ(l / 32768.0f, left[i]) << i;
            ASSERT_EQ(r / 32768.0f, right[i]) << i;
        }
    }
    {  // Float64 non-interleaved.
        const auto data = readAll(dir / "r.wav", pcm(44100, 2, 64, kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved));
        ASSERT_EQ(data.size(), 2u);
        std::vector<double> l(left.size());
        ASSERT_EQ(data[0].size(), l.size() * 8);
        std::memcpy(l.data(), data[0].data(), data[0].size());
        for (size_t i = 0; i < l.size(); ++i) ASSERT_EQ(float(l[i]), left[i]) << i;
    }
    {  // Mono: the average of the two channels.
        const auto data = readAll(dir / "r.wav", floats(44100, 1));
        const std::vector<float> mono = asFloats(data.at(0));
        ASSERT_EQ(mono.size(), left.size());
        for (size_t i = 0; i < mono.size(); ++i) ASSERT_NEAR(mono[i], 0.5f * (left[i] + right[i]), 1e-7f) << i;
    }
    {  // Unsigned 8-bit interleaved: the float read to 8 bits.
        const auto data = readAll(dir / "r.wav", pcm(44100, 2, 8, 0));
        ASSERT_EQ(data.at(0).size(), left.size() * 2);
        for (size_t i = 0; i < left.size(); ++i) ASSERT_NEAR((int(data[0][2 * i]) - 128) / 128.0f, left[i], 1.0f / 128) << i;
    }
}

TEST(ExtAudioFileTests, RateConversionMatchesSox) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    writeTones(dir / "r.wav", kAudioFileWAVEType, kStereo16, 1.0);
    const auto data = readAll(dir / "r.wav", pcm(48000, 2, 32, kAudioFormatFlagIsFloat));
    const std::vector<float> ours = asFloats(data.at(0));
    ASSERT_EQ(run("sox " + q(dir / "r.wav") + " -e floating-point -b 32 -t raw " + q(dir / "ref.f32") + " rate -v 48000"), 0);
    const std::vector<float> ref = readFloats(dir / "ref.f32");
    ASSERT_NEAR(double(ours.size()), double(ref.size()), 4.0);
    double signal = 0, error = 0;
    // Away from the ends, where the two resamplers' edges differ.
    for (size_t i = 2000; i + 2000 < std::min(ours.size(), ref.size()); ++i) {
        signal += double(ref[i]) * ref[i];
        error += (double(ours[i]) - ref[i]) * (double(ours[i]) - ref[i]);
    }
    EXPECT_LT(10 * std::log10(error / signal), -80.0);
}

TEST(ExtAudioFileTests, ReadsNeverPassTheBuffersAndCheckTheirShape) {
    ScratchDir dir;
    writeTones(dir / "r.wav", kAudioFileWAVEType, kStereo16, 0.1);  // 4410 frames
    ExtAudioFileRef file = nullptr;
    ASSERT_EQ(ExtAudioFileOpenURL(dir / "r.wav", &file), noErr);
    const AudioStreamBasicDescription mono = floats(22050, 1);
    ASSERT_EQ(ExtAudioFileSetProperty(file, kExtAudioFileProperty_ClientDataFormat, sizeof mono, &mono), noErr);

    // Room for 100 frames, 100000 asked for: 100 come, and the guard bytes after them stay.
    std::vector<float> memory(110, 99.0f);
    AudioBufferList list{1, {AudioBuffer{1, 100 * 4, memory.data()}}};
    uint32_t frames = 100000;
    ASSERT_EQ(ExtAudioFileRead(file, &frames, &list), noErr);
    EXPECT_EQ(frames, 100u);
    EXPECT_EQ(list.mBuffers[0].mDataByteSize, 400u);
    for (size_t i = 100; i < memory.size(); ++i) EXPECT_EQ(memory[i], 99.0f);

    // A list shaped for the source's two channels does not describe the mono client format.
    const struct {
        AudioBufferList list;
        const char* what;
    } bad[] = {{AudioBufferList{1, {AudioBuffer{2, 400, memory.data()}}}, "two channels in the buffer"},
               {AudioBufferList{0, {AudioBuffer{1, 400, memory.data()}}}, "no buffers"},
               {AudioBufferList{1, {AudioBuffer{1, 400, nullptr}}}, "no memory"}};
    for (const auto& b : bad) {
        AudioBufferList copy = b.list;
        frames = 10;
        EXPECT_EQ(ExtAudioFileRead(file, &frames, &copy), kAudio_ParamError) << b.what;
        EXPECT_EQ(frames, 0u) << b.what;
    }
    EXPECT_EQ(ExtAudioFileRead(file, &frames, nullptr), kAudio_ParamError);

    // The rest of the file, then 0 frames at the end.
    size_t total = 100;
    for (;;) {
        list.mBuffers[0].mDataByteSize = 100 * 4;
        frames = 100;
        ASSERT_EQ(ExtAudioFileRead(file, &frames, &list), noErr);
        if (frames == 0) break;
        total += frames;
    }
    EXPECT_NEAR(double(total), 2205.0, 1.0);
    EXPECT_EQ(ExtAudioFileDispose(file), noErr);
}

TEST(ExtAudioFileTests, FileDataFormatTellsWhatIsStored) {
    if (!haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    ScratchDir dir;
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -c:a libmp3lame " +
                  q(dir / "a.mp3") + " -c:a aac " + q(dir / "a.m4a") + " -c:a pcm_s24le " + q(dir / "a.wav")),
              0);
    AudioStreamBasicDescription alac{};
    alac.mSampleRate = 44100;
    alac.mFormatID = kAudioFormatAppleLossless;
    alac.mChannelsPerFrame = 2;
    writeTones(dir / "lossless.m4a", kAudioFileM4AType, alac, 0.2);

    const struct {
        std::string name;
        AudioFormatID id;
        uint32_t bits, framesPerPacket;
    } cases[] = {{"a.mp3", kAudioFormatMPEGLayer3, 0, 1152},
                 {"a.m4a", kAudioFormatMPEG4AAC, 0, 1024},
                 {"lossless.m4a", kAudioFormatAppleLossless, 0, 4096},
                 {"a.wav", kAudioFormatLinearPCM, 24, 1}};
    for (const auto& c : cases) {
        ExtAudioFileRef file = nullptr;
        ASSERT_EQ(ExtAudioFileOpenURL(dir / c.name, &file), noErr) << c.name;
        AudioStreamBasicDescription d{};
        uint32_t size = sizeof d;
        ASSERT_EQ(ExtAudioFileGetProperty(file, kExtAudioFileProperty_FileDataFormat, &size, &d), noErr);
        EXPECT_EQ(d.mFormatID, c.id) << c.name;
        EXPECT_EQ(d.mBitsPerChannel, c.bits) << c.name;
        EXPECT_EQ(d.mFramesPerPacket, c.framesPerPacket) << c.name;
        if (c.id == kAudioFormatLinearPCM) {
            EXPECT_EQ(d.mFormatFlags, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked) << c.name;
        }
        // Compressed data is only handed out once a client format is set.
        uint32_t frames = 16;
        float sample[32];
        AudioBufferList list{1, {AudioBuffer{2, sizeof sample, sample}}};
        if (c.id != kAudioFormatLinearPCM) {
            EXPECT_NE(ExtAudioFileRead(file, &frames, &list), noErr) << c.name;
        }
        EXPECT_EQ(ExtAudioFileDispose(file), noErr);
    }
}

TEST(ExtAudioFileTests, CreateFollowsTheTypeAndTheEraseFlag) {
    ScratchDir dir;
    const AudioStreamBasicDescription big16 = pcm(44100, 2, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian);
    const AudioStreamBasicDescription u8 = pcm(44100, 1, 8, 0);
    AudioStreamBasicDescription aac{};
    aac.mSampleRate = 44100;
    aac.mFormatID = kAudioFormatMPEG4AAC;
    aac.mChannelsPerFrame = 2;
    const struct {
        std::string name;
        AudioFileTypeID type;
        AudioStreamBasicDescription format;
        OSStatus status;
        std::string magic;  // the file's first bytes, whatever its name says
    } cases[] = {
        {"a.wav", kAudioFileCAFType, kStereo16, noErr, "caff"},
        {"b.caf", kAudioFileWAVEType, kStereo16, noErr, "RIFF"},
        {"c", kAudioFileAIFFType, big16, noErr, "FORM"},
        {"d.au", kAudioFileNextType, big16, noErr, ".snd"},
        {"e.wav", kAudioFileWAVEType, u8, noErr, "RIFF"},
        {"f.aac", kAudioFileAAC_ADTSType, aac, noErr, ""},  // no frames, no ADTS headers
        {"g.wav", kAudioFileWAVEType, aac, kAudioFileUnsupportedDataFormatError, ""},
        {"h.aif", kAudioFileAIFFType, kStereo16, kAudioFileUnsupportedDataFormatError, ""},  // little-endian AIFF
        {"i.wav", kAudioFileWAVEType, big16, kAudioFileUnsupportedDataFormatError, ""},
        {"j.mp3", kAudioFileMP3Type, aac, kAudioFileUnsupportedDataFormatError, ""},
        {"k.caf", kAudioFileCAFType, u8, kAudioFileUnsupportedDataFormatError, ""},  // CAF holds signed 8-bit
    };
    for (const auto& c : cases) {
        ExtAudioFileRef file = nullptr;
        EXPECT_EQ(ExtAudioFileCreateWithURL(dir / c.name, c.type, &c.format, nullptr, 0, &file), c.status) << c.name;
        if (c.status != noErr) {
            EXPECT_EQ(file, nullptr);
            EXPECT_FALSE(std::filesystem::exists(dir / c.name)) << c.name;
            continue;
        }
        ASSERT_NE(file, nullptr) << c.name;
        ASSERT_EQ(ExtAudioFileDispose(file), noErr) << c.name;
        EXPECT_EQ(readFile(dir / c.name).substr(0, c.magic.size()), c.magic) << c.name;
    }

    // An existing file stays unless the erase flag is given.
    const std::string before = readFile(dir / "b.caf");
    ExtAudioFileRef file = nullptr;
    EXPECT_EQ(ExtAudioFileCreateWithURL(dir / "b.caf", kAudioFileCAFType, &kStereo16, nullptr, 0, &file), kAudioFileDuplicateFileError);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(readFile(dir / "b.caf"), before);
    ASSERT_EQ(ExtAudioFileCreateWithURL(dir / "b.caf", kAudioFileCAFType, &kStereo16, nullptr, kAudioFileFlags_EraseFile, &file), noErr);
    ASSERT_EQ(ExtAudioFileDispose(file), noErr);
    EXPECT_EQ(readFile(dir / "b.caf").substr(0, 4), "caff");
}

TEST(ExtAudioFileTests, BigEndianClientWritesAndReadsBack) {
    ScratchDir dir;
    const AudioStreamBasicDescription client = pcm(44100, 2, 24, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian);
    const AudioStreamBasicDescription onDisk = pcm(44100, 2, 24, kAudioFormatFlagIsSignedInteger);
    ClientBuffers buffers(client, 1000);
    for (size_t i = 0; i < buffers.bytes[0].size(); ++i) buffers.bytes[0][i] = (unsigned char)(i * 37 + 11);
    ExtAudioFileRef file = nullptr;
    ASSERT_EQ(ExtAudioFileCreateWithURL(dir / "x.caf", kAudioFileCAFType, &onDisk, nullptr, 0, &file), noErr);
    ASSERT_EQ(ExtAudioFileSetProperty(file, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client), noErr);
    // Fewer bytes than the frames need: refused.
    AudioBufferList shortList = *buffers.list();
    shortList.mBuffers[0].mDataByteSize = 100;
    EXPECT_EQ(ExtAudioFileWrite(file, 1000, &shortList), kAudio_ParamError);
    ASSERT_EQ(ExtAudioFileWrite(file, 1000, buffers.list()), noErr);
    ASSERT_EQ(ExtAudioFileDispose(file), noErr);
    EXPECT_EQ(readAll(dir / "x.caf", client).at(0), buffers.bytes[0]);
}

TEST(ExtAudioFileTests, ClientFormatsOutsideLinearPCMAreRefused) {
    ScratchDir dir;
    writeTones(dir / "r.wav", kAudioFileWAVEType, kStereo16, 0.1);
    ExtAudioFileRef file = nullptr;
    ASSERT_EQ(ExtAudioFileOpenURL(dir / "r.wav", &file), noErr);
    AudioStreamBasicDescription aac{};
    aac.mSampleRate = 44100;
    aac.mFormatID = kAudioFormatMPEG4AAC;
    aac.mChannelsPerFrame = 2;
    AudioStreamBasicDescription u16 = kStereo16;
    u16.mFormatFlags = kAudioFormatFlagIsPacked;  // unsigned 16-bit
    AudioStreamBasicDescription f16 = kStereo16;
    f16.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    for (const AudioStreamBasicDescription& d : {aac, u16, f16})
        EXPECT_EQ(ExtAudioFileSetProperty(file, kExtAudioFileProperty_ClientDataFormat, sizeof d, &d), kAudioFileUnsupportedDataFormatError);
    EXPECT_EQ(ExtAudioFileDispose(file), noErr);
}

TEST(ExtAudioFileTests, AACFileHasExactLengthAndBitRate) {
    if (!haveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    ScratchDir dir;
    AudioStreamBasicDescription aac{};
    aac.mSampleRate = 44100;
    aac.mFormatID = kAudioFormatMPEG4AAC;
    aac.mChannelsPerFrame = 2;
    writeTones(dir / "t.m4a", kAudioFileM4AType, aac, 3.0);
    EXPECT_EQ(probe(dir / "t.m4a", "codec_name"), "aac");
    EXPECT_EQ(probe(dir / "t.m4a", "duration_ts"), "132300");
    EXPECT_NEAR(std::stod(probe(dir / "t.m4a", "bit_rate")), 128000, 128000 * 0.05);

    ExtAudioFileRef file = nullptr;
    ASSERT_EQ(ExtAudioFileOpenURL(dir / "t.m4a", &file), noErr);
    int64_t length = 0;
    uint32_t size = sizeof length;
    ASSERT_EQ(ExtAudioFileGetProperty(file, kExtAudioFileProperty_FileLengthFrames, &size, &length), noErr);
    EXPECT_EQ(length, 132300);
    EXPECT_EQ(ExtAudioFileDispose(file), noErr);
    const auto planes = readAll(dir / "t.m4a", floats(44100, 2));
    const std::vector<float> left = asFloats(planes.at(0));
    ASSERT_EQ(left.size(), 132300u);
    // No lag against the written tone: the priming is trimmed.
    double best = -1;
    int bestLag = 99;
    for (int lag = -8; lag <= 8; ++lag) {
        double sum = 0;
        for (size_t i = 5000; i < 100000; ++i) sum += double(left[i]) * 0.4 * std::sin(2 * M_PI * 440.0 * double(int64_t(i) - lag) / 44100);
        if (sum > best) best = sum, bestLag = lag;
    }
    EXPECT_EQ(bestLag, 0);
}

TEST(ExtAudioFileTests, FormatInfoCompletesPartialDescriptions) {
    const struct {
        AudioFormatID id;
        uint32_t framesPerPacket;
    } cases[] = {{kAudioFormatMPEG4AAC, 1024}, {kAudioFormatMPEGLayer3, 1152}, {kAudioFormatAppleLossless, 4096}};
    for (const auto& c : cases) {
        AudioStreamBasicDescription d{};
        d.mSampleRate = 44100;
        d.mFormatID = c.id;
        d.mChannelsPerFrame = 2;
        uint32_t size = sizeof d;
        EXPECT_EQ(AudioFormatGetProperty(kAudioFormatProperty_FormatInfo, 0, nullptr, &size, &d), noErr);
        EXPECT_EQ(d.mFramesPerPacket, c.framesPerPacket);
        EXPECT_EQ(d.mBitsPerChannel, 0u);
    }
    const AudioStreamBasicDescription s24 = pcm(48000, 2, 24, kAudioFormatFlagIsSignedInteger);
    EXPECT_EQ(s24.mBytesPerFrame, 6u);
    EXPECT_EQ(s24.mBytesPerPacket, 6u);
    EXPECT_EQ(floats(48000, 2).mBytesPerFrame, 4u);
    AudioStreamBasicDescription unknown{};
    unknown.mFormatID = FourCC("zzzz");
    uint32_t size = sizeof unknown;
    EXPECT_EQ(AudioFormatGetProperty(kAudioFormatProperty_FormatInfo, 0, nullptr, &size, &unknown), kAudioFormatUnsupportedDataFormatError);
}

TEST(ExtAudioFileTests, AFileCutWhileReadFailsWithoutAFrameCount) {
    ScratchDir dir;
    writeTones(dir / "r.wav", kAudioFileWAVEType, kStereo16, 2.0);
    ExtAudioFileRef file = nullptr;
    ASSERT_EQ(ExtAudioFileOpenURL(dir / "r.wav", &file), noErr);
    ClientBuffers buffers(kStereo16, 4096);
    uint32_t frames = 4096;
    ASSERT_EQ(ExtAudioFileRead(file, &frames, buffers.list()), noErr);
    ASSERT_EQ(frames, 4096u);
    std::filesystem::resize_file(dir / "r.wav", 100000);
    OSStatus status = noErr;
    while (status == noErr) {
        ClientBuffers more(kStereo16, 4096);
        frames = 4096;
        status = ExtAudioFileRead(file, &frames, more.list());
        if (status == noErr) {
            ASSERT_GT(frames, 0u) << "the end of a cut file is no clean end";
        }
    }
    EXPECT_EQ(status, kAudioFileInvalidFileError);
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(ExtAudioFileDispose(file), noErr);
}
