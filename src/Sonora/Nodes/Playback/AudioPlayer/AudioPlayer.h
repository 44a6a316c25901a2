// Plays an open audio file from disk, or a PCM buffer held in memory, through a platform player node
// that feeds a mixer node of its own; the mixer is the node the rest of the graph sees.
//
// File mode streams the edit range of `file`; buffer mode plays `buffer`, which the player fills
// from `file` (edit range, widened to the output's channel count, reversed when asked) when a file
// is set. Use from one thread (the main thread); the end of the material is handled on the
// engine's completion thread, which is why the state below is atomic or guarded.
//
//   auto player = std::make_shared<sonora::AudioPlayer>(sonora::AVAudioFile::forReading("clip.wav"));
//   engine.setOutput(player);
//   engine.start();
//   player->play(2.0, 5.0);   // seconds 2 to 5 of the file
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/avfaudio/AVAudioTime.h"
#include "platform/foundation/URL.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {
class AVAudioMixerNode;
}

namespace sonora {

class AudioPlayer : public Node, public HasInternalConnections, public std::enable_shared_from_this<AudioPlayer> {
public:
    using AVAudioFile = platform::AVAudioFile;
    using AVAudioPCMBuffer = platform::AVAudioPCMBuffer;
    using AVAudioTime = platform::AVAudioTime;
    using AVAudioFrameCount = platform::AVAudioFrameCount;
    using AVAudioFramePosition = platform::AVAudioFramePosition;
    using CompletionCallbackType = platform::AVAudioPlayerNodeCompletionCallbackType;
    using BufferOptions = platform::AVAudioPlayerNodeBufferOptions;
    using CompletionHandler = std::function<void()>;

    // --- Creation and loading (state and loading) ---

    // A player with no file and no buffer, attached to no engine.
    AudioPlayer();
    // init(file:buffered:): loads the file (`buffered` none keeps file mode); never fails.
    explicit AudioPlayer(std::shared_ptr<AVAudioFile> file, std::optional<bool> buffered = std::nullopt);
    // init(buffer:): plays the buffer (buffer mode).
    explicit AudioPlayer(std::shared_ptr<AVAudioPCMBuffer> buffer);
    // init(url:buffered:): opens the file; logs the error and gives nullptr when it cannot be opened.
    static std::shared_ptr<AudioPlayer> make(const platform::URL& url, std::optional<bool> buffered = std::nullopt);
    ~AudioPlayer() override;

    // Opens the URL and loads it; throws the platform's NSErrorException and changes nothing then.
    virtual void load(const platform::URL& url, std::optional<bool> buffered = std::nullopt);
    // Makes the file the player's material (reconnecting when its format differs); `buffered` none
    // keeps the mode; unless `preserveEditTime` the edit range becomes the whole file.
    virtual void load(std::shared_ptr<AVAudioFile> file, std::optional<bool> buffered = std::nullopt,
                      bool preserveEditTime = false);
    // Plays the buffer (buffer mode).
    virtual void load(std::shared_ptr<AVAudioPCMBuffer> buffer);

    // --- Node ---

    // Always empty: the player has no graph inputs.
    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    // The player's mixer node.
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override;
    // Attaches the player node to the mixer node's engine and connects the two in the file's
    // processing format; nothing when already connected.
    void makeInternalConnections() override;
    // The same as isPlaying().
    bool isStarted() const override { return isPlaying(); }

    // --- Properties ---

    virtual const std::shared_ptr<platform::AVAudioPlayerNode>& playerNode() const { return playerNode_; }
    virtual const std::shared_ptr<platform::AVAudioMixerNode>& mixerNode() const { return mixerNode_; }

    // The player node's gain.
    virtual float volume() const;
    virtual void setVolume(float volume);

    // Playing (also while paused) and paused; written only by the player.
    virtual bool isPlaying() const { return isPlaying_.load(); }
    virtual bool isPaused() const { return isPaused_.load(); }
    // Material is scheduled on the player node.
    virtual bool isScheduled() const;
    // True only while seek(time:) runs.
    virtual bool isSeeking() const { return isSeeking_.load(); }

    // Buffer mode; turning it off drops the buffer.
    virtual bool isBuffered() const { return isBuffered_.load(); }
    virtual void setIsBuffered(bool buffered);
    // Plays the edit range backwards; turning it on in file mode enters buffer mode and reads at once.
    virtual bool isReversed() const { return isReversed_.load(); }
    virtual void setIsReversed(bool reversed);
    // Plays the material again when it ends (file mode: replayed; buffer mode: the loops option).
    virtual bool isLooping() const { return isLooping_.load(); }
    virtual void setIsLooping(bool looping);

    // Seconds of the material: the file's length, else the buffer's frameLength, at its rate; else 0.
    virtual double duration() const;

    // Called when the scheduled material has ended, on the engine's completion thread.
    virtual CompletionHandler completionHandler() const;
    virtual void setCompletionHandler(CompletionHandler handler);

    // The file streamed, or read into the buffer. Setting it stops, re-reads when buffered and a
    // different file, and plays again when it was playing.
    virtual std::shared_ptr<AVAudioFile> file() const;
    virtual void setFile(std::shared_ptr<AVAudioFile> file);
    // The material of buffer mode. Setting it enters (or, with none, leaves) buffer mode and plays
    // again when it was playing.
    virtual std::shared_ptr<AVAudioPCMBuffer> buffer() const;
    virtual void setBuffer(std::shared_ptr<AVAudioPCMBuffer> buffer);

