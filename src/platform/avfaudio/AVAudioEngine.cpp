#include "platform/avfaudio/AVAudioEngine.h"

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/RenderThreadMark.h"
#include "platform/avfaudio/detail/CompletionQueue.h"
#include "platform/avfaudio/detail/FileFeed.h"
#include "platform/avfaudio/detail/NodeTap.h"
#include "platform/avfaudio/detail/RenderPlan.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <unordered_map>

namespace platform {

namespace {

void log(OSLogType type, const std::string& message) { os_log(OSLog{"platform", "AVAudioEngine"}, type, message); }

[[noreturn]] void fail(OSStatus status, const std::string& message) {
    log(OSLogType::error, message);
    throw NSErrorException(makeOSStatusError(status, message));
}

// Every connection renders Float32 deinterleaved: a PCM format of another sample type keeps its
// rate and channels.
AVAudioFormat renderable(const AVAudioFormat& format) {
    if (format.isStandard()) return format;
    return AVAudioFormat::standardFormatWithSampleRate(format.sampleRate(), format.channelCount());
}

constexpr AVAudioFrameCount kRealtimeMaximumFrames = 4096;

}  // namespace

std::shared_ptr<AVAudioEngine> AVAudioEngine::make() {
    std::shared_ptr<AVAudioEngine> engine(new AVAudioEngine);
    engine->outputNode_ = std::make_shared<AVAudioOutputNode>();
    engine->attach(engine->outputNode_);
    return engine;
}

AVAudioEngine::AVAudioEngine()
    : completions_(std::make_unique<detail::CompletionQueue>()), reader_(std::make_unique<detail::FileFeedReader>()),
      taps_(std::make_unique<detail::TapQueue>()) {}

AVAudioEngine::~AVAudioEngine() {
    // The device thread goes first: nothing may render while the nodes are released.
    if (deviceRunning_) outputNode_->deviceStream()->stop();
    if (inputDeviceRunning_ && inputNode_) inputNode_->deviceStream()->stop();
    deviceRunning_ = false;
    inputDeviceRunning_ = false;
    running_ = false;
    reader_->stop();
    // A completion handler may hold the engine's last owner: then this runs on the callback thread.
    detail::CompletionQueue::release(std::move(completions_));
    // Nodes may outlive the engine: their taps go with its queue.
    for (auto& node : nodes_) node->tap_.store(nullptr);
    taps_.reset();
    plan_.store(nullptr);
    retired_.clear();
    ownedPlan_.reset();
    for (auto& node : nodes_) node->livePlans_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Graph

bool AVAudioEngine::isAttached(const AVAudioNode* node) const {
    return std::any_of(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.get() == node; });
}

std::shared_ptr<AVAudioNode> AVAudioEngine::sharedNode(const AVAudioNode* node) const {
    for (const auto& n : nodes_)
        if (n.get() == node) return n;
    return nullptr;
}

void AVAudioEngine::attach(const std::shared_ptr<AVAudioNode>& node) {
    if (!node) return log(OSLogType::error, "attach: no node");
    auto owner = node->engine_.lock();
    if (owner.get() == this) return;
    if (owner) return log(OSLogType::error, "attach: " + node->description() + " is attached to another engine");
    nodes_.push_back(node);
    node->engine_ = weak_from_this();
    node->didAttach(shared_from_this());
}

void AVAudioEngine::detach(const std::shared_ptr<AVAudioNode>& node) {
    if (!node || !isAttached(node.get())) return log(OSLogType::info, "detach: the node is not attached to this engine");
    if (node == outputNode_) return log(OSLogType::error, "detach: the output node stays attached");
    node->removeTapOnBus(0);
    removeConnections(node.get(), true, true, std::nullopt);
    std::erase(nodes_, node);
    if (node == mainMixer_) mainMixer_.reset();
    if (node == inputNode_) {
        if (inputDeviceRunning_) inputNode_->stopCapture();
        inputDeviceRunning_ = false;
        inputNode_.reset();
    }
    graphChanged();
    // The render thread lets go of the node before it forgets its render state.
    retirePlans(true);
    node->engine_.reset();
    node->didDetach();
}

bool AVAudioEngine::checkConnectable(const std::shared_ptr<AVAudioNode>& node, const char* what) const {
    if (!node) {
        log(OSLogType::error, std::string(what) + ": no node");
        return false;
    }
    if (!isAttached(node.get())) {
        log(OSLogType::error, std::string(what) + ": " + node->description() + " is not attached to this engine");
        return false;
    }
    return true;
}

std::optional<AVAudioFormat> AVAudioEngine::resolveFormat(const std::shared_ptr<AVAudioNode>& source, AVAudioNodeBus bus,
                                                          const std::optional<AVAudioFormat>& format) const {
    const AVAudioFormat chosen = format ? *format : source->outputFormat(bus);
    if (!chosen.isValid() || !chosen.isPCM() || chosen.channelCount() == 0 || !(chosen.sampleRate() > 0)) {
        log(OSLogType::error, "connect: refused the format " + chosen.description());
        return std::nullopt;
    }
    return renderable(chosen);
}

bool AVAudioEngine::wouldCycle(const AVAudioNode* source, const AVAudioNode* destination) const {
    // A cycle appears when the destination already feeds the source, directly or not.
    if (source == destination) return true;
    std::vector<const AVAudioNode*> stack{source};
    std::vector<const AVAudioNode*> seen;
    while (!stack.empty()) {
        const AVAudioNode* node = stack.back();
        stack.pop_back();
        if (node == destination) return true;
        if (std::find(seen.begin(), seen.end(), node) != seen.end()) continue;
        seen.push_back(node);
        for (const auto& c : connections_)
            if (c.destination == node) stack.push_back(c.source);
    }
    return false;
}

std::optional<AVAudioFormat> AVAudioEngine::connectionFormat(const AVAudioNode* node, bool input, AVAudioNodeBus bus) const {
    for (const auto& c : connections_) {
        if (input && c.destination == node && c.destinationBus == bus) return c.format;
        if (!input && c.source == node && c.sourceBus == bus) return c.format;
    }
    return std::nullopt;
}

void AVAudioEngine::removeConnections(const AVAudioNode* node, bool inputs, bool outputs, std::optional<AVAudioNodeBus> bus) {
    std::erase_if(connections_, [&](const Connection& c) {
        return (inputs && c.destination == node && (!bus || c.destinationBus == *bus)) ||
               (outputs && c.source == node && (!bus || c.sourceBus == *bus));
    });
}

void AVAudioEngine::addConnection(AVAudioNode* source, AVAudioNodeBus sourceBus, AVAudioNode* destination,
                                  AVAudioNodeBus destinationBus, const AVAudioFormat& format) {
    std::erase_if(connections_, [&](const Connection& c) {
        return c.destination == destination && c.destinationBus == destinationBus;
    });
    // An output bus has one format: its other destinations take the new one.
    for (auto& c : connections_)
        if (c.source == source && c.sourceBus == sourceBus) c.format = format;
    connections_.push_back({source, sourceBus, destination, destinationBus, format});
    if (auto bus = source->auAudioUnit()->outputBusses()[sourceBus]) bus->setFormat(format);
    if (auto bus = destination->auAudioUnit()->inputBusses()[destinationBus]) bus->setFormat(format);
}

namespace {
// A mixer grows by one bus when a connection targets the bus just past its last one.
bool ensureInputBus(AVAudioNode& node, AVAudioNodeBus bus) {
    if (bus < node.numberOfInputs()) return true;
    auto* mixer = dynamic_cast<AVAudioMixerNode*>(&node);
    if (!mixer || bus != node.numberOfInputs()) return false;
    return node.auAudioUnit()->inputBusses().setBusCount(bus + 1);
}
}  // namespace

void AVAudioEngine::connect(const std::shared_ptr<AVAudioNode>& node1, const std::shared_ptr<AVAudioNode>& node2,
                            const std::optional<AVAudioFormat>& format) {
    if (!checkConnectable(node1, "connect") || !checkConnectable(node2, "connect")) return;
    auto* mixer = dynamic_cast<AVAudioMixerNode*>(node2.get());
    connect(node1, node2, 0, mixer ? mixer->nextAvailableInputBus() : 0, format);
}

void AVAudioEngine::connect(const std::shared_ptr<AVAudioNode>& node1, const std::shared_ptr<AVAudioNode>& node2,
                            AVAudioNodeBus fromBus, AVAudioNodeBus toBus, const std::optional<AVAudioFormat>& format) {
    if (!checkConnectable(node1, "connect") || !checkConnectable(node2, "connect")) return;
    if (node1 == outputNode_ || fromBus >= node1->numberOfOutputs())
        return log(OSLogType::error, "connect: " + node1->description() + " has no output bus " + std::to_string(fromBus));
    if (!ensureInputBus(*node2, toBus))
        return log(OSLogType::error, "connect: " + node2->description() + " has no input bus " + std::to_string(toBus));
    if (wouldCycle(node1.get(), node2.get()))
        return log(OSLogType::error, "connect: connecting " + node1->description() + " to " + node2->description() +
                                         " would make a cycle");
    auto resolved = resolveFormat(node1, fromBus, format);
    if (!resolved) return;
    addConnection(node1.get(), fromBus, node2.get(), toBus, *resolved);
    graphChanged();
}

void AVAudioEngine::connect(const std::shared_ptr<AVAudioNode>& sourceNode, const std::vector<AVAudioConnectionPoint>& destNodes,
                            AVAudioNodeBus sourceBus, const std::optional<AVAudioFormat>& format) {
    if (!checkConnectable(sourceNode, "connect")) return;
    if (sourceNode == outputNode_ || sourceBus >= sourceNode->numberOfOutputs())
        return log(OSLogType::error, "connect: " + sourceNode->description() + " has no output bus " + std::to_string(sourceBus));
    auto resolved = resolveFormat(sourceNode, sourceBus, format);
    if (!resolved) return;
    removeConnections(sourceNode.get(), false, true, sourceBus);
    for (const auto& point : destNodes) {
        auto destination = point.node();
        if (!destination) continue;
        if (!checkConnectable(destination, "connect")) continue;
        if (!ensureInputBus(*destination, point.bus())) {
            log(OSLogType::error, "connect: " + destination->description() + " has no input bus " + std::to_string(point.bus()));
            continue;
        }
        if (wouldCycle(sourceNode.get(), destination.get())) {
            log(OSLogType::error, "connect: connecting " + sourceNode->description() + " to " + destination->description() +
                                      " would make a cycle");
            continue;
        }
        addConnection(sourceNode.get(), sourceBus, destination.get(), point.bus(), *resolved);
    }
    graphChanged();
}

void AVAudioEngine::disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node) {
    if (!checkConnectable(node, "disconnectNodeInput")) return;
    removeConnections(node.get(), true, false, std::nullopt);
    graphChanged();
}

