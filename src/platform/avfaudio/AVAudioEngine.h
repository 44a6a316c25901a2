// The audio graph: attached nodes, their connections, and the rendering of the graph either in real
// time on the output device or offline (manual rendering) on the caller's thread, with the same
// render plan and the same samples.
//
// Threads: the graph is edited on one thread (the main thread); every edit compiles an immutable
// render plan and publishes it by one atomic swap. The render thread takes no lock, allocates
// nothing and makes no system call; player completions run on a callback thread of the engine.
#pragma once

#include "platform/avfaudio/AVAudioConnectionPoint.h"
#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioNode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/NSError.h"

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class AVAudioMixerNode;
class AVAudioOutputNode;
class AVAudioInputNode;

namespace detail {
class RenderPlan;
class CompletionQueue;
class FileFeedReader;
class TapQueue;
}  // namespace detail

enum class AVAudioEngineManualRenderingMode : int { offline = 0, realtime = 1 };

enum class AVAudioEngineManualRenderingStatus : int {
    error = -1,
    success = 0,
    insufficientDataFromInputNode = 1,
    cannotDoInCurrentContext = 2,
};

// Error codes of the engine (domain NSOSStatusErrorDomain).
inline constexpr OSStatus kAudioEngineErr_InvalidFormat = -10868;          // kAudioUnitErr_FormatNotSupported
inline constexpr OSStatus kAudioEngineErr_TooManyFrames = -10874;          // kAudioUnitErr_TooManyFramesToProcess
inline constexpr OSStatus kAudioEngineErr_CannotDoInCurrentContext = -10863;
inline constexpr OSStatus kAudioEngineErr_NotInManualRenderingMode = -80800;
inline constexpr OSStatus kAudioEngineErr_NotRunning = -80801;

class AVAudioEngine : public std::enable_shared_from_this<AVAudioEngine> {
public:
    // A new stopped engine with no attached node.
    static std::shared_ptr<AVAudioEngine> make();
    // Stops the device and joins the render, completion and reader threads before any node goes.
    ~AVAudioEngine();
    AVAudioEngine(const AVAudioEngine&) = delete;
    AVAudioEngine& operator=(const AVAudioEngine&) = delete;

    // --- The graph (main thread) ---

    // Idempotent; a node attached to another engine is refused with a log line.
    void attach(const std::shared_ptr<AVAudioNode>& node);
    // Breaks every connection of the node and drops its render state (a player drops its schedule
    // without calling completions).
    void detach(const std::shared_ptr<AVAudioNode>& node);

    // connect(_:to:format:): output bus 0 to input bus 0, or to the mixer's nextAvailableInputBus.
    // A null format means the source's current output format.
    void connect(const std::shared_ptr<AVAudioNode>& node1, const std::shared_ptr<AVAudioNode>& node2,
                 const std::optional<AVAudioFormat>& format);
    // connect(_:to:fromBus:toBus:format:): replaces what was connected to that input bus.
    void connect(const std::shared_ptr<AVAudioNode>& node1, const std::shared_ptr<AVAudioNode>& node2,
                 AVAudioNodeBus fromBus, AVAudioNodeBus toBus, const std::optional<AVAudioFormat>& format);
    // connect(_:toConnectionPoints:fromBus:format:): the output bus feeds exactly these points.
    void connect(const std::shared_ptr<AVAudioNode>& sourceNode, const std::vector<AVAudioConnectionPoint>& destNodes,
                 AVAudioNodeBus sourceBus, const std::optional<AVAudioFormat>& format);

