// Records chosen channels of the input node into one file per channel: the input unit's channel
// map selects the device channels, one tap on the input node's bus 0 takes them in a discrete
// multi-channel format, and every tapped buffer is split into mono buffers, each handed to its
// channel's WriteableFile, which drops the first ioLatency frames of a take and writes the rest.
//
// Threads: prepare, record(), stop() and the setters on the caller's thread; process() on the
// engine's tap thread, which writes the files there. The file list is guarded by a reader/writer
// lock, each file by a mutex of its own.
#pragma once

#include "Sonora/Internals/Utilities/ThreadLockedAccessor.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioTime.h"
#include "platform/foundation/URL.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sonora {

class MultiChannelInputNodeTap;

class MultiChannelInputNodeTapDelegate {
public:
    virtual ~MultiChannelInputNodeTapDelegate() = default;
    virtual void tapDidInstall(MultiChannelInputNodeTap& sender) = 0;
    virtual void tapDidRemove(MultiChannelInputNodeTap& sender) = 0;
    // Tap thread, after each processed buffer.
    virtual void didProcess(MultiChannelInputNodeTap& sender, uint32_t frameLength, const platform::AVAudioTime& time) = 0;
};

class MultiChannelInputNodeTap : public std::enable_shared_from_this<MultiChannelInputNodeTap> {
public:
    struct FileChannel {
        std::string name;  // the file's base name
        int32_t channel;   // the input channel, from 0
    };

    // One recorded channel: its file, the latency skip, its amplitude and duration.
    class WriteableFile {
    public:
        WriteableFile(platform::URL url, platform::AVAudioFormat fileFormat, int32_t channel, uint32_t ioLatency);

        std::string description() const;

        platform::URL url;
        platform::AVAudioFormat fileFormat;
        int32_t channel;
        std::shared_ptr<platform::AVAudioFile> file;
        float amplitude = 0;
        double duration = 0;
        std::vector<float> amplitudeArray;
        std::optional<platform::AVAudioTime> timestamp;
        uint32_t ioLatency;
        uint32_t totalFramesRead = 0;
        int64_t totalFramesWritten = 0;
        bool ioLatencyHandled = false;

        // Opens the file for writing, once; a failure is logged and leaves no file.
        void createFile();
        // Tap thread: drops the frames within ioLatency, writes the rest. Throws the file's error.
        void writeFile(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time);
        // writeFile when `write`, then the buffer's amplitude.
        void writeAndMeasure(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time, bool write);
        // Logs the take and releases the file.
        void close();
        // The file's mutex: writing, opening and closing take it.
        std::mutex& mutex() const { return mutex_; }

    private:
        void write(const platform::AVAudioPCMBuffer& buffer);
        void setTotalFramesWritten(int64_t frames);
        mutable std::mutex mutex_;
    };

    explicit MultiChannelInputNodeTap(std::shared_ptr<platform::AVAudioInputNode> inputNode);
    ~MultiChannelInputNodeTap();

    std::weak_ptr<MultiChannelInputNodeTapDelegate> delegate;
    std::optional<std::vector<FileChannel>> fileChannels() const { return fileChannels_; }
    void setFileChannels(std::optional<std::vector<FileChannel>> channels);

    std::vector<std::shared_ptr<WriteableFile>> files() const { return files_.wrappedValue(); }
    void setFiles(std::vector<std::shared_ptr<WriteableFile>> files) {
        files_.setWrappedValue(std::move(files));
        mismatchLogged_.store(false);
    }

    const std::shared_ptr<platform::AVAudioInputNode>& inputNode() const { return inputNode_; }
    bool isRecording() const { return isRecording_.load(std::memory_order_acquire); }
    const std::string& recordFileType() const { return recordFileType_; }
    const std::optional<platform::AVAudioFormat>& recordFormat() const { return recordFormat_; }
    const std::optional<platform::AVAudioFormat>& bufferFormat() const { return bufferFormat_; }
    const std::optional<platform::AVAudioFormat>& fileFormat() const { return fileFormat_; }
    double sampleRate() const { return sampleRate_; }
    uint32_t channels() const { return channels_; }
    uint32_t bitsPerChannel() const { return bitsPerChannel_; }
    bool filesReady() const { return filesReady_; }
    std::optional<platform::AVAudioTime> startedAtTime() const { return startedAtTime_; }
    std::optional<platform::AVAudioTime> stoppedAtTime() const { return stoppedAtTime_; }
    // Seconds between the start and the stop (host times); none unless both are set.
    std::optional<double> recordedDuration() const;

    uint32_t bufferSize() const { return bufferSize_; }
    void setBufferSize(uint32_t frames);
    bool recordEnabled() const { return recordEnabled_.load(); }
    void setRecordEnabled(bool enabled);
    const std::vector<int32_t>& channelMap() const { return channelMap_; }
    void setChannelMap(const std::vector<int32_t>& map);
    int recordCounter() const { return recordCounter_; }
    void setRecordCounter(int value) { recordCounter_ = std::max(value, 1); }

    std::optional<platform::URL> directory;
    uint32_t ioLatency = 0;

    // "Audio <c + 1>" per channel, then the formats, the files and the tap.
    void prepare(const std::vector<int32_t>& channels);
    void prepare(const std::vector<FileChannel>& fileChannels);

    void initFormats();
    std::optional<platform::AVAudioFormat> createRecordFormat(const std::vector<int32_t>& channelMap);
    void createFiles();
    void record();
    void stop();

    // The tap's work (tap thread): each tapped channel goes to the file made for it, in the order
    // of the channel map; a channel without a file (none could be named or set) records nothing,
    // and the others still record their own channel.
    void process(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time);

    // "<base> #n.<recordFileType>" in the directory for the first n from startIndex (at most
    // 10000) that names no file; none when all are taken.
    std::optional<platform::URL> nextAvailableURL(const platform::URL& directory, const std::string& name, int startIndex) const;

private:
    void setRecording(bool recording);
    // process() for a tap installed with `map` (the map may change on another thread meanwhile).
    void process(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time, const std::vector<int32_t>& map);

    std::optional<std::vector<FileChannel>> fileChannels_;
    ThreadLockedAccessor<std::vector<std::shared_ptr<WriteableFile>>> files_{{}};
    std::shared_ptr<platform::AVAudioInputNode> inputNode_;
    std::atomic<bool> isRecording_{false};
    std::string recordFileType_ = "wav";
    std::optional<platform::AVAudioFormat> recordFormat_;
    std::optional<platform::AVAudioFormat> bufferFormat_;
    std::optional<platform::AVAudioFormat> fileFormat_;
    double sampleRate_ = 48000.0;
    uint32_t channels_ = 1;
    uint32_t bitsPerChannel_ = 24;
    uint32_t bufferSize_ = 2048;
    std::atomic<bool> recordEnabled_{false};
    int recordCounter_ = 1;
    bool filesReady_ = false;
    std::optional<platform::AVAudioTime> startedAtTime_;
    std::optional<platform::AVAudioTime> stoppedAtTime_;
    std::vector<int32_t> channelMap_;
    // "Count mismatch" is logged once per set of files, not for every buffer.
    std::atomic<bool> mismatchLogged_{false};
};

}  // namespace sonora
