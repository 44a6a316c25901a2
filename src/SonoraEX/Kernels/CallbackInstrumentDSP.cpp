#include "SonoraEX/Kernels/CallbackInstrumentDSP.h"

#include "platform/foundation/Timer.h"

namespace sonora {

CallbackInstrumentDSP::CallbackInstrumentDSP()
    : DSPBase(1, false), eventRing(std::make_unique<platform::AUMIDIEvent[]>(ringCapacity)) {
    drainTimer = platform::Timer::scheduledTimer(0.01, true, [this](platform::Timer&) { drainEvents(); });
}

CallbackInstrumentDSP::~CallbackInstrumentDSP() {
    if (drainTimer) drainTimer->invalidate();
}

void CallbackInstrumentDSP::setCallback(std::function<void(uint8_t, uint8_t, uint8_t)> newCallback) {
    callback = std::move(newCallback);
}

void CallbackInstrumentDSP::process(FrameSpan span) {
    // The instrument makes no sound of its own.
    clearOutput(span);
}

void CallbackInstrumentDSP::handleMIDIEvent(const platform::AUMIDIEvent& event) {
    if (event.length != 3) return;
    const uint64_t write = writeIndex.load(std::memory_order_relaxed);
    const uint64_t next = (write + 1) % ringCapacity;
    if (next == readIndex.load(std::memory_order_acquire)) return;  // full: dropped
    eventRing[write] = event;
    writeIndex.store(next, std::memory_order_release);
}

uint64_t CallbackInstrumentDSP::drainEvents() {
    const uint64_t read = readIndex.load(std::memory_order_relaxed);
    const uint64_t write = writeIndex.load(std::memory_order_acquire);
    const uint64_t end = write + (write < read ? ringCapacity : 0);
    for (uint64_t i = read; i < end; ++i) {
        const platform::AUMIDIEvent& record = eventRing[i % ringCapacity];
        if (record.length == 3 && callback) callback(record.data[0], record.data[1], record.data[2]);
    }
    readIndex.store(end % ringCapacity, std::memory_order_release);
    return end - read;
}

}  // namespace sonora
