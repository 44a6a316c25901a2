#include "Sonora/AudioFiles/WaveformDataRequest.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/accelerate/vDSP.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <algorithm>
#include <limits>

namespace sonora {

using platform::AVAudioFile;
using platform::AVAudioFrameCount;
using platform::AVAudioFramePosition;
using platform::AVAudioPCMBuffer;
using platform::DispatchQueue;

namespace {
constexpr int64_t kMinimumPoints = 64;
}

WaveformDataRequest::WaveformDataRequest(std::shared_ptr<AVAudioFile> audioFile)
    : audioFile_(std::move(audioFile)),
      abortWaveformDataQueue_("WaveformDataRequest.abortWaveformDataQueue", DispatchQueue::Attributes::concurrent) {}

WaveformDataRequest::WaveformDataRequest(const platform::URL& url)
    : WaveformDataRequest(AVAudioFile::forReading(url)) {}

WaveformDataRequest::~WaveformDataRequest() { Log({"* { WaveformDataRequest }"}, OSLog::general(), OSLogType::info); }

bool WaveformDataRequest::abortGetWaveformData() const {
    return abortGetWaveformData_.load(std::memory_order_acquire);
}

void WaveformDataRequest::setAbortGetWaveformData(bool abort) {
    abortWaveformDataQueue_.async(platform::DispatchWorkItemFlags::barrier, [this, abort] {
        abortGetWaveformData_.store(abort, std::memory_order_release);
    });
}

void WaveformDataRequest::cancel() { setAbortGetWaveformData(true); }

std::optional<WaveformDataRequest::Data> WaveformDataRequest::getData(int64_t requestedPoints,
                                                                      std::optional<int64_t> offset,
                                                                      std::optional<uint64_t> length) {
    if (!audioFile_) return std::nullopt;
    AVAudioFile& file = *audioFile_;
    const int64_t points = std::max(requestedPoints, kMinimumPoints);
    if (points > int64_t(std::numeric_limits<uint32_t>::max())) return std::nullopt;

    const AVAudioFramePosition saved = file.framePosition();
    const int64_t total = file.length();
    const int64_t framesPerPoint = total / points;
    // Fewer frames than points: there is no slice to measure, and nothing to divide by.
    if (framesPerPoint <= 0 || framesPerPoint > int64_t(std::numeric_limits<AVAudioFrameCount>::max())) {
        Log({"File is too short for", points, "points:", total, "frames"}, OSLog::general(), OSLogType::info);
        return std::nullopt;
    }

    auto buffer = AVAudioPCMBuffer::make(file.processingFormat(), AVAudioFrameCount(framesPerPoint));
    if (!buffer) return std::nullopt;
    const uint32_t channels = file.processingFormat().channelCount();
    Data result(channels, std::vector<float>(size_t(points), 0.0f));

    int64_t p0 = 0;
    int64_t f = 0;
    if (offset && *offset >= 0) {
        p0 = *offset;
        // An offset far past the end is refused below; keep the product from overflowing meanwhile.
        f = p0 <= points ? p0 * framesPerPoint : total;
    } else if (offset) {
        p0 = std::max<int64_t>(0, saved / framesPerPoint + *offset);
        f = p0 * framesPerPoint;
    } else {
        p0 = std::max<int64_t>(0, saved / framesPerPoint);
        f = saved;
    }
    int64_t p1 = points;
    if (length) p1 = *length >= uint64_t(points) ? points : std::min(points, p0 + int64_t(*length));
    if (p1 < p0) {
        Log({"offset is larger than total length."}, OSLog::general(), OSLogType::info);
        return std::nullopt;
    }

    int64_t count = framesPerPoint;
    for (int64_t i = p0; i < p1; ++i) {
        if (abortGetWaveformData()) {
            file.setFramePosition(saved);
            setAbortGetWaveformData(false);
            Log({"* Aborting waveform data get *"}, OSLog::general(), OSLogType::error);
            return std::nullopt;
        }
        try {
            file.setFramePosition(f);
            file.read(*buffer, AVAudioFrameCount(count));
        } catch (const platform::NSErrorException& e) {
            Log({"Error: Couldn't read into buffer. " + e.error().description()}, OSLog::general(),
                OSLogType::error);
            return std::nullopt;
        }
        float* const* data = buffer->floatChannelData();
        if (!data) return std::nullopt;
        for (uint32_t c = 0; c < channels; ++c) {
            platform::vDSP_rmsqv(data[c], 1, &result[c][size_t(i)], buffer->frameLength());
        }
        f += count;
        if (f + count > total) {
            count = std::max<int64_t>(0, total - f);
            if (count == 0) break;
        }
    }
    file.setFramePosition(saved);
    return result;
}

void WaveformDataRequest::getDataAsync(int64_t points, std::optional<int64_t> offset, std::optional<uint64_t> length,
                                       DispatchQueue& queue, std::function<void(std::optional<Data>)> completion) {
    // The task owns the request until it has run, so a caller may drop its reference at once.
    auto self = shared_from_this();
    queue.async([self, points, offset, length, completion = std::move(completion)] {
        auto data = self->getData(points, offset, length);
        if (completion) completion(std::move(data));
    });
}

}  // namespace sonora
