// The node recorder and the multi-channel input recorder with its channel files, rendered offline.
#include "TapFixtures.h"

#include "Sonora/Taps/MultiChannelInputNodeTap.h"
#include "Sonora/Taps/NodeRecorder.h"
#include "platform/avfaudio/AVAudioIONode.h"

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

using namespace sonora;
using namespace taptest;
namespace fs = std::filesystem;

namespace {

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::setEnableLogging(true);
        platform::LogSink::clear();
        ASSERT_TRUE(dir.isValid());
    }
    std::string path(const std::string& name) const { return (dir.path() + "/" + QString::fromStdString(name)).toStdString(); }
    QTemporaryDir dir;
};

std::shared_ptr<platform::AVAudioFile> floatFile(const std::string& path) {
    return platform::AVAudioFile::forWriting(path, Settings::audioFormat().settings());
}

std::vector<float> channelOf(const std::string& path, uint32_t c = 0) {
    auto file = platform::AVAudioFile::forReading(path);
    auto buffer = platform::AVAudioPCMBuffer::make(file->processingFormat(), uint32_t(std::max<int64_t>(file->length(), 1)));
    file->read(*buffer);
    return {buffer->floatChannelData()[c], buffer->floatChannelData()[c] + buffer->frameLength()};
}

}  // namespace

TEST_F(RecorderTest, NodeRecorderStopsByDurationAndLogsItsMisuse) {
    auto node = std::make_shared<SignalNode>([](uint32_t c, int64_t n) { return float(c) * 0.5f + float(n % 1000) * 1e-4f; });
    auto recorder = std::make_shared<NodeRecorder>(node, floatFile(path("take.caf")));
    EXPECT_DOUBLE_EQ(recorder->recordBufferDuration(), 16384.0 / 44100);

    // Not attached yet: the two lines of a refused recording.
    recorder->record();
    auto logged = messages();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].rfind("⏺ Recording using format <AVAudioFormat: 2 ch, 44100 Hz, Float32", 0), 0u) << logged[0];
    EXPECT_EQ(logged[1].rfind("🛑 Error: Error recording. Input node '", 0), 0u) << logged[1];
    EXPECT_FALSE(recorder->isRecording());

    AudioEngine engine;
    engine.setOutput(node);
    startOffline(engine);
    recorder->setDurationToRecord(1.0);
    platform::LogSink::clear();
    recorder->record();
    recorder->record();
    EXPECT_EQ(logCount("Warning: already recording"), 1);
    render(engine, 60000);
    // The 44th buffer of 1024 frames passes 1 s: written whole, then the recorder stops itself.
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_DOUBLE_EQ(recorder->recordedDuration(), 45056.0 / 44100);
    EXPECT_DOUBLE_EQ(recorder->recordBufferDuration(), 1024.0 / 44100);
    recorder->stop();
    EXPECT_EQ(logCount("Warning: Cannot stop recording, already stopped"), 1);
    const auto left = channelOf(path("take.caf"));
    ASSERT_EQ(left.size(), 45056u);
    EXPECT_EQ(left[1234], float(234) * 1e-4f);
    EXPECT_EQ(channelOf(path("take.caf"), 1)[0], 0.5f);
}

// Without a duration the take ends at stop(); the frames of a last, partial buffer are kept.
TEST_F(RecorderTest, NodeRecorderKeepsEveryFrameUntilStopAndResets) {
    auto node = std::make_shared<SignalNode>([](uint32_t, int64_t n) { return float(n) * 1e-5f; });
    AudioEngine engine;
    engine.setOutput(node);
    startOffline(engine);
    auto recorder = std::make_shared<NodeRecorder>(node, floatFile(path("all.wav")));
    recorder->record();
    render(engine, 3000);
    recorder->stop();
    const auto samples = channelOf(path("all.wav"));
    ASSERT_EQ(samples.size(), 3000u);
    EXPECT_EQ(samples[2999], 2999 * 1e-5f);

    platform::LogSink::clear();
    recorder->reset();
    EXPECT_EQ(logCount("File has been cleared"), 1);
    EXPECT_EQ(recorder->recordedDuration(), 0);
    ASSERT_TRUE(recorder->audioFile());
    EXPECT_EQ(recorder->audioFile()->length(), 0);

    // A recording whose file was deleted meanwhile goes on in a new temporary file.
    fs::remove(path("all.wav"));
    const size_t temps = NodeRecorder::tempFiles().size();
    recorder->record();
    render(engine, 2048);
    recorder->stop();
    ASSERT_EQ(NodeRecorder::tempFiles().size(), temps + 1);
    EXPECT_EQ(recorder->audioFile()->url(), NodeRecorder::tempFiles().back());
    EXPECT_EQ(recorder->audioFile()->length(), 2048);
    platform::LogSink::clear();
    NodeRecorder::removeTempFiles();
    EXPECT_EQ(logCount("𝗫 Deleted tmp file at"), int(temps + 1));
    NodeRecorder::removeTempFiles();
    EXPECT_EQ(logCount("𝗫 Deleted tmp file at"), int(temps + 1));
}