    void disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node);
    void disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node, AVAudioNodeBus bus);
    void disconnectNodeOutput(const std::shared_ptr<AVAudioNode>& node);
    void disconnectNodeOutput(const std::shared_ptr<AVAudioNode>& node, AVAudioNodeBus bus);

    // inputConnectionPoint(for:inputBus:): the source feeding that bus, or none.
    std::optional<AVAudioConnectionPoint> inputConnectionPoint(const std::shared_ptr<AVAudioNode>& node,
                                                               AVAudioNodeBus bus) const;
    // outputConnectionPoints(for:outputBus:): every destination of that output bus.
    std::vector<AVAudioConnectionPoint> outputConnectionPoints(const std::shared_ptr<AVAudioNode>& node,
                                                               AVAudioNodeBus bus) const;
    // Every attached node, in attach order.
    std::vector<std::shared_ptr<AVAudioNode>> attachedNodes() const;

    // The engine's own mixer, made, attached and connected to the output node on first use.
    std::shared_ptr<AVAudioMixerNode> mainMixerNode();
    // The output node (always there).
    std::shared_ptr<AVAudioOutputNode> outputNode() const { return outputNode_; }
    // The input node, made and attached on first use.
    std::shared_ptr<AVAudioInputNode> inputNode();

    // --- Running ---

    // Compiles the render plan without starting.
    void prepare();
    // Starts rendering (on the output device, or for renderOffline in manual mode). Throws
    // NSErrorException when the device cannot open; the engine then stays stopped.
    void start();
    // Stops rendering and keeps the graph, player schedules and render state.
    void pause();
    // Stops rendering; safe on an engine that never started. Player schedules and flags are kept.
    void stop();
    bool isRunning() const { return running_; }
    // Resets every attached node and the engine's sample time.
    void reset();

    // --- Manual rendering ---

    // Refused (throws) while running, for the real-time mode, or with an invalid or non-standard format.
    void enableManualRenderingMode(AVAudioEngineManualRenderingMode mode, const AVAudioFormat& pcmFormat,
                                   AVAudioFrameCount maximumFrameCount);
    void disableManualRenderingMode();
    bool isInManualRenderingMode() const { return manual_; }
    AVAudioEngineManualRenderingMode manualRenderingMode() const { return AVAudioEngineManualRenderingMode::offline; }
    const AVAudioFormat& manualRenderingFormat() const { return manualFormat_; }
    AVAudioFrameCount manualRenderingMaximumFrameCount() const { return manualMaxFrames_; }
    AVAudioFramePosition manualRenderingSampleTime() const { return manualSampleTime_; }

    // renderOffline(_:to:): pulls the whole graph for `numberOfFrames` on this thread into `buffer`
    // (in manualRenderingFormat) and sets its frameLength. Throws NSErrorException (and logs) when
    // not in manual mode, not running, the buffer's format differs or the count is above the
    // buffer's capacity or manualRenderingMaximumFrameCount. A failing node gives .error.
    AVAudioEngineManualRenderingStatus renderOffline(AVAudioFrameCount numberOfFrames, AVAudioPCMBuffer& buffer);

    // --- For nodes (any thread unless said) ---

    // True while rendering in real time on a device (main thread).
    bool isRenderingInRealTime() const { return running_ && !manual_; }
    // The engine's callback thread for player completions.
    detail::CompletionQueue& completionQueue() { return *completions_; }
    // The thread that pre-fills the players' file rings in real-time mode.
    detail::FileFeedReader& fileFeedReader() { return *reader_; }
    // The taps of the attached nodes and the thread that delivers them.
    detail::TapQueue& tapQueue() { return *taps_; }

private:
    AVAudioEngine();
    struct Connection {
        AVAudioNode* source;
        AVAudioNodeBus sourceBus;
        AVAudioNode* destination;
        AVAudioNodeBus destinationBus;
        AVAudioFormat format;
    };

    bool isAttached(const AVAudioNode* node) const;
    std::shared_ptr<AVAudioNode> sharedNode(const AVAudioNode* node) const;
    bool checkConnectable(const std::shared_ptr<AVAudioNode>& node, const char* what) const;
    std::optional<AVAudioFormat> resolveFormat(const std::shared_ptr<AVAudioNode>& source, AVAudioNodeBus bus,
                                               const std::optional<AVAudioFormat>& format) const;
    bool wouldCycle(const AVAudioNode* source, const AVAudioNode* destination) const;
    void removeConnections(const AVAudioNode* node, bool inputs, bool outputs, std::optional<AVAudioNodeBus> bus);
    void addConnection(AVAudioNode* source, AVAudioNodeBus sourceBus, AVAudioNode* destination,
                       AVAudioNodeBus destinationBus, const AVAudioFormat& format);
    void graphChanged();
    void rebuildPlan();
    void publishPlan(std::unique_ptr<detail::RenderPlan> plan);
    void retirePlans(bool wait);
    void quiesce();
    void clearRenderTimes();
    AVAudioFrameCount planFrames() const;
    std::unique_ptr<detail::RenderPlan> compilePlan();
    void renderRealtime(AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime);

    friend class AVAudioNode;
    friend class AVAudioMixerNode;
    friend class AVAudioOutputNode;
    friend class AVAudioInputNode;
    // A node got a tap: a node outside the plan joins it, the input device may have to start.
    void tapInstalled(AVAudioNode& node);
    // Runs the input device while the input node is tapped or pulled in real time.
    void updateInputDevice();
    bool inputDeviceRunning_ = false;
    std::optional<AVAudioFormat> connectionFormat(const AVAudioNode* node, bool input, AVAudioNodeBus bus) const;

    std::vector<std::shared_ptr<AVAudioNode>> nodes_;
    std::vector<Connection> connections_;
    std::shared_ptr<AVAudioOutputNode> outputNode_;
    std::shared_ptr<AVAudioInputNode> inputNode_;
    std::shared_ptr<AVAudioMixerNode> mainMixer_;

    bool running_ = false;
    bool deviceRunning_ = false;
    // Read by the player nodes' completion thread as well.
    std::atomic<bool> manual_{false};
    AVAudioFormat manualFormat_;
    AVAudioFrameCount manualMaxFrames_ = 0;
    AVAudioFramePosition manualSampleTime_ = 0;
    uint64_t cycleIndex_ = 0;
    int64_t realtimeSampleTime_ = 0;  // render thread while the device runs
    std::atomic<double> realtimeRate_{44100};
    bool planDirty_ = true;

    // The plan the render thread reads, the plan it is reading now, and plans waiting to be freed.
    std::atomic<detail::RenderPlan*> plan_{nullptr};
    std::atomic<detail::RenderPlan*> planInUse_{nullptr};
    std::unique_ptr<detail::RenderPlan> ownedPlan_;
    std::vector<std::unique_ptr<detail::RenderPlan>> retired_;

    std::unique_ptr<detail::CompletionQueue> completions_;
    std::unique_ptr<detail::FileFeedReader> reader_;
    std::unique_ptr<detail::TapQueue> taps_;
};

}  // namespace platform
