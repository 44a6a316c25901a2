#include "Sonora/Taps/MultiChannelInputNodeTap.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioChannelLayout.h"
#include "platform/foundation/HostTime.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace sonora {

namespace {
std::string listText(const std::vector<int32_t>& values) {
    std::string text = "[";
    for (size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + std::to_string(values[i]);
    return text + "]";
}
std::string filesText(const std::vector<std::shared_ptr<MultiChannelInputNodeTap::WriteableFile>>& files) {
    std::string text = "[";
    for (size_t i = 0; i < files.size(); ++i) text += (i ? ", " : "") + files[i]->description();
    return text + "]";
}
std::string timeText(const std::optional<platform::AVAudioTime>& time) {
    return time ? "host time " + std::to_string(time->hostTime()) : "nil";
}
}  // namespace

MultiChannelInputNodeTap::MultiChannelInputNodeTap(std::shared_ptr<platform::AVAudioInputNode> inputNode)
    : inputNode_(std::move(inputNode)) {
    if (!inputNode_) return;
    const auto format = inputNode_->outputFormat(0);
    sampleRate_ = format.sampleRate();
    Log({"inputNode", format.channelCount(), "channels at", sampleRate_, "kHz"});
}

MultiChannelInputNodeTap::~MultiChannelInputNodeTap() {
    Log({"* { MultiChannelInputNodeTap }"});
    delegate.reset();
    // The tap goes with its recorder: left installed it would keep the input device running and,
    // for a recorder not held by a shared_ptr, call into this object after it is gone.
    if (recordEnabled_.load() && inputNode_) inputNode_->removeTapOnBus(0);
    files_.setWrappedValue({});
}

void MultiChannelInputNodeTap::setFileChannels(std::optional<std::vector<FileChannel>> channels) {
    fileChannels_ = std::move(channels);
    if (!fileChannels_) return;
    std::vector<int32_t> map;
    for (const auto& fc : *fileChannels_) map.push_back(fc.channel);
    setChannelMap(map);
}

void MultiChannelInputNodeTap::setChannelMap(const std::vector<int32_t>& map) {
    if (map == channelMap_) return;
    Log({"Attempting to update channelMap to", listText(map)});
    if (!inputNode_ || !inputNode_->audioUnit()) {
        Log({"inputNode.audioUnit is nil"});
        return;
    }
    if (map.size() > size_t(UINT32_MAX / 4)) {
        Log({"Failed setting channel map"});
        return;
    }
    const int32_t none = 0;
    const platform::OSStatus status = platform::AudioUnitSetProperty(inputNode_->audioUnit(), platform::kAudioOutputUnitProperty_ChannelMap,
                                                           platform::kAudioUnitScope_Output, 1, map.empty() ? &none : map.data(),
                                                           uint32_t(4 * map.size()));
    if (status != platform::noErr) {
        Log({"Failed setting channel map"});
        return;
    }
    channelMap_ = map;
    Log({"Updated channelMap to", listText(map)});
    recordFormat_ = createRecordFormat(map);
    setRecordEnabled(false);
}

std::optional<platform::AVAudioFormat> MultiChannelInputNodeTap::createRecordFormat(const std::vector<int32_t>& map) {
    if (map.empty()) {
        Log({"You must specify a valid channel map"});
        return std::nullopt;
    }
    const auto layout = platform::AVAudioChannelLayout::layoutWithLayoutTag(
        platform::kAudioChannelLayoutTag_DiscreteInOrder | uint32_t(map.size()));
    if (!layout || map.size() > 0xFFFF) {
        Log({"Failed creating AVAudioChannelLayout"});
        return std::nullopt;
    }
    const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(sampleRate_, *layout);
    Log({"recordFormat", format});
    return format;
}

void MultiChannelInputNodeTap::initFormats() {
    bufferFormat_ = platform::AVAudioFormat::standardFormatWithSampleRate(sampleRate_, channels_);
    Log({"bufferFormat", *bufferFormat_});
    platform::AudioStreamBasicDescription asbd{};
    asbd.mSampleRate = sampleRate_;
    asbd.mFormatID = platform::kAudioFormatLinearPCM;
    asbd.mFormatFlags = platform::kAudioFormatFlagIsSignedInteger | platform::kAudioFormatFlagIsPacked;
    asbd.mBytesPerPacket = uint32_t((uint64_t(bitsPerChannel_) * channels_) / 8);
    asbd.mFramesPerPacket = 1;
    asbd.mBytesPerFrame = asbd.mBytesPerPacket;
    asbd.mChannelsPerFrame = channels_;
    asbd.mBitsPerChannel = bitsPerChannel_;
    fileFormat_ = platform::AVAudioFormat(asbd);
    Log({"fileFormat", *fileFormat_});
}

void MultiChannelInputNodeTap::createFiles() {
    if (!directory || !fileFormat_ || !recordFormat_ || !fileChannels_) {
        Log({"File Format is nil"});
        return;
    }
    if (recordFormat_->channelCount() != channelMap_.size()) {
        Log({"Channel count mismatch", recordFormat_->channelCount(), "vs", channelMap_.size()});
        return;
    }
    if (recordCounter_ > 10000) {
        // Names run out at #10000: no new take.
        Log({"Record counter", recordCounter_, "is past 10000: no files created"});
        setFiles({});
        filesReady_ = false;
        return;
    }
    std::vector<std::shared_ptr<WriteableFile>> made;
    for (const auto& fc : *fileChannels_) {
        const auto url = nextAvailableURL(*directory, fc.name, recordCounter_);
        if (!url) {
            Log({"Failed to create URL in", *directory, "with name", fc.name});
            continue;
        }
        std::error_code ec;
        if (std::filesystem::exists(url->filePath(), ec)) {
            Log({"Warning, deleting existing record file at", *url});
            std::filesystem::remove(url->filePath(), ec);
        }
        Log({"Creating destination:", url->path()});
        made.push_back(std::make_shared<WriteableFile>(*url, *fileFormat_, fc.channel, ioLatency));
    }
    setFiles(made);
    Log({"Created", filesText(made), "latency in frames", ioLatency});
    filesReady_ = made.size() == fileChannels_->size();
    recordCounter_ = std::max(recordCounter_ + 1, 1);
}

void MultiChannelInputNodeTap::setRecordEnabled(bool enabled) {
    if (!recordFormat_ || enabled == recordEnabled_.load()) return;
    recordEnabled_.store(enabled);
    if (enabled) {
        Log({"🚰 Installing Tap with format", *recordFormat_, "requested bufferSize", bufferSize_});
        std::weak_ptr<MultiChannelInputNodeTap> weak = weak_from_this();
        MultiChannelInputNodeTap* raw = weak.expired() ? this : nullptr;
        inputNode_->installTapOnBus(0, bufferSize_, *recordFormat_,
                                    [weak, raw, map = channelMap_](const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer,
                                                                   const platform::AVAudioTime& time) {
                                        if (raw) return raw->process(*buffer, time, map);
                                        if (auto self = weak.lock()) self->process(*buffer, time, map);
                                    });
        if (auto d = delegate.lock()) d->tapDidInstall(*this);
    } else {
        Log({"🚰 Removing Tap"});
        inputNode_->removeTapOnBus(0);
        if (auto d = delegate.lock()) d->tapDidRemove(*this);
    }
}

void MultiChannelInputNodeTap::setBufferSize(uint32_t frames) {
    bufferSize_ = frames;
    Log({"Attempting to set bufferSize to", frames, "The implementation may choose another size."});
}

void MultiChannelInputNodeTap::prepare(const std::vector<int32_t>& channels) {
    std::vector<FileChannel> list;
    for (int32_t c : channels) list.push_back({"Audio " + std::to_string(int64_t(c) + 1), c});
    prepare(list);
}

void MultiChannelInputNodeTap::prepare(const std::vector<FileChannel>& list) {
    setFileChannels(list);
    initFormats();
    createFiles();
    setRecordEnabled(true);
}

void MultiChannelInputNodeTap::setRecording(bool recording) {
    isRecording_.store(recording, std::memory_order_release);
    const auto list = files();
    if (recording) {
        startedAtTime_ = platform::AVAudioTime(platform::mach_absolute_time());
        Log({"⏺", list.size(), " to record", timeText(startedAtTime_)});
        for (const auto& file : list) file->createFile();
    } else {
        stoppedAtTime_ = platform::AVAudioTime(platform::mach_absolute_time());
        Log({"⏹", list.size(), "recorded", timeText(stoppedAtTime_)});
    }
}

void MultiChannelInputNodeTap::record() {
    if (isRecording()) {
        Log({"Already recording"});
        return;
    }
    if (!filesReady_) createFiles();
    setRecording(true);
    if (!recordEnabled_.load()) setRecordEnabled(true);
    Log({"⏺ Recording " + std::to_string(files().size()) + " files using format", recordFormat_});
}

void MultiChannelInputNodeTap::stop() {
    if (!isRecording()) {
        Log({"Not Recording"});
        return;
    }
    setRecording(false);
    filesReady_ = false;
    for (size_t i = 0;; ++i) {
        const auto list = files();
        if (i >= list.size()) break;
        list[i]->close();
    }
    Log({"⏹", filesText(files())});
}

std::optional<double> MultiChannelInputNodeTap::recordedDuration() const {
    if (!startedAtTime_ || !stoppedAtTime_) return std::nullopt;
    return platform::AVAudioTime::secondsForHostTime(stoppedAtTime_->hostTime()) -
           platform::AVAudioTime::secondsForHostTime(startedAtTime_->hostTime());
}

void MultiChannelInputNodeTap::process(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time) {
    process(buffer, time, channelMap_);
}

void MultiChannelInputNodeTap::process(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time,
                                       const std::vector<int32_t>& map) {
    if (!bufferFormat_) {
        Log({"bufferFormat is nil"});
        return;
    }
    float* const* data = buffer.floatChannelData();
    if (!data) {
        Log({"buffer.floatChannelData is nil"});
        return;
    }
    const uint32_t frames = buffer.frameLength();
    const size_t stride = buffer.stride();
    const auto list = files();
    // The files follow the channel map in order, but a channel whose file could not be made has
    // none: a file takes the next tapped channel only when it records that input channel, so that
    // no channel's audio lands in the file of another.
    size_t next = 0;
    for (uint32_t c = 0; c < buffer.format().channelCount(); ++c) {
        const bool mapped = c < map.size();
        if (next >= list.size() || (mapped && list[next]->channel != map[c])) {
            if (!mismatchLogged_.exchange(true)) Log({"Count mismatch: no file for tapped channel", c, "of", list.size(), "files"});
            continue;
        }
        const auto& file = list[next++];
        auto mono = platform::AVAudioPCMBuffer::make(*bufferFormat_, frames);
        if (!mono) {
            Log({"Failed creating channelBuffer"});
            return;
        }
        const float* from = stride > 1 ? data[0] + c : data[c];
        float* to = mono->floatChannelData()[0];
        for (uint32_t i = 0; i < frames; ++i) to[i] = from[size_t(i) * stride];
        mono->setFrameLength(frames);
        try {
            file->writeAndMeasure(*mono, time, isRecording());
        } catch (const platform::NSErrorException& e) {
            Log({"Write failed", e.error().localizedDescription});
        }
    }
    if (recordEnabled_.load())
        if (auto d = delegate.lock()) d->didProcess(*this, frames, time);
}

}  // namespace sonora