void AVAudioEngine::disconnectNodeInput(const std::shared_ptr<AVAudioNode>& node, AVAudioNodeBus bus) {
    if (!checkConnectable(node, "disconnectNodeInput")) return;
    removeConnections(node.get(), true, false, bus);
    graphChanged();
}

void AVAudioEngine::disconnectNodeOutput(const std::shared_ptr<AVAudioNode>& node) {
    if (!checkConnectable(node, "disconnectNodeOutput")) return;
    removeConnections(node.get(), false, true, std::nullopt);
    graphChanged();
}

void AVAudioEngine::disconnectNodeOutput(const std::shared_ptr<AVAudioNode>& node, AVAudioNodeBus bus) {
    if (!checkConnectable(node, "disconnectNodeOutput")) return;
    removeConnections(node.get(), false, true, bus);
    graphChanged();
}

std::optional<AVAudioConnectionPoint> AVAudioEngine::inputConnectionPoint(const std::shared_ptr<AVAudioNode>& node,
                                                                          AVAudioNodeBus bus) const {
    if (!node) return std::nullopt;
    for (const auto& c : connections_)
        if (c.destination == node.get() && c.destinationBus == bus) return AVAudioConnectionPoint(sharedNode(c.source), c.sourceBus);
    return std::nullopt;
}

