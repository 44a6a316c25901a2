#include "Sonora/AudioFiles/WaveformDataRequest.h"

#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "Sonora/AudioFiles/BufferFixtures.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <sstream>
#include <thread>

using fixtures::floatBuffer;
using fixtures::logged;
using platform::AVAudioFile;
using platform::OSLogType;
using sonora::WaveformDataRequest;
using testsupport::ScratchDir;

namespace {

float sample(unsigned c, uint32_t i) { return float(std::sin(0.003 * i * (c + 1))) * (0.2f + 0.00001f * float(i % 5000)); }

std::shared_ptr<AVAudioFile> writeSignal(const ScratchDir& dir, unsigned channels, uint32_t frames,
                                         const std::string& name = "signal.caf") {
    sonora::makeAudioFile(dir / name, *floatBuffer(channels, 44100, frames, sample));
    return AVAudioFile::forReading(dir / name);
}

double rms(unsigned c, int64_t from, int64_t count) {
    double sum = 0;
    for (int64_t i = from; i < from + count; ++i) sum += double(sample(c, uint32_t(i))) * sample(c, uint32_t(i));
    return std::sqrt(sum / double(count));
}

}  // namespace

TEST(WaveformDataRequest, ComputesTheRMSOfEqualSlicesOfEveryChannel) {
    ScratchDir dir;
    const auto file = writeSignal(dir, 2, 44100);
    const auto request = std::make_shared<WaveformDataRequest>(file);
    const auto data = request->getData(10);  // fewer than 64 points are raised to 64
    ASSERT_TRUE(data);
    ASSERT_EQ(data->size(), 2u);
    ASSERT_EQ((*data)[0].size(), 64u);
    // 44100 / 64 = 689 frames per point; the last 4 frames are not read.
    for (unsigned c = 0; c < 2; ++c)
        for (int64_t i : {0, 1, 31, 63}) EXPECT_NEAR((*data)[c][i], rms(c, i * 689, 689), 1e-6) << c << " " << i;
    EXPECT_EQ(file->framePosition(), 0);
}

TEST(WaveformDataRequest, OffsetsAndLengthsChooseThePointsComputed) {
    ScratchDir dir;
    const auto file = writeSignal(dir, 1, 44100);
    const auto request = std::make_shared<WaveformDataRequest>(file);
    struct Case {
        const char* name;
        int64_t position;
        std::optional<int64_t> offset;
        std::optional<uint64_t> length;
        int firstComputed, lastComputed;  // inclusive; -1: nothing computed
        int64_t firstFrame;               // where point `firstComputed` starts
    };
    const Case cases[] = {
        {"offset 10 length 5", 0, 10, 5, 10, 14, 6890},
        {"offset at the end", 0, 64, std::nullopt, -1, -1, 0},
        {"no offset from the current position", 1000, std::nullopt, std::nullopt, 1, 63, 1000},
        {"negative offset from the current position", 689 * 10 + 5, -3, 2, 7, 8, 689 * 7},
        {"huge length", 0, 60, uint64_t(-1), 60, 63, 689 * 60},
    };
    for (const Case& c : cases) {
        file->setFramePosition(c.position);
        const auto data = request->getData(64, c.offset, c.length);
        ASSERT_TRUE(data) << c.name;
        for (int i = 0; i < 64; ++i) {
            if (c.firstComputed >= 0 && i >= c.firstComputed && i <= c.lastComputed) {
                const int64_t from = c.firstFrame + (i - c.firstComputed) * 689;
                EXPECT_NEAR((*data)[0][i], rms(0, from, std::min<int64_t>(689, 44100 - from)), 1e-6) << c.name << " " << i;
            } else {
                EXPECT_EQ((*data)[0][i], 0.0f) << c.name << " " << i;
            }
        }
        EXPECT_EQ(file->framePosition(), c.position) << c.name << ": the position is restored";
    }

    platform::LogSink::clear();
    EXPECT_FALSE(request->getData(64, 70));
    EXPECT_TRUE(logged("offset is larger than total length.", "general", OSLogType::info));
}

TEST(WaveformDataRequest, AFileShorterThanThePointsGivesNothing) {
    ScratchDir dir;
    const auto request = std::make_shared<WaveformDataRequest>(writeSignal(dir, 2, 30));
    EXPECT_FALSE(request->getData(64));
    EXPECT_THROW(WaveformDataRequest(platform::URL(dir / "missing.wav")), platform::NSErrorException);
}