TEST_F(RecorderTest, NodeRecorderWithoutAUsableFile) {
    auto node = std::make_shared<SignalNode>([](uint32_t, int64_t) { return 0.0f; });
    NodeRecorder none(node, nullptr);
    EXPECT_EQ(logCount("Error, no file to write to"), 1);
    EXPECT_EQ(none.recordedDuration(), 0);
    EXPECT_EQ(none.audioFile(), nullptr);
    none.reset();  // nothing to empty

    // A folder that went away: the constructor throws and leaves no file behind.
    fs::create_directories(path("gone"));
    auto file = floatFile(path("gone/x.caf"));
    file->close();
    fs::remove_all(path("gone"));
    EXPECT_THROW(NodeRecorder(node, file), platform::NSErrorException);
    EXPECT_EQ(logCount("Error: cannot write to"), 1);
    EXPECT_FALSE(fs::exists(path("gone")));
}

namespace {

struct CountingDelegate : MultiChannelInputNodeTapDelegate {
    void tapDidInstall(MultiChannelInputNodeTap&) override { ++installs; }
    void tapDidRemove(MultiChannelInputNodeTap&) override { ++removes; }
    void didProcess(MultiChannelInputNodeTap&, uint32_t frames, const platform::AVAudioTime&) override { processed.push_back(frames); }
    int installs = 0, removes = 0;
    std::vector<uint32_t> processed;
};

// An offline engine whose input node plays four channels: channel c, frame n = c / 4 + n * 1e-6.
struct InputRig {
    InputRig() {
        engine = platform::AVAudioEngine::make();
        engine->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline,
                                          platform::AVAudioFormat::standardFormatWithSampleRate(48000, 2), 512);
        input = engine->inputNode();
        const auto four = platform::AVAudioFormat::standardFormatWithSampleRate(48000, 4);
        block = platform::AVAudioPCMBuffer::make(four, 512);
        input->setManualRenderingInputPCMFormat(four, [this](platform::AVAudioFrameCount frames) {
            for (uint32_t c = 0; c < 4; ++c)
                for (platform::AVAudioFrameCount i = 0; i < frames; ++i)
                    block->floatChannelData()[c][i] = float(c) * 0.25f + float(frame + i) * 1e-6f;
            frame += frames;
            return block->audioBufferList();
        });
    }
    void render(platform::AVAudioFrameCount frames) {
        if (!engine->isRunning()) engine->start();
        auto out = platform::AVAudioPCMBuffer::make(engine->manualRenderingFormat(), 512);
        for (platform::AVAudioFrameCount done = 0; done < frames; done += 512) engine->renderOffline(512, *out);
    }
    // A recorder of the input node into `folder`, with a counting delegate.
    std::shared_ptr<MultiChannelInputNodeTap> recorder(const QTemporaryDir& folder) {
        auto made = std::make_shared<MultiChannelInputNodeTap>(input);
        made->delegate = delegate;
        made->directory = platform::URL(folder.path().toStdString());
        return made;
    }
    std::shared_ptr<platform::AVAudioEngine> engine;
    std::shared_ptr<platform::AVAudioInputNode> input;
    std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
    std::shared_ptr<platform::AVAudioPCMBuffer> block;
    int64_t frame = 0;
};

}  // namespace

