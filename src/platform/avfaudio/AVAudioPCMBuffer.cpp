#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <sys/mman.h>

namespace platform {

namespace {
// Cache-line alignment lets the sample loops vectorise without a scalar prologue.
constexpr size_t kAlignment = 64;

// Large arrays are mapped straight from the kernel: the pages arrive zeroed, cost nothing until
// written, and are offered as huge pages so that filling a whole file's buffer does not take a fault
// every 4 KiB.
constexpr size_t kLargeBlock = size_t(4) << 20;
constexpr size_t kHugePage = size_t(2) << 20;

// A zero-filled, 64-byte aligned block of at least `bytes` bytes (and at least one line).
std::shared_ptr<unsigned char> zeroedBlock(size_t bytes) {
    if (bytes < kLargeBlock) {
        const size_t size = std::max(bytes, kAlignment) + kAlignment;
        auto* block = static_cast<unsigned char*>(std::calloc(1, size));
        if (!block) return nullptr;
        auto* p = block + (kAlignment - reinterpret_cast<uintptr_t>(block) % kAlignment) % kAlignment;
        return std::shared_ptr<unsigned char>(p, [block](unsigned char*) { std::free(block); });
    }
    const size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage + kHugePage;
    void* mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    auto* base = static_cast<unsigned char*>(mapping);
    auto* p = base + (kHugePage - reinterpret_cast<uintptr_t>(base) % kHugePage) % kHugePage;
    ::madvise(p, length - size_t(p - base), MADV_HUGEPAGE);
    return std::shared_ptr<unsigned char>(p, [base, length](unsigned char*) { ::munmap(base, length); });
}

}  // namespace

std::shared_ptr<AVAudioPCMBuffer> AVAudioPCMBuffer::make(const AVAudioFormat& format, AVAudioFrameCount frameCapacity) {
    if (!format.isValid() || !format.isPCM()) return nullptr;
    const auto& asbd = format.streamDescription();
    const bool interleaved = format.isInterleaved();
    const uint32_t arrays = interleaved ? 1 : asbd.mChannelsPerFrame;
    const uint64_t bytes = uint64_t(frameCapacity) * asbd.mBytesPerFrame;
    if (asbd.mBytesPerFrame == 0 || bytes > std::numeric_limits<uint32_t>::max()) {
        os_log(OSLog{"platform", "AVAudioPCMBuffer"}, OSLogType::error,
               "Cannot allocate a buffer of " + std::to_string(frameCapacity) + " frames of " +
                   std::to_string(asbd.mBytesPerFrame) + " bytes");
        return nullptr;
    }

    std::shared_ptr<AVAudioPCMBuffer> buffer(new AVAudioPCMBuffer());
    buffer->format_ = format;
    buffer->frameCapacity_ = frameCapacity;
    buffer->stride_ = interleaved ? asbd.mChannelsPerFrame : 1;
    buffer->listStorage_ = std::make_unique<unsigned char[]>(AudioBufferListSize(arrays));
    std::memset(buffer->listStorage_.get(), 0, AudioBufferListSize(arrays));
    AudioBufferList* list = buffer->bufferList();
    list->mNumberBuffers = arrays;

    buffer->storage_.reserve(arrays);
    buffer->channels_.reserve(arrays);
    for (uint32_t i = 0; i < arrays; ++i) {
        auto block = zeroedBlock(size_t(bytes));
        if (!block) return nullptr;
        auto* p = block.get();
        buffer->storage_.push_back(std::move(block));
        buffer->channels_.push_back(p);
        list->mBuffers[i].mNumberChannels = interleaved ? asbd.mChannelsPerFrame : 1;
        list->mBuffers[i].mDataByteSize = uint32_t(bytes);
        list->mBuffers[i].mData = p;
    }
    return buffer;
}

AVAudioPCMBuffer::~AVAudioPCMBuffer() = default;

void AVAudioPCMBuffer::setFrameLength(AVAudioFrameCount frameLength) {
    if (frameLength > frameCapacity_) {
        os_log(OSLog{"platform", "AVAudioPCMBuffer"}, OSLogType::error,
               "frameLength " + std::to_string(frameLength) + " exceeds frameCapacity " +
                   std::to_string(frameCapacity_) + "; the length stays " + std::to_string(frameLength_));
        return;
    }
    frameLength_ = frameLength;
}

float* const* AVAudioPCMBuffer::floatChannelData() const {
    if (format_.commonFormat() != AVAudioCommonFormat::pcmFormatFloat32) return nullptr;
    return reinterpret_cast<float* const*>(channels_.data());
}

int16_t* const* AVAudioPCMBuffer::int16ChannelData() const {
    if (format_.commonFormat() != AVAudioCommonFormat::pcmFormatInt16) return nullptr;
    return reinterpret_cast<int16_t* const*>(channels_.data());
}

int32_t* const* AVAudioPCMBuffer::int32ChannelData() const {
    if (format_.commonFormat() != AVAudioCommonFormat::pcmFormatInt32) return nullptr;
    return reinterpret_cast<int32_t* const*>(channels_.data());
}

}  // namespace platform