std::vector<AVAudioConnectionPoint> AVAudioEngine::outputConnectionPoints(const std::shared_ptr<AVAudioNode>& node,
                                                                          AVAudioNodeBus bus) const {
    std::vector<AVAudioConnectionPoint> points;
    if (!node) return points;
    for (const auto& c : connections_)
        if (c.source == node.get() && c.sourceBus == bus) points.emplace_back(sharedNode(c.destination), c.destinationBus);
    return points;
}

std::vector<std::shared_ptr<AVAudioNode>> AVAudioEngine::attachedNodes() const { return nodes_; }

std::shared_ptr<AVAudioMixerNode> AVAudioEngine::mainMixerNode() {
    if (!mainMixer_) {
        auto mixer = std::make_shared<AVAudioMixerNode>();
        attach(mixer);
        mainMixer_ = mixer;
        connect(mixer, outputNode_, 0, 0, outputNode_->outputFormat(0));
    }
    return mainMixer_;
}

std::shared_ptr<AVAudioInputNode> AVAudioEngine::inputNode() {
    if (!inputNode_) {
        inputNode_ = std::make_shared<AVAudioInputNode>();
        attach(inputNode_);
    }
    return inputNode_;
}

// ---------------------------------------------------------------------------------------------
// Render plans

AVAudioFrameCount AVAudioEngine::planFrames() const {
    if (manual_) return manualMaxFrames_;
    return std::max(kRealtimeMaximumFrames, outputNode_->deviceStream()->framesPerCycle());
}

