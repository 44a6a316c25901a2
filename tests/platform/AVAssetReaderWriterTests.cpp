// Moving an asset's samples out through a reader and into a new file through a writer.
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfoundation/AVAssetReader.h"
#include "platform/avfoundation/AVAssetWriter.h"
#include "platform/avfoundation/AVError.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace platform;
using testsupport::capture;
using testsupport::haveTool;
using testsupport::q;
using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;

namespace {

// A 16-bit stereo WAV of two tones, `seconds` long at 44100 Hz.
std::filesystem::path makeTones(const ScratchDir& dir, double seconds, const std::string& name = "r.wav") {
    const auto path = dir / name;
    EXPECT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(path) + " synth " + std::to_string(seconds) + " sine 440 sine 1000 gain -6"), 0);
    return path;
}

std::shared_ptr<AVAssetReaderTrackOutput> startReader(const std::shared_ptr<AVAssetReader>& reader,
                                                      std::optional<AVAudioSettings> settings = std::nullopt) {
    const auto tracks = reader->asset().tracks(AVMediaType::audio);
    EXPECT_EQ(tracks.size(), 1u);
    if (tracks.empty()) return nullptr;
    auto output = std::make_shared<AVAssetReaderTrackOutput>(tracks[0], std::move(settings));
    EXPECT_TRUE(reader->canAdd(output));
    reader->add(output);
    EXPECT_TRUE(reader->startReading());
    return output;
}

std::string probe(const std::filesystem::path& path, const std::string& entry) {
    std::string out = capture("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                              " -of default=nw=1:nk=1 " + q(path));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// Copies the reader's buffers into the writer from a serial queue, as a conversion does; resolves
// with the writer's status once the finish callback has run.
std::future<AVAssetWriterStatus> pump(std::shared_ptr<AVAssetReader> reader, std::shared_ptr<AVAssetReaderTrackOutput> output,
                                      std::shared_ptr<AVAssetWriter> writer, std::shared_ptr<AVAssetWriterInput> input,
                                      std::thread::id* finishThread = nullptr) {
    auto done = std::make_shared<std::promise<AVAssetWriterStatus>>();
    auto result = done->get_future();
    auto queue = std::make_shared<DispatchQueue>("io.tamberlo.tests.pump");
    input->requestMediaDataWhenReady(queue, [=] {
        while (input->isReadyForMoreMediaData()) {
            if (auto buffer = reader->status() == AVAssetReaderStatus::reading ? output->copyNextSampleBuffer() : nullptr) {
                input->append(buffer);
                continue;
            }
            input->markAsFinished();
            EXPECT_NE(reader->status(), AVAssetReaderStatus::reading);
            writer->finishWriting([=] {
                if (finishThread) *finishThread = std::this_thread::get_id();
                done->set_value(writer->status());
            });
            break;
        }
    });
    return result;
}

AVAudioSettings aacSettings(double rate, double channels, double bitRate) {
    return {{AVFormatIDKey, kAudioFormatMPEG4AAC}, {AVSampleRateKey, rate}, {AVNumberOfChannelsKey, channels},
            {AVEncoderBitRateKey, bitRate}, {AVEncoderBitRateStrategyKey, AVAudioBitRateStrategy_Constant}};
}

}  // namespace

TEST(AVAssetReaderTests, StoredLayoutInChunksThenCompleted) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    const auto path = makeTones(dir, 1.0);
    auto reader = AVAssetReader::make(AVURLAsset(path));
    auto output = startReader(reader);
    ASSERT_TRUE(output);
    std::string bytes;
    int buffers = 0;
    int64_t nextTime = 0;
    while (auto buffer = output->copyNextSampleBuffer()) {
        const AudioStreamBasicDescription& d = buffer->formatDescription().streamBasicDescription;
        EXPECT_EQ(d.mFormatFlags, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked);
        EXPECT_EQ(d.mBitsPerChannel, 16u);
        EXPECT_EQ(buffer->presentationTimeStamp(), CMTimeMake(nextTime, 44100));
        nextTime += buffer->numSamples();
        const AudioBuffer& b = buffer->audioBufferList().mBuffers[0];
        EXPECT_EQ(b.mDataByteSize, buffer->numSamples() * 4);
        bytes.append(static_cast<const char*>(b.mData), b.mDataByteSize);
        ++buffers;
    }
    EXPECT_GT(buffers, 1);
    EXPECT_EQ(reader->status(), AVAssetReaderStatus::completed);
    EXPECT_EQ(output->copyNextSampleBuffer(), nullptr);
    EXPECT_EQ(bytes, capture("sox " + q(path) + " -t s16 -"));
}

