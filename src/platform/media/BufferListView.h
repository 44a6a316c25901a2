// A buffer list that points into another list's memory from a given frame on: lets a run of frames
// in the middle of a caller's buffers be handed to code that fills or reads from frame 0.
#pragma once

#include "platform/coreaudio/CoreAudioTypes.h"

#include <algorithm>
#include <vector>

namespace platform::detail {

class BufferListView {
public:
    // `bytesPerFrame` is per buffer: the whole frame when interleaved, one sample otherwise.
    void point(const AudioBufferList& from, uint32_t bytesPerFrame, size_t firstFrame, size_t frames) {
        storage_.resize(AudioBufferListSize(from.mNumberBuffers));
        auto* list = this->list();
        list->mNumberBuffers = from.mNumberBuffers;
        for (uint32_t b = 0; b < from.mNumberBuffers; ++b) {
            const AudioBuffer& src = from.mBuffers[b];
            const size_t skip = std::min<size_t>(firstFrame * bytesPerFrame, src.mDataByteSize);
            list->mBuffers[b].mNumberChannels = src.mNumberChannels;
            list->mBuffers[b].mData = src.mData ? static_cast<unsigned char*>(src.mData) + skip : nullptr;
            list->mBuffers[b].mDataByteSize = uint32_t(std::min<size_t>(src.mDataByteSize - skip, frames * bytesPerFrame));
        }
    }
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(storage_.data()); }

private:
    std::vector<unsigned char> storage_;
};

}  // namespace platform::detail