TEST_F(RecorderTest, InputRecorderWritesOneFilePerChannelAndTakesNewNames) {
    InputRig rig;
    auto recorder = rig.recorder(dir);
    const auto& delegate = rig.delegate;
    recorder->ioLatency = 1000;
    recorder->prepare(std::vector<int32_t>{0, 2});
    EXPECT_EQ(rig.input->channelMap(), (std::vector<int32_t>{0, 2}));
    ASSERT_TRUE(recorder->recordFormat());
    EXPECT_EQ(recorder->recordFormat()->channelCount(), 2u);
    EXPECT_EQ(recorder->sampleRate(), 48000);
    EXPECT_EQ(delegate->installs, 1);
    auto files = recorder->files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0]->url.lastPathComponent(), "Audio 1 #1.wav");
    EXPECT_EQ(files[1]->url.lastPathComponent(), "Audio 3 #1.wav");

    platform::LogSink::clear();
    recorder->setChannelMap({0, 2});  // the same map: nothing happens
    EXPECT_TRUE(platform::LogSink::entries().empty());
    recorder->stop();
    EXPECT_EQ(logCount("Not Recording"), 1);

    rig.render(2048);  // prepared, not recording: measured, not written
    EXPECT_GT(files[1]->amplitude, 0.45f);
    recorder->record();
    recorder->record();
    EXPECT_EQ(logCount("Already recording"), 1);
    rig.render(4096);
    recorder->stop();
    EXPECT_EQ(delegate->processed, std::vector<uint32_t>(3, 2048));
    // Frames 2048 ... 6143 of the take, less the first 1000.
    const auto first = channelOf(files[0]->url.path()), third = channelOf(files[1]->url.path());
    ASSERT_EQ(first.size(), 3096u);
    ASSERT_EQ(third.size(), 3096u);
    EXPECT_NEAR(first[0], (2048 + 1000) * 1e-6, 1e-6);
    EXPECT_NEAR(third[5], 0.5 + (2048 + 1005) * 1e-6, 1e-6);
    EXPECT_EQ(platform::AVAudioFile::forReading(files[0]->url.path())->fileFormat().streamDescription().mBitsPerChannel, 24u);

    // The next take gets new files with the next counter; the first take's stay as they were.
    recorder->record();
    rig.render(2048);
    recorder->stop();
    const auto second = recorder->files();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0]->url.lastPathComponent(), "Audio 1 #2.wav");
    EXPECT_EQ(channelOf(files[0]->url.path()).size(), 3096u);
    EXPECT_EQ(channelOf(second[0]->url.path()).size(), 1048u);

    recorder->setRecordEnabled(false);
    EXPECT_EQ(delegate->removes, 1);
    EXPECT_FALSE(rig.input->hasTap());
}

// A recorder that goes away takes its tap with it, however it was held.
TEST_F(RecorderTest, InputRecorderRemovesItsTapWhenDestroyed) {
    InputRig rig;
    rig.recorder(dir)->prepare(std::vector<int32_t>{0});
    EXPECT_FALSE(rig.input->hasTap());
    {
        MultiChannelInputNodeTap local(rig.input);  // its tap's block holds it by address
        local.directory = platform::URL(dir.path().toStdString());
        local.prepare(std::vector<int32_t>{1});
        EXPECT_TRUE(rig.input->hasTap());
    }
    EXPECT_FALSE(rig.input->hasTap());
    rig.render(4096);
}

TEST_F(RecorderTest, InputRecorderRefusesBadChannelMaps) {
    InputRig rig;
    auto recorder = rig.recorder(dir);
    recorder->prepare(std::vector<int32_t>{1});
    ASSERT_TRUE(recorder->recordFormat());
    platform::LogSink::clear();
    recorder->setChannelMap({0, 7});  // the device has four channels
    EXPECT_EQ(logCount("Failed setting channel map"), 1);
    EXPECT_EQ(recorder->channelMap(), std::vector<int32_t>{1});
    EXPECT_EQ(recorder->recordFormat()->channelCount(), 1u);
    EXPECT_TRUE(recorder->recordEnabled());
    recorder->setChannelMap({});
    EXPECT_EQ(logCount("You must specify a valid channel map"), 1);
    EXPECT_FALSE(recorder->recordFormat());
    EXPECT_EQ(recorder->createRecordFormat({}), std::nullopt);
    // Without a record format recordEnabled does not change.
    recorder->setRecordEnabled(false);
    EXPECT_TRUE(recorder->recordEnabled());
}

// A tapped channel without a file records nothing, and every other file holds its own channel:
// whether the file could not be named (all of channel 0's names taken) or the list was cut short.
TEST_F(RecorderTest, AChannelWithoutAFileRecordsNothingAndTheOthersTheirOwn) {
    for (int n = 1; n <= 10000; ++n) std::ofstream(path("Audio 1 #" + std::to_string(n) + ".wav"));
    InputRig rig;
    auto recorder = rig.recorder(dir);
    const auto& delegate = rig.delegate;
    recorder->prepare(std::vector<int32_t>{0, 1});
    recorder->record();  // a set short of a file is made anew for the take
    auto files = recorder->files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]->url.lastPathComponent(), "Audio 2 #2.wav");
    rig.render(4096);
    recorder->stop();
    EXPECT_EQ(delegate->processed, std::vector<uint32_t>(2, 2048));
    EXPECT_EQ(logCount("Count mismatch"), 1);
    const auto second = channelOf(files[0]->url.path());
    ASSERT_EQ(second.size(), 4096u);
    EXPECT_NEAR(second[0], 0.25, 1e-6);
    EXPECT_NEAR(second[4095], 0.25 + 4095e-6, 1e-6);

    // A shorter list set by hand: the file of channel 3 takes channel 3.
    delegate->processed.clear();
    rig.engine->stop();  // three channels take the graph's next start
    recorder->prepare(std::vector<int32_t>{0, 1, 3});
    files = recorder->files();
    ASSERT_EQ(files.size(), 2u);
    recorder->setFiles({files[1]});
    rig.render(2048);
    EXPECT_EQ(delegate->processed, std::vector<uint32_t>{2048});
    EXPECT_GT(files[1]->amplitude, 0.7f);
}

