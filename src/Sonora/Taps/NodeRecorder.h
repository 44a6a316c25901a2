// Records the output of one node into an audio file: a tap on one output bus writes every
// delivered buffer on the engine's tap thread. It can stop by itself once the file reaches a
// duration (the buffer that reaches it is written whole, so the file may be up to one buffer
// longer), empty its file, and record into a temporary CAF file of its own.
//
// Threads: record(), stop() and reset() on any caller thread; writing on the tap thread. A mutex
// guards the file (the render thread never takes it); stopping is one compare-exchange, so a
// user's stop and a stop by duration never both remove the tap.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioTime.h"
#include "platform/foundation/URL.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sonora {

class NodeRecorder : public std::enable_shared_from_this<NodeRecorder> {
public:
    // Records into `file` (reopened empty at its URL with its file format); by default into a new
    // temporary file. A null file logs "Error, no file to write to" and records nothing. Throws
    // NSErrorException when the file's URL cannot be opened for writing.
    explicit NodeRecorder(std::shared_ptr<Node> node,
                          std::shared_ptr<platform::AVAudioFile> file = createTempFile(), int64_t bus = 0);

    const std::shared_ptr<Node>& node() const { return node_; }
    bool isRecording() const { return isRecording_.load(std::memory_order_acquire); }
    // Seconds after which recording stops by itself; 0: no limit.
    double durationToRecord() const { return durationToRecord_.load(); }
    void setDurationToRecord(double seconds) { durationToRecord_.store(seconds); }
    // The recorded file's length in seconds (0 without a file).
    double recordedDuration() const;
    // The tap's format; none: the bus's output format.
    std::optional<platform::AVAudioFormat> recordFormat;
    // A new reader of the recorded file; none without a file or when it cannot be read.
    std::shared_ptr<platform::AVAudioFile> audioFile() const;
    double recordBufferDuration() const { return recordBufferDuration_.load(); }

    // Starts recording; throws when a deleted file must be replaced and the replacement cannot open.
    void record();
    void stop();
    // Stops if recording and empties the file; throws when it cannot be reopened.
    void reset();

    // The tap's work (tap thread).
    void process(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime& time);

    // A new temporary CAF file (interleaved Float32 processing format, Settings::audioFormat), listed
    // in tempFiles; none when it cannot be created.
    static std::shared_ptr<platform::AVAudioFile> createTempFile();
    // Deletes every listed temporary file and empties the list.
    static void removeTempFiles();
    static std::vector<platform::URL> tempFiles();

private:
    std::shared_ptr<Node> node_;
    std::atomic<bool> isRecording_{false};
    std::atomic<double> durationToRecord_{0};
    mutable std::mutex fileMutex_;
    std::shared_ptr<platform::AVAudioFile> internalAudioFile_;
    int64_t bus_ = 0;
    std::atomic<double> recordBufferDuration_;
};

}  // namespace sonora