TEST(AVAssetReaderTests, SettingsConvertRateChannelsAndType) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    auto reader = AVAssetReader::make(AVURLAsset(makeTones(dir, 1.0)));
    auto output = startReader(reader, AVAudioSettings{{AVFormatIDKey, kAudioFormatLinearPCM}, {AVSampleRateKey, 48000},
                                                      {AVNumberOfChannelsKey, 1}, {AVLinearPCMBitDepthKey, 32},
                                                      {AVLinearPCMIsFloatKey, 1}, {AVLinearPCMIsNonInterleaved, 1}});
    ASSERT_TRUE(output);
    int64_t frames = 0;
    while (auto buffer = output->copyNextSampleBuffer()) {
        EXPECT_EQ(buffer->formatDescription().streamBasicDescription.mSampleRate, 48000);
        EXPECT_EQ(buffer->audioBufferList().mNumberBuffers, 1u);
        frames += buffer->numSamples();
    }
    EXPECT_NEAR(double(frames), 48000.0, 2.0);
    EXPECT_EQ(reader->status(), AVAssetReaderStatus::completed);
}

TEST(AVAssetReaderTests, AfterTheLastBufferTheStatusIsNeverReading) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    {  // Cancelled.
        auto reader = AVAssetReader::make(AVURLAsset(makeTones(dir, 1.0, "a.wav")));
        auto output = startReader(reader);
        ASSERT_TRUE(output->copyNextSampleBuffer());
        reader->cancelReading();
        EXPECT_EQ(output->copyNextSampleBuffer(), nullptr);
        EXPECT_EQ(reader->status(), AVAssetReaderStatus::cancelled);
    }
    {  // The file loses its end while it is read: failed, not completed.
        const auto path = makeTones(dir, 2.0, "b.wav");
        auto reader = AVAssetReader::make(AVURLAsset(path));
        auto output = startReader(reader);
        ASSERT_TRUE(output->copyNextSampleBuffer());
        std::filesystem::resize_file(path, 100000);
        while (output->copyNextSampleBuffer()) {
        }
        EXPECT_EQ(reader->status(), AVAssetReaderStatus::failed);
        EXPECT_TRUE(reader->error().has_value());
    }
    {  // Not a media file: no tracks, and reading cannot start.
        testsupport::writeFile(dir / "c.wav", "plain words");
        const AVURLAsset asset(dir / "c.wav");
        EXPECT_TRUE(asset.tracks(AVMediaType::audio).empty());
    }
    EXPECT_THROW(AVAssetReader::make(AVURLAsset(dir / "missing.wav")), NSErrorException);
}

