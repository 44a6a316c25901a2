#include "ToolRender.h"

#include "ToolSupport.h"

#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace tool {

namespace {
// Frames gathered before each write: every write of the file costs a few system calls.
constexpr platform::AVAudioFrameCount kWriteFrames = 65536;
}  // namespace

// Plays the engine on the output device until `frames` frames have been rendered, capturing them to
// `out` (the device plays whole cycles; the tail past `frames` is cut).
void playAndCapture(sonora::AudioEngine& engine, const sonora::Node& source, int64_t frames, double rate,
                    const std::string& out) {
    namespace fs = std::filesystem;
    const fs::path target(out);
    const fs::path capturePath = target.parent_path() / ("." + target.filename().string() + ".capture.wav");
    const auto stream = engine.avEngine()->outputNode()->deviceStream();
    stream->startCapture(capturePath);
    engine.start();
    if (!engine.avEngine()->isRunning()) {
        fs::remove(capturePath);
        throw std::runtime_error("the engine did not start");
    }
    const auto rendered = [&] {
        const auto time = source.avAudioNode()->lastRenderTime();
        return time ? time->sampleTime() + int64_t(stream->framesPerCycle()) : 0;
    };
    // Real-time pace: the frames take their own duration; a stalled device gets ten seconds more.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(double(frames) / rate + 10);
    std::this_thread::sleep_for(std::chrono::duration<double>(double(frames) / rate));
    while (rendered() < frames && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    engine.stop();

    const auto capture = platform::AVAudioFile::forReading(capturePath.string());
    const auto buffer = platform::AVAudioPCMBuffer::make(capture->processingFormat(), platform::AVAudioFrameCount(frames));
    if (!buffer) throw std::runtime_error("cannot make a buffer of " + std::to_string(frames) + " frames");
    if (frames > 0) capture->read(*buffer, platform::AVAudioFrameCount(frames));
    fs::remove(capturePath);
    if (int64_t(buffer->frameLength()) < frames)
        throw std::runtime_error("the device played " + std::to_string(buffer->frameLength()) + " of " +
                                 std::to_string(frames) + " frames");
    const auto file = platform::AVAudioFile::forWriting(out, tool::floatStereoSettings(rate));
    file->write(*buffer);
    file->close();
}

// Renders `frames` frames offline in kRenderFrames-frame calls and writes them to `file` in slices.
void renderInSlices(sonora::AudioEngine& engine, int64_t frames, platform::AVAudioFile& file,
                    const std::function<void(int64_t)>& beforeCycle) {
    using namespace platform;
    AVAudioEngine& avEngine = *engine.avEngine();
    avEngine.enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, file.processingFormat(), kRenderFrames);
    avEngine.reset();
    avEngine.start();
    const auto chunk = AVAudioPCMBuffer::make(avEngine.manualRenderingFormat(), kRenderFrames);
    const auto slice = AVAudioPCMBuffer::make(avEngine.manualRenderingFormat(), kWriteFrames);
    if (!chunk || !slice) throw std::runtime_error("cannot make the render buffers");
    for (int64_t done = 0; done < frames;) {
        const auto n = AVAudioFrameCount(std::min<int64_t>(kRenderFrames, frames - done));
        if (beforeCycle) beforeCycle(done);
        if (avEngine.renderOffline(n, *chunk) != AVAudioEngineManualRenderingStatus::success || chunk->frameLength() != n)
            throw std::runtime_error("the render failed after " + std::to_string(done) + " frames");
        sonora::append(*slice, *chunk);
        done += n;
        if (slice->frameLength() + kRenderFrames > kWriteFrames || done == frames) {
            file.write(*slice);
            slice->setFrameLength(0);
        }
    }
    avEngine.stop();
    avEngine.disableManualRenderingMode();
}

}  // namespace tool