    // Off: the range is the whole material and the edit times are kept aside; on: they come back.
    virtual bool isEditTimeEnabled() const { return isEditTimeEnabled_.load(); }
    virtual void setIsEditTimeEnabled(bool enabled);
    // The edit range in seconds, clamped to 0 … duration(); an end of exactly 0 means duration().
    virtual double editStartTime() const { return editStartTime_.load(); }
    virtual void setEditStartTime(double time);
    virtual double editEndTime() const { return editEndTime_.load(); }
    virtual void setEditEndTime(double time);

    // The buffer options last set by isLooping or scheduleBuffer(_:at:options:).
    BufferOptions bufferOptions() const { return bufferOptions_.load(); }
    // The read cache: frames of the last buffer read from the file and the file frames it holds.
    AVAudioFrameCount frameCount() const { return frameCount_.load(); }
    std::optional<AVAudioFramePosition> startingFrame() const;
    std::optional<AVAudioFramePosition> endingFrame() const;

    // --- Playback and scheduling ---

    // Fixes the edit range (none keeps it), schedules it at `at` (none: as soon as possible) and
    // starts. After pause() it resumes instead and ignores the arguments. Needs a running engine.
    void play(std::optional<double> from = std::nullopt, std::optional<double> to = std::nullopt,
              std::optional<AVAudioTime> at = std::nullopt,
              CompletionCallbackType completionCallbackType = CompletionCallbackType::dataPlayedBack);
    // Holds the position; resume() or play goes on from it.
    void pause();
    void resume();
    // Stops and remembers the position; a paused player is no longer paused.
    void stop();
    // Moves to `time` (clamped) with the range ending at duration(); a playing player plays from there.
    void seek(double time);
    // Seconds into the material of the position now playing (pausedTime or editStartTime when the
    // node reports no time).
    double currentTime() const;

    // The steps of play: schedule the buffer (buffer mode) or the file segment, without starting.
    void schedule(std::optional<AVAudioTime> at,
                  CompletionCallbackType completionCallbackType = CompletionCallbackType::dataPlayedBack);
    void scheduleBuffer(std::optional<AVAudioTime> at,
                        CompletionCallbackType completionCallbackType = CompletionCallbackType::dataPlayedBack);
    void scheduleSegment(std::optional<AVAudioTime> at,
                         CompletionCallbackType completionCallbackType = CompletionCallbackType::dataPlayedBack);
    // The end of the scheduled material: clears the state, calls the completion handler and
    // replays when looping in file mode. Called only through the player node's completions.
    virtual void handleCompletion();

    // Schedule without starting; a later play() without `at` starts what they scheduled.
    void scheduleBuffer(std::shared_ptr<AVAudioPCMBuffer> buffer, std::optional<AVAudioTime> at, BufferOptions options);
    void scheduleBuffer(const platform::URL& url, std::optional<AVAudioTime> at, BufferOptions options);
    void scheduleFile(std::shared_ptr<AVAudioFile> file, std::optional<AVAudioTime> at);

    // --- Buffering ---

    // Reads the edit range of the file into the buffer (widened, reversed as needed) unless the
    // buffer already holds that range in that direction, or `force`. Failures are logged and leave
    // the buffer as it was.
    void updateBuffer(bool force = false);

private:
    // Field writes that run the observers.
    void fileDidChange(const std::shared_ptr<AVAudioFile>& previous);
    void bufferDidChange();
    std::optional<AVAudioTime> scheduleTime() const;
    void setScheduleTime(std::optional<AVAudioTime> time);
    double clamp(double time) const;
    // The closure handed to the player node: reaches the player only while it exists (through a
    // weak reference when it is shared, else through its unowned lifetime link).
    platform::AVAudioPlayerNodeCompletionHandler completionClosure();

    // The link of a player that no shared_ptr owns: cleared, under its lock, when the player goes,
    // so a completion the engine delivers later finds no player instead of freed memory.
    struct UnownedLink {
        std::mutex mutex;
        AudioPlayer* player = nullptr;
    };
    std::shared_ptr<UnownedLink> unownedLink_;

    const std::shared_ptr<platform::AVAudioPlayerNode> playerNode_;
    const std::shared_ptr<platform::AVAudioMixerNode> mixerNode_;
    std::atomic<bool> isPlaying_{false};
    std::atomic<bool> isPaused_{false};
    std::atomic<bool> isBuffered_{false};
    std::atomic<bool> isReversed_{false};
    std::atomic<bool> isLooping_{false};
    std::atomic<bool> isSeeking_{false};
    std::atomic<bool> isEditTimeEnabled_{false};
    std::atomic<double> editStartTime_{0};
    std::atomic<double> editEndTime_{0};
    std::atomic<double> pausedTime_{0};
    std::atomic<BufferOptions> bufferOptions_{platform::AVAudioPlayerNodeBufferInterrupts};
    std::atomic<AVAudioFrameCount> frameCount_{0};
    std::optional<double> savedEditStartTime_;
    std::optional<double> savedEditEndTime_;

    // The material, the handler, the schedule and the read cache: read by the completion thread,
    // so each read copies them out under this lock and no call is made while holding it.
    mutable std::mutex mutex_;
    std::shared_ptr<AVAudioFile> file_;
    std::shared_ptr<AVAudioPCMBuffer> buffer_;
    CompletionHandler completionHandler_;
    std::optional<AVAudioTime> scheduleTime_;
    std::optional<AVAudioFramePosition> startingFrame_;
    std::optional<AVAudioFramePosition> endingFrame_;
    bool cachedReversed_ = false;  // the direction in which the cached range was read
};

}  // namespace sonora
