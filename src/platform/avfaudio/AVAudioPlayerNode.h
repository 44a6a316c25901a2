// Plays scheduled buffers, files and file segments, one after the other in schedule order.
//
// Times: a sample time given to a schedule call is player time (frames since play() at the
// player's output rate); a host time alone is converted on the render cycle that reaches it. An
// item given a time that has already passed starts at once, as far into it as it is late (never
// earlier than the end of the item before it); an item given no time plays whole, right after the
// item before it or at once. File items read through a reader of
// their own on the file's URL (the caller's AVAudioFile position is never touched); data in
// another format than the output is converted, with a log line.
//
// Completions: a natural end runs the handler once, on the engine's callback thread, in schedule
// order (dataPlayedBack: once the device clock passed the last frame; offline: as dataRendered).
// stop() runs every pending handler itself before it returns; detaching drops them unrun.
#pragma once

#include "platform/avfaudio/AVAudioMixing.h"
#include "platform/avfaudio/AVAudioNode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <functional>
#include <memory>
#include <optional>

namespace platform {

class AVAudioFile;

enum class AVAudioPlayerNodeCompletionCallbackType : int {
    dataConsumed = 0,
    dataRendered = 1,
    dataPlayedBack = 2,
};

using AVAudioPlayerNodeBufferOptions = uint32_t;
inline constexpr AVAudioPlayerNodeBufferOptions AVAudioPlayerNodeBufferLoops = 1;
inline constexpr AVAudioPlayerNodeBufferOptions AVAudioPlayerNodeBufferInterrupts = 2;
inline constexpr AVAudioPlayerNodeBufferOptions AVAudioPlayerNodeBufferInterruptsAtLoop = 4;

using AVAudioNodeCompletionHandler = std::function<void()>;
using AVAudioPlayerNodeCompletionHandler = std::function<void(AVAudioPlayerNodeCompletionCallbackType)>;

class AVAudioPlayerNode : public AVAudioNode, public AVAudioMixing {
public:
    AVAudioPlayerNode();
    ~AVAudioPlayerNode() override;

    // scheduleBuffer(_:completionHandler:): plays after what is scheduled.
    void scheduleBuffer(const std::shared_ptr<AVAudioPCMBuffer>& buffer, AVAudioNodeCompletionHandler handler = {});
    // scheduleBuffer(_:at:options:completionHandler:)
    void scheduleBuffer(const std::shared_ptr<AVAudioPCMBuffer>& buffer, const std::optional<AVAudioTime>& when,
                        AVAudioPlayerNodeBufferOptions options, AVAudioNodeCompletionHandler handler = {});
    // scheduleBuffer(_:at:options:completionCallbackType:completionHandler:)
    void scheduleBuffer(const std::shared_ptr<AVAudioPCMBuffer>& buffer, const std::optional<AVAudioTime>& when,
                        AVAudioPlayerNodeBufferOptions options, AVAudioPlayerNodeCompletionCallbackType callbackType,
                        AVAudioPlayerNodeCompletionHandler handler);

    // scheduleFile(_:at:completionHandler:) and with a callback type: the whole file.
    void scheduleFile(const std::shared_ptr<AVAudioFile>& file, const std::optional<AVAudioTime>& when,
                      AVAudioNodeCompletionHandler handler = {});
    void scheduleFile(const std::shared_ptr<AVAudioFile>& file, const std::optional<AVAudioTime>& when,
                      AVAudioPlayerNodeCompletionCallbackType callbackType, AVAudioPlayerNodeCompletionHandler handler);

    // scheduleSegment(_:startingFrame:frameCount:at:...): frames past the file's end are not played.
    void scheduleSegment(const std::shared_ptr<AVAudioFile>& file, AVAudioFramePosition startingFrame,
                         AVAudioFrameCount frameCount, const std::optional<AVAudioTime>& when,
                         AVAudioNodeCompletionHandler handler = {});
    void scheduleSegment(const std::shared_ptr<AVAudioFile>& file, AVAudioFramePosition startingFrame,
                         AVAudioFrameCount frameCount, const std::optional<AVAudioTime>& when,
                         AVAudioPlayerNodeCompletionCallbackType callbackType, AVAudioPlayerNodeCompletionHandler handler);

    // play() / play(at:): player time 0 is the given node time (sample or host time), else the next
    // cycle. After pause() playing resumes where it paused.
    void play();
    void play(const std::optional<AVAudioTime>& when);
    // Holds the player time; the schedule stays.
    void pause();
    // Drops the schedule, running every pending completion handler (schedule order) before it
    // returns; the player time goes back to 0.
    void stop();
    bool isPlaying() const;

    // Reads ahead the first frames of the scheduled files so that playback starts without waiting.
    void prepare(AVAudioFrameCount frameCount);

    // nodeTime(forPlayerTime:) / playerTime(forNodeTime:): none while the player is not playing.
    std::optional<AVAudioTime> nodeTime(const AVAudioTime& playerTime) const;
    std::optional<AVAudioTime> playerTime(const AVAudioTime& nodeTime) const;

    // As stop().
    void reset() override;

    std::string className() const override { return "AVAudioPlayerNode"; }

protected:
    OSStatus render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                    AudioBufferList& output, detail::RenderInputs& inputs) override;
    void allocateRenderResources(const detail::RenderConfig& config) override;
    void didDetach() override;
    void engineDidStop() override;

private:
    struct Item;
    struct Shared;
    void applyWaitingStop();
    void schedule(std::shared_ptr<Item> item);
    std::shared_ptr<Item> makeFileItem(const std::shared_ptr<AVAudioFile>& file, AVAudioFramePosition startingFrame,
                                       AVAudioFrameCount frameCount, const std::optional<AVAudioTime>& when);
    void dropPending(bool runHandlers);

    std::shared_ptr<Shared> shared_;
    double renderRate_ = 44100;
};

}  // namespace platform