std::unique_ptr<detail::RenderPlan> AVAudioEngine::compilePlan() {
    auto plan = std::make_unique<detail::RenderPlan>();
    std::unordered_map<const AVAudioNode*, int> slotOf;
    std::vector<const AVAudioNode*> onPath;

    // Depth first from the output through the input buses: every node lands after its sources.
    auto visit = [&](auto& self, AVAudioNode* node) -> int {
        if (auto it = slotOf.find(node); it != slotOf.end()) return it->second;
        std::vector<detail::RenderPlan::Edge> edges(node->numberOfInputs());
        std::vector<AVAudioFormat> inputFormats(node->numberOfInputs());
        for (const auto& c : connections_) {
            if (c.destination != node || c.destinationBus >= edges.size()) continue;
            edges[c.destinationBus].source = self(self, c.source);
            edges[c.destinationBus].mixing = dynamic_cast<const AVAudioMixing*>(c.source);
            inputFormats[c.destinationBus] = c.format;
        }
        detail::RenderPlan::Slot slot;
        slot.node = sharedNode(node);
        slot.inputs = std::move(edges);
        slot.format = node->outputFormat(0);
        plan->slots.push_back(std::move(slot));
        const int index = int(plan->slots.size()) - 1;
        slotOf[node] = index;
        return index;
    };
    plan->output = visit(visit, outputNode_.get());
    // Tapped nodes that nothing pulls render every cycle all the same (in real time the input node
    // renders on its device's cycles instead).
    for (const auto& node : nodes_) {
        if (!node->currentTap() || slotOf.count(node.get())) continue;
        if (node == inputNode_ && !manual_) continue;
        plan->extraRoots.push_back(visit(visit, node.get()));
    }
    // Sources come before their destinations: walking back marks everything upstream of a time effect.
    for (int i = int(plan->slots.size()) - 1; i >= 0; --i) {
        const auto& slot = plan->slots[i];
        if (!slot.ownClock && !slot.node->pullsAtOwnPace()) continue;
        for (const auto& edge : slot.inputs)
            if (edge.source >= 0) plan->slots[edge.source].ownClock = true;
    }

    // Buffer sizes, from the output towards the sources: a source feeding a converting input may
    // be asked for more frames than its destination renders.
    std::vector<AVAudioFrameCount> need(plan->slots.size(), 0);
    need[plan->output] = planFrames();
    const double outputRate = plan->slots[plan->output].format.isValid() ? plan->slots[plan->output].format.sampleRate() : 0;
    for (int root : plan->extraRoots) {
        const double rate = plan->slots[root].format.isValid() ? plan->slots[root].format.sampleRate() : 0;
        need[root] = (rate == outputRate || rate <= 0 || outputRate <= 0)
                         ? planFrames()
                         : AVAudioFrameCount(std::ceil(planFrames() * rate / outputRate)) + 1;
    }
    for (int i = int(plan->slots.size()) - 1; i >= 0; --i) {
        const auto& slot = plan->slots[i];
        const double rate = slot.format.isValid() ? slot.format.sampleRate() : 0;
        for (const auto& edge : slot.inputs) {
            if (edge.source < 0) continue;
            const double sourceRate = plan->slots[edge.source].format.sampleRate();
            const AVAudioFrameCount wanted =
                (rate == sourceRate || rate <= 0) ? need[i] : AVAudioFrameCount(std::ceil(need[i] * sourceRate / rate)) + 256;
            need[edge.source] = std::max(need[edge.source], wanted);
        }
    }
    for (size_t i = 0; i < plan->slots.size(); ++i)
        plan->slots[i].capacity = int(i) == plan->output ? 0 : need[i];
    return plan;
}