TEST(WaveformDataRequest, CancelFromAnotherThreadStopsTheRunningCall) {
    ScratchDir dir;
    const uint32_t frames = 44100 * 60;
    const auto file = writeSignal(dir, 1, frames);
    file->setFramePosition(1234);
    const auto request = std::make_shared<WaveformDataRequest>(file);

    // One frame per point: millions of positioned reads, far longer than the cancel takes to land.
    auto running = std::async(std::launch::async, [&] { return request->getData(frames, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    platform::LogSink::clear();
    std::thread([&] { request->cancel(); }).join();
    const auto started = std::chrono::steady_clock::now();
    // An aborted call reports false; one that ran to its end would report true. The bound is only a
    // guard against a hang: a busy machine may take a while to schedule the reader again.
    EXPECT_FALSE(running.get()) << "stops at its next point";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(logged("* Aborting waveform data get *", "general", OSLogType::error));
    EXPECT_EQ(file->framePosition(), 1234);

    // The abort cleared the flag (on the flag's queue, which a loaded machine may run late): the
    // next request runs normally.
    EXPECT_TRUE(testsupport::spinUntil([&] { return !request->abortGetWaveformData(); }));
    EXPECT_TRUE(request->getData(64, 0));
}

TEST(WaveformDataRequest, ACancelWhileIdleStopsTheNextCallOnce) {
    ScratchDir dir;
    const auto request = std::make_shared<WaveformDataRequest>(writeSignal(dir, 1, 44100));
    // The flag is set and cleared on its own queue, which a loaded machine may run late.
    request->cancel();
    ASSERT_TRUE(testsupport::spinUntil([&] { return request->abortGetWaveformData(); }));
    EXPECT_TRUE(request->getData(64, 64)) << "a call that computes no point leaves the flag";
    EXPECT_FALSE(request->getData(64, 0));
    EXPECT_TRUE(testsupport::spinUntil([&] { return !request->abortGetWaveformData(); }));
    EXPECT_TRUE(request->getData(64, 0));
}

TEST(WaveformDataRequest, AsyncRequestRunsOnTheQueueAndKeepsTheRequestAlive) {
    ScratchDir dir;
    platform::DispatchQueue queue("io.tamberlo.tests.waveform");
    std::promise<std::pair<bool, size_t>> delivered;
    {
        auto request = std::make_shared<WaveformDataRequest>(writeSignal(dir, 2, 44100));
        request->getDataAsync(128, 0, std::nullopt, queue, [&](std::optional<WaveformDataRequest::Data> data) {
            delivered.set_value({queue.isCurrent(), data ? (*data)[1].size() : 0});
        });
    }  // the caller's reference is gone; the task holds the request
    const auto [onQueue, points] = delivered.get_future().get();
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(points, 128u);
}

TEST(WaveformDataRequest, ToolPrintsTheSameRMSAsNumpy) {
    using testsupport::capture;
    using testsupport::q;
    const auto tool = testsupport::toolPath("sonora-tool");
    const bool haveWaveform = std::filesystem::exists(tool) &&
                              capture(q(tool) + " waveform 2>&1").find("usage: sonora-tool waveform") != std::string::npos;
    if (!haveWaveform || !testsupport::haveTool("sox") || !std::filesystem::exists("/usr/bin/python3") ||
        testsupport::run("/usr/bin/python3 -c 'import numpy' 2>/dev/null") != 0)
        GTEST_SKIP() << "needs sonora-tool waveform, sox and numpy";
    ScratchDir dir;
    const auto wav = dir / "h.wav";
    ASSERT_EQ(testsupport::run("sox -n -r 48000 -c 2 -b 24 " + q(wav) + " synth 3 sine 440 sine 3000 gain -6"), 0);
    int status = -1;
    const std::string ours = capture(q(testsupport::toolPath("sonora-tool")) + " waveform " + q(wav) + " 64", &status);
    ASSERT_EQ(status, 0);
    testsupport::writeFile(dir / "ours.txt", ours);
    const std::string script =
        "import numpy as np, subprocess, sys\n"
        "raw = subprocess.run(['sox', sys.argv[1], '-t', 'f32', '-'], capture_output=True, check=True).stdout\n"
        "x = np.frombuffer(raw, dtype='<f4').astype(np.float64).reshape(-1, 2)\n"
        "n = len(x) // 64\n"
        "ref = np.array([[np.sqrt(np.mean(x[i*n:(i+1)*n, c]**2)) for i in range(64)] for c in range(2)])\n"
        "ours = np.array([[float(v) for v in line.split()] for line in open(sys.argv[2]).read().splitlines()])\n"
        "assert ours.shape == ref.shape, (ours.shape, ref.shape)\n"
        "err = np.max(np.abs(ours - ref) / ref)\n"
        "print(err)\n"
        "sys.exit(0 if err <= 1e-5 else 1)\n";
    testsupport::writeFile(dir / "check.py", script);
    const std::string err = capture("/usr/bin/python3 " + q(dir / "check.py") + " " + q(wav) + " " + q(dir / "ours.txt"), &status);
    EXPECT_EQ(status, 0) << "largest relative difference: " << err;
}
