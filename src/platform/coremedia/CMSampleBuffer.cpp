#include "platform/coremedia/CMSampleBuffer.h"

#include <cmath>
#include <cstring>

namespace platform {

std::shared_ptr<CMSampleBuffer> CMSampleBuffer::make(const AudioStreamBasicDescription& format, const AudioBufferList& data,
                                                     CMItemCount frames, CMTime presentationTimeStamp) {
    if (format.mFormatID != kAudioFormatLinearPCM || format.mChannelsPerFrame == 0 || format.mBytesPerFrame == 0 ||
        frames < 0)
        return nullptr;
    const bool planar = format.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    const uint32_t buffers = planar ? format.mChannelsPerFrame : 1;
    if (data.mNumberBuffers < buffers) return nullptr;
    const size_t bytes = size_t(frames) * format.mBytesPerFrame;
    for (uint32_t b = 0; b < buffers; ++b)
        if (data.mBuffers[b].mDataByteSize < bytes || (bytes > 0 && !data.mBuffers[b].mData)) return nullptr;

    std::shared_ptr<CMSampleBuffer> buffer(new CMSampleBuffer());
    buffer->formatDescription_.streamBasicDescription = format;
    buffer->presentationTimeStamp_ = presentationTimeStamp;
    buffer->numSamples_ = frames;
    buffer->storage_.resize(buffers);
    buffer->list_.assign(AudioBufferListSize(buffers), 0);
    auto* list = reinterpret_cast<AudioBufferList*>(buffer->list_.data());
    list->mNumberBuffers = buffers;
    for (uint32_t b = 0; b < buffers; ++b) {
        auto& block = buffer->storage_[b];
        block.resize(bytes);
        if (bytes) std::memcpy(block.data(), data.mBuffers[b].mData, bytes);
        list->mBuffers[b].mNumberChannels = planar ? 1 : format.mChannelsPerFrame;
        list->mBuffers[b].mDataByteSize = uint32_t(bytes);
        list->mBuffers[b].mData = block.data();
    }
    return buffer;
}

CMTime CMSampleBuffer::duration() const {
    const double rate = formatDescription_.streamBasicDescription.mSampleRate;
    const auto scale = CMTimeScale(std::lround(rate));
    if (scale <= 0 || double(scale) != rate) return CMTimeMake(CMTimeValue(std::llround(double(numSamples_) / rate * 1e6)), 1000000);
    return CMTimeMake(numSamples_, scale);
}

}  // namespace platform
