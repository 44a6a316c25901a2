#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"

#include "Sonora/AudioFiles/FloatChannelView.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "platform/foundation/MD5.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace sonora {

using detail::FloatChannelView;

namespace {

// The raw sample arrays of a buffer whose samples are one of the types the copy understands.
struct SampleArrays {
    unsigned char* const* arrays = nullptr;
    size_t count = 0;           // arrays: 1 interleaved, else one per channel
    size_t bytesPerFrame = 0;   // bytes of one frame within one array
};

std::optional<SampleArrays> sampleArrays(const AVAudioPCMBuffer& buffer, size_t sampleSize, const void* data) {
    if (!data) return std::nullopt;
    const auto& format = buffer.format();
    const bool interleaved = format.isInterleaved();
    SampleArrays result;
    result.arrays = static_cast<unsigned char* const*>(data);
    result.count = interleaved ? 1 : format.channelCount();
    result.bytesPerFrame = sampleSize * (interleaved ? format.channelCount() : 1);
    return result;
}

// Float32, Int16 or Int32 arrays, tried in that order; nothing when the buffers differ in type.
std::optional<std::pair<SampleArrays, SampleArrays>> matchingArrays(const AVAudioPCMBuffer& a,
                                                                     const AVAudioPCMBuffer& b) {
    const auto pair = [&](size_t size, const void* x, const void* y)
        -> std::optional<std::pair<SampleArrays, SampleArrays>> {
        auto first = sampleArrays(a, size, x);
        auto second = sampleArrays(b, size, y);
        if (!first || !second) return std::nullopt;
        return std::make_pair(*first, *second);
    };
    if (auto p = pair(4, a.floatChannelData(), b.floatChannelData())) return p;
    if (auto p = pair(2, a.int16ChannelData(), b.int16ChannelData())) return p;
    if (auto p = pair(4, a.int32ChannelData(), b.int32ChannelData())) return p;
    return std::nullopt;
}

}  // namespace

