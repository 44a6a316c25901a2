// Reduces an audio file to a few points per channel for drawing a waveform: the file is cut into
// equal slices and each slice of each channel becomes its root-mean-square level.
//
//   auto request = std::make_shared<WaveformDataRequest>(file);
//   request->getDataAsync(512, 0, std::nullopt, queue, [](auto data) { draw(data); });
#pragma once

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/URL.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace sonora {

class WaveformDataRequest : public std::enable_shared_from_this<WaveformDataRequest> {
public:
    // One list per channel, one value per point.
    using Data = std::vector<std::vector<float>>;

    // init(audioFile:): reads the given open file; its position is used and restored.
    explicit WaveformDataRequest(std::shared_ptr<platform::AVAudioFile> audioFile);
    // init(url:): opens the file for reading; throws the platform's NSErrorException when it cannot.
    explicit WaveformDataRequest(const platform::URL& url);
    virtual ~WaveformDataRequest();
    WaveformDataRequest(const WaveformDataRequest&) = delete;
    WaveformDataRequest& operator=(const WaveformDataRequest&) = delete;

    const std::shared_ptr<platform::AVAudioFile>& audioFile() const { return audioFile_; }

    // The abort flag. Writes take effect shortly after the setter returns (ordered on the
    // request's own queue); the running call sees them at its next point.
    virtual bool abortGetWaveformData() const;
    virtual void setAbortGetWaveformData(bool abort);

    // The RMS of each slice: `points` slices (at least 64) of the whole file, computed from point
    // `offset` (negative: counted back from the file's current position; none: from the current
    // position itself) for `length` points (none: up to the last). Points not computed stay 0.
    // Nothing when there is no file, the start is past the end, the call was cancelled or a read fails.
    virtual std::optional<Data> getData(int64_t points, std::optional<int64_t> offset = std::nullopt,
                                        std::optional<uint64_t> length = std::nullopt);

    // Runs getData on `queue` and hands its result to `completion` there. The request stays alive
    // until the task has run (it must be owned by a shared_ptr).
    virtual void getDataAsync(int64_t points, std::optional<int64_t> offset, std::optional<uint64_t> length,
                              platform::DispatchQueue& queue, std::function<void(std::optional<Data>)> completion);

    // Stops the running call at its next point; a call that starts later stops at its first point.
    virtual void cancel();

private:
    std::shared_ptr<platform::AVAudioFile> audioFile_;
    // Read without the queue by the running call, written only through the queue's barriers.
    std::atomic<bool> abortGetWaveformData_{false};
    // Declared after the flag: destroying the queue waits for pending writes to the flag.
    platform::DispatchQueue abortWaveformDataQueue_;
};

}  // namespace sonora
