// The graph the real-time checks render: every kind of node the audio layer has, playing at once,
// while another thread changes parameters and automation. Shared by sonora-rtcheck and the render
// benchmark.
//
// Each stage adds one group of nodes under the top mixer and says how to start it and what to
// change while it plays; a new node kind is one more stage in makeRtCheckGraph.
#pragma once

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/Mixing/Mixer.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform {
class AVAudioNode;
}

namespace rtcheck {

struct Stage {
    std::shared_ptr<sonora::Node> node;                        // connected to the top mixer (if any)
    std::function<void()> start;                               // main thread, the engine running
    std::function<void(uint64_t cycle)> beforeOfflineCycle;    // main thread, between offline cycles
    std::function<void(uint64_t tick, bool realtime)> control; // the control thread, every millisecond
    std::vector<std::pair<const platform::AVAudioNode*, std::string>> labels;   // its platform nodes, by name
    std::function<std::string()> check;  // main thread, after the run: what the stage failed to do ("" when fine)
};

class RtCheckGraph {
public:
    // Writes its clips into `folder` (which must exist).
    explicit RtCheckGraph(const std::filesystem::path& folder);
    ~RtCheckGraph();

    const std::shared_ptr<sonora::Mixer>& output() const { return top_; }
    // Starts every stage (the engine must be running).
    void start();
    // Main thread, before each offline cycle (what a host does between cycles: MIDI, replays).
    void beforeOfflineCycle(uint64_t cycle);
    // The control thread: parameter sets every millisecond, automation on and off every 100 ms,
    // and MIDI notes too while `realtime`.
    void startControl(bool realtime);
    void stopControl();
    // Main thread, after the run: what the stages failed to do, a line each ("" when all is well).
    std::string check() const;
    // Cycles rendered so far.
    uint64_t renderedCycles() const { return cycles_->load(std::memory_order_relaxed); }
    // The name of a platform node of the graph ("fader", "player clip0.wav"), else its address.
    std::string label(const void* node) const;
    void addLabel(const platform::AVAudioNode* node, std::string name) { labels_[node] = std::move(name); }

private:
    void add(Stage stage);

    std::filesystem::path folder_;
    std::shared_ptr<sonora::Mixer> top_;
    std::vector<Stage> stages_;
    std::map<const void*, std::string> labels_;  // by platform node
    std::shared_ptr<std::atomic<uint64_t>> cycles_ = std::make_shared<std::atomic<uint64_t>>(0);
    std::atomic<bool> controlRunning_{false};
    std::thread control_;
};

}  // namespace rtcheck
