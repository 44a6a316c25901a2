// Collects the three-byte MIDI messages a unit receives while it renders and hands them, off the
// render thread, to a closure: the render thread copies each into a ring of 1024 records (1023
// usable), and a 0.01 s timer on the creating thread's run loop drains the ring.
#pragma once

#include "SonoraEX/Kernels/DSPBase.h"

#include <atomic>
#include <functional>
#include <memory>

namespace platform {
class Timer;
}

namespace sonora {

class CallbackInstrumentDSP : public DSPBase {
public:
    static constexpr uint64_t ringCapacity = 1024;

    CallbackInstrumentDSP();
    // Stops the drain timer before the ring goes, from whatever thread the unit dies on.
    ~CallbackInstrumentDSP() override;

    void process(FrameSpan span) override;
    void handleMIDIEvent(const platform::AUMIDIEvent& event) override;
    // Calls the closure for each waiting event, in order; returns how many records it consumed.
    uint64_t drainEvents();
    void setCallback(std::function<void(uint8_t, uint8_t, uint8_t)> callback);

private:
    std::unique_ptr<platform::AUMIDIEvent[]> eventRing;
    std::atomic<uint64_t> writeIndex{0};
    std::atomic<uint64_t> readIndex{0};
    std::shared_ptr<platform::Timer> drainTimer;
    std::function<void(uint8_t, uint8_t, uint8_t)> callback;
};

}  // namespace sonora