void AVAudioEngine::graphChanged() {
    // A stopped engine compiles once, when it starts or renders.
    if (!running_) {
        planDirty_ = true;
        return;
    }
    rebuildPlan();
    updateInputDevice();
}

void AVAudioEngine::rebuildPlan() {
    planDirty_ = false;
    auto plan = compilePlan();

    // Nodes whose formats or sizes changed allocate anew, which must not race with a render.
    std::vector<std::pair<AVAudioNode*, detail::RenderConfig>> changed;
    for (size_t i = 0; i < plan->slots.size(); ++i) {
        auto& slot = plan->slots[i];
        detail::RenderConfig config;
        config.outputFormat = slot.format;
        for (AVAudioNodeBus b = 0; b < slot.node->numberOfInputs(); ++b) {
            auto format = connectionFormat(slot.node.get(), true, b);
            config.inputFormats.push_back(format ? *format : AVAudioFormat());
        }
        config.maximumFrames = int(i) == plan->output ? planFrames() : slot.capacity;
        if (!slot.node->preparedConfig_ || !(*slot.node->preparedConfig_ == config))
            changed.emplace_back(slot.node.get(), std::move(config));
    }
    if (!changed.empty()) quiesce();
    for (auto& [node, config] : changed) {
        node->allocateRenderResources(config);
        node->preparedConfig_ = std::move(config);
    }
    // The plan renders units through the blocks they gave when allocated.
    for (auto& slot : plan->slots) {
        const auto& unit = slot.node->auAudioUnit();
        if (unit && unit->renderResourcesAllocated()) slot.renderBlock = unit->renderBlock();
    }
    plan->allocate();
    publishPlan(std::move(plan));
}

void AVAudioEngine::publishPlan(std::unique_ptr<detail::RenderPlan> plan) {
    for (auto& slot : plan->slots) ++slot.node->livePlans_;
    plan_.store(plan.get(), std::memory_order_seq_cst);
    if (ownedPlan_) retired_.push_back(std::move(ownedPlan_));
    ownedPlan_ = std::move(plan);
    retirePlans(false);
}

void AVAudioEngine::retirePlans(bool wait) {
    using namespace std::chrono_literals;
    std::erase_if(retired_, [&](std::unique_ptr<detail::RenderPlan>& plan) {
        while (deviceRunning_ && planInUse_.load(std::memory_order_seq_cst) == plan.get()) {
            if (!wait) return false;
            std::this_thread::sleep_for(100us);
        }
        for (auto& slot : plan->slots) --slot.node->livePlans_;
        return true;
    });
}

void AVAudioEngine::quiesce() {
    // The render thread renders silence for a cycle while nodes reallocate.
    using namespace std::chrono_literals;
    if (!deviceRunning_) return;
    plan_.store(nullptr, std::memory_order_seq_cst);
    while (planInUse_.load(std::memory_order_seq_cst) != nullptr) std::this_thread::sleep_for(100us);
    if (ownedPlan_) retired_.push_back(std::move(ownedPlan_));
    retirePlans(true);
}

