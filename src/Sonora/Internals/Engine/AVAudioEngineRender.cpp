#include "Sonora/Internals/Engine/AVAudioEngineRender.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "platform/accelerate/vDSP.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/NSError.h"

#include <algorithm>
#include <cmath>

namespace sonora {

using namespace platform;

namespace {

constexpr int kSilentChunksToStop = 3;

[[noreturn]] void fail(const char* description) {
    throw NSErrorException(NSError{kAVAudioEngineExtErrorDomain, 1, description});
}

// Mean over the channels of each channel's RMS; none when the buffer has no float data.
std::optional<float> meanChannelLevel(const AVAudioPCMBuffer& buffer) {
    float* const* data = buffer.floatChannelData();
    const AVAudioChannelCount channels = buffer.format().channelCount();
    if (!data || channels == 0) return std::nullopt;
    float sum = 0;
    for (AVAudioChannelCount c = 0; c < channels; ++c) {
        float rms = 0;
        vDSP_rmsqv(data[c], 1, &rms, buffer.frameLength());
        sum += std::fabs(rms);
    }
    return sum / float(channels);
}

}  // namespace

void render(AVAudioEngine& engine, AVAudioFile& file, AVAudioFrameCount maximumFrameCount, double duration,
            bool renderUntilSilent, float silenceThreshold, const std::function<void()>& prerender,
            const std::function<void(double)>& progress) {
    if (!(duration >= 0)) fail("Seconds needs to be a positive value");
    if (engine.isRunning()) engine.stop();
    engine.enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, file.processingFormat(),
                                     maximumFrameCount);
    engine.reset();
    engine.start();

    const auto buffer = AVAudioPCMBuffer::make(engine.manualRenderingFormat(), engine.manualRenderingMaximumFrameCount());
    if (!buffer) fail("Couldn't create buffer in renderToFile");
    if (prerender) prerender();

    const AVAudioFramePosition targetFrames =
        secondsToFrame(duration, engine.manualRenderingFormat().sampleRate()).value_or(0);
    int silentChunks = 0;
    bool rendering = true;
    while (rendering) {
        AVAudioFrameCount frames = engine.manualRenderingMaximumFrameCount();
        if (!renderUntilSilent) {
            if (file.framePosition() >= targetFrames) break;
            frames = AVAudioFrameCount(std::min<AVAudioFramePosition>(buffer->frameCapacity(),
                                                                      targetFrames - file.framePosition()));
        }
        const auto status = engine.renderOffline(frames, *buffer);
        switch (status) {
        case AVAudioEngineManualRenderingStatus::success: {
            file.write(*buffer);
            const double done = std::min(1.0, double(file.framePosition()) / double(targetFrames));
            if (progress) progress(done);
            if (done == 1.0 && renderUntilSilent) {
                if (const auto level = meanChannelLevel(*buffer)) {
                    if (*level < silenceThreshold) {
                        if (++silentChunks == kSilentChunksToStop) rendering = false;
                    } else {
                        silentChunks = 0;
                    }
                }
            }
            break;
        }
        case AVAudioEngineManualRenderingStatus::error:
        case AVAudioEngineManualRenderingStatus::insufficientDataFromInputNode:
            fail("render error");
        case AVAudioEngineManualRenderingStatus::cannotDoInCurrentContext:
            Log({"renderToFile cannotDoInCurrentContext"}, OSLog::general(), OSLogType::error);
            break;
        default:
            Log({"Unknown render result:", int(status)}, OSLog::general(), OSLogType::error);
            rendering = false;
        }
    }
    engine.stop();
    engine.disableManualRenderingMode();
}

}  // namespace sonora