std::shared_ptr<AVAudioPCMBuffer> extract(const AVAudioPCMBuffer& buffer, double startTime, double endTime) {
    const double rate = buffer.format().sampleRate();
    const auto start = secondsToFrame(startTime, rate);
    auto end = secondsToFrame(endTime, rate);
    // Frames must be valid 32-bit positions; anything else would read outside the buffer.
    constexpr int64_t kFrameLimit = int64_t(std::numeric_limits<AVAudioFrameCount>::max()) + 1;
    if (!start || !end || *start < 0 || *end < 0 || *start >= kFrameLimit || *end >= kFrameLimit) {
        Log({"Time range is outside the frames a buffer can hold:", startTime, endTime}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
    if (*end == 0) end = buffer.frameLength();
    if (*end <= *start) {
        Log({"startSample must be before endSample"}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
    const auto frames = AVAudioFrameCount(*end - *start);
    auto edited = AVAudioPCMBuffer::make(buffer.format(), frames);
    if (!edited) {
        Log({"Failed to create edited buffer"}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
    if (copy(*edited, buffer, AVAudioFrameCount(*start), frames) == 0) {
        Log({"Failed to write to edited buffer"}, OSLog::general(), OSLogType::error);
        return nullptr;
    }
    return edited;
}

AVAudioFrameCount copy(AVAudioPCMBuffer& destination, const AVAudioPCMBuffer& source, AVAudioFrameCount readOffset,
                       AVAudioFrameCount frames) {
    const AVAudioFrameCount room = destination.frameCapacity() - destination.frameLength();
    if (room == 0) {
        Log({"AVAudioBuffer copy(from) - no capacity!"}, OSLog::general(), OSLogType::info);
        return 0;
    }
    if (!(destination.format() == source.format())) {
        Log({"AVAudioBuffer copy(from) - formats must match!"}, OSLog::general(), OSLogType::info);
        return 0;
    }
    const AVAudioFrameCount wanted = frames == 0 ? source.frameLength() : frames;
    const AVAudioFrameCount available = readOffset < source.frameLength() ? source.frameLength() - readOffset : 0;
    const AVAudioFrameCount count = std::min({available, room, wanted});
    if (count == 0) {
        Log({"AVAudioBuffer copy(from) - No frames to copy!"}, OSLog::general(), OSLogType::info);
        return 0;
    }
    const auto arrays = matchingArrays(destination, source);
    if (!arrays) return 0;
    const auto& [to, from] = *arrays;
    // Each array holds bytesPerFrame per frame: all channels when interleaved, one otherwise.
    for (size_t a = 0; a < to.count; ++a) {
        std::memcpy(to.arrays[a] + size_t(destination.frameLength()) * to.bytesPerFrame,
                    from.arrays[a] + size_t(readOffset) * from.bytesPerFrame, size_t(count) * to.bytesPerFrame);
    }
    destination.setFrameLength(destination.frameLength() + count);
    return count;
}

void append(AVAudioPCMBuffer& destination, const AVAudioPCMBuffer& source) {
    append(destination, source, 0, source.frameLength());
}

void append(AVAudioPCMBuffer& destination, const AVAudioPCMBuffer& source, AVAudioFramePosition startingFrame,
            AVAudioFrameCount frameCount) {
    const bool fits = startingFrame >= 0 && startingFrame + int64_t(frameCount) <= int64_t(source.frameLength()) &&
                      int64_t(destination.frameLength()) + frameCount <= int64_t(destination.frameCapacity());
    const auto to = FloatChannelView::of(destination);
    const auto from = FloatChannelView::of(source);
    if (!(destination.format() == source.format()) || !fits || !to || !from) {
        Log({"append: formats differ, samples are not Float32 or the frames do not fit; nothing copied"},
            OSLog::general(), OSLogType::error);
        return;
    }
    const size_t stride = to->stride();
    const size_t arrays = destination.format().isInterleaved() ? 1 : to->channelCount();
    for (size_t a = 0; a < arrays; ++a) {
        std::memcpy(to->channel(unsigned(a)) + size_t(destination.frameLength()) * stride,
                    from->channel(unsigned(a)) + size_t(startingFrame) * stride, size_t(frameCount) * stride * sizeof(float));
    }
    destination.setFrameLength(destination.frameLength() + frameCount);
}

std::shared_ptr<AVAudioPCMBuffer> copyFromFrame(const AVAudioPCMBuffer& buffer, AVAudioFrameCount frame) {
    if (buffer.frameLength() <= frame) return nullptr;
    auto tail = AVAudioPCMBuffer::make(buffer.format(), buffer.frameLength() - frame);
    if (!tail || copy(*tail, buffer, frame, 0) == 0) return nullptr;
    return tail;
}

std::shared_ptr<AVAudioPCMBuffer> copyTo(const AVAudioPCMBuffer& buffer, AVAudioFrameCount count) {
    auto head = AVAudioPCMBuffer::make(buffer.format(), count);
    if (!head || copy(*head, buffer, 0, std::min(count, buffer.frameLength())) == 0) return nullptr;
    return head;
}

bool isSilent(const AVAudioPCMBuffer& buffer) {
    const auto samples = FloatChannelView::of(buffer);
    if (!samples) return true;
    for (unsigned c = 0; c < samples->channelCount(); ++c)
        for (AVAudioFrameCount i = 0; i < buffer.frameLength(); ++i)
            if (samples->at(c, i) != 0.0f) return false;  // NaN is not 0; -0.0 is
    return true;
}

std::string md5(const AVAudioPCMBuffer& buffer) {
    std::vector<float> bytes;
    if (const auto samples = FloatChannelView::of(buffer)) {
        bytes.reserve(size_t(buffer.frameCapacity()) * samples->channelCount());
        for (AVAudioFrameCount i = 0; i < buffer.frameCapacity(); ++i)
            for (unsigned c = 0; c < samples->channelCount(); ++c) bytes.push_back(samples->at(c, i));
    }
    return platform::hexString(platform::MD5(bytes.data(), bytes.size() * sizeof(float)));
}

}  // namespace sonora