void AVAudioEngine::renderRealtime(AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t) {
    const RenderThreadScope mark;
    const FlushDenormalsScope flush;
    detail::RenderPlan* plan;
    do {
        plan = plan_.load(std::memory_order_seq_cst);
        planInUse_.store(plan, std::memory_order_seq_cst);
    } while (plan_.load(std::memory_order_seq_cst) != plan);

    const double rate = realtimeRate_.load(std::memory_order_relaxed);
    taps_->beginRender(0);
    AVAudioFrameCount done = 0;
    while (done < frames) {
        const AVAudioFrameCount n = std::min<AVAudioFrameCount>(frames - done, kRealtimeMaximumFrames);
        // A cycle longer than the plan's buffers renders in pieces through a shifted list.
        unsigned char storage[AudioBufferListSize(32)];
        auto* list = reinterpret_cast<AudioBufferList*>(storage);
        list->mNumberBuffers = std::min<uint32_t>(buffers->mNumberBuffers, 32);
        for (uint32_t c = 0; c < list->mNumberBuffers; ++c) {
            list->mBuffers[c] = buffers->mBuffers[c];
            list->mBuffers[c].mData = static_cast<float*>(buffers->mBuffers[c].mData) + done;
            list->mBuffers[c].mDataByteSize = n * sizeof(float);
        }
        detail::RenderCycle cycle;
        cycle.token = ++cycleIndex_;
        cycle.frames = n;
        cycle.sampleTime = realtimeSampleTime_;
        cycle.sampleRate = rate;
        cycle.hostTime = hostTime + uint64_t(std::llround(double(done) * 1e9 / rate));
        cycle.hostTimeValid = true;
        cycle.completions = completions_.get();
        cycle.taps = taps_.get();
        if (plan) plan->render(cycle, *list);
        else detail::zeroFill(*list, 0, n);
        realtimeSampleTime_ += n;
        done += n;
    }
    taps_->endRender(0);
    planInUse_.store(nullptr, std::memory_order_seq_cst);
}

// ---------------------------------------------------------------------------------------------
// Running

void AVAudioEngine::prepare() {
    if (planDirty_ || !ownedPlan_) rebuildPlan();
}

void AVAudioEngine::start() {
    if (running_) return;
    if (planDirty_ || !ownedPlan_) rebuildPlan();
    if (manual_) {
        running_ = true;
        return;
    }
    auto stream = outputNode_->deviceStream();
    const AVAudioFormat before = outputNode_->hardwareFormat();
    realtimeRate_.store(before.sampleRate());
    deviceRunning_ = true;
    reader_->start();
    try {
        stream->start([this](AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime) {
            renderRealtime(frames, buffers, hostTime, sampleTime);
        });
    } catch (const NSErrorException& e) {
        deviceRunning_ = false;
        reader_->stop();
        log(OSLogType::error, "start: the output device cannot start: " + e.error().localizedDescription);
        throw;
    }
    running_ = true;
    // A device that opened in another format than asked needs a plan in its format.
    if (!(outputNode_->hardwareFormat() == before)) {
        realtimeRate_.store(outputNode_->hardwareFormat().sampleRate());
        rebuildPlan();
    }
    updateInputDevice();
}

void AVAudioEngine::tapInstalled(AVAudioNode& node) {
    if (running_ && ownedPlan_ && ownedPlan_->slotOf(&node) < 0 && !(&node == inputNode_.get() && !manual_)) rebuildPlan();
    else if (!running_) planDirty_ = true;
    if (&node == inputNode_.get()) updateInputDevice();
}

void AVAudioEngine::updateInputDevice() {
    const bool wanted = running_ && !manual_ && inputNode_ &&
                        (inputNode_->hasTap() || (ownedPlan_ && ownedPlan_->slotOf(inputNode_.get()) >= 0));
    if (wanted == inputDeviceRunning_) return;
    if (!wanted) {
        if (inputNode_) inputNode_->stopCapture();
        inputDeviceRunning_ = false;
        return;
    }
    try {
        inputNode_->startCapture(*taps_, outputNode_->deviceStream()->framesPerCycle(), realtimeRate_.load());
        inputDeviceRunning_ = true;
    } catch (const NSErrorException& e) {
        log(OSLogType::error, "start: the input device cannot start: " + e.error().localizedDescription);
    }
}

void AVAudioEngine::pause() {
    if (!running_) return;
    if (inputDeviceRunning_) {
        if (inputNode_) inputNode_->stopCapture();
        inputDeviceRunning_ = false;
    }
    if (deviceRunning_) {
        outputNode_->deviceStream()->stop();
        reader_->stop();
        deviceRunning_ = false;
    }
    running_ = false;
    retirePlans(false);
    clearRenderTimes();
}