TEST_F(RecorderTest, ChannelFileDropsTheInputLatency) {
    struct Case {
        uint32_t latency;
        std::vector<int64_t> lengths;  // the file's length after each 512-frame buffer
        int unexpected;                // "Unexpected buffer size of" lines
        bool logsLatency;
    };
    const Case cases[] = {{1000, {0, 24, 536, 1048}, 0, true}, {1024, {0, 0, 512, 1024}, 1, true}, {0, {512, 1024, 1536, 2048}, 0, false}};
    const auto mono = platform::AVAudioFormat::standardFormatWithSampleRate(48000, 1);
    MultiChannelInputNodeTap recorder(nullptr);
    recorder.initFormats();
    for (const Case& k : cases) {
        platform::LogSink::clear();
        MultiChannelInputNodeTap::WriteableFile file(path("latency " + std::to_string(k.latency) + ".wav"), *recorder.fileFormat(), 0, k.latency);
        file.createFile();
        std::vector<int64_t> lengths;
        for (int b = 0; b < 4; ++b) {
            auto buffer = platform::AVAudioPCMBuffer::make(mono, 512);
            for (uint32_t i = 0; i < 512; ++i) buffer->floatChannelData()[0][i] = float(b * 512 + i) / 4096.0f;
            buffer->setFrameLength(512);
            file.writeAndMeasure(*buffer, platform::AVAudioTime(int64_t(b * 512), 48000.0), true);
            lengths.push_back(file.totalFramesWritten);
        }
        EXPECT_EQ(lengths, k.lengths) << k.latency;
        EXPECT_EQ(logCount("Unexpected buffer size of 512"), k.unexpected) << k.latency;
        EXPECT_EQ(logCount("Attempting to skip") > 0, k.logsLatency) << k.latency;
        EXPECT_DOUBLE_EQ(file.duration, double(k.lengths.back()) / 48000);
        file.close();
        EXPECT_EQ(file.file, nullptr);
        const auto written = channelOf(file.url.path());
        ASSERT_EQ(written.size(), size_t(k.lengths.back()));
        EXPECT_NEAR(written[0], float(2048 - written.size()) / 4096.0f, 1e-6) << k.latency;
    }
}

TEST_F(RecorderTest, NextAvailableURLCountsUpToTenThousand) {
    MultiChannelInputNodeTap recorder(nullptr);
    const platform::URL folder(dir.path().toStdString());
    EXPECT_EQ(recorder.nextAvailableURL(folder, "Audio 1", 1)->lastPathComponent(), "Audio 1 #1.wav");
    std::ofstream(path("Audio 1 #1.wav")) << "x";
    EXPECT_EQ(recorder.nextAvailableURL(folder, "Audio 1", 1)->lastPathComponent(), "Audio 1 #2.wav");
    // A link whose target is missing is a taken name: writing there would create a file elsewhere.
    std::filesystem::create_symlink(path("elsewhere") + "/missing.wav", path("Audio 1 #2.wav"));
    EXPECT_EQ(recorder.nextAvailableURL(folder, "Audio 1", 1)->lastPathComponent(), "Audio 1 #3.wav");
    EXPECT_EQ(recorder.nextAvailableURL(folder, "Audio 1", 10000)->lastPathComponent(), "Audio 1 #10000.wav");
    std::ofstream(path("Audio 1 #10000.wav")) << "x";
    EXPECT_EQ(recorder.nextAvailableURL(folder, "Audio 1", 10000), std::nullopt);
    EXPECT_EQ(recorder.nextAvailableURL(folder, "Audio 1", 10001), std::nullopt);

    // A record counter past 10000 makes no files (and no crash).
    InputRig rig;
    auto live = rig.recorder(dir);
    live->setRecordCounter(10001);
    platform::LogSink::clear();
    live->prepare(std::vector<int32_t>{0});
    EXPECT_EQ(logCount("is past 10000"), 1);
    EXPECT_TRUE(live->files().empty());
    EXPECT_FALSE(live->filesReady());
    live->record();
    rig.render(2048);
    live->stop();
}