TEST(AVAssetWriterTests, AACInM4AHasTheInputLengthAndBitRate) {
    if (!haveTool("sox") || !haveTool("ffprobe")) GTEST_SKIP() << "sox or ffprobe is not installed";
    ScratchDir dir;
    const auto source = makeTones(dir, 3.0);
    const AVURLAsset asset(source);
    auto reader = AVAssetReader::make(asset);
    auto output = startReader(reader);
    auto writer = AVAssetWriter::make(dir / "o.m4a", AVFileTypeAppleM4A);
    auto input = std::make_shared<AVAssetWriterInput>(AVMediaType::audio, aacSettings(44100, 2, 192000),
                                                      asset.tracks(AVMediaType::audio)[0].formatDescriptions()[0]);
    ASSERT_TRUE(writer->canAdd(input));
    writer->add(input);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(kCMTimeZero);
    std::thread::id finishThread;
    auto status = pump(reader, output, writer, input, &finishThread);
    ASSERT_EQ(status.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(status.get(), AVAssetWriterStatus::completed);
    EXPECT_NE(finishThread, std::this_thread::get_id());
    EXPECT_EQ(reader->status(), AVAssetReaderStatus::completed);

    EXPECT_EQ(probe(dir / "o.m4a", "codec_name"), "aac");
    EXPECT_EQ(probe(dir / "o.m4a", "duration_ts"), "132300");
    EXPECT_NEAR(std::stod(probe(dir / "o.m4a", "bit_rate")), 192000, 192000 * 0.05);
    EXPECT_EQ(AVAudioFile::forReading(dir / "o.m4a")->length(), 132300);
}

TEST(AVAssetWriterTests, PCMOutputConvertsRateChannelsAndDepth) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    auto reader = AVAssetReader::make(AVURLAsset(makeTones(dir, 1.0)));
    auto output = startReader(reader);
    auto writer = AVAssetWriter::make(dir / "o.aif", AVFileTypeAIFF);
    auto input = std::make_shared<AVAssetWriterInput>(
        AVMediaType::audio, AVAudioSettings{{AVFormatIDKey, kAudioFormatLinearPCM}, {AVSampleRateKey, 48000},
                                            {AVNumberOfChannelsKey, 1}, {AVLinearPCMBitDepthKey, 24},
                                            {AVLinearPCMIsFloatKey, 0}, {AVLinearPCMIsBigEndianKey, 1},
                                            {AVLinearPCMIsNonInterleaved, 0}});
    writer->add(input);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(kCMTimeZero);
    auto status = pump(reader, output, writer, input);
    ASSERT_EQ(status.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(status.get(), AVAssetWriterStatus::completed);
    const auto file = AVAudioFile::forReading(dir / "o.aif");
    EXPECT_EQ(file->fileFormat().sampleRate(), 48000);
    EXPECT_EQ(file->fileFormat().channelCount(), 1u);
    EXPECT_EQ(file->fileFormat().streamDescription().mBitsPerChannel, 24u);
    EXPECT_NEAR(double(file->length()), 48000.0, 2.0);
}

TEST(AVAssetWriterTests, CancelRemovesThePartialOutput) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    auto reader = AVAssetReader::make(AVURLAsset(makeTones(dir, 1.0)));
    auto output = startReader(reader);
    for (const AVFileType& type : {AVFileTypeAppleM4A, AVFileTypeWAVE}) {
        const auto target = dir / ("partial-" + std::to_string(type.size()));
        auto writer = AVAssetWriter::make(target, type);
        auto input = std::make_shared<AVAssetWriterInput>(
            AVMediaType::audio, type == AVFileTypeAppleM4A ? aacSettings(44100, 2, 128000)
                                                           : AVAudioSettings{{AVFormatIDKey, kAudioFormatLinearPCM},
                                                                             {AVSampleRateKey, 44100},
                                                                             {AVNumberOfChannelsKey, 2}});
        writer->add(input);
        ASSERT_TRUE(writer->startWriting());
        writer->startSession(kCMTimeZero);
        EXPECT_TRUE(input->append(output->copyNextSampleBuffer()));
        EXPECT_TRUE(std::filesystem::exists(target));
        writer->cancelWriting();
        EXPECT_EQ(writer->status(), AVAssetWriterStatus::cancelled);
        EXPECT_FALSE(std::filesystem::exists(target)) << type;
        EXPECT_FALSE(input->isReadyForMoreMediaData());
    }
}

TEST(AVAssetWriterTests, ExistingOutputFailsToStart) {
    ScratchDir dir;
    testsupport::writeFile(dir / "taken.m4a", "keep me");
    auto writer = AVAssetWriter::make(dir / "taken.m4a", AVFileTypeAppleM4A);
    writer->add(std::make_shared<AVAssetWriterInput>(AVMediaType::audio, aacSettings(44100, 2, 128000)));
    EXPECT_FALSE(writer->startWriting());
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::failed);
    ASSERT_TRUE(writer->error());
    EXPECT_EQ(writer->error()->code, AVErrorFileAlreadyExists);
    EXPECT_EQ(readFile(dir / "taken.m4a"), "keep me");
    EXPECT_THROW(AVAssetWriter::make(dir / "x.mp3", "public.mp3"), NSErrorException);
}

TEST(AVAssetWriterTests, MediaRequestsStopAtMarkAsFinished) {
    ScratchDir dir;
    auto writer = AVAssetWriter::make(dir / "o.wav", AVFileTypeWAVE);
    auto input = std::make_shared<AVAssetWriterInput>(AVMediaType::audio, AVAudioSettings{{AVFormatIDKey, kAudioFormatLinearPCM},
                                                                                          {AVSampleRateKey, 44100},
                                                                                          {AVNumberOfChannelsKey, 1}});
    writer->add(input);
    auto queue = std::make_shared<DispatchQueue>("io.tamberlo.tests.requests");
    std::atomic<int> calls{0}, callsAfterFinish{0};
    std::atomic<bool> finished{false}, wrongQueue{false};
    // Asked before writing starts: the block waits for it.
    input->requestMediaDataWhenReady(queue, [&] {
        if (!queue->isCurrent()) wrongQueue = true;
        if (finished) ++callsAfterFinish;
        if (++calls == 5) {
            input->markAsFinished();
            finished = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(kCMTimeZero);
    // A loaded machine may take its time to serve the five requests.
    EXPECT_TRUE(testsupport::spinUntil([&] { return finished.load(); }));
    // A request served after the mark would show here.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls, 5);
    EXPECT_EQ(callsAfterFinish, 0);
    EXPECT_FALSE(wrongQueue);
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    std::promise<void> done;
    writer->finishWriting([&] { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::completed);
}