void AVAudioEngine::stop() {
    pause();
    realtimeSampleTime_ = 0;
}

void AVAudioEngine::clearRenderTimes() {
    for (auto& node : nodes_) {
        node->lastRenderFlags_.store(0);
        node->renderSampleTimeValid_ = false;
        node->engineDidStop();
    }
}

void AVAudioEngine::reset() {
    for (auto& node : nodes_) node->reset();
    manualSampleTime_ = 0;
    if (!deviceRunning_) realtimeSampleTime_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Manual rendering

void AVAudioEngine::enableManualRenderingMode(AVAudioEngineManualRenderingMode mode, const AVAudioFormat& pcmFormat,
                                              AVAudioFrameCount maximumFrameCount) {
    if (running_) fail(kAudioEngineErr_CannotDoInCurrentContext, "enableManualRenderingMode: the engine is running");
    if (mode != AVAudioEngineManualRenderingMode::offline)
        fail(kAudioEngineErr_CannotDoInCurrentContext, "enableManualRenderingMode: only the offline mode is available");
    if (!pcmFormat.isValid() || !pcmFormat.isStandard() || pcmFormat.channelCount() == 0)
        fail(kAudioEngineErr_InvalidFormat, "enableManualRenderingMode: refused the format " + pcmFormat.description());
    if (maximumFrameCount == 0) fail(kAudio_ParamError, "enableManualRenderingMode: the maximum frame count is 0");
    manual_ = true;
    manualFormat_ = pcmFormat;
    manualMaxFrames_ = maximumFrameCount;
    manualSampleTime_ = 0;
    graphChanged();
}

void AVAudioEngine::disableManualRenderingMode() {
    if (!manual_) return;
    stop();
    // What the render queued is delivered while the engine is still in manual rendering, so that
    // no completion of the offline render arrives after it (and is taken for one of playback).
    completions_->waitUntilIdle();
    manual_ = false;
    manualFormat_ = AVAudioFormat();
    manualMaxFrames_ = 0;
    graphChanged();
}

AVAudioEngineManualRenderingStatus AVAudioEngine::renderOffline(AVAudioFrameCount numberOfFrames, AVAudioPCMBuffer& buffer) {
    if (!manual_) fail(kAudioEngineErr_NotInManualRenderingMode, "renderOffline: the engine is not in manual rendering mode");
    if (!running_) fail(kAudioEngineErr_NotRunning, "renderOffline: the engine is not running");
    if (!(buffer.format() == manualFormat_))
        fail(kAudioEngineErr_InvalidFormat, "renderOffline: the buffer's format " + buffer.format().description() +
                                                " is not the manual rendering format");
    if (numberOfFrames > manualMaxFrames_ || numberOfFrames > buffer.frameCapacity())
        fail(kAudioEngineErr_TooManyFrames, "renderOffline: " + std::to_string(numberOfFrames) +
                                                " frames are more than the maximum frame count or the buffer holds");
    if (planDirty_ || !ownedPlan_) rebuildPlan();
    detail::RenderCycle cycle;
    cycle.token = ++cycleIndex_;
    cycle.frames = numberOfFrames;
    cycle.sampleTime = manualSampleTime_;
    cycle.sampleRate = manualFormat_.sampleRate();
    cycle.offline = true;
    cycle.completions = completions_.get();
    cycle.taps = taps_.get();
    AudioBufferList* list = buffer.mutableAudioBufferList();
    OSStatus status = noErr;
    // The players' file rings are filled here, so that the render itself reads no file.
    if (numberOfFrames > 0) reader_->fillNow();
    taps_->beginRender(0);
    if (numberOfFrames > 0) {
        const RenderThreadScope mark;
        const FlushDenormalsScope flush;
        status = ownedPlan_->render(cycle, *list);
    }
    taps_->endRender(0);
    buffer.setFrameLength(numberOfFrames);
    manualSampleTime_ += numberOfFrames;
    // Offline, taps are delivered before the call returns, on this thread.
    taps_->drain();
    return status == noErr ? AVAudioEngineManualRenderingStatus::success : AVAudioEngineManualRenderingStatus::error;
}

}  // namespace platform
